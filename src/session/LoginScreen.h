#pragma once

#include "session/SessionDialog.h"


class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace aquilevel {

class Session;

// The first window that takes input (frmLogin, "Welcome"): the participant's login name
// and the version. Start loads and checks the version, then registers a new name or
// offers a returning one its next period. The program never comes back here.
class LoginScreen final : public SessionDialog {
    Q_OBJECT
public:
    explicit LoginScreen(Session& session, QWidget* parent = nullptr);

    // Shows the login (and the registration of a new name) until a session may begin.
    // Quit, a broken configuration or a finished participant end the session instead.
    static void run(Session& session);

    enum class Check { New, Returning, Unreadable };
    // Whether the session's Subject is new for its Version; a returning name has its
    // last state restored. Unreadable: its saved state could not be read (reported).
    Check CheckNewSubject();

    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // What Start decided, as the result of the dialog's modal loop.
    enum Outcome { Begin = QDialog::Accepted, Register = 2 };

    void start();
    void quit();
    // Takes the list's entry for what was typed (letter case aside); false when none
    // matches, the typed text left as it is.
    bool validateVersion();

    Session& m_session;
    QLineEdit* m_txtName;
    QComboBox* m_cboVersion;
    QPushButton* m_cmdStart;
    QPushButton* m_cmdQuit;
    // The returning name found by the last check has its registration row.
    bool m_registered = true;
};

} // namespace aquilevel
