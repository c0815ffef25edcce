#include "session/TankState.h"

#include "config/ExperimentSetup.h"

namespace aquilevel {

QVector<double> periodArray(const config::ExperimentSetup& setup)
{
    return QVector<double>(qMax(setup.MaxTrial + 2, 0), 0.0);
}

namespace {

// An initial order is delivered over periods 1 to delay - 1 (period 1 alone when the
// delay is below 2).
QVector<double> spreadInitialOrder(const config::ExperimentSetup& setup, double order, int delay)
{
    QVector<double> due = periodArray(setup);
    if (delay < 2) {
        due[1] = order;
    } else {
        for (int i = 1; i <= delay - 1 && i < due.size(); ++i)
            due[i] = order / (delay - 1);
    }
    return due;
}

} // namespace

void startNewSession(TankState& tank, const config::ExperimentSetup& setup)
{
    tank = TankState{};
    tank.CurrentCost = 0;
    tank.CurrentBonus = 0;
    tank.TotCost = setup.BaseMoney;
    tank.TotBonus = setup.BaseMoney;
    tank.BackOrder = spreadInitialOrder(setup, setup.InitialBackOrder, setup.inFlowTPAfter);
    tank.TotalBackOrder = setup.InitialBackOrder;
    tank.ForwardDischarge =
        spreadInitialOrder(setup, setup.InitialForwardDischarge, setup.outFlowTPAfter);
    tank.TotalForwardDischarge = setup.InitialForwardDischarge;
    tank.UserInFlow = periodArray(setup);
    tank.UserOutFlow = periodArray(setup);
    tank.AmountInTank = setup.InitialAmountInTank;
    tank.GoalAmount = setup.GoalLinePoisition;
}

} // namespace aquilevel
