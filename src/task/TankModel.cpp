#include "task/TankModel.h"

#include "config/BonusBand.h"
#include "config/NumberFormat.h"
#include "recording/EventTypes.h"
#include "recording/Recorder.h"
#include "session/Clock.h"
#include "session/SessionState.h"

#include <cstdlib>
#include <limits>

namespace aquilevel::task {

const QString TankModel::kNoUserEffectStatus = QStringLiteral(
    "Ah ha! Your previous request for Inflow and OutFlow cannot be met in this time period!");
const QString TankModel::kEnvironmentStatus = QStringLiteral("Environment Action in Play");
const QString TankModel::kUserFlowStatus = QStringLiteral("User flow Action in Play");
const QString TankModel::kStartStatus =
    QStringLiteral("Try to meet the goal line on the tank by adjusting Inflow and Outflow");

TankModel::TankModel(SessionState& state, recording::Recorder& recorder, const Clock& clock)
    : m_state(state), m_recorder(recorder), m_clock(clock)
{
    m_picture.status = kStartStatus;
}

void TankModel::takeHeldForm(SessionState& state)
{
    TankState& tank = state.tank;
    tank.UnitScale = kTankHeightTwips / state.setup.numMarks;
    tank.GoalAmount *= tank.UnitScale;
    state.setup.InitialAmountInTank *= tank.UnitScale;
    tank.AmountInTank *= tank.UnitScale;
}

QTime TankModel::timeOfDay() const
{
    // Whole seconds, no date: the time of day as the clock shows it.
    const QTime now = m_clock.now().time();
    return QTime(now.hour(), now.minute(), now.second());
}

void TankModel::recordEvent(const QString& eventType)
{
    m_state.EventID = recording::nextCount(m_state.EventID, "EventID");
    m_recorder.RecordEvent(eventType);
}

void TankModel::hideStreams()
{
    m_picture.streams.fill(false);
}

bool TankModel::environmentActs() const
{
    return m_state.EnvInFlow.value(m_state.Trial) > 0 || m_state.EnvOutFlow.value(m_state.Trial) > 0;
}

double TankModel::DueInflow(qint32 t) const
{
    const TankState& tank = m_state.tank;
    const qint32 source = t - (m_state.setup.inFlowTPAfter - 1);
    return source <= 0 ? tank.BackOrder.value(t) : tank.UserInFlow.value(source);
}

double TankModel::DueOutflow(qint32 t) const
{
    const TankState& tank = m_state.tank;
    const qint32 source = t - (m_state.setup.outFlowTPAfter - 1);
    return source <= 0 ? tank.ForwardDischarge.value(t) : tank.UserOutFlow.value(source);
}

TankModel::Due TankModel::judgeDue(qint32 trial, qint32 afterEveryNTrials, qint16 delay, double quantity)
{
    Due d;
    d.acts = trial % afterEveryNTrials == 0;
    if (!d.acts)
        return d;
    const qint32 k = trial - (delay - 1);
    d.quantity = quantity;
    d.ownOrder = k >= 1;
    // An order from before the session is in play even when it is 0.
    d.inPlay = !d.ownOrder || quantity > 0;
    return d;
}

TankModel::Due TankModel::due(qint16 delay, double quantity) const
{
    return judgeDue(m_state.Trial, m_state.setup.AfterEveryNTrials, delay, quantity);
}

TankModel::Due TankModel::dueIn() const
{
    return due(m_state.setup.inFlowTPAfter, DueInflow(m_state.Trial));
}

TankModel::Due TankModel::dueOut() const
{
    return due(m_state.setup.outFlowTPAfter, DueOutflow(m_state.Trial));
}

void TankModel::openPeriod()
{
    SessionState& s = m_state;
    s.tank.EnvActedThisPeriod = false;
    s.Trial = recording::nextCount(s.Trial, "Trial");
    s.tank.UserInFlow[s.Trial] = 0;
    s.tank.UserOutFlow[s.Trial] = 0;
}

void TankModel::submitOrders(double inflow, double outflow)
{
    SessionState& s = m_state;
    s.tank.UserInFlow[s.Trial] = inflow;
    s.tank.UserOutFlow[s.Trial] = outflow;
    s.tank.IsUserInFlow = s.tank.IsUserOutFlow = false;
    s.tank.IsEnvInFlow = s.tank.IsEnvOutFlow = false;
    recordEvent(events::kSubmitClicked);
}

void TankModel::EnvironmentDecision()
{
    SessionState& s = m_state;
    TankState& tank = s.tank;
    const double in = s.EnvInFlow.value(s.Trial);
    const double out = s.EnvOutFlow.value(s.Trial);
    const double sim = s.setup.simTimeForTP;

    tank.EnvActionTime = timeOfDay();
    hideStreams();
    tank.IsEnvInFlow = true;
    tank.IsEnvOutFlow = true;
    if (environmentActs()) {
        m_picture.streams[EnvInflowRegion] = m_picture.streams[EnvOutflowRegion] = true;
        // Both rates act, whatever their sign, once either is positive.
        tank.AmountInTank =
            ((in - out) * sim + (1 / tank.UnitScale) * tank.AmountInTank) * tank.UnitScale;
        recordEvent(events::kEnvironmentEffect);
        m_picture.status = kEnvironmentStatus;
        m_picture.envIn = {PipeAt::Entering, true, sim * in};
        m_picture.envOut = {PipeAt::Entering, true, sim * out};
    }
    tank.EnvActedThisPeriod = true;
}

bool TankModel::userFlowInPlayAfterUserStep(bool before) const
{
    bool inPlay = before;
    // The outflow's verdict, when it has one, replaces the inflow's.
    for (const Due& d : {dueIn(), dueOut()}) {
        if (!d.acts || !d.ownOrder)
            continue;
        if (d.inPlay)
            inPlay = true;
        else if (m_state.setup.IsTimeDriven)
            inPlay = false;
    }
    return inPlay;
}

void TankModel::processDecision(bool noUserEffectWritten)
{
    SessionState& s = m_state;
    TankState& tank = s.tank;
    hideStreams();
    // Judged by the two delays, not by the period step of the orders.
    if (!noUserEffectWritten && s.Trial % s.setup.inFlowTPAfter != 0 &&
        s.Trial % s.setup.outFlowTPAfter != 0) {
        m_picture.status = kNoUserEffectStatus;
        recordEvent(events::kNoUserEffect);
    }

    const Due in = dueIn();
    if (in.acts) {
        if (in.inPlay) {
            m_picture.streams[UserInflowRegion] = true;
            tank.IsUserInFlow = true;
            m_picture.status = kUserFlowStatus;
            m_picture.userIn = {PipeAt::Entering, true, in.quantity};
            if (in.ownOrder)
                tank.UserFlowInPlay = true;
        } else if (s.setup.IsTimeDriven) {
            tank.UserFlowInPlay = false;
        }
        // The pipeline total moves in every acting period, delivered or not.
        tank.TotalBackOrder = tank.TotalBackOrder - in.quantity + tank.UserInFlow.value(s.Trial);
    }

    const Due out = dueOut();
    if (out.acts) {
        if (out.inPlay) {
            m_picture.streams[UserOutflowRegion] = true;
            tank.IsUserOutFlow = true;
            m_picture.status = kUserFlowStatus;
            m_picture.userOut = {PipeAt::Entering, true, out.quantity};
            if (out.ownOrder)
                tank.UserFlowInPlay = true;
        } else if (s.setup.IsTimeDriven) {
            tank.UserFlowInPlay = false;
        }
        tank.TotalForwardDischarge =
            tank.TotalForwardDischarge - out.quantity + tank.UserOutFlow.value(s.Trial);
    }

}

void TankModel::deliverDueOrders(bool inflowDelivered)
{
    SessionState& s = m_state;
    TankState& tank = s.tank;
    hideStreams();

    const Due in = dueIn();
    if (in.acts && !inflowDelivered) {
        if (in.inPlay && in.ownOrder)
            tank.UserFlowInPlay = true;
        else if (!in.inPlay && s.setup.IsTimeDriven)
            tank.UserFlowInPlay = false;
        if (in.inPlay) {
            tank.AmountInTank =
                ((1 / tank.UnitScale) * tank.AmountInTank + in.quantity) * tank.UnitScale;
            m_picture.userIn = {PipeAt::Arrived, false, in.quantity};
            recordEvent(events::kUserInflow);
        }
    }

    const Due out = dueOut();
    if (out.acts) {
        if (out.inPlay && out.ownOrder)
            tank.UserFlowInPlay = true;
        else if (!out.inPlay && s.setup.IsTimeDriven)
            tank.UserFlowInPlay = false;
        if (out.inPlay) {
            // Nothing limits the outflow to the water present: the amount may go below 0.
            tank.AmountInTank =
                ((1 / tank.UnitScale) * tank.AmountInTank - out.quantity) * tank.UnitScale;
            m_picture.userOut = {PipeAt::Arrived, false, out.quantity};
            recordEvent(events::kUserOutflow);
        }
    }
}

void TankModel::CalCost(const double& amount)
{
    SessionState& s = m_state;
    const config::ExperimentSetup& setup = s.setup;
    TankState& tank = s.tank;
    const double scale = tank.UnitScale;

    // Exactly at the goal counts as over it, at a cost of 0.
    if (amount >= tank.GoalAmount)
        tank.CurrentCost = (amount - tank.GoalAmount) * setup.CostOverFlowPerAmount * (1 / scale);
    else
        tank.CurrentCost = (tank.GoalAmount - amount) * setup.CostUnderFlowPerAmount * (1 / scale);
    tank.TotCost += tank.CurrentCost;

    bool earned = false;
    if (!setup.IsBonusOnTimeGap) {
        earned = config::inBonusBand((1 / scale) * amount, (1 / scale) * tank.GoalAmount,
                                     setup.LowerBoundFromGoal, setup.UpperBoundFromGoal);
    } else {
        const double in = s.EnvInFlow.value(s.Trial);
        const double out = s.EnvOutFlow.value(s.Trial);
        // Midnight means no Submit yet in this run of the program.
        const bool submitted = tank.SubmitTime != QTime(0, 0);
        if ((in > 0 || out > 0) && submitted) {
            tank.SubmitEnvGap = std::abs(tank.SubmitTime.secsTo(tank.EnvActionTime));
            earned = setup.deltaTmeBetweenEnvUsr / 1000 >= tank.SubmitEnvGap;
        }
    }
    if (earned) {
        tank.CurrentBonus = setup.BonusAmount;
        tank.TotBonus += tank.CurrentBonus;
    } else {
        tank.CurrentBonus = 0;
    }
}

void TankModel::closePeriod()
{
    TankState& tank = m_state.tank;
    CalCost(tank.AmountInTank);
    recordEvent(events::kAfterCost);
    tank.IsEnvInFlow = tank.IsEnvOutFlow = false;
    tank.IsUserInFlow = tank.IsUserOutFlow = false;
}

void TankModel::environmentArrives()
{
    if (!environmentActs())
        return;
    // The period's own flows: in time-driven play the clock may have opened the next
    // period since the environment's step began.
    const double sim = m_state.setup.simTimeForTP;
    m_picture.envIn = {PipeAt::Arrived, false, sim * m_state.EnvInFlow.value(m_state.Trial)};
    m_picture.envOut = {PipeAt::Arrived, false, sim * m_state.EnvOutFlow.value(m_state.Trial)};
}

void TankModel::environmentGone()
{
    if (environmentActs())
        m_picture.envIn.at = m_picture.envOut.at = PipeAt::Empty;
}

void TankModel::ordersGone()
{
    m_picture.userIn.at = m_picture.userOut.at = PipeAt::Empty;
    m_picture.status.clear();
}

double largestOrder(double topLabelValue)
{
    return topLabelValue > 0 ? 10 * topLabelValue : std::numeric_limits<double>::infinity();
}

} // namespace aquilevel::task
