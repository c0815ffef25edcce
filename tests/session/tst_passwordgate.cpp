#include "config/DemoConfig.h"
#include "session/PasswordGate.h"
#include "store/PasswordHash.h"
#include "support/OpenWindow.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>

using namespace aquilevel;
using aquilevel::test::ProcessEnded;
using aquilevel::test::TempDatabase;
using aquilevel::test::TestSession;

namespace {

const QString kIncorrectTitle = QStringLiteral("Password Incorrect");
const QString kIncorrectText =
    QStringLiteral("Username or Password is incorrect. Please try again");

// One database for the whole program: the demo account (stored hashed) plus accounts for
// the awkward cases, in plain text as an older program stored them.
TempDatabase& database()
{
    static TempDatabase db(TempDatabase::Content::Demo);
    return db;
}

void addAccount(const QString& user, const QVariant& password)
{
    database().append(QStringLiteral("tblPasswords"),
                      {{QStringLiteral("username"), user}, {QStringLiteral("password"), password}});
}

QLineEdit* usernameBox(PasswordGate& gate)
{
    return gate.findChild<QLineEdit*>(QStringLiteral("txtUsername"));
}
QLineEdit* passwordBox(PasswordGate& gate)
{
    return gate.findChild<QLineEdit*>(QStringLiteral("txtPassword"));
}
QPushButton* exitButton(PasswordGate& gate)
{
    return gate.findChild<QPushButton*>(QStringLiteral("Command1"));
}
QPushButton* cancelButton(PasswordGate& gate)
{
    return gate.findChild<QPushButton*>(QStringLiteral("Command2"));
}

// The gate while ask() holds it open.
PasswordGate* openGate()
{
    return test::openWindow<PasswordGate>();
}

} // namespace

class TestPasswordGate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layout();
    void emptyBoxIsRefusedBeforeLookup_data();
    void emptyBoxIsRefusedBeforeLookup();
    void emptyStoredPasswordNeverLooksUp();
    void wrongPairKeepsTheGateOpen_data();
    void wrongPairKeepsTheGateOpen();
    void unknownUserAfterAnotherUsersLookup();
    void nullStoredPasswordNeverMatches();
    void rightPairEndsTheSession_data();
    void rightPairEndsTheSession();
    void enterAndEscapeDoNothing();
    void askCancelsAndReopensEmpty();
    void askWithRightPairEndsTheSession();

private:
    // A gate shown (not modally) and active, so that focus can be checked.
    void showGate(PasswordGate& gate);
    void type(PasswordGate& gate, const QString& user, const QString& password);

    std::unique_ptr<TestSession> m_ts;
};

void TestPasswordGate::initTestCase()
{
    addAccount(QStringLiteral("O'Brien"), QStringLiteral("quote'pw"));
    addAccount(QStringLiteral("  "), QStringLiteral("blanks"));
    addAccount(QStringLiteral("nullpw"), QVariant());
    addAccount(QStringLiteral("emptypw"), QStringLiteral(""));
    addAccount(QStringLiteral("dup"), QStringLiteral("first"));
    addAccount(QStringLiteral("dup"), QStringLiteral("second"));
    QCOMPARE(database().column(QStringLiteral("select count(*) from tblPasswords")).value(0), 7);
    // The demo's hash, written into the program once, is the published password's.
    QVERIFY(store::passwordMatches(config::kDemoPasswordHash, config::kDemoPassword));
    QCOMPARE(database().column(QStringLiteral("select password from tblPasswords where username = 'experimenter'")),
             QVariantList({config::kDemoPasswordHash}));
}

void TestPasswordGate::init()
{
    m_ts = std::make_unique<TestSession>(database().engine());
}

void TestPasswordGate::cleanup()
{
    m_ts.reset();
}

void TestPasswordGate::showGate(PasswordGate& gate)
{
    gate.show();
    QVERIFY(QTest::qWaitForWindowActive(&gate));
}

void TestPasswordGate::type(PasswordGate& gate, const QString& user, const QString& password)
{
    usernameBox(gate)->setText(user);
    passwordBox(gate)->setText(password);
}

void TestPasswordGate::layout()
{
    PasswordGate gate(m_ts->session);
    QCOMPARE(gate.objectName(), QStringLiteral("frmPasswordAuth"));
    QCOMPARE(gate.windowTitle(), QStringLiteral("Authentication"));

    auto* label1 = gate.findChild<QLabel*>(QStringLiteral("Label1"));
    auto* label2 = gate.findChild<QLabel*>(QStringLiteral("Label2"));
    QVERIFY(label1 && label2);
    QCOMPARE(label1->text(), QStringLiteral("Username"));
    QCOMPARE(label2->text(), QStringLiteral("Password"));

    QLineEdit* user = usernameBox(gate);
    QLineEdit* password = passwordBox(gate);
    QPushButton* exit = exitButton(gate);
    QPushButton* cancel = cancelButton(gate);
    QVERIFY(user && password && exit && cancel);
    QVERIFY(user->text().isEmpty());
    QVERIFY(password->text().isEmpty());
    QCOMPARE(user->echoMode(), QLineEdit::Normal);
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QCOMPARE(exit->text(), QStringLiteral("Exit Application"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    for (QPushButton* button : {exit, cancel}) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }

    showGate(gate);
    QCOMPARE(QApplication::focusWidget(), user);
    QVERIFY(exit->geometry().right() < cancel->geometry().left());
    QVERIFY(label1->geometry().right() <= user->geometry().left());
    QVERIFY(user->geometry().bottom() < password->geometry().top());
    QVERIFY(password->geometry().bottom() < exit->geometry().top());

    // Tab order: the boxes, then the buttons, then round again.
    QList<QWidget*> order;
    QWidget* w = user;
    do {
        order.append(w);
        w = w->nextInFocusChain();
        while (w != user && !(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
    } while (w != user && order.size() < 10);
    QCOMPARE(order, (QList<QWidget*>{user, password, exit, cancel}));
}

void TestPasswordGate::emptyBoxIsRefusedBeforeLookup_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");

    const QString noUser = QStringLiteral("Please enter Username");
    const QString noPassword = QStringLiteral("Please enter Password");
    QTest::newRow("both empty") << QString() << QString() << noUser;
    QTest::newRow("user empty") << QString() << config::kDemoPassword << noUser;
    QTest::newRow("password empty") << config::kDemoUser << QString() << noPassword;
    QTest::newRow("blank user, password empty") << QStringLiteral("   ") << QString() << noPassword;
}

void TestPasswordGate::emptyBoxIsRefusedBeforeLookup()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, message);

    PasswordGate gate(m_ts->session);
    showGate(gate);
    type(gate, user, password);
    exitButton(gate)->click();

    QCOMPARE(m_ts->prompter.prompts().size(), 1);
    const Prompter::Prompt& prompt = m_ts->prompter.prompts().first();
    QCOMPARE(prompt.title, kProgramTitle);
    QCOMPARE(prompt.text, message);
    QCOMPARE(prompt.icon, Prompter::Icon::None);
    QCOMPARE(prompt.buttons, Prompter::Buttons::Ok);

    QVERIFY(gate.isVisible());
    QCOMPARE(usernameBox(gate)->text(), user);
    QCOMPARE(passwordBox(gate)->text(), password);
    QVERIFY(!gate.passwordOK());
    QVERIFY(!m_ts->session.state.AbortSession);
    QCOMPARE(m_ts->processEnd.calls, 0);
}

void TestPasswordGate::emptyStoredPasswordNeverLooksUp()
{
    PasswordGate gate(m_ts->session);
    showGate(gate);

    // After a first lookup ...
    type(gate, config::kDemoUser, QStringLiteral("wrong"));
    exitButton(gate)->click();

    // ... an account whose password is empty is refused before any lookup.
    type(gate, QStringLiteral("emptypw"), QString());
    exitButton(gate)->click();
    QCOMPARE(m_ts->prompter.prompts().size(), 2);
    QCOMPARE(m_ts->prompter.prompts().last().text, QStringLiteral("Please enter Password"));
    QVERIFY(gate.isVisible());
    QCOMPARE(usernameBox(gate)->text(), QStringLiteral("emptypw"));
    QVERIFY(!m_ts->session.state.AbortSession);
    QCOMPARE(m_ts->processEnd.calls, 0);
}

void TestPasswordGate::wrongPairKeepsTheGateOpen_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");

    const QString user = config::kDemoUser;
    const QString right = config::kDemoPassword;
    QTest::newRow("wrong password") << user << QStringLiteral("Tank-demo-2025");
    QTest::newRow("the stored hash typed") << user << config::kDemoPasswordHash;
    QTest::newRow("password lower case") << user << right.toLower();
    QTest::newRow("password upper case") << user << right.toUpper();
    QTest::newRow("password with a trailing blank") << user << right + QLatin1Char(' ');
    QTest::newRow("unknown user") << QStringLiteral("nobody") << right;
    QTest::newRow("user with a leading blank") << QLatin1Char(' ') + user << right;
    QTest::newRow("blank user") << QStringLiteral("   ") << right;
    QTest::newRow("one blank for two") << QStringLiteral(" ") << QStringLiteral("blanks");
    QTest::newRow("wildcard user") << QStringLiteral("experimente%") << right;
    QTest::newRow("second row of two") << QStringLiteral("dup") << QStringLiteral("second");
    QTest::newRow("null stored password") << QStringLiteral("nullpw") << QStringLiteral("NULL");
    QTest::newRow("quote in user name") << QStringLiteral("O'Brien") << QStringLiteral("quote");
    QTest::newRow("crafted: always true") << QStringLiteral("' OR '1'='1") << right;
    QTest::newRow("crafted: comment") << QStringLiteral("experimenter' --") << right;
    QTest::newRow("crafted: or user")
        << QStringLiteral("x' OR username='experimenter") << right;
    QTest::newRow("crafted: union")
        << QStringLiteral("' UNION SELECT 'letmein' --") << QStringLiteral("letmein");
    QTest::newRow("crafted: union, no comment")
        << QStringLiteral("x' UNION SELECT 'letmein") << QStringLiteral("letmein");
}

void TestPasswordGate::wrongPairKeepsTheGateOpen()
{
    QFETCH(QString, user);
    QFETCH(QString, password);

    PasswordGate gate(m_ts->session);
    showGate(gate);
    type(gate, user, password);
    passwordBox(gate)->setFocus();
    QCOMPARE(QApplication::focusWidget(), passwordBox(gate));
    QVERIFY_THROWS_NO_EXCEPTION(exitButton(gate)->click());

    QCOMPARE(m_ts->prompter.prompts().size(), 1);
    const Prompter::Prompt& prompt = m_ts->prompter.prompts().first();
    QCOMPARE(prompt.title, kIncorrectTitle);
    QCOMPARE(prompt.text, kIncorrectText);
    QCOMPARE(prompt.icon, Prompter::Icon::Exclamation);
    QCOMPARE(prompt.buttons, Prompter::Buttons::Ok);

    QVERIFY(!gate.passwordOK());
    QVERIFY(gate.isVisible());
    QVERIFY(usernameBox(gate)->text().isEmpty());
    QVERIFY(passwordBox(gate)->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), usernameBox(gate));
    QVERIFY(!m_ts->session.state.AbortSession);
    QVERIFY(!m_ts->session.state.ExitGranted);
    QCOMPARE(m_ts->processEnd.calls, 0);
}

void TestPasswordGate::unknownUserAfterAnotherUsersLookup()
{
    PasswordGate gate(m_ts->session);
    showGate(gate);

    type(gate, QStringLiteral("O'Brien"), QStringLiteral("guess"));
    exitButton(gate)->click();

    // The password found before is typed for a user that does not exist.
    type(gate, QStringLiteral("O'Brian"), QStringLiteral("quote'pw"));
    QVERIFY_THROWS_NO_EXCEPTION(exitButton(gate)->click());
    QVERIFY(!gate.passwordOK());
    QCOMPARE(m_ts->prompter.titles(), (QStringList{kIncorrectTitle, kIncorrectTitle}));

    // Straight through CheckPassword as well.
    type(gate, QStringLiteral("nobody"), QStringLiteral("quote'pw"));
    QVERIFY(!gate.CheckPassword());
    QVERIFY(gate.isVisible());
    QVERIFY(!m_ts->session.state.AbortSession);
    QCOMPARE(m_ts->processEnd.calls, 0);
}

void TestPasswordGate::nullStoredPasswordNeverMatches()
{
    PasswordGate gate(m_ts->session);
    // CheckPassword does not refuse an empty box itself, so an account without a
    // password must fail on its own account, whatever the box holds.
    for (const QString& typed : {QString(), QStringLiteral(""), QStringLiteral("NULL"),
                                 QStringLiteral("null"), QStringLiteral(" ")}) {
        type(gate, QStringLiteral("NULLPW"), typed);
        QVERIFY2(!gate.CheckPassword(), qPrintable(typed));
        QVERIFY(!gate.passwordOK());
    }
    QCOMPARE(m_ts->prompter.prompts().size(), 0);
}

void TestPasswordGate::rightPairEndsTheSession_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");

    QTest::newRow("demo account, hashed") << config::kDemoUser << config::kDemoPassword;
    QTest::newRow("user in upper case") << config::kDemoUser.toUpper() << config::kDemoPassword;
    QTest::newRow("user in mixed case") << QStringLiteral("eXpErImEnTeR") << config::kDemoPassword;
    QTest::newRow("quote in user and password, plain text")
        << QStringLiteral("o'brien") << QStringLiteral("quote'pw");
    QTest::newRow("user of blanks") << QStringLiteral("  ") << QStringLiteral("blanks");
    QTest::newRow("first row of two") << QStringLiteral("dup") << QStringLiteral("first");
}

void TestPasswordGate::rightPairEndsTheSession()
{
    QFETCH(QString, user);
    QFETCH(QString, password);

    bool questionnaireShown = false;
    m_ts->session.setQuestionnaire([&] { questionnaireShown = true; });
    m_ts->session.state.tank.TotBonus = 4;

    PasswordGate gate(m_ts->session);
    showGate(gate);
    type(gate, user, password);

    QVERIFY_THROWS_EXCEPTION(ProcessEnded, exitButton(gate)->click());
    QCOMPARE(m_ts->processEnd.calls, 1);
    QVERIFY(gate.passwordOK());
    QVERIFY(m_ts->session.state.AbortSession);
    QVERIFY(m_ts->session.state.ExitGranted);
    QVERIFY(!questionnaireShown);
    QCOMPARE(m_ts->prompter.prompts().size(), 0); // neither a refusal nor the earnings
}

void TestPasswordGate::enterAndEscapeDoNothing()
{
    PasswordGate gate(m_ts->session);
    showGate(gate);
    // Even a right pair is not sent by Enter.
    type(gate, config::kDemoUser, config::kDemoPassword);

    for (QWidget* target : QList<QWidget*>{usernameBox(gate), passwordBox(gate), exitButton(gate),
                                           cancelButton(gate)}) {
        target->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QVERIFY_THROWS_NO_EXCEPTION(QTest::keyClick(target, key));
            QVERIFY2(gate.isVisible(), qPrintable(target->objectName()));
        }
    }
    gate.reject();
    QVERIFY(gate.isVisible());

    QCOMPARE(m_ts->prompter.prompts().size(), 0);
    QCOMPARE(m_ts->processEnd.calls, 0);
    QVERIFY(!m_ts->session.state.AbortSession);
    QCOMPARE(usernameBox(gate)->text(), config::kDemoUser);
    QCOMPARE(passwordBox(gate)->text(), config::kDemoPassword);
}

void TestPasswordGate::askCancelsAndReopensEmpty()
{
    struct Seen {
        bool found = false;
        bool active = false;
        bool modal = false;
        QWidget* focus = nullptr;
        QWidget* expectedFocus = nullptr;
        QString user;
        QString password;
        bool openAfterEscape = false;
    };

    // Looks at the gate ask() has opened, leaves a pair in it, and closes it by `close`.
    const auto visit = [](Seen& seen, const std::function<void(PasswordGate&)>& close) {
        QTimer::singleShot(0, [&seen, close] {
            PasswordGate* gate = openGate();
            seen.found = gate != nullptr;
            if (!gate)
                return;
            seen.modal = gate->isModal();
            seen.active = QTest::qWaitForWindowActive(gate);
            seen.focus = QApplication::focusWidget();
            seen.expectedFocus = usernameBox(*gate);
            seen.user = usernameBox(*gate)->text();
            seen.password = passwordBox(*gate)->text();
            usernameBox(*gate)->setText(config::kDemoUser);
            passwordBox(*gate)->setText(QStringLiteral("half typed"));
            QTest::keyClick(passwordBox(*gate), Qt::Key_Escape);
            seen.openAfterEscape = gate->isVisible();
            close(*gate);
            if (gate->isVisible()) // never leave exec() hanging
                gate->done(QDialog::Rejected);
        });
    };

    SessionState& state = m_ts->session.state;
    const QList<std::function<void(PasswordGate&)>> closers = {
        [](PasswordGate& gate) { cancelButton(gate)->click(); },
        [](PasswordGate& gate) { gate.close(); }, // the close box
    };
    for (int round = 0; round < closers.size(); ++round) {
        state.ExitGranted = true; // Cancel must say no, whatever was there
        Seen seen;
        visit(seen, closers[round]);
        QVERIFY(!PasswordGate::ask(m_ts->session, nullptr));
        QVERIFY2(seen.found, qPrintable(QString::number(round)));
        QVERIFY(seen.modal);
        QVERIFY(seen.active);
        QCOMPARE(seen.focus, seen.expectedFocus);
        QVERIFY(seen.user.isEmpty());
        QVERIFY(seen.password.isEmpty());
        QVERIFY(seen.openAfterEscape);
        QVERIFY(!state.ExitGranted);
        QTRY_VERIFY(openGate() == nullptr);
    }
    QVERIFY(!state.AbortSession);
    QCOMPARE(m_ts->prompter.prompts().size(), 0);
    QCOMPARE(m_ts->processEnd.calls, 0);
}

void TestPasswordGate::askWithRightPairEndsTheSession()
{
    bool found = false;
    bool escapedTheClick = false;
    QTimer::singleShot(0, [&] {
        PasswordGate* gate = openGate();
        found = gate != nullptr;
        if (!gate)
            return;
        usernameBox(*gate)->setText(config::kDemoUser.toUpper());
        passwordBox(*gate)->setText(config::kDemoPassword);
        try {
            exitButton(*gate)->click();
        } catch (const ProcessEnded&) {
            // Must not get here: it would have unwound through the dialog's event loop.
            escapedTheClick = true;
        }
        if (gate->isVisible())
            gate->done(QDialog::Rejected);
    });
    QVERIFY_THROWS_EXCEPTION(ProcessEnded, PasswordGate::ask(m_ts->session, nullptr));
    QVERIFY(found);
    QVERIFY(!escapedTheClick);
    QCOMPARE(m_ts->processEnd.calls, 1);
    QVERIFY(m_ts->session.state.AbortSession);
    QVERIFY(m_ts->session.state.ExitGranted);
    QCOMPARE(m_ts->prompter.prompts().size(), 0);
    QTRY_VERIFY(openGate() == nullptr);
}

QTEST_MAIN(TestPasswordGate)
#include "tst_passwordgate.moc"
