#include "config/ConfigCheck.h"
#include "session/EndGame.h"
#include "task/InitSession.h"
#include "Startup.h"
#include "store/DataLocation.h"
#include "support/FakeEngine.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <QtTest>

using namespace aquilevel;
using aquilevel::test::ProcessEnded;
using aquilevel::test::TempDatabase;
using aquilevel::test::TestSession;

namespace {

const QString kEarningsFive =
    QStringLiteral("The game is over and you have earned 05.00 dollars. Thank you for your "
                   "participation. Please call the experimenter for further instructions.");
const QString kEarningsZero =
    QStringLiteral("The game is over and you have earned 00.00 dollars. Thank you for your "
                   "participation. Please call the experimenter for further instructions.");

bool isEarnings(const Prompter::Prompt& prompt)
{
    return prompt.text.startsWith(QStringLiteral("The game is over"));
}

QStringList texts(const test::ScriptedPrompter& prompter)
{
    QStringList result;
    for (const Prompter::Prompt& p : prompter.prompts())
        result.append(p.text);
    return result;
}

config::ExperimentSetup setupFor(int maxTrial, double baseMoney)
{
    config::ExperimentSetup s;
    s.Version = QStringLiteral("V");
    s.MaxTrial = maxTrial;
    s.BaseMoney = baseMoney;
    s.inFlowTPAfter = 3;
    s.outFlowTPAfter = 2;
    s.AfterEveryNTrials = 1;
    return s;
}

// Runs Main until the session ends before the trial screen opens.
void runMainToTheEnd(TestSession& ts)
{
    QVERIFY_THROWS_EXCEPTION(ProcessEnded, Main(ts.session, StartupOptions{0}));
    QCOMPARE(ts.processEnd.calls, 1);
    QCOMPARE(ts.prompter.unexpected(), 0);
    QCOMPARE(ts.prompter.pending(), 0);
}

// Answers the start-up's modal windows as a person would: the login with `name`,
// then, for a new name, the registration and the instructions.
std::unique_ptr<QTimer> answerStartupWindows(const QString& name)
{
    auto driver = std::make_unique<QTimer>();
    driver->setInterval(5);
    QObject::connect(driver.get(), &QTimer::timeout, [name] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (modal->objectName() == QStringLiteral("frmLogin")) {
            modal->findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(name);
            modal->findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
        } else if (modal->objectName() == QStringLiteral("frmSubjectInfo")) {
            QTest::keyClicks(modal->findChild<QLineEdit*>(QStringLiteral("txtAge")), QStringLiteral("21"));
            modal->findChild<QRadioButton*>(QStringLiteral("optFemale"))->click();
            QTest::keyClicks(modal->findChild<QComboBox*>(QStringLiteral("cboMajor"))->lineEdit(),
                             QStringLiteral("Physics"));
            modal->findChild<QPushButton*>(QStringLiteral("btnBegin"))->click();
        } else if (modal->objectName() == QStringLiteral("frmInstructions")) {
            modal->findChild<QPushButton*>(QStringLiteral("cmdRight"))->click();
            modal->findChild<QPushButton*>(QStringLiteral("cmdContinue"))->click();
        }
    });
    driver->start();
    return driver;
}

} // namespace

class TestSessionDriver : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void earningsMessage_data();
    void earningsMessage();
    void endGame_data();
    void endGame();
    void questionnaireRunsOnceWhenEndGameReentered();

    void initNewSession_data();
    void initNewSession();
    void initResumedSessionKeepsItsState();

    void mainOnTheDemoDatabase();
    void mainWithABrokenFirstVersion();
    void mainWithoutVersions();
    void mainWhenTheStoreFailsAndRetryIsDeclined();
    void mainRefusesADamagedFile();
};

void TestSessionDriver::cleanup()
{
    // Main leaves its splash window up until the program ends; here the test ends it.
    qDeleteAll(QApplication::topLevelWidgets());
}

void TestSessionDriver::earningsMessage_data()
{
    QTest::addColumn<double>("totBonus");
    QTest::addColumn<QString>("amount");
    QTest::addColumn<QString>("word"); // Null: the default currency, as every version had it
    QTest::addColumn<int>("decimals");
    QTest::newRow("base money") << 5.0 << "05.00" << QString() << 2;
    QTest::newRow("nothing") << 0.0 << "00.00" << QString() << 2;
    QTest::newRow("half") << 12.5 << "12.50" << QString() << 2;
    QTest::newRow("rounded") << 123.456 << "123.46" << QString() << 2;
    QTest::newRow("accumulated bonus") << 5.0 + 0.25 * 7 << "06.75" << QString() << 2;
    QTest::newRow("euros") << 6.75 << "06.75" << "euros" << 2;
    QTest::newRow("yen, no decimals") << 1234.5 << "1235" << "yen" << 0;
    QTest::newRow("no decimals, small") << 5.4 << "05" << "yen" << 0;
    QTest::newRow("four decimals") << 5.25 << "05.2500" << "dinars" << 4;
}

void TestSessionDriver::earningsMessage()
{
    QFETCH(double, totBonus);
    QFETCH(QString, amount);
    QFETCH(QString, word);
    QFETCH(int, decimals);
    const QString message = word.isNull() ? aquilevel::earningsMessage(totBonus)
                                          : aquilevel::earningsMessage(totBonus, word, decimals);
    QCOMPARE(message, QStringLiteral("The game is over and you have earned %1 %2. Thank you for your "
                                     "participation. Please call the experimenter for further instructions.")
                          .arg(amount, word.isNull() ? QStringLiteral("dollars") : word));
}

void TestSessionDriver::endGame_data()
{
    QTest::addColumn<bool>("abort");
    QTest::addColumn<bool>("loginQuit");
    QTest::addColumn<bool>("allPeriodsDone");
    QTest::addColumn<bool>("message");
    QTest::addColumn<bool>("questionnaire");
    QTest::addColumn<QString>("currency"); // Null: the version's default currency

    QTest::newRow("normal end") << false << false << false << true << true << QString();
    QTest::newRow("all periods done before") << false << false << true << true << false << QString();
    QTest::newRow("aborted") << true << false << false << false << false << QString();
    QTest::newRow("quit at login") << false << true << false << false << false << QString();
    QTest::newRow("aborted after all periods") << true << false << true << false << false << QString();
    QTest::newRow("quit and aborted") << true << true << false << false << false << QString();
    QTest::newRow("normal end, paid in euros") << false << false << false << true << true << "euros";
}

void TestSessionDriver::endGame()
{
    QFETCH(bool, abort);
    QFETCH(bool, loginQuit);
    QFETCH(bool, allPeriodsDone);
    QFETCH(bool, message);
    QFETCH(bool, questionnaire);
    QFETCH(QString, currency);

    TempDatabase db;
    TestSession ts(std::make_unique<test::FakeEngine>(db.engine()));
    SessionState& s = ts.session.state;
    if (!currency.isNull()) {
        s.setup.CurrencyWord = currency;
        s.setup.CurrencyDecimals = 1;
    }
    s.AbortSession = abort;
    s.LoginQuit = loginQuit;
    s.AllPeriodsDone = allPeriodsDone;
    s.tank.TotBonus = 5;
    int questionnaires = 0;
    int promptsBeforeQuestionnaire = -1;
    ts.session.setQuestionnaire([&] {
        ++questionnaires;
        promptsBeforeQuestionnaire = ts.prompter.prompts().size();
    });

    QVERIFY_THROWS_EXCEPTION(ProcessEnded, EndGame(ts.session));

    QCOMPARE(ts.processEnd.calls, 1);
    QCOMPARE(questionnaires, questionnaire ? 1 : 0);
    if (questionnaire)
        QCOMPARE(promptsBeforeQuestionnaire, 0);
    if (message) {
        QCOMPARE(ts.prompter.prompts().size(), 1);
        const Prompter::Prompt& p = ts.prompter.prompts().first();
        QCOMPARE(p.title, QStringLiteral("Aquilevel"));
        QCOMPARE(p.text, currency.isNull() ? kEarningsFive
                                           : QString(kEarningsFive).replace(QStringLiteral("05.00 dollars"),
                                                                            QStringLiteral("05.0 euros")));
        QCOMPARE(p.buttons, Prompter::Buttons::Ok);
    } else {
        QCOMPARE(ts.prompter.prompts().size(), 0);
    }
}

void TestSessionDriver::questionnaireRunsOnceWhenEndGameReentered()
{
    TempDatabase db;
    TestSession ts(std::make_unique<test::FakeEngine>(db.engine()));
    ts.session.state.tank.TotBonus = 7.5;
    int questionnaires = 0;
    // A store failure declined inside the questionnaire ends the session again.
    ts.session.setQuestionnaire([&] {
        ++questionnaires;
        EndGame(ts.session);
    });

    QVERIFY_THROWS_EXCEPTION(ProcessEnded, EndGame(ts.session));

    QCOMPARE(questionnaires, 1);
    QCOMPARE(ts.processEnd.calls, 1);
    QCOMPARE(texts(ts.prompter), QStringList{aquilevel::earningsMessage(7.5)});
}

void TestSessionDriver::initNewSession_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<double>("order");
    QTest::addColumn<QVector<double>>("due"); // periods 0 to 4; later periods hold 0

    QTest::newRow("delay 3") << 3 << 4.0 << QVector<double>{0, 2, 2, 0, 0};
    QTest::newRow("delay 2") << 2 << 4.0 << QVector<double>{0, 4, 0, 0, 0};
    QTest::newRow("delay 1: all in period 1") << 1 << 4.0 << QVector<double>{0, 4, 0, 0, 0};
    QTest::newRow("delay 0: all in period 1") << 0 << 4.0 << QVector<double>{0, 4, 0, 0, 0};
    QTest::newRow("delay 5") << 5 << 6.0 << QVector<double>{0, 1.5, 1.5, 1.5, 1.5};
    QTest::newRow("no order") << 3 << 0.0 << QVector<double>{0, 0, 0, 0, 0};
}

void TestSessionDriver::initNewSession()
{
    QFETCH(int, delay);
    QFETCH(double, order);
    QFETCH(QVector<double>, due);

    TempDatabase db;
    TestSession ts(std::make_unique<test::FakeEngine>(db.engine()));
    SessionState& s = ts.session.state;
    s.setup = setupFor(10, 5.0);
    s.setup.InitialAmountInTank = 20;
    s.setup.GoalLinePoisition = 30;
    // Back orders and discharges are spread by the same rule, each with its own delay;
    // the other one is made distinct so that mixing them up shows.
    s.setup.inFlowTPAfter = qint16(delay);
    s.setup.InitialBackOrder = order;
    s.setup.outFlowTPAfter = 4;
    s.setup.InitialForwardDischarge = 9;
    // Left over from anything before: a new session starts afresh.
    s.tank.TotBonus = 99;
    s.tank.CurrentCost = 3;
    s.tank.CurrentBonus = 1;
    s.tank.IsUserInFlow = true;
    s.tank.IsEnvOutFlow = true;
    s.tank.UserFlowInPlay = true;
    s.tank.SubmitTime = QTime(10, 0);
    s.tank.UserInFlow = QVector<double>(3, 7.0);

    InitSession(ts.session);

    const TankState& t = s.tank;
    QVector<double> expected(12, 0.0);
    std::copy(due.begin(), due.end(), expected.begin());
    QCOMPARE(t.BackOrder, expected);
    QCOMPARE(t.TotalBackOrder, order);
    QCOMPARE(t.ForwardDischarge, (QVector<double>{0, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(t.TotalForwardDischarge, 9.0);
    QCOMPARE(t.TotCost, 5.0);
    QCOMPARE(t.TotBonus, 5.0);
    QCOMPARE(t.CurrentCost, 0.0);
    QCOMPARE(t.CurrentBonus, 0.0);
    QCOMPARE(t.UserInFlow, QVector<double>(12, 0.0));
    QCOMPARE(t.UserOutFlow, QVector<double>(12, 0.0));
    QVERIFY(!t.IsUserInFlow && !t.IsUserOutFlow && !t.IsEnvInFlow && !t.IsEnvOutFlow);
    QVERIFY(!t.UserFlowInPlay && !t.EnvActedThisPeriod);
    QCOMPARE(t.SubmitTime, QTime(0, 0));
    QCOMPARE(t.EnvActionTime, QTime(0, 0));
    QCOMPARE(t.AmountInTank, 20.0);
    QCOMPARE(t.GoalAmount, 30.0);
    QCOMPARE(ts.prompter.prompts().size(), 0);
}

void TestSessionDriver::initResumedSessionKeepsItsState()
{
    TempDatabase db;
    TestSession ts(std::make_unique<test::FakeEngine>(db.engine()));
    SessionState& s = ts.session.state;
    s.setup = setupFor(6, 5.0);
    s.setup.InitialBackOrder = 4;
    s.Trial = 4;
    s.tank.TotBonus = 7.25;
    s.tank.TotCost = 6.5;
    s.tank.TotalBackOrder = 1.5;
    s.tank.BackOrder = {0, 0, 0, 0, 0, 1.5, 0, 0};
    s.tank.AmountInTank = 33;

    InitSession(ts.session);

    QCOMPARE(s.tank.TotBonus, 7.25);
    QCOMPARE(s.tank.TotCost, 6.5);
    QCOMPARE(s.tank.TotalBackOrder, 1.5);
    // The pipeline arrays are rebuilt from the setup, as for a new session.
    QCOMPARE(s.tank.BackOrder, (QVector<double>{0, 2, 2, 0, 0, 0, 0, 0}));
    QCOMPARE(s.tank.AmountInTank, 33.0);
    QCOMPARE(s.tank.UserInFlow, QVector<double>(8, 0.0));
    QCOMPARE(s.tank.UserOutFlow, QVector<double>(8, 0.0));
}

void TestSessionDriver::mainOnTheDemoDatabase()
{
    TempDatabase db(TempDatabase::Content::Demo);
    TestSession ts(db.engine());
    int questionnaires = 0;
    ts.session.setQuestionnaire([&] { ++questionnaires; });

    // Start-up ends with the trial screen up and nothing asked.
    const auto driver = answerStartupWindows(QStringLiteral("  Pat  "));
    Main(ts.session, StartupOptions{0});
    QCOMPARE(ts.session.state.Subject, QStringLiteral("Pat"));
    QCOMPARE(db.column(QStringLiteral("select Condition from datSubject where Subject='Pat'")),
             QVariantList{QStringLiteral("continuous")});
    // A new participant has read the instructions.
    QCOMPARE(db.column(QStringLiteral("select eventType from datExperimentTrials")),
             QVariantList{QStringLiteral("Continue Clicked")});
    QVERIFY(ts.prompter.prompts().isEmpty());
    QCOMPARE(questionnaires, 0);
    QWidget* screen = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("frmCistern"))
            screen = w;
    QVERIFY(screen && screen->isVisible());
    std::unique_ptr<QWidget> owner(screen);

    const SessionState& s = ts.session.state;
    QVERIFY(s.InTask);
    QCOMPARE(s.versions.size(), 4);
    QCOMPARE(s.Version, QStringLiteral("Demo continuous"));
    QCOMPARE(s.setup.Version, QStringLiteral("Demo continuous"));
    QVERIFY(s.setup.graphicalMode);
    QVERIFY(!s.setup.IsTimeDriven);
    QVERIFY(s.IsNewSubject);
    QCOMPARE(s.Trial, 0);

    QStringList labels;
    for (int mark = 1; mark <= 10; ++mark)
        labels.append(QString::number(mark * 10));
    labels.append(QString());
    QCOMPARE(s.MarkLabels, labels);
    QCOMPARE(s.TopLabelValue, 100.0);

    const QVariantList in = db.column(
        QStringLiteral("select inFlowRateEnviron from tblScenarios where Scenario=$1 order by Trial"),
        {s.setup.ScenarioUsed});
    const QVariantList out = db.column(
        QStringLiteral("select outFlowRateEnviron from tblScenarios where Scenario=$1 order by Trial"),
        {s.setup.ScenarioUsed});
    QCOMPARE(s.EnvInFlow.size(), s.setup.MaxNumberOfAScenarioType + 2);
    QCOMPARE(s.EnvInFlow.size(), in.size());
    for (int t = 0; t < in.size(); ++t) {
        QCOMPARE(s.EnvInFlow[t], in[t].toDouble());
        QCOMPARE(s.EnvOutFlow[t], out[t].toDouble());
    }

    // The session state a new participant starts from.
    QCOMPARE(s.tank.TotBonus, s.setup.BaseMoney);
    QCOMPARE(s.tank.TotalBackOrder, s.setup.InitialBackOrder);
    QCOMPARE(s.tank.BackOrder.size(), s.setup.MaxTrial + 2);
    QCOMPARE(s.tank.UserInFlow, QVector<double>(s.setup.MaxTrial + 2, 0.0));
}

void TestSessionDriver::mainWithABrokenFirstVersion()
{
    TempDatabase db;
    QVariantMap broken = test::soundSetupRow(QStringLiteral("A broken"));
    broken[QStringLiteral("AfterEveryNTrials")] = 0;
    insertSetup(db, broken);
    test::insertLabels(db, QStringLiteral("A broken"), 5);
    insertSetup(db, test::soundSetupRow(QStringLiteral("B sound")));
    test::insertLabels(db, QStringLiteral("B sound"), 5);
    test::insertScenario(db, 7, 0, 11);

    TestSession ts(db.engine());
    QStringList order;
    ts.session.setQuestionnaire([&] {
        order.append(QStringLiteral("questionnaire after %1 messages").arg(ts.prompter.prompts().size()));
    });

    const auto driver = answerStartupWindows(QStringLiteral("Eve"));
    runMainToTheEnd(ts);

    QCOMPARE(texts(ts.prompter), (QStringList{config::kAfterEveryNTrialsMessage, kEarningsZero}));
    QCOMPARE(ts.prompter.titles(), (QStringList{QStringLiteral("Aquilevel"), QStringLiteral("Aquilevel")}));
    QCOMPARE(order, QStringList{QStringLiteral("questionnaire after 1 messages")});
    QCOMPARE(ts.session.state.Version, QStringLiteral("A broken"));
}

void TestSessionDriver::mainWithoutVersions()
{
    TempDatabase db;
    TestSession ts(db.engine());
    int questionnaires = 0;
    ts.session.setQuestionnaire([&] { ++questionnaires; });

    runMainToTheEnd(ts);

    QCOMPARE(questionnaires, 0);
    for (const Prompter::Prompt& p : ts.prompter.prompts())
        QVERIFY2(!isEarnings(p), qPrintable(p.text));
    QVERIFY(ts.session.state.versions.isEmpty());
}

void TestSessionDriver::mainWhenTheStoreFailsAndRetryIsDeclined()
{
    QTemporaryDir dir;
    TestSession ts(std::make_unique<store::SqlCipherEngine>(
        store::databasePath(dir.filePath(QStringLiteral("missing"))), store::databasePassword()));
    ts.prompter.queueNo();

    // Before any period: no questionnaire, no earnings, a message and status 1.
    try {
        Main(ts.session, StartupOptions{0});
        QFAIL("the session went on");
    } catch (const ProcessEnded& end) {
        QCOMPARE(end.exitCode, 1);
    }
    QCOMPARE(ts.prompter.pending(), 0);

    const QList<Prompter::Prompt>& prompts = ts.prompter.prompts();
    QCOMPARE(prompts.size(), 2);
    QCOMPARE(prompts.at(0).buttons, Prompter::Buttons::YesNo);
    QCOMPARE(prompts.at(0).title, QStringLiteral("Problems opening table"));
    QVERIFY2(prompts.at(0).text.contains(QStringLiteral("Loading versions")),
             qPrintable(prompts.at(0).text));
    QVERIFY2(prompts.at(1).text.startsWith(QStringLiteral("The session ended before any period was played")),
             qPrintable(prompts.at(1).text));
    QVERIFY(!QFileInfo::exists(store::databasePath(dir.filePath(QStringLiteral("missing")))));
}

void TestSessionDriver::mainRefusesADamagedFile()
{
    // A byte flipped in the setup's page, as a failing disk leaves it: the session says
    // so before the login and writes nothing.
    TempDatabase db(TempDatabase::Content::Demo);
    const qint64 page = db.column(QStringLiteral("select rootpage from sqlite_master where name = 'tblSetup'"))
                            .value(0).toLongLong();
    const qint64 size = db.column(QStringLiteral("PRAGMA page_size")).value(0).toLongLong();
    QFile file(db.path());
    QVERIFY(page > 1 && file.open(QIODevice::ReadWrite) && file.seek((page - 1) * size + 200));
    QCOMPARE(file.write("\x7f", 1), 1);
    file.close();
    TestSession ts(db.engine());
    try {
        Main(ts.session, StartupOptions{0});
        QFAIL("the session went on");
    } catch (const ProcessEnded& end) {
        QCOMPARE(end.exitCode, 1);
    }
    QCOMPARE(ts.prompter.prompts().size(), 1);
    const QString text = ts.prompter.prompts().first().text;
    QVERIFY2(text.contains(QStringLiteral("is damaged")) && text.contains(QStringLiteral("aquilevel check")),
             qPrintable(text));
    QVERIFY(ts.session.state.versions.isEmpty());
}

QTEST_MAIN(TestSessionDriver)
#include "tst_session.moc"
