#include "recording/Recorder.h"

#include "session/Clock.h"
#include "session/SessionState.h"
#include "store/DataTables.h"
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

    store::PeriodOpened row;
    row.Subject = s.Subject;
    row.Version = s.Version;
    row.Trial = opened;
    row.Date = m_clock.now().date();
    row.startTime = tank.PeriodStartTime;
    row.endTime = tank.PeriodEndTime;
    // Provisional flows: the period's own orders are still in the entry boxes, so the
    // row gets the orders stored for the current Trial, or 0 for an empty box.
    row.UserInFlow = inflowBoxEmpty ? 0.0 : tank.UserInFlow.value(t);
    row.UserOutFlow = outflowBoxEmpty ? 0.0 : tank.UserOutFlow.value(t);
    row.EnvInFlow = s.EnvInFlow.value(opened);
    row.EnvOutFlow = s.EnvOutFlow.value(opened);
    row.GoalAmount = tank.GoalAmount / tank.UnitScale;
    row.SimulationTime = setup.simTimeForTP;
    row.BaseMoney = setup.BaseMoney;
    row.UserInflowTP = setup.inFlowTPAfter;
    row.UserOutflowTP = setup.outFlowTPAfter;
    row.IsUserInFlow = tank.IsUserInFlow;
    row.IsUserOutFlow = tank.IsUserOutFlow;
    row.IsEnvInFlow = tank.IsEnvInFlow;
    row.IsEnvOutFlow = tank.IsEnvOutFlow;
    row.graphicalMode = setup.graphicalMode;
    row.TotBonus = tank.TotBonus;
    row.LowerBoundFromGoal = setup.LowerBoundFromGoal;
    row.UpperBoundFromGoal = setup.UpperBoundFromGoal;
    m_store.write([row](store::Connection& c) { store::TrialSummaryTable::append(c, row); },
                  QStringLiteral("datTrialSummary"), QStringLiteral("Recording data"));

    // The times frame one period only: a creation without new times records midnight.
    tank.PeriodStartTime = kMidnight;
    tank.PeriodEndTime = kMidnight;
}

void StoreRecorder::UpdateTrialSummary()
{
    const SessionState& s = m_state;
    const TankState& tank = s.tank;
    const int t = s.Trial;

    store::PeriodCompleted done;
    done.AmountInTank = tank.AmountInTank / tank.UnitScale;
    done.CurrentBonus = tank.CurrentBonus;
    done.TotBonus = tank.TotBonus;
    done.CurrentCost = tank.CurrentCost;
    done.TotCost = tank.TotCost;
    // In participant-paced play the flows written at creation stay.
    done.withUserFlows = s.setup.IsTimeDriven;
    done.UserInFlow = tank.UserInFlow.value(t);
    done.UserOutFlow = tank.UserOutFlow.value(t);
    done.BackOrder = tank.BackOrder.value(t);
    done.ForwardDischarge = tank.ForwardDischarge.value(t);
    done.TotalBackOrder = tank.TotalBackOrder;
    done.TotalForwardDischarge = tank.TotalForwardDischarge;
    // Rows are created when a period is opened. In time-driven play a Submit before the
    // clock's first tick acts on period 0, which is never opened, and its user animation
    // ends by completing that period. There is nothing to complete then: the event log
    // holds the period's values, and the participant must not be stopped by a message.
    m_store.write(
        [subject = s.Subject, version = s.Version, t, done](store::Connection& c) {
            store::TrialSummaryTable::complete(c, subject, version, t, done);
        },
        QStringLiteral("datTrialSummary"), QStringLiteral("Recording Amount"));
}

void StoreRecorder::AddSubmitTime(qint32 trial)
{
    const SessionState& s = m_state;
    const TankState& tank = s.tank;
    // Both times are taken by the Submit handler just before this call.
    const store::SubmitTimeRow row{s.Subject, s.Version, trial, m_clock.now().date(),
                                   s.setup.IsTimeDriven ? tank.SubmitTime : tank.PeriodEndTime};
    m_store.write([row](store::Connection& c) { store::SubmitTimeTable::append(c, row); },
                  QStringLiteral("datUserTimesSummary"), QStringLiteral("Recording data"));
}

qint32 LastOpenedPeriod(store::Store& store, const QString& subject, const QString& version)
{
    qint32 period = 0;
    store.read([&](store::Connection& c) { period = store::TrialSummaryTable::lastOpened(c, subject, version); },
               QStringLiteral("datTrialSummary"), QStringLiteral("Getting last trial"));
    return period;
}

QTime LastPressTime(store::Store& store, const QString& subject, const QString& version)
{
    QTime pressed;
    store.read([&](store::Connection& c) { pressed = store::SubmitTimeTable::lastPress(c, subject, version); },
               QStringLiteral("datUserTimesSummary"), QStringLiteral("Getting last trial"));
    return pressed.isValid() ? pressed : QTime(0, 0);
}

} // namespace aquilevel::recording
