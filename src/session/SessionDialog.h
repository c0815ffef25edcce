#pragma once

#include <QDialog>

#include <exception>
#include <functional>

class QPushButton;

namespace aquilevel {

// A modal window of the session. Where the process end leaves the process running (tests,
// a scripted participant), a session that ends inside one of its handlers must not unwind
// through the window's event loop: the handler leaves the loop instead, and execModal()
// passes the end on to whoever opened the window.
class SessionDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;

    // exec(), then rethrows an end of the session that happened inside it. The window is
    // first fitted into the screen's available area.
    int execModal();

    // The available area of the window's screen, less a small margin.
    QRect roomOnScreen() const;

protected:
    // Runs a handler entered from the event loop. Outside execModal() an end of the
    // session passes straight through to the caller.
    void guarded(const std::function<void()>& handler, int resultWhenOver = QDialog::Rejected);
    bool sessionIsOver() const { return static_cast<bool>(m_sessionOver); }
    // A button named `name` that Enter never presses: these windows decide themselves
    // what Enter does, so it cannot press a button behind the participant's back.
    QPushButton* addPlainButton(const QString& name, const QString& caption);

private:
    bool m_inModalLoop = false;
    std::exception_ptr m_sessionOver;
};

} // namespace aquilevel
