#include "config/ConfigLoader.h"
#include "recording/Recorder.h"
#include "task/InitSession.h"
#include "session/Resume.h"
#include "store/DataLocation.h"
#include "store/SqlCipherConnection.h"
#include "store/NameKey.h"
#include "support/FakeEngine.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"
#include "support/ToolRun.h"
#include "task/TankModel.h"

#include <QDebug>
#include <QtTest>

#include <memory>

using namespace aquilevel;
using test::TempDatabase;
using test::TestSession;

namespace {

const QString kTable = QStringLiteral("datExperimentTrials");

// One event row as stored; columns never set keep the table's defaults (flags off).
struct Row {
    QVariantMap values;

    Row& set(const QString& column, const QVariant& value)
    {
        values[column] = value;
        return *this;
    }
};

// A complete row with plain values and every flag left at its default.
Row eventRow(const QString& subject, const QString& version, qint32 eventId, qint32 trial)
{
    Row r;
    r.set("Subject", subject)
        .set("Version", version)
        .set("eventType", "After Cost Calculation")
        .set("EventID", eventId)
        .set("Trial", trial)
        .set("Date", QDate(2026, 3, 4))
        .set("Time", "10:00:05")
        .set("CurrentCost", 0.25)
        .set("TotCost", 5.5)
        .set("UserInFlow", 0.0)
        .set("UserOutFlow", 0.0)
        .set("EnvInFlow", 2.0)
        .set("EnvOutFlow", 1.0)
        .set("BackOrder", 0.0)
        .set("ForwardDischarge", 0.0)
        .set("TotalBackOrder", 4.0)
        .set("TotalForwardDischarge", 2.0)
        .set("AmountInTank", 20.0)
        .set("GoalAmount", 30.0)
        .set("SimulationTime", 1.0)
        .set("BaseMoney", 5.0)
        .set("UserInflowTP", 3)
        .set("UserOutflowTP", 2)
        .set("AfterEveryNTrials", 1)
        .set("BonusAmount", 0.5)
        .set("CurrentBonus", 0.0)
        .set("TotBonus", 5.0)
        .set("LowerBoundFromGoal", 1.0)
        .set("UpperBoundFromGoal", 1.0)
        .set("ExperimentTimeForInstructions", 30)
        .set("MaxNumberOfAScenarioType", 10)
        .set("TimeBetweenEnvTries", 5000.0)
        .set("deltaTmeBetweenEnvUsr", 2000.0);
    return r;
}

// A setup with 12 periods, delays 3 and 2 and values distinct from any row's.
config::ExperimentSetup baseSetup(const QString& version)
{
    config::ExperimentSetup c;
    c.Version = version;
    c.MaxTrial = 12;
    c.BaseMoney = 5;
    c.inFlowTPAfter = 3;
    c.outFlowTPAfter = 2;
    c.AfterEveryNTrials = 1;
    c.BonusAmount = 0.1;
    c.graphicalMode = true;
    c.IsTimeDriven = false;
    c.IsBonusOnTimeGap = true;
    c.TimeBetweenEnvTries = 1;
    c.deltaTmeBetweenEnvUsr = 2;
    c.MaxNumberOfAScenarioType = 12;
    return c;
}

// Everything a restore may touch, for "nothing changed" comparisons.
QString describe(const SessionState& s)
{
    QString text;
    QDebug d(&text);
    const TankState& t = s.tank;
    const config::ExperimentSetup& c = s.setup;
    d << s.Subject << s.Version << s.Trial << s.EventID << t.CurrentCost << t.TotCost
      << t.CurrentBonus << t.TotBonus << t.TotalBackOrder << t.TotalForwardDischarge
      << t.AmountInTank << t.GoalAmount << t.IsUserInFlow << t.IsUserOutFlow << t.IsEnvInFlow
      << t.IsEnvOutFlow << t.BackOrder << t.ForwardDischarge << t.UserInFlow << t.UserOutFlow
      << c.BonusAmount << c.graphicalMode << c.IsTimeDriven << c.IsBonusOnTimeGap
      << c.TimeBetweenEnvTries << c.deltaTmeBetweenEnvUsr << c.MaxTrial << c.inFlowTPAfter;
    return text;
}


QVector<double> ordersAt(int size, const QList<int>& periods, double base)
{
    QVector<double> orders(size, 0.0);
    for (int t : periods)
        orders[t] = base + t;
    return orders;
}

} // namespace

class TestResume : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void emptyOrInvalidTableName();
    void registeredParticipantWithoutRows();
    void restoresTheNewestRow();
    void flagsAreYesOnlyWhenOne();
    void otherParticipantsAndVersionsIgnored();
    void eventCounterContinuesAfterTheRestoredRow();
    void pendingOrders_data();
    void pendingOrders();
    void latestEventOfAPeriodGivesTheOrder();
    void unreadableNewestRow_data();
    void unreadableNewestRow();
    void unreadableOrder();
    void resumedSessionRebuildsThePipeline();
    void resumedSessionKeepsItsModeAndTiming();
    void killedAtAnyWriteResumesAsUninterrupted_data();
    void killedAtAnyWriteResumesAsUninterrupted();

private:
    // All tests share one file; each uses participant names of its own.
    void store(const QList<Row>& rows);
    std::unique_ptr<TestSession> session(const QString& subject, const QString& version);

    std::unique_ptr<TempDatabase> m_db;
};

void TestResume::initTestCase()
{
    m_db = std::make_unique<TempDatabase>();
}

void TestResume::store(const QList<Row>& rows)
{
    auto engine = m_db->engine(store::SqlCipherEngine::kBusyTimeoutMs);
    store::Connection& c = engine->open(false);
    c.begin(true);
    for (const Row& row : rows)
        test::appendTo(c, kTable, row.values);
    c.commit();
    engine->release();
}

std::unique_ptr<TestSession> TestResume::session(const QString& subject, const QString& version)
{
    auto ts = std::make_unique<TestSession>(m_db->engine());
    SessionState& s = ts->session.state;
    s.Subject = subject;
    s.Version = version;
    s.setup = baseSetup(version);
    return ts;
}

void TestResume::emptyOrInvalidTableName()
{
    auto engine = std::make_unique<test::FakeEngine>(m_db->engine());
    test::FakeEngine& fake = *engine;
    TestSession ts(std::move(engine));
    ts.session.state.Subject = QStringLiteral("p1");
    ts.session.state.setup = baseSetup(QStringLiteral("V"));
    const QString before = describe(ts.session.state);

    QCOMPARE(RestoreLastState(ts.session, QString()), 0);
    QCOMPARE(GetUserInFlow(ts.session, QString(), 3), 0.0);
    QCOMPARE(GetUserOutFlow(ts.session, QString(), 3), 0.0);

    // Table names come from the program; anything but an identifier is refused unread.
    for (const QString& bad : {QStringLiteral("datExperimentTrials; DROP TABLE datSubject"),
                               QStringLiteral("dat ExperimentTrials"),
                               QStringLiteral("\"datExperimentTrials\"")}) {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, RestoreLastState(ts.session, bad));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, GetUserInFlow(ts.session, bad, 1));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, GetUserOutFlow(ts.session, bad, 1));
    }
    QCOMPARE(fake.log, QStringList());
    QCOMPARE(describe(ts.session.state), before);
}

void TestResume::registeredParticipantWithoutRows()
{
    m_db->append(QStringLiteral("datSubject"), {{QStringLiteral("Subject"), QStringLiteral("reg")},
                                                {QStringLiteral("Version"), QStringLiteral("V")},
                                                {QStringLiteral("Condition"), QStringLiteral("continuous")}});
    // Rows of the same name in another version and of another name in this version.
    store({eventRow("reg", "W", 9, 4), eventRow("other", "V", 8, 3)});

    auto ts = session(QStringLiteral("reg"), QStringLiteral("V"));
    SessionState& s = ts->session.state;
    s.EventID = 3;
    s.tank.TotBonus = 5;
    s.tank.BackOrder = {0, 2, 2, 0};
    const QString before = describe(s);

    QCOMPARE(RestoreLastState(ts->session, kTable), 0);
    QCOMPARE(describe(s), before);
    QCOMPARE(ts->prompter.prompts().size(), 0);
}

void TestResume::restoresTheNewestRow()
{
    // The newest event (EventID 40) is neither the first nor the last row stored.
    Row newest = eventRow("newest", "V", 40, 7);
    newest.set("CurrentCost", 0.75)
        .set("TotCost", 6.125)
        .set("CurrentBonus", 0.5)
        .set("TotBonus", 8.5)
        .set("BonusAmount", 0.625)
        .set("BackOrder", 11.0)
        .set("ForwardDischarge", 13.0)
        .set("TotalBackOrder", 9.5)
        .set("TotalForwardDischarge", 3.25)
        .set("AmountInTank", 17.5)
        .set("GoalAmount", 31.0)
        .set("TimeBetweenEnvTries", 4321.0)
        .set("deltaTmeBetweenEnvUsr", 1234.0)
        .set("IsUserInFlow", 1)
        .set("IsEnvOutFlow", 1)
        .set("IsTimeDriven", 1);
    Row older = eventRow("newest", "V", 39, 7);
    older.set("IsUserOutFlow", 1).set("IsEnvInFlow", 1).set("graphicalMode", 1).set("IsBonusOnTimeGap", 1);
    store({eventRow("newest", "V", 12, 2), newest, eventRow("newest", "V", 7, 1), older});

    auto ts = session(QStringLiteral("newest"), QStringLiteral("V"));
    SessionState& s = ts->session.state;
    s.tank.BackOrder = {0, 2, 2, 0, 0};
    s.tank.ForwardDischarge = {0, 1, 0, 0, 0};
    s.tank.GoalAmount = 30;

    QCOMPARE(RestoreLastState(ts->session, kTable), 7);

    const TankState& t = s.tank;
    QCOMPARE(s.EventID, 40);
    QCOMPARE(t.CurrentCost, 0.75);
    QCOMPARE(t.TotCost, 6.125);
    QCOMPARE(t.CurrentBonus, 0.5);
    QCOMPARE(t.TotBonus, 8.5);
    QCOMPARE(s.setup.BonusAmount, 0.625);
    QCOMPARE(t.TotalBackOrder, 9.5);
    QCOMPARE(t.TotalForwardDischarge, 3.25);
    QCOMPARE(t.AmountInTank, 17.5);
    QVERIFY(t.IsUserInFlow);
    QVERIFY(!t.IsUserOutFlow);
    QVERIFY(!t.IsEnvInFlow);
    QVERIFY(t.IsEnvOutFlow);
    // The setup had the opposite of each of these.
    QVERIFY(!s.setup.graphicalMode);
    QVERIFY(s.setup.IsTimeDriven);
    QVERIFY(!s.setup.IsBonusOnTimeGap);
    QCOMPARE(s.setup.TimeBetweenEnvTries, 4321.0);
    QCOMPARE(s.setup.deltaTmeBetweenEnvUsr, 1234.0);
    // Not taken from the row: the goal, the per-period pipeline and the rest of the setup.
    QCOMPARE(t.GoalAmount, 30.0);
    QCOMPARE(t.BackOrder, (QVector<double>{0, 2, 2, 0, 0}));
    QCOMPARE(t.ForwardDischarge, (QVector<double>{0, 1, 0, 0, 0}));
    QCOMPARE(s.setup.MaxTrial, 12);
    QCOMPARE(s.setup.inFlowTPAfter, qint16(3));
}

void TestResume::flagsAreYesOnlyWhenOne()
{
    const QStringList flags = {"IsUserInFlow", "IsUserOutFlow", "IsEnvInFlow", "IsEnvOutFlow",
                               "graphicalMode", "IsTimeDriven", "IsBonusOnTimeGap"};
    struct Case {
        QString name;
        int only;       // the one flag column written; -1 for all of them
        QVariant value; // invalid: left at the column's default
        bool yes;
    };
    QList<Case> cases;
    for (int i = 0; i < flags.size(); ++i)
        cases.append({QStringLiteral("only ") + flags.at(i), i, 1, true});
    cases.append({QStringLiteral("all 1"), -1, 1, true});
    cases.append({QStringLiteral("all default"), -1, QVariant(), false});
    cases.append({QStringLiteral("all 0"), -1, 0, false});
    cases.append({QStringLiteral("all 2"), -1, 2, false});
    cases.append({QStringLiteral("all -1"), -1, -1, false});
    cases.append({QStringLiteral("all text yes"), -1, QStringLiteral("yes"), false});
    cases.append({QStringLiteral("all Null"), -1, QVariant(QMetaType::fromType<int>()), false});

    QList<Row> rows;
    for (const Case& c : cases) {
        Row row = eventRow(QStringLiteral("flags ") + c.name, "V", 5, 2);
        for (int i = 0; i < flags.size(); ++i)
            if ((c.only == -1 || c.only == i) && c.value.isValid())
                row.set(flags.at(i), c.value);
        rows.append(row);
    }
    store(rows);

    for (const Case& c : cases) {
        auto ts = session(QStringLiteral("flags ") + c.name, QStringLiteral("V"));
        SessionState& s = ts->session.state;
        // Start from the opposite of what is expected for every flag.
        s.tank.IsUserInFlow = s.tank.IsUserOutFlow = s.tank.IsEnvInFlow = s.tank.IsEnvOutFlow = true;
        s.setup.graphicalMode = s.setup.IsTimeDriven = s.setup.IsBonusOnTimeGap = true;
        QCOMPARE(RestoreLastState(ts->session, kTable), 2);
        const QList<bool> restored = {s.tank.IsUserInFlow, s.tank.IsUserOutFlow, s.tank.IsEnvInFlow,
                                      s.tank.IsEnvOutFlow, s.setup.graphicalMode, s.setup.IsTimeDriven,
                                      s.setup.IsBonusOnTimeGap};
        for (int i = 0; i < flags.size(); ++i) {
            const bool expected = c.yes && (c.only == -1 || c.only == i);
            QVERIFY2(restored.at(i) == expected,
                     qPrintable(QStringLiteral("%1: %2").arg(c.name, flags.at(i))));
        }
    }
}

void TestResume::otherParticipantsAndVersionsIgnored()
{
    Row own = eventRow("Anna", "Ver", 5, 3);
    own.set("TotBonus", 6.0);
    store({own, eventRow("Anna", "Ver2", 90, 9), eventRow("Anna2", "Ver", 95, 9),
           eventRow("Hanna", "Ver", 96, 9), eventRow("Anna ", "Ver", 97, 9),
           eventRow("Anna", "Ver ", 98, 9)});

    // The name and the version are matched without regard to letter case.
    auto ts = session(QStringLiteral("aNNA"), QStringLiteral("vER"));
    QCOMPARE(RestoreLastState(ts->session, kTable), 3);
    QCOMPARE(ts->session.state.EventID, 5);
    QCOMPARE(ts->session.state.tank.TotBonus, 6.0);

    // Names are values, never part of the SQL text or a pattern.
    for (const QString& name : {QStringLiteral("Anna' or '1'='1"), QStringLiteral("Ann%"),
                                QStringLiteral("Ann_")}) {
        auto other = session(name, QStringLiteral("Ver"));
        QCOMPARE(RestoreLastState(other->session, kTable), 0);
        QCOMPARE(other->session.state.EventID, 0);
    }
}

void TestResume::eventCounterContinuesAfterTheRestoredRow()
{
    // The interrupted session writes its last row through the event log itself.
    {
        auto ts = session(QStringLiteral("round"), QStringLiteral("V"));
        SessionState& s = ts->session.state;
        s.InTask = true;
        s.Trial = 4;
        s.EventID = 57;
        s.EnvInFlow = s.EnvOutFlow = QVector<double>(14, 0.0);
        startNewSession(s.tank, s.setup);
        s.tank.UnitScale = 358.5;
        s.tank.AmountInTank = 17925; // 50 units
        s.tank.TotBonus = 6.5;
        s.tank.IsUserInFlow = true;
        s.tank.IsEnvOutFlow = true;
        recording::StoreRecorder(ts->session.store(), ts->session.clock(), ts->session.state).RecordEvent(QStringLiteral("After Cost Calculation"));
    }

    auto ts = session(QStringLiteral("round"), QStringLiteral("V"));
    SessionState& s = ts->session.state;
    s.setup.graphicalMode = false;
    s.setup.IsBonusOnTimeGap = false;
    s.Trial = RestoreLastState(ts->session, kTable);
    QCOMPARE(s.Trial, 4);
    QCOMPARE(s.EventID, 57);
    QCOMPARE(s.tank.AmountInTank, 50.0);
    QCOMPARE(s.tank.TotBonus, 6.5);
    QVERIFY(s.tank.IsUserInFlow && !s.tank.IsUserOutFlow && !s.tank.IsEnvInFlow && s.tank.IsEnvOutFlow);
    QVERIFY(s.setup.graphicalMode && !s.setup.IsTimeDriven && s.setup.IsBonusOnTimeGap);

    InitSession(ts->session);
    s.EnvInFlow = s.EnvOutFlow = QVector<double>(14, 0.0);
    s.InTask = true;
    recording::StoreRecorder log(ts->session.store(), ts->session.clock(), ts->session.state);
    task::TankModel model(s, log, ts->clock);
    model.recordEvent(QStringLiteral("Submit Clicked"));

    QCOMPARE(m_db->column(QStringLiteral("select EventID from datExperimentTrials where Subject = "
                                         "'round' order by rowid")),
             (QVariantList{57, 58}));
}

void TestResume::pendingOrders_data()
{
    QTest::addColumn<int>("inDelay");
    QTest::addColumn<int>("outDelay");
    QTest::addColumn<int>("last");
    QTest::addColumn<QList<int>>("inPeriods");
    QTest::addColumn<QList<int>>("outPeriods");

    QTest::newRow("delays 3 and 2, last period 10") << 3 << 2 << 10 << QList<int>{8, 9, 10}
                                                    << QList<int>{9, 10};
    QTest::newRow("delays 3 and 3, last period 2") << 3 << 3 << 2 << QList<int>{1, 2}
                                                   << QList<int>{1, 2};
    QTest::newRow("within the inflow delay only") << 3 << 2 << 3 << QList<int>{1, 2, 3}
                                                  << QList<int>{1, 2, 3};
    QTest::newRow("within the outflow delay only") << 2 << 4 << 4 << QList<int>{1, 2, 3, 4}
                                                   << QList<int>{1, 2, 3, 4};
    QTest::newRow("delays 1 and 1, last period 5") << 1 << 1 << 5 << QList<int>{5} << QList<int>{5};
}

void TestResume::pendingOrders()
{
    QFETCH(int, inDelay);
    QFETCH(int, outDelay);
    QFETCH(int, last);
    QFETCH(QList<int>, inPeriods);
    QFETCH(QList<int>, outPeriods);

    // Every period up to the last has an order; another participant and another version
    // have orders of their own in the same periods.
    const QString name = QStringLiteral("Pending ") + QString::fromLatin1(QTest::currentDataTag());
    QList<Row> rows;
    for (int t = 1; t <= last; ++t) {
        rows << eventRow(name, "V", 10 * t, t).set("UserInFlow", 100.0 + t).set("UserOutFlow", 200.0 + t);
        rows << eventRow(name + "x", "V", 10 * t, t).set("UserInFlow", 900.0).set("UserOutFlow", 900.0);
        rows << eventRow(name, "W", 10 * t, t).set("UserInFlow", 800.0).set("UserOutFlow", 800.0);
    }
    store(rows);

    auto ts = session(name.toLower(), QStringLiteral("V"));
    SessionState& s = ts->session.state;
    s.setup.inFlowTPAfter = qint16(inDelay);
    s.setup.outFlowTPAfter = qint16(outDelay);
    s.Trial = last;
    s.tank.UserInFlow = periodArray(s.setup);
    s.tank.UserOutFlow = periodArray(s.setup);

    ReloadPendingOrders(ts->session);

    QCOMPARE(s.tank.UserInFlow, ordersAt(14, inPeriods, 100));
    QCOMPARE(s.tank.UserOutFlow, ordersAt(14, outPeriods, 200));
}

void TestResume::latestEventOfAPeriodGivesTheOrder()
{
    // Period 4 has three events, stored out of EventID order; the latest is EventID 33.
    store({eventRow("latest", "V", 30, 4).set("UserInFlow", 1.0).set("UserOutFlow", 2.0),
           eventRow("latest", "V", 33, 4).set("UserInFlow", 5.0).set("UserOutFlow", 6.0),
           eventRow("latest", "V", 31, 4).set("UserInFlow", 3.0).set("UserOutFlow", 4.0),
           eventRow("latest", "V", 40, 5).set("UserInFlow", 9.0).set("UserOutFlow", 8.0),
           eventRow("latest2", "V", 99, 4).set("UserInFlow", 77.0).set("UserOutFlow", 77.0),
           eventRow("latest", "W", 98, 4).set("UserInFlow", 66.0).set("UserOutFlow", 66.0)});

    auto ts = session(QStringLiteral("LATEST"), QStringLiteral("v"));
    QCOMPARE(GetUserInFlow(ts->session, kTable, 4), 5.0);
    QCOMPARE(GetUserOutFlow(ts->session, kTable, 4), 6.0);
    QCOMPARE(GetUserInFlow(ts->session, kTable, 5), 9.0);
    QCOMPARE(GetUserOutFlow(ts->session, kTable, 5), 8.0);
    QCOMPARE(GetUserInFlow(ts->session, kTable, 6), 0.0);
    QCOMPARE(GetUserOutFlow(ts->session, kTable, 3), 0.0);

    // Through the reload as well: delays 2 and 2 with period 5 last.
    SessionState& s = ts->session.state;
    s.setup.inFlowTPAfter = s.setup.outFlowTPAfter = 2;
    s.Trial = 5;
    s.tank.UserInFlow = s.tank.UserOutFlow = periodArray(s.setup);
    ReloadPendingOrders(ts->session);
    QCOMPARE(s.tank.UserInFlow.mid(0, 7), (QVector<double>{0, 0, 0, 0, 5, 9, 0}));
    QCOMPARE(s.tank.UserOutFlow.mid(0, 7), (QVector<double>{0, 0, 0, 0, 6, 8, 0}));
}

void TestResume::unreadableNewestRow_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("problem");

    const QVariant null(QMetaType::fromType<double>());
    QTest::newRow("TotBonus empty") << "TotBonus" << null << "is empty";
    QTest::newRow("the last field read empty") << "deltaTmeBetweenEnvUsr" << null << "is empty";
    QTest::newRow("Trial empty") << "Trial" << null << "is empty";
    QTest::newRow("AmountInTank empty") << "AmountInTank" << null << "is empty";
    QTest::newRow("Trial past 16 bits")
        << "Trial" << QVariant(40000) << "holds 40000, outside the whole numbers it can hold (-32768 to 32767)";
    QTest::newRow("text for a number") << "CurrentCost" << QVariant(QStringLiteral("abc"))
                                       << "holds \"abc\", which is not a number";
}

void TestResume::unreadableNewestRow()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QString, problem);

    const QString name = QStringLiteral("broken ") + QString::fromLatin1(QTest::currentDataTag());
    Row good = eventRow(name, "V", 10, 2);
    Row bad = eventRow(name, "V", 11, 3);
    bad.set("TotBonus", 9.0).set("IsUserInFlow", 1).set("IsTimeDriven", 1).set(field, value);
    store({good, bad});

    auto ts = session(name, QStringLiteral("V"));
    SessionState& s = ts->session.state;
    s.EventID = 2;
    s.tank.TotBonus = 5;
    s.tank.BackOrder = {0, 2, 2, 0};
    const QString before = describe(s);

    try {
        RestoreLastState(ts->session, kTable);
        QFAIL("an unreadable newest row was taken up");
    } catch (const ResumeError& e) {
        QCOMPARE(e.participant(), name);
        QCOMPARE(e.version(), QStringLiteral("V"));
        QCOMPARE(e.table(), kTable);
        QCOMPARE(e.field(), field);
        QCOMPARE(e.message(), QStringLiteral("The saved state of participant \"%1\" in version \"V\" "
                                             "cannot be read: datExperimentTrials, field %2 %3.")
                                  .arg(name, field, problem));
    }
    QCOMPARE(describe(s), before);
}

void TestResume::unreadableOrder()
{
    store({eventRow("order", "V", 3, 3).set("UserInFlow", QVariant(QMetaType::fromType<double>())),
           eventRow("order", "V", 4, 3).set("UserOutFlow", QStringLiteral("x")).set("EventID", 2)});

    auto ts = session(QStringLiteral("order"), QStringLiteral("V"));
    try {
        GetUserInFlow(ts->session, kTable, 3);
        QFAIL("an empty order was read");
    } catch (const ResumeError& e) {
        QCOMPARE(e.message(), QStringLiteral("The saved state of participant \"order\" in version "
                                             "\"V\" cannot be read: datExperimentTrials, field "
                                             "UserInFlow of period 3 is empty."));
    }
    // The latest event of the period (EventID 3) decides; the older text is never read.
    QCOMPARE(GetUserOutFlow(ts->session, kTable, 3), 0.0);
}

void TestResume::resumedSessionRebuildsThePipeline()
{
    // Interrupted in period 1 with delays 3 and 4: the initial orders of periods 2 and 3
    // are still due, and the participant's first orders are on their way.
    store({eventRow("rebuild", "V", 1, 1)
               .set("eventType", "Submit Clicked")
               .set("UserInFlow", 5.0)
               .set("UserOutFlow", 1.0),
           eventRow("rebuild", "V", 4, 1)
               .set("UserInFlow", 5.0)
               .set("UserOutFlow", 1.0)
               .set("BackOrder", 2.0)
               .set("ForwardDischarge", 3.0)
               .set("TotalBackOrder", 7.0)
               .set("TotalForwardDischarge", 7.0)
               .set("CurrentCost", 0.4)
               .set("TotCost", 5.4)
               .set("CurrentBonus", 0.5)
               .set("TotBonus", 5.5)
               .set("AmountInTank", 22.0)});

    auto ts = session(QStringLiteral("rebuild"), QStringLiteral("V"));
    SessionState& s = ts->session.state;
    s.setup.MaxTrial = 10;
    s.setup.inFlowTPAfter = 3;
    s.setup.InitialBackOrder = 4;
    s.setup.outFlowTPAfter = 4;
    s.setup.InitialForwardDischarge = 9;
    s.tank.BackOrder = s.tank.ForwardDischarge = QVector<double>(12, 7.0);

    s.Trial = RestoreLastState(ts->session, kTable);
    QCOMPARE(s.Trial, 1);
    InitSession(ts->session);

    const TankState& t = s.tank;
    QCOMPARE(t.BackOrder, (QVector<double>{0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(t.ForwardDischarge, (QVector<double>{0, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(t.TotalBackOrder, 7.0);
    QCOMPARE(t.TotalForwardDischarge, 7.0);
    QCOMPARE(t.CurrentCost, 0.4);
    QCOMPARE(t.TotCost, 5.4);
    QCOMPARE(t.CurrentBonus, 0.5);
    QCOMPARE(t.TotBonus, 5.5);
    QCOMPARE(t.AmountInTank, 22.0);
    QCOMPARE(s.EventID, 4);
    QCOMPARE(t.UserInFlow, (QVector<double>{0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(t.UserOutFlow, (QVector<double>{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // What the next periods deliver: the initial orders still due, then period 1's orders.
    recording::StoreRecorder log(ts->session.store(), ts->session.clock(), ts->session.state);
    task::TankModel model(s, log, ts->clock);
    QCOMPARE(model.DueInflow(2), 2.0);
    QCOMPARE(model.DueInflow(3), 5.0);
    QCOMPARE(model.DueOutflow(2), 3.0);
    QCOMPARE(model.DueOutflow(3), 3.0);
    QCOMPARE(model.DueOutflow(4), 1.0);
}

void TestResume::resumedSessionKeepsItsModeAndTiming()
{
    // The version is now continuous, participant-paced, with the band bonus and other
    // timing; the session was started differently, and its newest row says so.
    test::insertSetup(*m_db, test::soundSetupRow(QStringLiteral("Keep")));
    store({eventRow("keeper", "Keep", 20, 4)
               .set("IsTimeDriven", 1)
               .set("IsBonusOnTimeGap", 1)
               .set("BonusAmount", 0.75)
               .set("TimeBetweenEnvTries", 3000.0)
               .set("deltaTmeBetweenEnvUsr", 700.0)});

    auto ts = session(QStringLiteral("keeper"), QStringLiteral("Keep"));
    SessionState& s = ts->session.state;
    s.setup = config::LoadSetup(ts->session.store(), QStringLiteral("Keep"));
    QVERIFY(s.setup.graphicalMode && !s.setup.IsTimeDriven && !s.setup.IsBonusOnTimeGap);

    s.Trial = RestoreLastState(ts->session, kTable);
    InitSession(ts->session);

    QCOMPARE(s.Trial, 4);
    QVERIFY(!s.setup.graphicalMode);
    QVERIFY(s.setup.IsTimeDriven);
    QVERIFY(s.setup.IsBonusOnTimeGap);
    QCOMPARE(s.setup.BonusAmount, 0.75);
    QCOMPARE(s.setup.TimeBetweenEnvTries, 3000.0);
    QCOMPARE(s.setup.deltaTmeBetweenEnvUsr, 700.0);
    // The rest of the setup is the version's.
    QCOMPARE(s.setup.MaxTrial, 10);
    QCOMPARE(s.setup.userDelay, 100);
    QCOMPARE(s.setup.BaseMoney, 5.0);
}

// The rows of one participant in one table, oldest first, without the columns that
// name the participant or say when and where a row was written.
QList<QVariantMap> storedRows(const TempDatabase& db, const char* table, const QString& subject)
{
    QList<QVariantMap> rows = db.rows(
        QStringLiteral("select * from %1 where Subject = $1 order by rowid").arg(QLatin1String(table)),
        {subject});
    for (QVariantMap& row : rows)
        for (const char* column : {"Subject", "SubjectKey", "Date", "Time", "startTime", "endTime",
                                   "SubmitClickTime", "EventTimeUtc", "Station"})
            row.remove(QLatin1String(column));
    return rows;
}

// Empty when both sessions stored the same rows (numbers exactly as stored), else the
// first difference.
QString firstDifference(const TempDatabase& db, const QString& subject, const QString& reference)
{
    for (const char* table : {"datSubject", "datExperimentTrials", "datTrialSummary",
                              "datUserTimesSummary", "datQuestionnaire"}) {
        const QList<QVariantMap> got = storedRows(db, table, subject);
        const QList<QVariantMap> want = storedRows(db, table, reference);
        for (int i = 0; i < qMax(got.size(), want.size()); ++i) {
            if (i >= got.size() || i >= want.size())
                return QStringLiteral("%1: %2 rows, expected %3").arg(table).arg(got.size()).arg(want.size());
            for (auto it = want.at(i).cbegin(); it != want.at(i).cend(); ++it) {
                const QVariant a = got.at(i).value(it.key());
                const QVariant& b = it.value();
                bool numbers = false, ok = false;
                const double x = a.toDouble(&numbers), y = b.toDouble(&ok);
                const bool same = (numbers && ok && !a.isNull() && !b.isNull())
                                      ? x == y
                                      : a.toString() == b.toString() && a.isNull() == b.isNull();
                if (!same)
                    return QStringLiteral("%1 row %2 (%3) %4: %5, expected %6")
                        .arg(table).arg(i + 1)
                        .arg(want.at(i).value(QStringLiteral("eventType")).toString(), it.key(),
                             a.isNull() ? QStringLiteral("NULL") : a.toString(),
                             b.isNull() ? QStringLiteral("NULL") : b.toString());
            }
        }
    }
    return {};
}

void TestResume::killedAtAnyWriteResumesAsUninterrupted_data()
{
    QTest::addColumn<QString>("demo");
    QTest::addColumn<QString>("orders");
    QTest::addColumn<QString>("change");
    // Four periods: the first two inside the inflow delay, the last one included.
    QTest::newRow("participant-paced, continuous") << "Demo continuous" << "6,1 0,2 3,0 1,1" << "";
    QTest::newRow("participant-paced, discrete") << "Demo discrete" << "2,4 5,0 0,0 2,2" << "";
    QTest::newRow("time-gap bonus") << "Demo time-gap bonus" << "1,1 4,2 0,3 2,0" << "";
    // The clock opens the periods; a Submit in every period once the environment acted,
    // the last one included.
    QTest::newRow("time-driven") << "Demo time-driven" << "0,0 5,1 0,4 2,3" << ", TimeBetweenEnvTries = 150";
    // Orders of 0 in play: the clock then runs the user step at every tick. No Submit in
    // the last period.
    QTest::newRow("time-driven, one delay of 1") << "Demo time-driven" << "0,0 0,0 2,0"
                                                 << ", TimeBetweenEnvTries = 150, outFlowTPAfter = 1, "
                                                    "InitialForwardDischarge = 0";
}

// A session killed right after any of its writes, and taken up again by a login with
// the same name, stores what a session that was never interrupted stores.
void TestResume::killedAtAnyWriteResumesAsUninterrupted()
{
    QFETCH(QString, demo);
    QFETCH(QString, orders);
    QFETCH(QString, change);
    TempDatabase db(TempDatabase::Content::Demo);
    const QString version = QStringLiteral("Killed");
    QStringList columns = db.rows(QStringLiteral("select * from tblSetup")).value(0).keys();
    columns.removeAll(QStringLiteral("Version"));
    columns.removeAll(QStringLiteral("VersionKey"));
    db.exec(QStringLiteral("insert into tblSetup (Version, VersionKey, %1) select $1, $2, %1 from tblSetup "
                           "where Version = $3")
                .arg(columns.join(QLatin1Char(','))),
            {QStringLiteral("Killed"), store::nameKey(QStringLiteral("Killed")), demo});
    db.exec(QStringLiteral("update tblSetup set Version = $1, MaxTrial = 4, userDelay = 1, envDelay = 1, "
                           "UsrMv = 1, EnvMv = 1%1 where rowid = (select max(rowid) from tblSetup)")
                .arg(change),
            {version});
    db.exec(QStringLiteral("insert into tblLabels (version, LabelNumber, LabelName, VersionKey) "
                           "select $1, LabelNumber, LabelName, $2 from tblLabels where version = $3"),
            {version, store::nameKey(version), demo});

    const auto play = [&](const QString& subject, int dieAfter) {
        return test::runProgram({db.path(), version, subject, orders, QString::number(dieAfter)}, {},
                                QStringLiteral("helper_killedsession"));
    };
    const test::ToolResult reference = play(QStringLiteral("whole"), -1);
    QCOMPARE(reference.status, 0);
    const QStringList ended = reference.lines();
    QVERIFY2(ended.size() == 2 && ended.at(0).startsWith(QStringLiteral("COMMITS ")), qPrintable(reference.out));
    const int commits = ended.at(0).mid(8).toInt();
    QVERIFY(commits > 10);
    // One Submit a period with orders, in time-driven play the last period's too.
    QCOMPARE(db.column(QStringLiteral("select count(*) from datExperimentTrials where Subject = 'whole' "
                                      "and eventType = 'Submit Clicked'")).value(0).toInt(),
             orders.split(QLatin1Char(' ')).size());

    for (int k = 1; k < commits; ++k) {
        const QString subject = QStringLiteral("killed%1").arg(k);
        const test::ToolResult killed = play(subject, k);
        QVERIFY2(killed.status == 9, qPrintable(QStringLiteral("kill %1: %2").arg(k).arg(killed.err)));
        const test::ToolResult resumed = play(subject, -1);
        QVERIFY2(resumed.status == 0, qPrintable(QStringLiteral("kill %1: %2").arg(k).arg(resumed.err)));
        QCOMPARE(resumed.lines().value(1), ended.at(1));
        const QString difference = firstDifference(db, subject, QStringLiteral("whole"));
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("killed after write %1: %2").arg(k).arg(difference)));
    }
}

QTEST_GUILESS_MAIN(TestResume)
#include "tst_resume.moc"
