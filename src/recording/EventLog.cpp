#include "recording/Recorder.h"

#include "session/Clock.h"
#include "session/SessionState.h"
#include "store/DataTables.h"
#include "store/Store.h"

#include <limits>
#include <stdexcept>

namespace aquilevel::recording {

qint32 nextCount(qint32 value, const char* what)
{
    if (value == std::numeric_limits<qint32>::max())
        throw std::overflow_error(std::string(what) + " cannot grow past 2147483647");
    return value + 1;
}

void StoreRecorder::RecordEvent(const QString& eventType)
{
    const SessionState& s = m_state;
    const config::ExperimentSetup& setup = s.setup;
    const TankState& tank = s.tank;
    const QDateTime now = m_clock.now();
    const int t = s.Trial;
    // Outside the task (the instructions) the flows and amounts are written as zeros.
    const auto inTask = [&](double value) { return s.InTask ? value : 0.0; };

    store::EventRow row;
    row.Subject = s.Subject;
    row.Version = s.Version;
    row.eventType = eventType;
    row.EventID = s.EventID;
    row.Trial = t;
    row.Date = now.date();
    row.Time = now.time().toString(QStringLiteral("HH:mm:ss"));
    row.CurrentCost = tank.CurrentCost;
    row.TotCost = tank.TotCost;
    row.UserInFlow = inTask(tank.UserInFlow.value(t));
    row.UserOutFlow = inTask(tank.UserOutFlow.value(t));
    row.EnvInFlow = s.EnvInFlow.value(t);
    row.EnvOutFlow = s.EnvOutFlow.value(t);
    row.BackOrder = tank.BackOrder.value(t);
    row.ForwardDischarge = tank.ForwardDischarge.value(t);
    row.TotalBackOrder = tank.TotalBackOrder;
    row.TotalForwardDischarge = tank.TotalForwardDischarge;
    row.AmountInTank = inTask(tank.AmountInTank / tank.UnitScale);
    row.GoalAmount = inTask(tank.GoalAmount / tank.UnitScale);
    row.SimulationTime = setup.simTimeForTP;
    row.BaseMoney = setup.BaseMoney;
    row.UserInflowTP = setup.inFlowTPAfter;
    row.UserOutflowTP = setup.outFlowTPAfter;
    row.AfterEveryNTrials = setup.AfterEveryNTrials;
    row.IsUserInFlow = tank.IsUserInFlow;
    row.IsUserOutFlow = tank.IsUserOutFlow;
    row.IsEnvInFlow = tank.IsEnvInFlow;
    row.IsEnvOutFlow = tank.IsEnvOutFlow;
    row.graphicalMode = setup.graphicalMode;
    row.BonusAmount = setup.BonusAmount;
    row.CurrentBonus = tank.CurrentBonus;
    row.TotBonus = tank.TotBonus;
    row.LowerBoundFromGoal = setup.LowerBoundFromGoal;
    row.UpperBoundFromGoal = setup.UpperBoundFromGoal;
    row.ExperimentTimeForInstructions = setup.ExperimentTimeForInstructions;
    row.MaxNumberOfAScenarioType = setup.MaxNumberOfAScenarioType;
    row.IsTimeDriven = setup.IsTimeDriven;
    row.IsBonusOnTimeGap = setup.IsBonusOnTimeGap;
    row.TimeBetweenEnvTries = setup.TimeBetweenEnvTries;
    row.deltaTmeBetweenEnvUsr = setup.deltaTmeBetweenEnvUsr;
    m_store.write([row](store::Connection& c) { store::EventTable::append(c, row); },
                  QStringLiteral("datExperimentTrials"), QStringLiteral("Recording data"));
}

} // namespace aquilevel::recording
