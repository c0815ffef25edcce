#include "config/ConfigLoader.h"
#include "session/LoginScreen.h"
#include "session/StationHold.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"
#include "support/ToolRun.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

#include <tuple>

using namespace aquilevel;
using test::ProcessEnded;

namespace {

const QString kContinuous = QStringLiteral("Demo continuous");
const QString kDiscrete = QStringLiteral("Demo discrete");

// One login window on the demo database, shown without its modal loop so that the
// test can press its buttons and read what Start decided.
struct Login {
    explicit Login(test::TempDatabase& db) : ts(db.engine())
    {
        ts.session.state.versions = config::LoadVersions(ts.session.store());
        screen = std::make_unique<LoginScreen>(ts.session);
        screen->show();
        name = screen->findChild<QLineEdit*>(QStringLiteral("txtName"));
        version = screen->findChild<QComboBox*>(QStringLiteral("cboVersion"));
        start = screen->findChild<QPushButton*>(QStringLiteral("cmdStart"));
        quit = screen->findChild<QPushButton*>(QStringLiteral("cmdQuit"));
    }

    void type(const QString& who, const QString& which)
    {
        name->setText(who);
        version->setEditText(which);
    }

    test::TestSession ts;
    std::unique_ptr<LoginScreen> screen;
    QLineEdit* name;
    QComboBox* version;
    QPushButton* start;
    QPushButton* quit;
};

void registerSubject(const test::TempDatabase& db, const QString& subject, const QString& version)
{
    db.append(QStringLiteral("datSubject"), {{QStringLiteral("Subject"), subject},
                                             {QStringLiteral("Version"), version},
                                             {QStringLiteral("Condition"), QStringLiteral("continuous")}});
}

void addEvent(const test::TempDatabase& db, const QString& subject, const QString& version,
              int eventId, int trial, const QVariant& totBonus = 6.5)
{
    db.append(QStringLiteral("datExperimentTrials"),
              {{"Subject", subject}, {"Version", version}, {"eventType", QStringLiteral("After Cost Calculation")},
               {"EventID", eventId}, {"Trial", trial}, {"CurrentCost", 0.1}, {"TotCost", 5.1}, {"CurrentBonus", 0},
               {"TotBonus", totBonus}, {"BonusAmount", 0.25}, {"TotalBackOrder", 3}, {"TotalForwardDischarge", 2},
               {"AmountInTank", 41}, {"graphicalMode", 1}, {"TimeBetweenEnvTries", 12000},
               {"deltaTmeBetweenEnvUsr", 3000}, {"UserInFlow", 1}, {"UserOutFlow", 1}});
}

} // namespace

class TestLogin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void startNeedsANameThatIsNotBlank();
    void versionBoxTakesTheListEntry_data();
    void versionBoxTakesTheListEntry();
    void newNameGoesToRegistration();
    void nameMatchesWithoutCaseWithinItsVersion();
    void returningParticipantIsAskedToContinue();
    void nameKnownOnlyByItsRowsIsTakenUp();
    void declinedContinuationDoesNotLeakIntoTheNextName();
    void finishedParticipantIsNotAskedToContinue();
    void unreadableSavedStateKeepsTheLogin();
    void brokenVersionEndsAfterItsMessage();
    void quitEndsWithoutAnyMessage();
    void cancelledRegistrationComesBackToTheLogin();
    void heldParticipantIsRefused_data();
    void heldParticipantIsRefused();
    void controlCharactersAreRefused();
    void runningSessionRefreshesOnlyItsOwnHold();

private:
    std::unique_ptr<test::TempDatabase> m_db;
};

void TestLogin::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true); // the runs' marks go to a folder of the tests
    m_db = std::make_unique<test::TempDatabase>(test::TempDatabase::Content::Demo);
    registerSubject(*m_db, QStringLiteral("Ann"), kContinuous);
    addEvent(*m_db, QStringLiteral("Ann"), kContinuous, 56, 4);
    addEvent(*m_db, QStringLiteral("Ann"), kContinuous, 57, 5);
    registerSubject(*m_db, QStringLiteral("Done"), kContinuous);
    addEvent(*m_db, QStringLiteral("Done"), kContinuous, 140, 20, 9.75);
    registerSubject(*m_db, QStringLiteral("Émile"), kContinuous);
    addEvent(*m_db, QStringLiteral("Émile"), kContinuous, 30, 3);
    registerSubject(*m_db, QStringLiteral("Broken"), kContinuous);
    addEvent(*m_db, QStringLiteral("Broken"), kContinuous, 3, 1, QVariant());
    // Rows without a registration row: a scripted session killed before it registered.
    addEvent(*m_db, QStringLiteral("Gil"), kContinuous, 12, 2);
}

void TestLogin::startNeedsANameThatIsNotBlank()
{
    Login login(*m_db);
    QVERIFY(!login.start->isEnabled());
    login.name->setText(QStringLiteral("   "));
    QVERIFY(!login.start->isEnabled());
    login.name->setText(QStringLiteral("  Bo  "));
    QVERIFY(login.start->isEnabled());
    QTest::keyClick(login.name, Qt::Key_Return);
    QCOMPARE(login.ts.session.state.Subject, QStringLiteral("Bo"));
    QCOMPARE(login.screen->result(), 2); // on to the registration
}

void TestLogin::versionBoxTakesTheListEntry_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("other letter case") << "demo DISCRETE" << kDiscrete;
    // A typo is named, with the versions there are; it never plays another version.
    QTest::newRow("no such version") << "Demo time-drivn" << "";
}

void TestLogin::versionBoxTakesTheListEntry()
{
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    Login login(*m_db);
    QStringList languages; // the version's language is chosen once its setup is loaded
    login.ts.session.setLanguageChoice([&](const QString& code) { languages.append(code); });
    login.type(QStringLiteral("Cy"), typed);
    // Enter in the version box checks the text before Start reads it.
    QTest::keyClick(login.version->lineEdit(), Qt::Key_Return);
    QCOMPARE(login.ts.session.state.Version, chosen);
    QCOMPARE(login.ts.session.state.setup.Version, chosen);
    if (!chosen.isEmpty()) {
        QCOMPARE(languages, QStringList{login.ts.session.state.setup.Language});
        QCOMPARE(login.version->currentText(), chosen);
        return;
    }
    QVERIFY(languages.isEmpty());
    QCOMPARE(login.version->currentText(), typed);
    QCOMPARE(login.ts.prompter.prompts().size(), 1);
    QVERIFY2(login.ts.prompter.prompts().first().text.startsWith(
                 QStringLiteral("There is no version \"%1\". The versions are: %2, ").arg(typed, kContinuous)),
             qPrintable(login.ts.prompter.prompts().first().text));
    QCOMPARE(login.screen->result(), 0);
}

void TestLogin::newNameGoesToRegistration()
{
    Login login(*m_db);
    login.type(QStringLiteral("Newcomer"), kContinuous);
    login.start->click();
    const SessionState& s = login.ts.session.state;
    QVERIFY(s.IsNewSubject);
    QCOMPARE(s.Trial, 0);
    QCOMPARE(s.tank.BackOrder.size(), s.setup.MaxTrial + 2);
    QVERIFY(login.ts.prompter.prompts().isEmpty());
    QCOMPARE(login.screen->result(), 2);
}

void TestLogin::nameMatchesWithoutCaseWithinItsVersion()
{
    // Any script's letter case finds the registration; the session goes on under the
    // registered spelling and its saved state is found under it.
    for (const auto& [typed, registered, trial] :
         {std::tuple{"aNN", "Ann", 5}, std::tuple{"émile", "Émile", 3}, std::tuple{"gIL", "Gil", 2}}) {
        Login login(*m_db);
        login.ts.prompter.queueNo();
        login.type(QString::fromUtf8(typed), kContinuous);
        login.start->click();
        const SessionState& s = login.ts.session.state;
        QVERIFY(!s.IsNewSubject);
        QCOMPARE(s.Subject, QString::fromUtf8(registered));
        QCOMPARE(s.Trial, trial);
    }
    {
        Login login(*m_db);
        login.type(QStringLiteral("Ann"), kDiscrete);
        login.start->click();
        QVERIFY(login.ts.session.state.IsNewSubject);
    }
}

void TestLogin::returningParticipantIsAskedToContinue()
{
    Login login(*m_db);
    login.ts.prompter.queueYes();
    login.type(QStringLiteral("Ann"), kContinuous);
    login.start->click();
    QCOMPARE(login.ts.prompter.prompts().size(), 1);
    const Prompter::Prompt& asked = login.ts.prompter.prompts().first();
    QCOMPARE(asked.title, QStringLiteral("Login Ann already used"));
    QCOMPARE(asked.text, QStringLiteral("Continue with Trial #6"));
    QCOMPARE(asked.buttons, Prompter::Buttons::YesNo);
    QCOMPARE(login.screen->result(), int(QDialog::Accepted));
    const SessionState& s = login.ts.session.state;
    QCOMPARE(s.Trial, 5);
    QCOMPARE(s.EventID, 57);
    QCOMPARE(s.tank.TotBonus, 6.5);
}

void TestLogin::nameKnownOnlyByItsRowsIsTakenUp()
{
    // Continued where its rows stop, never started again at EventID 1; once it goes on,
    // it has its registration row, with nothing it was not asked.
    const auto registrations = [&] {
        return m_db->rows(QStringLiteral("select Condition, Major, Age from datSubject where Subject='Gil'"));
    };
    Login login(*m_db);
    login.ts.prompter.queueNo();
    login.type(QStringLiteral("gil"), kContinuous);
    login.start->click();
    QVERIFY(registrations().isEmpty());
    login.ts.prompter.queueYes();
    login.start->click();
    QCOMPARE(login.screen->result(), int(QDialog::Accepted));
    QCOMPARE(login.ts.session.state.EventID, 12);
    const QList<QVariantMap> rows = registrations();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().value(QStringLiteral("Condition")), QVariant(QStringLiteral("continuous")));
    QVERIFY(rows.first().value(QStringLiteral("Major")).isNull() && rows.first().value(QStringLiteral("Age")).isNull());
}

void TestLogin::declinedContinuationDoesNotLeakIntoTheNextName()
{
    Login login(*m_db);
    login.ts.prompter.queueNo();
    login.type(QStringLiteral("Ann"), kContinuous);
    login.start->click();
    QVERIFY(login.screen->isVisible());
    QCOMPARE(login.name->selectedText(), QStringLiteral("Ann"));

    login.type(QStringLiteral("Dee"), kContinuous);
    login.start->click();
    const SessionState& s = login.ts.session.state;
    QVERIFY(s.IsNewSubject);
    QCOMPARE(s.Trial, 0);
    QCOMPARE(s.EventID, 0);
    QCOMPARE(s.tank.TotBonus, 0.0);
}

void TestLogin::finishedParticipantIsNotAskedToContinue()
{
    // Nothing is left to continue with: the login closes and the start-up ends the
    // session (the last period, the questionnaire if due, the earnings).
    Login login(*m_db);
    login.type(QStringLiteral("done"), kContinuous);
    login.start->click();
    QCOMPARE(login.ts.prompter.prompts().size(), 0);
    QCOMPARE(login.screen->result(), int(QDialog::Accepted));
    QCOMPARE(login.ts.session.state.Trial, 20);
    QCOMPARE(login.ts.session.state.tank.TotBonus, 9.75);
}

void TestLogin::unreadableSavedStateKeepsTheLogin()
{
    Login login(*m_db);
    login.type(QStringLiteral("Broken"), kContinuous);
    login.start->click();
    QCOMPARE(login.ts.prompter.prompts().size(), 1);
    const QString text = login.ts.prompter.prompts().first().text;
    QVERIFY2(text.contains(QStringLiteral("Broken")) && text.contains(kContinuous), qPrintable(text));
    QVERIFY(login.screen->isVisible());
    QCOMPARE(m_db->column(QStringLiteral("select count(*) from datSubject where Subject='Broken'")).value(0).toInt(), 1);
}

void TestLogin::brokenVersionEndsAfterItsMessage()
{
    QVariantMap row = test::soundSetupRow(QStringLiteral("Zeta broken"));
    row[QStringLiteral("AfterEveryNTrials")] = 0;
    test::insertSetup(*m_db, row);
    Login login(*m_db);
    int questionnaires = 0;
    login.ts.session.setQuestionnaire([&] { ++questionnaires; });
    login.type(QStringLiteral("Eve"), QStringLiteral("Zeta broken"));
    QVERIFY_THROWS_EXCEPTION(ProcessEnded, login.start->click());
    QCOMPARE(login.ts.processEnd.calls, 1);
    QCOMPARE(questionnaires, 1);
    const auto& prompts = login.ts.prompter.prompts();
    QCOMPARE(prompts.size(), 2);
    QVERIFY(prompts.at(0).text.contains(QStringLiteral("Value of AfterEveryNTrials should be greater than 0")));
    QVERIFY(prompts.at(1).text.contains(QStringLiteral("earned 00.00 dollars")));
    // Nothing was registered for the name.
    QCOMPARE(m_db->column(QStringLiteral("select count(*) from datSubject where Subject='Eve'")).value(0).toInt(), 0);
}

void TestLogin::quitEndsWithoutAnyMessage()
{
    Login login(*m_db);
    QVERIFY_THROWS_EXCEPTION(ProcessEnded, login.quit->click());
    QVERIFY(login.ts.session.state.LoginQuit);
    QCOMPARE(login.ts.processEnd.calls, 1);
    QVERIFY(login.ts.prompter.prompts().isEmpty());
}

void TestLogin::cancelledRegistrationComesBackToTheLogin()
{
    test::TestSession ts(m_db->engine());
    ts.session.state.versions = config::LoadVersions(ts.session.store());
    QStringList seen;
    QString selectedWhenBack;
    // What the station tells the lab meanwhile: it waits at the login throughout.
    const auto presence = [&] {
        return m_db->column(QStringLiteral("select State from datStation where Holder = $1"), {ts.session.hold().holder()})
            .value(0)
            .toString();
    };
    QStringList said;
    QTimer driver;
    driver.setInterval(5);
    connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || (!seen.isEmpty() && seen.last() == modal->objectName() && seen.size() < 3))
            return;
        seen << modal->objectName();
        said << presence();
        if (seen.size() == 1) {
            modal->findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(QStringLiteral("Fay"));
            modal->findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
        } else if (seen.size() == 2) {
            QCOMPARE(modal->objectName(), QStringLiteral("frmSubjectInfo"));
            modal->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
        } else {
            selectedWhenBack = modal->findChild<QLineEdit*>(QStringLiteral("txtName"))->selectedText();
            modal->findChild<QPushButton*>(QStringLiteral("cmdQuit"))->click();
        }
    });
    driver.start();
    QVERIFY_THROWS_EXCEPTION(ProcessEnded, LoginScreen::run(ts.session));
    QCOMPARE(seen, (QStringList{"frmLogin", "frmSubjectInfo", "frmLogin"}));
    QCOMPARE(said, (QStringList{"login", "login", "login"}));
    QCOMPARE(presence(), QStringLiteral("closed"));
    QCOMPARE(selectedWhenBack, QStringLiteral("Fay"));
    QVERIFY(ts.session.state.LoginQuit);
    QVERIFY(ts.prompter.prompts().isEmpty());
    QCOMPARE(m_db->column(QStringLiteral("select count(*) from datSubject where Subject='Fay'")).value(0).toInt(), 0);
}

void TestLogin::heldParticipantIsRefused_data()
{
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("holder");
    QTest::addColumn<int>("refreshedSecondsAgo");
    QTest::addColumn<QString>("markBoot"); // the boot the holder's run left its mark here in
    QTest::addColumn<bool>("refused");
    const QString here = QSysInfo::machineHostName();
    const QString sameImage = "999999999:" + QString::fromLatin1(QSysInfo::machineUniqueId().toHex());
    QTest::newRow("playing on another station") << "LAB-03" << "1:x:t" << 5 << "" << true;
    // Stamps by another station's clock tell nothing about how long it has been silent.
    QTest::newRow("station whose clock runs 70 s behind") << "LAB-03" << "1:x:t" << 70 << "" << true;
    // Same host name and machine id, another run: no mark of it here, or one that came
    // with the disk image.
    QTest::newRow("station cloned from this one's image") << here << sameImage + ":t" << 5 << "" << true;
    QTest::newRow("cloned with a mark in the image") << here << sameImage + ":t" << 5 << "another boot" << true;
    // A run of this computer that has ended holds nothing.
    QTest::newRow("crashed copy on this station") << here << sameImage + ":t" << 5 << "this boot" << false;
}

void TestLogin::heldParticipantIsRefused()
{
    QFETCH(QString, station);
    QFETCH(QString, holder);
    QFETCH(int, refreshedSecondsAgo);
    QFETCH(QString, markBoot);
    QFETCH(bool, refused);
    const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(-refreshedSecondsAgo);
    const auto hold = [&](const QString& stamp) {
        m_db->exec(QStringLiteral("delete from datSessionHold"));
        m_db->append(QStringLiteral("datSessionHold"),
                     {{"SubjectKey", QStringLiteral("ann")}, {"VersionKey", kContinuous.toCaseFolded()},
                      {"Version", kContinuous}, {"Subject", QStringLiteral("Ann")}, {"Station", station},
                      {"Holder", holder}, {"TakenUtc", stamp}, {"RefreshedUtc", stamp}});
    };
    hold(when.toString(Qt::ISODateWithMs));
    QFile mark(StationHold::runFolder() + "/" + QString(holder).replace(':', '_') + ".run");
    if (!markBoot.isEmpty()) {
        QFile boot(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        QVERIFY(boot.open(QIODevice::ReadOnly));
        const QByteArray bootId = markBoot == "this boot" ? boot.readAll().trimmed() : QByteArray("0-0-0");
        QVERIFY(QDir().mkpath(StationHold::runFolder()) && mark.open(QIODevice::WriteOnly));
        QVERIFY(mark.write(holder.toUtf8() + '\n' + bootId + '\n') > 0 && mark.flush());
    }
    Login login(*m_db);
    login.ts.prompter.queueNo();
    login.type(QStringLiteral("ANN"), kContinuous);
    login.start->click();
    const QList<Prompter::Prompt>& prompts = login.ts.prompter.prompts();
    QCOMPARE(prompts.size(), 1);
    if (!refused) {
        QCOMPARE(prompts.first().title, QStringLiteral("Login Ann already used"));
        QCOMPARE(login.ts.session.state.Trial, 5);
        QVERIFY(!mark.exists()); // the ended run's mark goes with its hold
        // Declining the continuation gives the hold up again.
        QCOMPARE(m_db->column(QStringLiteral("select count(*) from datSessionHold")).value(0).toInt(), 0);
        return;
    }
    QVERIFY2(prompts.first().text.startsWith(
                 QStringLiteral("Participant Ann is playing version Demo continuous on station %1 (last event ").arg(station)),
             qPrintable(prompts.first().text));
    QCOMPARE(login.ts.session.state.Trial, 0); // nothing restored, nothing written
    QVERIFY(login.screen->isVisible());

    // This station's own clock watches the holder: while its refreshes move it keeps the
    // participant, once they have stood still for the limit it has stopped.
    login.ts.session.hold().setStaleLimit(0);
    const auto startAgain = [&] {
        login.ts.prompter.clear();
        login.ts.prompter.queueNo();
        login.start->click();
        return login.ts.prompter.prompts().value(0);
    };
    hold(when.addMSecs(10).toString(Qt::ISODateWithMs));
    QVERIFY(startAgain().text.startsWith(QStringLiteral("Participant Ann is playing")));
    QCOMPARE(startAgain().title, QStringLiteral("Login Ann already used"));

    // The experimenter's command ends a hold at once.
    hold(when.toString(Qt::ISODateWithMs));
    const test::ToolResult released = test::runProgram(
        {QStringLiteral("--data"), m_db->folder(), QStringLiteral("release"), QStringLiteral("ANN"),
         QStringLiteral("--version"), kContinuous});
    QVERIFY2(released.status == 0 && released.out.contains(station), qPrintable(released.out + released.err));
    QCOMPARE(m_db->column(QStringLiteral("select count(*) from datSessionHold")).value(0).toInt(), 0);
    // A name with an escape sequence is printed escaped, never raw.
    const test::ToolResult none = test::runProgram(
        {QStringLiteral("--data"), m_db->folder(), QStringLiteral("release"), QStringLiteral("A\x1b[2JB"),
         QStringLiteral("--version"), kContinuous});
    QCOMPARE(none.status, 1);
    QVERIFY2(none.err.contains(QStringLiteral("A\\x1b[2JB")) && !none.err.contains(QChar(0x1b)), qPrintable(none.err));
}

void TestLogin::controlCharactersAreRefused()
{
    for (const QString& name : {QStringLiteral("P\x1b[2J7"), QStringLiteral("P\t7")}) {
        Login login(*m_db);
        login.type(name, kContinuous);
        login.start->click();
        QCOMPARE(login.ts.prompter.prompts().size(), 1);
        QVERIFY(login.ts.prompter.prompts().first().text.contains(QStringLiteral("control characters")));
        QCOMPARE(login.screen->result(), 0);
    }
}

void TestLogin::runningSessionRefreshesOnlyItsOwnHold()
{
    // Ways another station comes to play the participant while this one is away: it takes
    // the hold over, or takes it over, finishes and lets go.
    for (const bool letGo : {false, true}) {
        m_db->exec(QStringLiteral("delete from datSessionHold"));
        m_db->exec(QStringLiteral("delete from datExperimentTrials where Subject = 'Zoe'"));
        test::TestSession ts(m_db->engine());
        StationHold& hold = ts.session.hold();
        QVERIFY(!hold.take(QStringLiteral("Zoe"), kContinuous));
        hold.setRefreshInterval(5);
        QSignalSpy lost(&hold, &StationHold::lost);
        const auto holders = [&] { return m_db->column(QStringLiteral("select Holder from datSessionHold")); };
        const QVariantList mine = holders();
        QCOMPARE(mine.size(), 1);

        // Released from outside while the session still plays: it holds the participant again.
        m_db->exec(QStringLiteral("delete from datSessionHold"));
        QTRY_COMPARE(holders(), mine);

        const QString old = QDateTime::currentDateTimeUtc().addSecs(-30).toString(Qt::ISODateWithMs);
        if (letGo) {
            m_db->exec(QStringLiteral("delete from datSessionHold"));
            addEvent(*m_db, QStringLiteral("Zoe"), kContinuous, 1, 1);
        } else {
            m_db->exec(QStringLiteral("UPDATE datSessionHold SET Holder = '1:x:other', RefreshedUtc = $1"), {old});
        }
        const QVariantList after = m_db->column(QStringLiteral("select Holder || ' ' || RefreshedUtc from datSessionHold"));
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(lost.first().first().toString().startsWith(QStringLiteral("Another station now holds participant Zoe")));
        // Nothing more is written for the participant: the other station's hold (or its
        // absence) stays as it is, and every write of the session is refused.
        QVERIFY_THROWS_EXCEPTION(HoldLost, ts.session.store().write(
                                               [](store::Connection& c) {
                                                   c.execute(store::Sql("delete from datSessionHold"));
                                               },
                                               QStringLiteral("datSessionHold"), QStringLiteral("test")));
        QTest::qWait(30);
        QCOMPARE(m_db->column(QStringLiteral("select Holder || ' ' || RefreshedUtc from datSessionHold")), after);
        QCOMPARE(lost.size(), 1);
    }
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
