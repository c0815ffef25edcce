#include "recording/Recorder.h"
#include "session/ProcessEnd.h"
#include "session/Session.h"
#include "task/InitSession.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"
#include "task/PeriodCycle.h"
#include "task/TankModel.h"

#include <QtTest>

#include <limits>

using namespace aquilevel;
using task::TankModel;
using task::PipeAt;

namespace {

// A session on a real file, with the setup of the worked first period: both delays 2,
// orders acted on every period, an initial back order of 1, goal 4, 2 units at the start.
struct Fixture {
    test::TempDatabase db;
    test::TestSession ts{db.engine()};
    SessionState& s = ts.session.state;
    recording::StoreRecorder log{ts.session.store(), ts.clock, s};
    TankModel model{s, log, ts.clock};

    explicit Fixture(double unitScale = 358.5)
    {
        s.Subject = QStringLiteral("p1");
        s.Version = QStringLiteral("V");
        s.InTask = true;
        config::ExperimentSetup& c = s.setup;
        c.Version = s.Version;
        c.MaxTrial = 10;
        c.BaseMoney = 5;
        c.inFlowTPAfter = 2;
        c.outFlowTPAfter = 2;
        c.AfterEveryNTrials = 1;
        c.InitialBackOrder = 1;
        c.InitialForwardDischarge = 0;
        c.simTimeForTP = 1;
        c.GoalLinePoisition = 4;
        c.InitialAmountInTank = 2;
        c.CostOverFlowPerAmount = 0.3;
        c.CostUnderFlowPerAmount = 0.2;
        c.BonusAmount = 0.5;
        c.LowerBoundFromGoal = 0.1;
        c.UpperBoundFromGoal = 0.1;
        c.MaxNumberOfAScenarioType = 10;
        c.envDelay = 11;
        c.userDelay = 13;
        s.EnvInFlow = QVector<double>(12, 0.0);
        s.EnvOutFlow = QVector<double>(12, 0.0);
        s.EnvInFlow[1] = 3;
        s.EnvOutFlow[1] = 1;
        InitSession(ts.session);
        // The held form, as the drawing sets it up.
        s.tank.UnitScale = unitScale;
        s.tank.AmountInTank *= unitScale;
        s.tank.GoalAmount *= unitScale;
    }

    double amount() const { return s.tank.AmountInTank / s.tank.UnitScale; }

    // One participant-paced period from the model's side.
    void period(double in, double out)
    {
        model.openPeriod();
        model.submitOrders(in, out);
        model.EnvironmentDecision();
        model.processDecision();
        model.deliverDueOrders();
        model.closePeriod();
    }

    QVariantList column(const QString& name) const
    {
        return db.column(QStringLiteral("select %1 from datExperimentTrials order by rowid").arg(name));
    }
};

QStringList strings(const QVariantList& values)
{
    QStringList result;
    for (const QVariant& v : values)
        result << v.toString();
    return result;
}

// The cycle's window: fixed orders, every stage it is shown remembered. The session
// ends as the program's does: the open steps are stored, then it unwinds.
class StageLog final : public task::PeriodView, public task::SessionEnds {
public:
    explicit StageLog(store::Store& store) : m_store(store) {}
    task::Orders orders() const override { return typed; }
    void showStage(task::Stage stage, const task::PeriodPicture&) override { stages << stage; }
    void allPeriodsPlayed() override
    {
        ++played;
        m_store.endGroups();
        throw SessionOver(0);
    }
    void stepFailed(const QString& reason) override { failures << reason; }
    void endedInStep() override { ++ended; }

    task::Orders typed{2, 1, false, false};
    QList<task::Stage> stages;
    int played = 0;
    QStringList failures;
    int ended = 0;

private:
    store::Store& m_store;
};

// A recorder whose summary rows fail, after the real one has written the step's events.
class FailingSummaries final : public recording::Recorder {
public:
    explicit FailingSummaries(recording::Recorder& inner) : m_inner(inner) {}
    void RecordEvent(const QString& type) override { m_inner.RecordEvent(type); }
    void AddTrialSummary(bool, bool) override { throw std::runtime_error("disk full"); }
    void UpdateTrialSummary() override { m_inner.UpdateTrialSummary(); }
    void AddSubmitTime(qint32 trial) override { m_inner.AddSubmitTime(trial); }

private:
    recording::Recorder& m_inner;
};

// A cycle over the fixture's session with stage times of a millisecond.
struct CycleRig {
    Fixture f;
    StageLog log{f.ts.session.store()};
    FailingSummaries failing{f.log};
    task::PeriodCycle cycle;

    explicit CycleRig(bool timeDriven, bool failSummaries = false)
        : cycle(f.s, f.ts.clock, f.ts.session.store(), failSummaries ? static_cast<recording::Recorder&>(failing) : f.log,
                log, log)
    {
        config::ExperimentSetup& c = f.s.setup;
        c.MaxTrial = 3;
        c.IsTimeDriven = timeDriven;
        c.envDelay = c.EnvMv = c.userDelay = c.UsrMv = 1;
        c.TimeBetweenEnvTries = 5;
        c.numMarks = 10;
        f.s.tank.AmountInTank /= f.s.tank.UnitScale; // the cycle takes the held form itself
        f.s.tank.GoalAmount /= f.s.tank.UnitScale;
        cycle.enter();
        cycle.start();
    }

    bool shown(task::Stage stage) const { return log.stages.contains(stage); }
    QStringList events() const { return strings(f.column(QStringLiteral("eventType"))); }
};

} // namespace

class TestTankModel : public QObject {
    Q_OBJECT

private slots:
    void workedFirstPeriodRowByRow();
    void viewEffectsOfTheEnvironmentStep();
    void initialOrdersDueEvenWhenZero();
    void delayOneDeliversTheSamePeriodsOrder();
    void ordersActOnlyEveryNthPeriod();
    void noUserEffectJudgedByTheDelays();
    void zeroOrderDueWhileTotalStillGrows();
    void outflowLargerThanTheWater();
    void bandBonusEdges_data();
    void bandBonusEdges();
    void costExactlyAtTheGoalIsZero();
    void timeGapBonus_data();
    void timeGapBonus();
    void notInTaskWritesZeros();
    void counterOverflowIsAnError();
    void cycleRunsAParticipantPacedSession();
    void cycleRunsOnTheClockWithoutSubmit();
    void cycleDropsAFailedStep();
};

void TestTankModel::workedFirstPeriodRowByRow()
{
    Fixture f;
    f.period(5, 1);

    QCOMPARE(strings(f.column(QStringLiteral("eventType"))),
             QStringList({"Submit Clicked", "Environment Effect", "No User Effect", "User Inflow",
                          "User Outflow", "After Cost Calculation"}));
    QCOMPARE(strings(f.column(QStringLiteral("EventID"))), QStringList({"1", "2", "3", "4", "5", "6"}));
    QCOMPARE(strings(f.column(QStringLiteral("Trial"))), QStringList(6, QStringLiteral("1")));
    QCOMPARE(strings(f.column(QStringLiteral("AmountInTank"))),
             QStringList({"2", "4", "4", "5", "5", "5"}));
    QCOMPARE(strings(f.column(QStringLiteral("GoalAmount"))), QStringList(6, QStringLiteral("4")));
    QCOMPARE(strings(f.column(QStringLiteral("UserInFlow"))), QStringList(6, QStringLiteral("5")));
    QCOMPARE(strings(f.column(QStringLiteral("UserOutFlow"))), QStringList(6, QStringLiteral("1")));
    // The pipeline totals move in the user step: 1 - 1 + 5 and 0 - 0 + 1.
    QCOMPARE(strings(f.column(QStringLiteral("TotalBackOrder"))),
             QStringList({"1", "1", "1", "5", "5", "5"}));
    QCOMPARE(strings(f.column(QStringLiteral("TotalForwardDischarge"))),
             QStringList({"0", "0", "0", "1", "1", "1"}));
    QCOMPARE(strings(f.column(QStringLiteral("BackOrder"))), QStringList(6, QStringLiteral("1")));
    QCOMPARE(strings(f.column(QStringLiteral("EnvInFlow"))), QStringList(6, QStringLiteral("3")));
    // Flags: environment from its step on; both user flows in play from the user step.
    QCOMPARE(strings(f.column(QStringLiteral("IsEnvInFlow"))), QStringList({"0", "1", "1", "1", "1", "1"}));
    QCOMPARE(strings(f.column(QStringLiteral("IsUserInFlow"))), QStringList({"0", "0", "0", "1", "1", "1"}));
    QCOMPARE(strings(f.column(QStringLiteral("IsUserOutFlow"))), QStringList({"0", "0", "0", "1", "1", "1"}));
    // One unit above the goal at the over-flow rate; 5 is outside the band 3.9 to 4.1.
    const QVariantList cost = f.column(QStringLiteral("CurrentCost"));
    QVERIFY(qFuzzyCompare(cost.last().toDouble(), 0.3));
    QCOMPARE(strings(f.column(QStringLiteral("CurrentBonus"))).last(), QStringLiteral("0"));
    QVERIFY(qFuzzyCompare(f.column(QStringLiteral("TotCost")).last().toDouble(), 5.3));
    QCOMPARE(f.column(QStringLiteral("TotBonus")).last().toDouble(), 5.0);
    // Flags are cleared at the end of the period, and the next period's dues are the orders.
    QVERIFY(!f.s.tank.IsUserInFlow && !f.s.tank.IsEnvInFlow);
    f.s.Trial = 2;
    QCOMPARE(f.model.DueInflow(2), 5.0);
    QCOMPARE(f.model.DueOutflow(2), 1.0);
}

void TestTankModel::viewEffectsOfTheEnvironmentStep()
{
    Fixture f;
    f.s.setup.simTimeForTP = 2;
    f.s.EnvInFlow[1] = 2;
    f.s.EnvOutFlow[1] = 0.5;
    f.model.openPeriod();
    f.model.submitOrders(0, 0);
    f.model.EnvironmentDecision();
    QCOMPARE(f.amount(), 5.0); // 2 + (2 - 0.5) * 2
    const task::PeriodPicture& p = f.model.picture();
    // Only the environment's streams run; its flows enter their pipes, tagged.
    QCOMPARE(p.streams, (std::array<bool, 4>{false, false, true, true}));
    QCOMPARE(p.envIn.at, PipeAt::Entering);
    QVERIFY(p.envIn.tagged && p.envOut.tagged);
    QCOMPARE(p.envIn.quantity, 4.0);
    QCOMPARE(p.envOut.quantity, 1.0);
    QCOMPARE(p.userIn.at, PipeAt::Empty);
    QCOMPARE(p.status, TankModel::kEnvironmentStatus);
    // The clock has opened the next period meanwhile (time-driven play): its flows arrive.
    f.s.Trial = 2;
    f.s.EnvInFlow[2] = 1.5;
    f.s.EnvOutFlow[2] = 0.25;
    f.model.environmentArrives();
    QCOMPARE(p.envOut.at, PipeAt::Arrived);
    QCOMPARE(p.envIn.quantity, 3.0);
    QVERIFY(!p.envIn.tagged && !p.envOut.tagged);
    f.model.environmentGone();
    QCOMPARE(p.envIn.at, PipeAt::Empty);

    // Both rates 0: no effect, no row, and the streams stop.
    f.s.Trial = 3;
    f.model.EnvironmentDecision();
    QCOMPARE(p.streams, (std::array<bool, 4>{}));
    QCOMPARE(f.amount(), 5.0);
    QCOMPARE(f.column(QStringLiteral("eventType")).size(), 2);
}

void TestTankModel::initialOrdersDueEvenWhenZero()
{
    Fixture f;
    f.s.setup.inFlowTPAfter = 3;
    f.s.setup.InitialBackOrder = 0;
    InitSession(f.ts.session);
    f.s.tank.UnitScale = 1;
    f.period(0, 0);
    // Period 1 delivers BackOrder(1) = 0: still in play, shown and written.
    QCOMPARE(f.model.picture().userIn.at, PipeAt::Arrived);
    QCOMPARE(f.model.picture().userIn.quantity, 0.0);
    QVERIFY(strings(f.column(QStringLiteral("eventType"))).contains(QStringLiteral("User Inflow")));
    QVERIFY(!f.s.tank.UserFlowInPlay); // an initial order leaves the clock's switch alone
}

void TestTankModel::delayOneDeliversTheSamePeriodsOrder()
{
    Fixture f;
    f.s.setup.inFlowTPAfter = 1;
    f.s.setup.outFlowTPAfter = 1;
    f.s.setup.InitialBackOrder = 0;
    InitSession(f.ts.session);
    f.s.tank.UnitScale = 1;
    f.s.EnvInFlow[1] = f.s.EnvOutFlow[1] = 0;
    f.period(3, 1);
    QCOMPARE(f.amount(), 4.0);
    QCOMPARE(f.s.tank.TotalBackOrder, 0.0);
    const QStringList events = strings(f.column(QStringLiteral("eventType")));
    QVERIFY(!events.contains(QStringLiteral("No User Effect")));
    QCOMPARE(events, QStringList({"Submit Clicked", "User Inflow", "User Outflow", "After Cost Calculation"}));
}

void TestTankModel::ordersActOnlyEveryNthPeriod()
{
    Fixture f;
    f.s.setup.AfterEveryNTrials = 2;
    f.s.setup.inFlowTPAfter = 1;
    f.s.setup.outFlowTPAfter = 1;
    f.s.setup.InitialBackOrder = 0;
    InitSession(f.ts.session);
    f.s.tank.UnitScale = 1;
    f.s.EnvInFlow[1] = f.s.EnvOutFlow[1] = 0;
    f.period(3, 0); // period 1: nothing acts, the total does not move
    QCOMPARE(f.amount(), 2.0);
    QCOMPARE(f.s.tank.TotalBackOrder, 0.0);
    f.period(4, 0); // period 2 acts on its own order
    QCOMPARE(f.amount(), 6.0);
    QCOMPARE(f.s.tank.TotalBackOrder, 0.0);
    QCOMPARE(strings(f.column(QStringLiteral("eventType"))).count(QStringLiteral("User Inflow")), 1);
}

void TestTankModel::noUserEffectJudgedByTheDelays()
{
    Fixture f;
    f.s.setup.inFlowTPAfter = 3;
    f.s.setup.outFlowTPAfter = 2;
    f.s.setup.AfterEveryNTrials = 5; // plays no part in this test
    f.s.setup.MaxTrial = 12;
    f.s.setup.MaxNumberOfAScenarioType = 12;
    InitSession(f.ts.session);
    f.s.EnvInFlow = f.s.EnvOutFlow = QVector<double>(14, 0.0);
    QList<int> periods;
    for (int t = 1; t <= 12; ++t) {
        f.s.Trial = t;
        const int before = f.s.EventID;
        f.model.processDecision();
        if (f.s.EventID > before) {
            periods << t;
            QCOMPARE(f.model.picture().status, TankModel::kNoUserEffectStatus);
        }
    }
    QCOMPARE(periods, QList<int>({1, 5, 7, 11}));
}

void TestTankModel::zeroOrderDueWhileTotalStillGrows()
{
    Fixture f;
    f.s.setup.inFlowTPAfter = 3;
    f.s.setup.InitialBackOrder = 0;
    InitSession(f.ts.session);
    f.s.tank.UnitScale = 1;
    f.s.EnvInFlow[1] = f.s.EnvOutFlow[1] = 0;
    f.period(0, 0);
    f.period(0, 0);
    const int rowsBefore = f.column(QStringLiteral("eventType")).size();
    f.period(5, 0); // period 3: the 0 of period 1 falls due, the 5 joins the pipeline
    QCOMPARE(f.s.tank.TotalBackOrder, 5.0);
    QVERIFY(!f.s.tank.IsUserInFlow);
    const QStringList events = strings(f.column(QStringLiteral("eventType"))).mid(rowsBefore);
    QVERIFY(!events.contains(QStringLiteral("User Inflow")));
}

void TestTankModel::outflowLargerThanTheWater()
{
    Fixture f;
    f.s.setup.outFlowTPAfter = 1;
    f.s.EnvInFlow[1] = f.s.EnvOutFlow[1] = 0;
    f.period(0, 10); // 2 units, the initial 1 arrives, 10 leave
    QCOMPARE(f.amount(), -7.0);
    // Below the goal by 11 units, at the under-flow rate.
    QVERIFY(qFuzzyCompare(f.s.tank.CurrentCost, 11 * 0.2));
    QCOMPARE(f.column(QStringLiteral("AmountInTank")).last().toDouble(), -7.0);
}

void TestTankModel::bandBonusEdges_data()
{
    QTest::addColumn<double>("amount");
    QTest::addColumn<bool>("earned");
    QTest::addColumn<double>("upper"); // the lower bound stays 0.1
    QTest::newRow("lower edge") << 3.9 << true << 0.1;
    QTest::newRow("upper edge") << 4.1 << true << 0.1;
    QTest::newRow("rounds up to the edge") << 3.8996 << true << 0.1;
    QTest::newRow("rounds below the edge") << 3.8994 << false << 0.1;
    QTest::newRow("above") << 4.1006 << false << 0.1;
    QTest::newRow("rounds down to the upper edge") << 4.1004 << true << 0.1;
    QTest::newRow("a wider upper side") << 5.0 << true << 1.0;
    QTest::newRow("the lower side stays narrow") << 3.0 << false << 1.0;
}

void TestTankModel::bandBonusEdges()
{
    QFETCH(double, amount);
    QFETCH(bool, earned);
    QFETCH(double, upper);
    Fixture f;
    f.s.setup.UpperBoundFromGoal = upper;
    const double held = amount * f.s.tank.UnitScale;
    f.model.CalCost(held);
    QCOMPARE(f.s.tank.CurrentBonus, earned ? 0.5 : 0.0);
    QCOMPARE(f.s.tank.TotBonus, earned ? 5.5 : 5.0);
}

void TestTankModel::costExactlyAtTheGoalIsZero()
{
    Fixture f;
    f.s.setup.CostOverFlowPerAmount = 7;
    f.model.CalCost(f.s.tank.GoalAmount);
    QCOMPARE(f.s.tank.CurrentCost, 0.0);
    QCOMPARE(f.s.tank.TotCost, 5.0);
}

void TestTankModel::timeGapBonus_data()
{
    QTest::addColumn<QTime>("submit");
    QTest::addColumn<QTime>("environment");
    QTest::addColumn<double>("delta");
    QTest::addColumn<double>("envRate");
    QTest::addColumn<bool>("earned");
    QTest::addColumn<int>("gap");
    QTest::newRow("2 s gap, 2000 ms allowed") << QTime(10, 0, 5) << QTime(10, 0, 7) << 2000.0 << 3.0 << true << 2;
    QTest::newRow("2 s gap, 1999 ms allowed") << QTime(10, 0, 5) << QTime(10, 0, 7) << 1999.0 << 3.0 << false << 2;
    QTest::newRow("environment first") << QTime(10, 0, 7) << QTime(10, 0, 5) << 2000.0 << 3.0 << true << 2;
    QTest::newRow("no environment flow") << QTime(10, 0, 5) << QTime(10, 0, 5) << 2000.0 << 0.0 << false << 0;
    QTest::newRow("times carry no date") << QTime(23, 59, 59) << QTime(0, 0, 1) << 1e9 << 3.0 << true << 86398;
    QTest::newRow("midnight counts as no submit") << QTime(0, 0, 0) << QTime(0, 0, 0) << 1e9 << 3.0 << false << 0;
}

void TestTankModel::timeGapBonus()
{
    QFETCH(QTime, submit);
    QFETCH(QTime, environment);
    QFETCH(double, delta);
    QFETCH(double, envRate);
    QFETCH(bool, earned);
    QFETCH(int, gap);
    Fixture f;
    f.s.setup.IsBonusOnTimeGap = true;
    f.s.setup.deltaTmeBetweenEnvUsr = delta;
    f.s.Trial = 1;
    f.s.EnvInFlow[1] = envRate;
    f.s.EnvOutFlow[1] = 0;
    f.ts.clock.time = QDateTime(QDate(2026, 3, 4), environment.addMSecs(400));
    f.model.EnvironmentDecision();
    QCOMPARE(f.s.tank.EnvActionTime, environment); // whole seconds
    f.s.tank.SubmitTime = submit;
    // Far from the goal: the amount plays no part in this rule.
    f.model.CalCost(100 * f.s.tank.UnitScale);
    QCOMPARE(f.s.tank.CurrentBonus, earned ? 0.5 : 0.0);
    QCOMPARE(f.s.tank.SubmitEnvGap, gap);
}

void TestTankModel::notInTaskWritesZeros()
{
    Fixture f;
    f.s.InTask = false;
    f.s.tank.UserInFlow[0] = 9;
    f.log.RecordEvent(QStringLiteral("Continue Clicked"));
    for (const char* column : {"UserInFlow", "UserOutFlow", "AmountInTank", "GoalAmount", "EventID", "Trial"})
        QCOMPARE(f.column(QString::fromLatin1(column)).value(0).toDouble(), 0.0);
    QCOMPARE(f.column(QStringLiteral("TotBonus")).value(0).toDouble(), 5.0);
    QCOMPARE(f.column(QStringLiteral("graphicalMode")).value(0).toInt(), 0);
}

void TestTankModel::counterOverflowIsAnError()
{
    Fixture f;
    f.s.EventID = std::numeric_limits<qint32>::max();
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, f.model.submitOrders(1, 1));
    QCOMPARE(f.column(QStringLiteral("eventType")).size(), 0);
    f.s.EventID = 0;
    f.s.Trial = std::numeric_limits<qint32>::max();
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, f.model.openPeriod());
}

void TestTankModel::cycleRunsAParticipantPacedSession()
{
    CycleRig rig(false);
    using task::Stage;
    const QList<Stage> period{Stage::Submitted,       Stage::PeriodOpened, Stage::EnvironmentActs,
                              Stage::EnvironmentArrives, Stage::EnvironmentGone, Stage::OrdersDue,
                              Stage::OrdersDelivered, Stage::PeriodClosed};
    for (int t = 1; t <= 3; ++t) {
        rig.log.stages.clear();
        rig.cycle.submit([] { return true; });
        QVERIFY(QTest::qWaitFor([&] { return rig.shown(Stage::PeriodClosed); }));
        QCOMPARE(rig.log.stages.mid(0, period.size()), period);
        QCOMPARE(rig.f.s.Trial, t);
    }
    // The last period ends the session, with everything stored.
    QCOMPARE(rig.log.played, 1);
    QCOMPARE(rig.log.stages.last(), Stage::Stopped);
    QVERIFY(rig.cycle.isHalted());
    const QStringList events = strings(rig.f.column(QStringLiteral("eventType")));
    QCOMPARE(events.mid(0, 6), QStringList({"Submit Clicked", "Environment Effect", "No User Effect",
                                            "User Inflow", "User Outflow", "After Cost Calculation"}));
    QCOMPARE(events.count(QStringLiteral("After Cost Calculation")), 3);
    QCOMPARE(rig.f.db.column(QStringLiteral("select Trial from datTrialSummary where AmountInTank is not null "
                                            "order by rowid")),
             (QVariantList{1, 2, 3}));
    QCOMPARE(rig.f.db.column(QStringLiteral("select Trial from datUserTimesSummary order by rowid")),
             (QVariantList{0, 1, 2}));
    QCOMPARE(rig.f.s.tank.UserInFlow.value(2), 2.0); // the orders typed
}

void TestTankModel::cycleRunsOnTheClockWithoutSubmit()
{
    CycleRig rig(true);
    QVERIFY(QTest::qWaitFor([&] { return rig.log.played > 0; }));
    QVERIFY(rig.cycle.isHalted());
    QCOMPARE(rig.f.s.Trial, 3);
    // Each tick opens a period with its summary row; nobody submitted.
    QCOMPARE(rig.f.db.column(QStringLiteral("select Trial from datTrialSummary order by rowid")),
             (QVariantList{1, 2, 3}));
    QVERIFY(!strings(rig.f.column(QStringLiteral("eventType"))).contains(QStringLiteral("Submit Clicked")));
    QVERIFY(rig.shown(task::Stage::ClockTicked));
}

void TestTankModel::cycleDropsAFailedStep()
{
    CycleRig rig(false, true);
    rig.cycle.submit([] { return false; }); // a refused Submit does nothing
    QVERIFY(rig.log.stages.isEmpty());
    rig.cycle.submit([] { return true; });
    QVERIFY(QTest::qWaitFor([&] { return !rig.log.failures.isEmpty(); }));
    QCOMPARE(rig.log.failures, QStringList({QStringLiteral("disk full")}));
    QVERIFY(rig.cycle.isHalted());
    QCOMPARE(rig.log.stages.last(), task::Stage::Stopped);
    // Nothing of the failed submit stage is stored: no submit time, no event.
    QCOMPARE(rig.f.db.column(QStringLiteral("select count(*) from datUserTimesSummary")).value(0).toInt(), 0);
    QCOMPARE(rig.f.column(QStringLiteral("eventType")), QVariantList());
}

QTEST_GUILESS_MAIN(TestTankModel)
#include "tst_tankmodel.moc"
