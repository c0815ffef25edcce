#include "recording/Recorder.h"

#include "recording/RowFlags.h"
#include "session/Clock.h"
#include "session/SessionState.h"
#include "store/Query.h"
#include "store/Store.h"

namespace aquilevel::recording {

namespace {

const QTime kMidnight(0, 0);

} // namespace

void StoreRecorder::AddTrialSummary(bool inflowBoxEmpty, bool outflowBoxEmpty)
{
    SessionState& s = m_state;
    const config::ExperimentSetup& setup = s.setup;
    TankState& tank = s.tank;
    const int t = s.Trial;
    // The caller runs before Trial advances: the row numbers the period being opened.
    const qint32 opened = nextCount(t, "Trial");
    // Provisional flows: the period's own orders are still in the entry boxes, so the
    // row gets the orders stored for the current Trial, or 0 for an empty box.
    const QVariant userIn = inflowBoxEmpty ? QVariant(0) : QVariant(tank.UserInFlow.value(t));
    const QVariant userOut = outflowBoxEmpty ? QVariant(0) : QVariant(tank.UserOutFlow.value(t));

    auto rs = m_store.OpenTable("datTrialSummary", false, QStringLiteral("Recording data"));
    rs->addNew();
    rs->setField(QStringLiteral("Subject"), s.Subject);
    rs->setField(QStringLiteral("Version"), s.Version);
    rs->setField(QStringLiteral("Trial"), opened);
    rs->setField(QStringLiteral("Date"), m_clock.now().date());
    rs->setField(QStringLiteral("startTime"), tank.PeriodStartTime);
    rs->setField(QStringLiteral("endTime"), tank.PeriodEndTime);
    rs->setField(QStringLiteral("UserInFlow"), userIn);
    rs->setField(QStringLiteral("UserOutFlow"), userOut);
    rs->setField(QStringLiteral("EnvInFlow"), s.EnvInFlow.value(opened));
    rs->setField(QStringLiteral("EnvOutFlow"), s.EnvOutFlow.value(opened));
    rs->setField(QStringLiteral("GoalAmount"), tank.GoalAmount / tank.UnitScale);
    rs->setField(QStringLiteral("SimulationTime"), setup.simTimeForTP);
    rs->setField(QStringLiteral("BaseMoney"), setup.BaseMoney);
    rs->setField(QStringLiteral("UserInflowTP"), setup.inFlowTPAfter);
    rs->setField(QStringLiteral("UserOutflowTP"), setup.outFlowTPAfter);
    setFlowFlags(*rs, tank, setup);
    rs->setField(QStringLiteral("TotBonus"), tank.TotBonus);
    rs->setField(QStringLiteral("LowerBoundFromGoal"), setup.LowerBoundFromGoal);
    rs->setField(QStringLiteral("UpperBoundFromGoal"), setup.UpperBoundFromGoal);
    rs->update();
    rs->close();

    // The times frame one period only: a creation without new times records midnight.
    tank.PeriodStartTime = kMidnight;
    tank.PeriodEndTime = kMidnight;
}

void StoreRecorder::UpdateTrialSummary()
{
    const SessionState& s = m_state;
    const TankState& tank = s.tank;
    const int t = s.Trial;

    auto rs = m_store.OpenTable(
        store::Query(QStringLiteral("select * from datTrialSummary where Version=? and Subject=? "
                                    "and Trial=?"),
                     {s.Version, s.Subject, t}),
        false, QStringLiteral("Recording Amount"));
    if (rs->isEOF()) {
        // Rows are created when a period is opened. In time-driven play a Submit before
        // the clock's first tick acts on period 0, which is never opened, and its user
        // animation ends by completing that period. There is nothing to complete: the
        // event log holds the period's values, and the participant must not be stopped
        // by a message about it.
        rs->close();
        return;
    }
    rs->edit();
    rs->setField(QStringLiteral("AmountInTank"), tank.AmountInTank / tank.UnitScale);
    rs->setField(QStringLiteral("CurrentBonus"), tank.CurrentBonus);
    rs->setField(QStringLiteral("TotBonus"), tank.TotBonus);
    rs->setField(QStringLiteral("CurrentCost"), tank.CurrentCost);
    rs->setField(QStringLiteral("TotCost"), tank.TotCost);
    // In participant-paced play the flows written at creation stay.
    if (s.setup.IsTimeDriven) {
        rs->setField(QStringLiteral("UserInFlow"), tank.UserInFlow.value(t));
        rs->setField(QStringLiteral("UserOutFlow"), tank.UserOutFlow.value(t));
    }
    rs->setField(QStringLiteral("BackOrder"), tank.BackOrder.value(t));
    rs->setField(QStringLiteral("ForwardDischarge"), tank.ForwardDischarge.value(t));
    rs->setField(QStringLiteral("TotalBackOrder"), tank.TotalBackOrder);
    rs->setField(QStringLiteral("TotalForwardDischarge"), tank.TotalForwardDischarge);
    rs->update();
    rs->close();
}

void StoreRecorder::AddSubmitTime(qint32 trial)
{
    const SessionState& s = m_state;
    const TankState& tank = s.tank;
    // Both times are taken by the Submit handler just before this call.
    const QTime pressed = s.setup.IsTimeDriven ? tank.SubmitTime : tank.PeriodEndTime;

    auto rs = m_store.OpenTable("datUserTimesSummary", false, QStringLiteral("Recording data"));
    rs->addNew();
    rs->setField(QStringLiteral("Subject"), s.Subject);
    rs->setField(QStringLiteral("Version"), s.Version);
    rs->setField(QStringLiteral("Trial"), trial);
    rs->setField(QStringLiteral("Date"), m_clock.now().date());
    rs->setField(QStringLiteral("SubmitClickTime"), pressed);
    rs->update();
    rs->close();
}

namespace {

// The first column of the first row of one of the participant's queries (its two
// placeholders take the name and the version); invalid when there is none.
QVariant participantValue(store::Store& store, const QString& sql, const QString& subject,
                          const QString& version)
{
    auto rs = store.OpenTable(store::Query(sql, {subject, version}), true, QStringLiteral("Getting last trial"));
    const QVariant value = rs->isEOF() ? QVariant() : rs->field(rs->fieldNames().value(0));
    rs->close();
    return value;
}

} // namespace

qint32 LastOpenedPeriod(store::Store& store, const QString& subject, const QString& version)
{
    return participantValue(store, QStringLiteral("select max(Trial) from datTrialSummary where Subject = ? and Version = ?"),
                            subject, version)
        .toInt();
}

QTime LastPressTime(store::Store& store, const QString& subject, const QString& version)
{
    const QTime stored = participantValue(store,
                                          QStringLiteral("select SubmitClickTime from datUserTimesSummary where "
                                                         "Subject = ? and Version = ? order by rowid desc limit 1"),
                                          subject, version)
                             .toTime();
    return stored.isValid() ? stored : QTime(0, 0);
}

} // namespace aquilevel::recording
