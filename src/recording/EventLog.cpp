#include "recording/Recorder.h"

#include "recording/RowFlags.h"
#include "session/Clock.h"
#include "session/SessionState.h"
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
    const auto inTask = [&](double value) { return s.InTask ? QVariant(value) : QVariant(0); };

    auto rs = m_store.OpenTable("datExperimentTrials", false, QStringLiteral("Recording data"));
    rs->addNew();
    rs->setField(QStringLiteral("Subject"), s.Subject);
    rs->setField(QStringLiteral("Version"), s.Version);
    rs->setField(QStringLiteral("eventType"), eventType);
    rs->setField(QStringLiteral("EventID"), s.EventID);
    rs->setField(QStringLiteral("Trial"), t);
    rs->setField(QStringLiteral("Date"), now.date());
    rs->setField(QStringLiteral("Time"), now.time().toString(QStringLiteral("HH:mm:ss")));
    rs->setField(QStringLiteral("CurrentCost"), tank.CurrentCost);
    rs->setField(QStringLiteral("TotCost"), tank.TotCost);
    rs->setField(QStringLiteral("UserInFlow"), inTask(tank.UserInFlow.value(t)));
    rs->setField(QStringLiteral("UserOutFlow"), inTask(tank.UserOutFlow.value(t)));
    rs->setField(QStringLiteral("EnvInFlow"), s.EnvInFlow.value(t));
    rs->setField(QStringLiteral("EnvOutFlow"), s.EnvOutFlow.value(t));
    rs->setField(QStringLiteral("BackOrder"), tank.BackOrder.value(t));
    rs->setField(QStringLiteral("ForwardDischarge"), tank.ForwardDischarge.value(t));
    rs->setField(QStringLiteral("TotalBackOrder"), tank.TotalBackOrder);
    rs->setField(QStringLiteral("TotalForwardDischarge"), tank.TotalForwardDischarge);
    rs->setField(QStringLiteral("AmountInTank"), inTask(tank.AmountInTank / tank.UnitScale));
    rs->setField(QStringLiteral("GoalAmount"), inTask(tank.GoalAmount / tank.UnitScale));
    rs->setField(QStringLiteral("SimulationTime"), setup.simTimeForTP);
    rs->setField(QStringLiteral("BaseMoney"), setup.BaseMoney);
    rs->setField(QStringLiteral("UserInflowTP"), setup.inFlowTPAfter);
    rs->setField(QStringLiteral("UserOutflowTP"), setup.outFlowTPAfter);
    rs->setField(QStringLiteral("AfterEveryNTrials"), setup.AfterEveryNTrials);
    setFlowFlags(*rs, tank, setup);
    rs->setField(QStringLiteral("BonusAmount"), setup.BonusAmount);
    rs->setField(QStringLiteral("CurrentBonus"), tank.CurrentBonus);
    rs->setField(QStringLiteral("TotBonus"), tank.TotBonus);
    rs->setField(QStringLiteral("LowerBoundFromGoal"), setup.LowerBoundFromGoal);
    rs->setField(QStringLiteral("UpperBoundFromGoal"), setup.UpperBoundFromGoal);
    rs->setField(QStringLiteral("ExperimentTimeForInstructions"), setup.ExperimentTimeForInstructions);
    rs->setField(QStringLiteral("MaxNumberOfAScenarioType"), setup.MaxNumberOfAScenarioType);
    setFlag(*rs, "IsTimeDriven", setup.IsTimeDriven);
    setFlag(*rs, "IsBonusOnTimeGap", setup.IsBonusOnTimeGap);
    rs->setField(QStringLiteral("TimeBetweenEnvTries"), setup.TimeBetweenEnvTries);
    rs->setField(QStringLiteral("deltaTmeBetweenEnvUsr"), setup.deltaTmeBetweenEnvUsr);
    rs->update();
    rs->close();
}

} // namespace aquilevel::recording
