#include "recording/Recorder.h"
#include "session/Session.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QSysInfo>
#include <QtTest>

#include <memory>
#include <tuple>

using namespace aquilevel;
namespace {

// The session's own recorder, for one row.
recording::StoreRecorder recorder(Session& session)
{
    return {session.store(), session.clock(), session.state};
}
void AddSubmitTime(Session& session)
{
    recorder(session).AddSubmitTime(session.state.Trial);
}
void AddTrialSummary(Session& session, bool inflowEmpty, bool outflowEmpty)
{
    recorder(session).AddTrialSummary(inflowEmpty, outflowEmpty);
}
void UpdateTrialSummary(Session& session)
{
    recorder(session).UpdateTrialSummary();
}

constexpr double kScale = 358.5;

const QStringList kCreationColumns = {
    "Subject", "Version", "Trial", "Date", "startTime", "endTime", "UserInFlow", "UserOutFlow",
    "EnvInFlow", "EnvOutFlow", "GoalAmount", "SimulationTime", "BaseMoney", "UserInflowTP",
    "UserOutflowTP", "IsUserInFlow", "IsUserOutFlow", "IsEnvInFlow", "IsEnvOutFlow",
    "graphicalMode", "TotBonus", "LowerBoundFromGoal", "UpperBoundFromGoal"};
const QStringList kFlagColumns = {"IsUserInFlow", "IsUserOutFlow", "IsEnvInFlow", "IsEnvOutFlow",
                                  "graphicalMode"};
const QStringList kCompletionColumns = {
    "AmountInTank", "CurrentBonus", "TotBonus", "CurrentCost", "TotCost", "UserInFlow",
    "UserOutFlow", "BackOrder", "ForwardDischarge", "TotalBackOrder", "TotalForwardDischarge"};

} // namespace

class TestTrialSummary : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void firstSubmitInParticipantPacedPlay();
    void provisionalFlowsAndFlags();
    void completionInParticipantPacedPlay();
    void completionsInTimeDrivenPlay();
    void completionEditsOnlyItsOwnRow();
    void completingPeriodZeroWithoutRow();
    void rowsAreStampedAndTypedAsTheAnalysesReadThem();

private:
    SessionState& s() { return m_ts->session.state; }
    // One line per row of `table` in creation order: the SQL literals of the columns (or
    // expressions) joined by "|" (text quoted, NULL for a column never written).
    QStringList rows(const QString& table, const QStringList& columns) const;
    // The session state of a participant-paced session of five periods with the tank
    // laid out (held form), the clock at 10:00:05 on 4 March 2026.
    static void prepare(SessionState& state);

    test::TempDatabase m_db;
    std::unique_ptr<test::TestSession> m_ts;
};

QStringList TestTrialSummary::rows(const QString& table, const QStringList& columns) const
{
    QStringList quoted;
    for (const QString& c : columns)
        quoted << QStringLiteral("quote(%1)").arg(c);
    QStringList result;
    const QVariantList lines = m_db.column(
        QStringLiteral("select %1 from %2 order by rowid").arg(quoted.join(QStringLiteral("||'|'||")), table));
    for (const QVariant& line : lines)
        result << line.toString();
    return result;
}

void TestTrialSummary::prepare(SessionState& state)
{
    state = SessionState();
    state.Subject = QStringLiteral("p1");
    state.Version = QStringLiteral("V");
    config::ExperimentSetup& c = state.setup;
    c.Version = state.Version;
    c.MaxTrial = 5;
    c.BaseMoney = 5;
    c.simTimeForTP = 1.5;
    c.inFlowTPAfter = 2;
    c.outFlowTPAfter = 3;
    c.LowerBoundFromGoal = 0.25;
    c.UpperBoundFromGoal = 0.75;
    // Period 0 has rates of its own, so that a row taking the wrong period shows it.
    state.EnvInFlow = {7, 3, 2, 0, 0, 0, 0};
    state.EnvOutFlow = {6, 1, 0.5, 0, 0, 0, 0};
    TankState& tank = state.tank;
    tank.UserInFlow = tank.UserOutFlow = tank.BackOrder = tank.ForwardDischarge =
        periodArray(c);
    tank.UnitScale = kScale;
    tank.GoalAmount = 4 * kScale;
    tank.AmountInTank = 2 * kScale;
    tank.TotCost = tank.TotBonus = 5;
}

void TestTrialSummary::initTestCase()
{
    m_ts = std::make_unique<test::TestSession>(m_db.engine());
}

void TestTrialSummary::init()
{
    // Through the session's open handle: a fresh connection costs a key derivation.
    store::Engine& engine = m_ts->session.store().engine();
    engine.open(false).execute(store::Sql("DELETE FROM \"datTrialSummary\""));
    engine.open(false).execute(store::Sql("DELETE FROM \"datUserTimesSummary\""));
    engine.release();
    prepare(s());
    m_ts->clock.time = QDateTime(QDate(2026, 3, 4), QTime(10, 0, 5));
    m_ts->prompter.clear();
}

void TestTrialSummary::firstSubmitInParticipantPacedPlay()
{
    Session& session = m_ts->session;
    TankState& tank = s().tank;
    tank.PeriodStartTime = QTime(9, 59, 50); // the trial screen was loaded
    // The Submit handler reads the clock twice; the press is the period's end.
    tank.SubmitTime = QTime(10, 0, 4);
    tank.PeriodEndTime = QTime(10, 0, 5);

    AddSubmitTime(session);
    AddTrialSummary(session, true, true);

    QCOMPARE(rows(QStringLiteral("datUserTimesSummary"),
                  {"Subject", "Version", "Trial", "Date", "SubmitClickTime"}),
             QStringList({"'p1'|'V'|0|'2026-03-04'|'10:00:05'"}));
    // Period 1 is opened: its environment rates although the environment has not yet
    // acted, the goal in units, empty boxes as 0, flags at their default.
    QCOMPARE(rows(QStringLiteral("datTrialSummary"), kCreationColumns),
             QStringList({"'p1'|'V'|1|'2026-03-04'|'09:59:50'|'10:00:05'|0.0|0.0|3.0|1.0|4.0|1.5|5.0|"
                          "2|3|0|0|0|0|0|5.0|0.25|0.75"}));
    QCOMPARE(s().Trial, 0);
    QCOMPARE(tank.PeriodStartTime, QTime(0, 0));
    QCOMPARE(tank.PeriodEndTime, QTime(0, 0));

    // The submit stage advances the period and stores its orders; the next creation
    // comes without new times.
    s().Trial = 1;
    tank.UserInFlow[1] = 5;
    tank.UserOutFlow[1] = 2;
    AddTrialSummary(session, false, false);
    QCOMPARE(rows(QStringLiteral("datTrialSummary"),
                  {"Trial", "startTime", "endTime", "UserInFlow", "UserOutFlow", "EnvInFlow",
                   "EnvOutFlow"}),
             QStringList({"1|'09:59:50'|'10:00:05'|0.0|0.0|3.0|1.0",
                          "2|'00:00:00'|'00:00:00'|5.0|2.0|2.0|0.5"}));
}

void TestTrialSummary::provisionalFlowsAndFlags()
{
    Session& session = m_ts->session;
    TankState& tank = s().tank;
    tank.UserInFlow[0] = 0;
    tank.UserInFlow[1] = 9; // the entries of the period being opened: never taken
    tank.UserOutFlow[1] = 8;
    tank.UserInFlow[2] = 4;
    tank.UserOutFlow[2] = 1.5;
    tank.UserInFlow[3] = 9;
    tank.UserOutFlow[3] = 8;

    // The first period has no earlier orders.
    tank.IsUserInFlow = true;
    AddTrialSummary(session, false, false);
    s().Trial = 2;
    tank.IsUserInFlow = false;
    tank.IsUserOutFlow = true;
    AddTrialSummary(session, false, false);
    tank.IsUserOutFlow = false;
    tank.IsEnvInFlow = true;
    AddTrialSummary(session, true, false);
    tank.IsEnvInFlow = false;
    tank.IsEnvOutFlow = true;
    s().setup.graphicalMode = true;
    AddTrialSummary(session, false, true);

    QCOMPARE(rows(QStringLiteral("datTrialSummary"),
                  QStringList({"Trial", "UserInFlow", "UserOutFlow"}) + kFlagColumns),
             QStringList({"1|0.0|0.0|1|0|0|0|0", "3|4.0|1.5|0|1|0|0|0", "3|0.0|1.5|0|0|1|0|0",
                          "3|4.0|0.0|0|0|0|1|1"}));
}

void TestTrialSummary::completionInParticipantPacedPlay()
{
    Session& session = m_ts->session;
    TankState& tank = s().tank;
    tank.PeriodStartTime = QTime(9, 59, 50);
    tank.PeriodEndTime = QTime(10, 0, 5);
    AddTrialSummary(session, true, true);

    // Period 1 runs with orders 5 and 1 and ends with its cost step.
    s().Trial = 1;
    tank.UserInFlow[1] = 5;
    tank.UserOutFlow[1] = 1;
    tank.AmountInTank = 5 * kScale;
    tank.CurrentBonus = 0.5;
    tank.TotBonus = 5.5;
    tank.CurrentCost = 0.3;
    tank.TotCost = 5.3;
    tank.BackOrder[0] = 11;
    tank.BackOrder[1] = 1;
    tank.ForwardDischarge[0] = 12;
    tank.ForwardDischarge[1] = 0.5;
    tank.TotalBackOrder = 5;
    tank.TotalForwardDischarge = 1;
    UpdateTrialSummary(session);

    // The amount in units, the money, the pipeline of period 1; the flows written at
    // creation stay.
    QCOMPARE(rows(QStringLiteral("datTrialSummary"),
                  QStringList({"Trial", "startTime", "endTime"}) + kCompletionColumns),
             QStringList({"1|'09:59:50'|'10:00:05'|5.0|0.5|5.5|0.3|5.3|0.0|0.0|1.0|0.5|5.0|1.0"}));
    QVERIFY(m_ts->prompter.prompts().isEmpty());
}

void TestTrialSummary::completionsInTimeDrivenPlay()
{
    Session& session = m_ts->session;
    TankState& tank = s().tank;
    s().setup.IsTimeDriven = true;
    const QStringList columns = QStringList({"Trial"}) + kCompletionColumns;

    // The first tick opens period 1; its user step runs with no orders of its own.
    AddTrialSummary(session, false, false);
    s().Trial = 1;
    tank.AmountInTank = 3 * kScale;
    tank.TotCost = 5.2;
    UpdateTrialSummary(session);
    QCOMPARE(rows(QStringLiteral("datTrialSummary"), columns),
             QStringList({"1|3.0|0.0|5.0|0.0|5.2|0.0|0.0|0.0|0.0|0.0|0.0"}));

    // A Submit in the same period: its orders and the later state replace the first.
    tank.SubmitTime = QTime(10, 0, 9);
    tank.PeriodEndTime = QTime(10, 0, 5); // the tick's, not the press
    AddSubmitTime(session);
    tank.UserInFlow[1] = 6;
    tank.UserOutFlow[1] = 2.5;
    tank.AmountInTank = 7 * kScale;
    tank.CurrentCost = 0.6;
    tank.TotCost = 5.8;
    tank.BackOrder[1] = 2;
    tank.TotalBackOrder = 6;
    UpdateTrialSummary(session);
    QCOMPARE(rows(QStringLiteral("datTrialSummary"), columns),
             QStringList({"1|7.0|0.0|5.0|0.6|5.8|6.0|2.5|2.0|0.0|6.0|0.0"}));
    QCOMPARE(rows(QStringLiteral("datUserTimesSummary"), {"Trial", "SubmitClickTime"}),
             QStringList({"1|'10:00:09'"}));
}

void TestTrialSummary::completionEditsOnlyItsOwnRow()
{
    for (const auto& [subject, version, trial] : {std::tuple("p2", "V", 1), std::tuple("p1", "W", 1),
                                                  std::tuple("p1", "V", 1), std::tuple("p1", "V", 2),
                                                  std::tuple("p1", "V", 1)})
        m_db.append(QStringLiteral("datTrialSummary"), {{QStringLiteral("Subject"), QString::fromLatin1(subject)},
                                                        {QStringLiteral("Version"), QString::fromLatin1(version)},
                                                        {QStringLiteral("Trial"), trial}});
    // The version typed in another letter case still names the same version.
    s().Version = QStringLiteral("v");
    s().Trial = 1;
    s().tank.AmountInTank = 5 * kScale;
    UpdateTrialSummary(m_ts->session);

    // Of the two rows of the period the first is completed.
    QCOMPARE(rows(QStringLiteral("datTrialSummary"), {"Subject", "Version", "Trial", "AmountInTank"}),
             QStringList({"'p2'|'V'|1|NULL", "'p1'|'W'|1|NULL", "'p1'|'V'|1|5.0", "'p1'|'V'|2|NULL",
                          "'p1'|'V'|1|NULL"}));
}

void TestTrialSummary::completingPeriodZeroWithoutRow()
{
    Session& session = m_ts->session;
    s().setup.IsTimeDriven = true;
    m_db.append(QStringLiteral("datTrialSummary"), {{QStringLiteral("Subject"), QStringLiteral("p2")},
                                                    {QStringLiteral("Version"), QStringLiteral("V")},
                                                    {QStringLiteral("Trial"), 0}});

    // A Submit before the first tick: its user animation ends by completing period 0.
    s().tank.UserInFlow[0] = 4;
    s().tank.AmountInTank = 6 * kScale;
    UpdateTrialSummary(session);
    QVERIFY(m_ts->prompter.prompts().isEmpty());
    QVERIFY(!session.store().isBusy());

    // The first tick then opens period 1 as usual.
    AddTrialSummary(session, false, false);
    QCOMPARE(rows(QStringLiteral("datTrialSummary"), {"Subject", "Trial", "UserInFlow", "AmountInTank"}),
             QStringList({"'p2'|0|NULL|NULL", "'p1'|1|4.0|NULL"}));
}

void TestTrialSummary::rowsAreStampedAndTypedAsTheAnalysesReadThem()
{
    Session& session = m_ts->session;
    TankState& tank = s().tank;
    tank.IsUserInFlow = tank.IsUserOutFlow = tank.IsEnvInFlow = tank.IsEnvOutFlow = true;
    s().setup.graphicalMode = true;
    tank.PeriodStartTime = QTime(10, 0, 1);
    // A press as the Submit handler takes it in participant-paced play: the period ends
    // with it, and the submit stage stores the press before it opens the next period.
    tank.SubmitTime = QTime(10, 0, 4);
    tank.PeriodEndTime = QTime(10, 0, 5);
    AddSubmitTime(session);
    AddTrialSummary(session, false, false);

    // Every new row ends with the moment (UTC, with milliseconds) and computer it was
    // written on; times of day and the date are text the analyses read as such.
    const QString stamp = QStringLiteral("EventTimeUtc GLOB '2[0-9][0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:"
                                         "[0-5][0-9]:[0-5][0-9].[0-9][0-9][0-9]Z' AND Station = '%1'")
                              .arg(QSysInfo::machineHostName());
    QCOMPARE(rows(QStringLiteral("datTrialSummary"),
                  QStringList({stamp, "typeof(startTime)", "startTime", "typeof(Date)", "Date"}) + kFlagColumns),
             QStringList({"1|'text'|'10:00:01'|'text'|'2026-03-04'|1|1|1|1|1"}));
    QCOMPARE(rows(QStringLiteral("datUserTimesSummary"), {stamp, "typeof(SubmitClickTime)", "SubmitClickTime"}),
             QStringList({"1|'text'|'10:00:05'"}));
    QVERIFY(m_ts->prompter.prompts().isEmpty());
}

QTEST_GUILESS_MAIN(TestTrialSummary)
#include "tst_trialsummary.moc"
