#pragma once

#include "session/SessionDialog.h"

#include <QString>

#include <exception>

class QCloseEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace aquilevel {

class Session;

// The experimenter's gate in front of every early exit from the trial screen. An
// experimenter types a user name and a password from tblPasswords; a correct pair ends
// the program at once through EndGame (no questionnaire, no earnings message). A wrong
// pair keeps the gate open with both boxes emptied; Cancel or the close box closes it
// and the task goes on.
//
// Enter and Escape have no meaning here: neither button is a default button, and Escape
// does not close the gate.
class PasswordGate final : public SessionDialog {
    Q_OBJECT
public:
    explicit PasswordGate(Session& session, QWidget* parent = nullptr);

    // Shows a fresh gate (both boxes empty) modally and returns session.state.ExitGranted.
    // A correct pair never returns, so the answer is always false. Where the process end
    // throws SessionOver instead of ending the process (tests, a scripted participant),
    // the gate leaves its event loop first and ask() throws it on to the opener.
    static bool ask(Session& session, QWidget* parent = nullptr);

    // Looks up the typed user name among the experimenters' accounts (letter case of
    // the name ignored) and checks the typed password against the account's, exactly.
    // The stored password is not kept: it is a hash, and on the server the station never
    // sees it. Sets passwordOK().
    bool CheckPassword();

    // The result of the last CheckPassword.
    bool passwordOK() const { return m_passwordOK; }

    // Escape and any other rejection do nothing: only Cancel and the close box leave.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void Command1_Click();
    void Command2_Click();

private:
    void exitApplication();

    Session& m_session;
    QLabel* m_label1;
    QLabel* m_label2;
    QLineEdit* m_txtUsername;
    QLineEdit* m_txtPassword;
    QPushButton* m_command1;
    QPushButton* m_command2;
    bool m_passwordOK = false;
};

} // namespace aquilevel
