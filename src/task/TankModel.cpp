#include "task/TankModel.h"

#include "config/NumberFormat.h"
#include "recording/EventLog.h"
#include "session/Clock.h"
#include "session/SessionState.h"

#include <cstdlib>

namespace aquilevel::task {

const QString TankModel::kNoUserEffectStatus = QStringLiteral(
    "Ah ha! Your previous request for Inflow and OutFlow cannot be met in this time period!");
const QString TankModel::kEnvironmentStatus = QStringLiteral("Environment Action in Play");
const QString TankModel::kUserFlowStatus = QStringLiteral("User flow Action in Play");

namespace {

QString cellText(const char* who, double quantity)
{
    return QString::fromLatin1(who) + config::pointNumber(quantity);
}

} // namespace

TankModel::TankModel(SessionState& state, TankView& view, recording::EventRecorder& recorder,
                     const Clock& clock)
    : m_state(state), m_view(view), m_recorder(recorder), m_clock(clock)
{
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
    for (qint16 region = UserInflowRegion; region <= EnvOutflowRegion; ++region)
        m_view.PipeWater(region, false);
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

TankModel::Due TankModel::due(qint16 delay, double quantity) const
{
    Due d;
    d.acts = m_state.Trial % m_state.setup.AfterEveryNTrials == 0;
    if (!d.acts)
        return d;
    const qint32 k = m_state.Trial - (delay - 1);
    d.quantity = quantity;
    d.ownOrder = k >= 1;
    // An order from before the session is in play even when it is 0.
    d.inPlay = !d.ownOrder || quantity > 0;
    return d;
}

TankModel::Due TankModel::dueIn() const
{
    return due(m_state.setup.inFlowTPAfter, DueInflow(m_state.Trial));
}

TankModel::Due TankModel::dueOut() const
{
    return due(m_state.setup.outFlowTPAfter, DueOutflow(m_state.Trial));
}

void TankModel::submitOrders(double inflow, double outflow)
{
    SessionState& s = m_state;
    if (!s.setup.IsTimeDriven)
        s.Trial = recording::nextCount(s.Trial, "Trial");
    s.tank.UserInFlow[s.Trial] = inflow;
    s.tank.UserOutFlow[s.Trial] = outflow;
    s.tank.IsUserInFlow = s.tank.IsUserOutFlow = false;
    s.tank.IsEnvInFlow = s.tank.IsEnvOutFlow = false;
    recordEvent(QStringLiteral("Submit Clicked"));
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
    if (in > 0 || out > 0) {
        m_view.PipeWater(UserInflowRegion, false);
        m_view.PipeWater(UserOutflowRegion, false);
        m_view.PipeWater(EnvInflowRegion, true);
        m_view.PipeWater(EnvOutflowRegion, true);
        m_view.tagFlow(TankView::FlowTag::EnvInflow, sim * in);
        m_view.tagFlow(TankView::FlowTag::EnvOutflow, sim * out);
        // Both rates act, whatever their sign, once either is positive.
        tank.AmountInTank =
            ((in - out) * sim + (1 / tank.UnitScale) * tank.AmountInTank) * tank.UnitScale;
        m_view.FillTank(kTankNumber, tank.AmountInTank);
        recordEvent(QStringLiteral("Environment Effect"));
        m_view.setStatus(kEnvironmentStatus);
        m_view.SetEnvInputCell(0, cellText("ENV: ", sim * in));
        m_view.LightInflowCell(1, 0);
        m_view.SetEnvInputCell(1, QString());
        m_view.BlankCell(1, 1);
        m_view.SetEnvOutputCell(0, cellText("ENV: ", sim * out));
        m_view.LightOutflowCell(1, 0);
        m_view.SetEnvOutputCell(1, QString());
        m_view.BlankCell(3, 1);
    }
    if (!s.setup.IsTimeDriven)
        m_view.setSubmitEnabled(false);
    m_view.startStageTimer(TankView::StageTimer::EnvDelay, s.setup.envDelay);
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
        m_view.setStatus(kNoUserEffectStatus);
        recordEvent(QStringLiteral("No User Effect"));
    }

    const Due in = dueIn();
    if (in.acts) {
        if (in.inPlay) {
            m_view.PipeWater(UserInflowRegion, true);
            tank.IsUserInFlow = true;
            m_view.setStatus(kUserFlowStatus);
            m_view.SetUserInputCell(0, cellText("USER: ", in.quantity));
            m_view.LightInflowCell(0, 0);
            m_view.SetUserInputCell(1, QString());
            m_view.BlankCell(0, 1);
            m_view.tagFlow(TankView::FlowTag::UserInflow, in.quantity);
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
            m_view.PipeWater(UserOutflowRegion, true);
            tank.IsUserOutFlow = true;
            m_view.setStatus(kUserFlowStatus);
            m_view.SetUserOutputCell(0, cellText("USER: ", out.quantity));
            m_view.LightOutflowCell(0, 0);
            m_view.SetUserOutputCell(1, QString());
            m_view.BlankCell(2, 1);
            m_view.tagFlow(TankView::FlowTag::UserOutflow, out.quantity);
            if (out.ownOrder)
                tank.UserFlowInPlay = true;
        } else if (s.setup.IsTimeDriven) {
            tank.UserFlowInPlay = false;
        }
        tank.TotalForwardDischarge =
            tank.TotalForwardDischarge - out.quantity + tank.UserOutFlow.value(s.Trial);
    }

    m_view.setSubmitEnabled(false);
    m_view.startStageTimer(TankView::StageTimer::UserDelay, s.setup.userDelay);
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
            m_view.SetUserInputCell(0, QString());
            m_view.BlankCell(0, 0);
            m_view.SetUserInputCell(1, cellText("USER: ", in.quantity));
            m_view.LightInflowCell(0, 1);
            m_view.blankFlowTag(TankView::FlowTag::UserInflow);
            m_view.FillTank(kTankNumber, tank.AmountInTank);
            recordEvent(QStringLiteral("User Inflow"));
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
            m_view.SetUserOutputCell(0, QString());
            m_view.BlankCell(2, 0);
            m_view.SetUserOutputCell(1, cellText("USER: ", out.quantity));
            m_view.LightOutflowCell(0, 1);
            m_view.FillTank(kTankNumber, tank.AmountInTank);
            m_view.blankFlowTag(TankView::FlowTag::UserOutflow);
            recordEvent(QStringLiteral("User Outflow"));
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
        const double low = config::RoundHalfUp((1 / scale) * tank.GoalAmount - setup.LowerBoundFromGoal, 1000);
        const double high = config::RoundHalfUp((1 / scale) * tank.GoalAmount + setup.UpperBoundFromGoal, 1000);
        const double level = config::RoundHalfUp((1 / scale) * amount, 1000);
        earned = low <= level && level <= high;
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
    m_view.showMoney(tank.CurrentBonus, tank.TotBonus, tank.CurrentCost, tank.TotCost);
}

void TankModel::closePeriod()
{
    TankState& tank = m_state.tank;
    CalCost(tank.AmountInTank);
    recordEvent(QStringLiteral("After Cost Calculation"));
    tank.IsEnvInFlow = tank.IsEnvOutFlow = false;
    tank.IsUserInFlow = tank.IsUserOutFlow = false;
}

} // namespace aquilevel::task
