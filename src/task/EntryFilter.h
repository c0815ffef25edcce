#pragma once

#include <QObject>

#include <functional>

namespace aquilevel::task {

// The key rules of the order boxes: only digits, the decimal point (a point or a comma,
// in every locale) and backspace are typed; a leading 0 is refused and a lone 0 is
// replaced by what is typed; Ctrl+A selects the entry. Ctrl+X is the exit key, handed to
// `onExit`; the key itself never edits a box (no cut). On the Submit button only the
// exit key is watched.
class EntryFilter final : public QObject {
    Q_OBJECT
public:
    EntryFilter(std::function<void()> onExit, QObject* parent);

    // Watches an order box (all rules) or another control (the exit key only).
    void watchEntry(QObject* box);
    void watchExitKeyOnly(QObject* control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_onExit;
};

} // namespace aquilevel::task
