#include "session/PasswordGate.h"

#include "session/EndGame.h"
#include "session/ExperimenterAccounts.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Session.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace aquilevel {

PasswordGate::PasswordGate(Session& session, QWidget* parent)
    : SessionDialog(parent), m_session(session)
{
    setObjectName(QStringLiteral("frmPasswordAuth"));
    setWindowTitle(tr("Authentication"));
    setModal(true);

    m_label1 = new QLabel(tr("Username"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label2 = new QLabel(tr("Password"), this);
    m_label2->setObjectName(QStringLiteral("Label2"));

    m_txtUsername = new QLineEdit(this);
    m_txtUsername->setObjectName(QStringLiteral("txtUsername"));
    m_txtPassword = new QLineEdit(this);
    m_txtPassword->setObjectName(QStringLiteral("txtPassword"));
    m_txtPassword->setEchoMode(QLineEdit::Password);
    m_label1->setBuddy(m_txtUsername);
    m_label2->setBuddy(m_txtPassword);

    m_command1 = addPlainButton(QStringLiteral("Command1"), tr("Exit Application"));
    m_command2 = addPlainButton(QStringLiteral("Command2"), tr("Cancel"));

    auto* fields = new QGridLayout;
    fields->addWidget(m_label1, 0, 0);
    fields->addWidget(m_txtUsername, 0, 1);
    fields->addWidget(m_label2, 1, 0);
    fields->addWidget(m_txtPassword, 1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_command1);
    buttons->addWidget(m_command2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    setTabOrder(m_txtUsername, m_txtPassword);
    setTabOrder(m_txtPassword, m_command1);
    setTabOrder(m_command1, m_command2);

    connect(m_command1, &QPushButton::clicked, this, &PasswordGate::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &PasswordGate::Command2_Click);
}

bool PasswordGate::ask(Session& session, QWidget* parent)
{
    // A gate of its own every time, so both boxes start empty.
    PasswordGate gate(session, parent);
    gate.execModal();
    return session.state.ExitGranted;
}

bool PasswordGate::CheckPassword()
{
    // An account without a password never opens the gate, whatever is typed.
    m_passwordOK = AccountMatches(m_session.store(), m_txtUsername->text(), m_txtPassword->text());
    return m_passwordOK;
}

void PasswordGate::Command1_Click()
{
    guarded([this] { exitApplication(); }, QDialog::Accepted);
}

void PasswordGate::exitApplication()
{
    Prompter& prompter = m_session.prompter();
    // Only a box without any character counts as empty; blanks are a name or password.
    if (m_txtUsername->text().isEmpty()) {
        prompter.inform(kProgramTitle, tr("Please enter Username"));
        return;
    }
    if (m_txtPassword->text().isEmpty()) {
        prompter.inform(kProgramTitle, tr("Please enter Password"));
        return;
    }

    if (CheckPassword()) {
        m_session.state.AbortSession = true;
        m_session.state.ExitGranted = true;
        EndGame(m_session);
    }

    prompter.inform(tr("Password Incorrect"),
                    tr("Username or Password is incorrect. Please try again"),
                    Prompter::Icon::Exclamation);
    m_txtUsername->clear();
    m_txtPassword->clear();
    m_txtUsername->setFocus();
}

void PasswordGate::Command2_Click()
{
    m_session.state.ExitGranted = false;
    done(QDialog::Rejected);
}

void PasswordGate::reject()
{
}

void PasswordGate::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_txtUsername->setFocus();
}

void PasswordGate::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Enter:
    case Qt::Key_Return:
        // Neither closes the gate nor presses a button.
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void PasswordGate::closeEvent(QCloseEvent* event)
{
    // The close box (or any other request to close the window) is a Cancel.
    if (isVisible())
        Command2_Click();
    event->accept();
}

} // namespace aquilevel
