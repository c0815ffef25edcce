#pragma once

#include <QTime>
#include <QVector>

namespace aquilevel::config {
struct ExperimentSetup;
}

namespace aquilevel {

// The tank, its delayed orders and the money, for one session.
struct TankState {
    // Amounts in units until the task begins (TankModel::takeHeldForm), then multiplied
    // by UnitScale (the held form).
    double AmountInTank = 0;
    double GoalAmount = 0;
    double UnitScale = 1;

    // Per period, indexed 0 to MaxTrial + 1.
    QVector<double> UserInFlow;
    QVector<double> UserOutFlow;
    QVector<double> BackOrder;
    QVector<double> ForwardDischarge;

    double TotalBackOrder = 0;
    double TotalForwardDischarge = 0;
    double CurrentCost = 0;
    double TotCost = 0;
    double CurrentBonus = 0;
    double TotBonus = 0;

    bool IsUserInFlow = false;
    bool IsUserOutFlow = false;
    bool IsEnvInFlow = false;
    bool IsEnvOutFlow = false;
    bool UserFlowInPlay = false;
    bool EnvActedThisPeriod = false;

    // Times of day without a date; midnight means "not yet".
    QTime SubmitTime{0, 0};
    QTime EnvActionTime{0, 0};
    qint32 SubmitEnvGap = 0;
    QTime PeriodStartTime{0, 0};
    QTime PeriodEndTime{0, 0};
};

// Zeros for periods 0 to MaxTrial + 1.
QVector<double> periodArray(const config::ExperimentSetup& setup);

// The state a new session starts from: the money at BaseMoney, and the orders already
// under way at the start spread evenly over the periods before the first own order
// can arrive.
void startNewSession(TankState& tank, const config::ExperimentSetup& setup);

} // namespace aquilevel
