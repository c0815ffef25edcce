#include "task/InterruptedPeriod.h"

#include "recording/EventTypes.h"
#include "recording/Recorder.h"
#include "session/Resume.h"
#include "session/Session.h"
#include "store/Store.h"
#include "task/TankModel.h"

#include <QScopedValueRollback>

namespace aquilevel {

namespace {

using events::kAfterCost;
using events::kEnvironmentEffect;
using events::kNoUserEffect;
using events::kSubmitClicked;
using events::kUserInflow;
using events::kUserOutflow;

// How far a user step got: each stage writes the row that names it.
enum class UserStage { Started, NoUserEffect, InflowDelivered, OutflowDelivered };

UserStage stageOf(const QString& eventType)
{
    if (eventType == kNoUserEffect)
        return UserStage::NoUserEffect;
    if (eventType == kUserInflow)
        return UserStage::InflowDelivered;
    if (eventType == kUserOutflow)
        return UserStage::OutflowDelivered;
    return UserStage::Started;
}

void clearFlowFlags(TankState& tank)
{
    tank.IsUserInFlow = tank.IsUserOutFlow = tank.IsEnvInFlow = tank.IsEnvOutFlow = false;
}

// The environment's step of a period acted when its row was written; one that is run
// again now is dated to the newest row, the moment the session stopped.
void dateEnvironmentStep(TankState& tank, const QList<LoggedEvent>& events, qint32 period)
{
    for (const LoggedEvent& e : events)
        if (e.Trial == period && e.eventType == kEnvironmentEffect && e.time.isValid())
            tank.EnvActionTime = e.time;
}

// The rest of a user step from the stage it reached: the pipeline, the deliveries, the
// cost row and the completed summary.
void finishUserStep(Session& session, task::TankModel& model, recording::Recorder& log, UserStage stage)
{
    TankState& tank = session.state.tank;
    const bool before = tank.UserFlowInPlay;
    if (stage == UserStage::Started || stage == UserStage::NoUserEffect)
        model.processDecision(stage == UserStage::NoUserEffect);
    if (stage != UserStage::OutflowDelivered)
        model.deliverDueOrders(stage == UserStage::InflowDelivered);
    tank.UserFlowInPlay = model.userFlowInPlayAfterUserStep(before);
    model.closePeriod();
    log.UpdateTrialSummary();
}

// Participant-paced: Submit Clicked and the environment step, then the user step, then
// the cost row. The newest row says how far the period got.
void finishPacedPeriod(Session& session, task::TankModel& model, recording::Recorder& log,
                       const QList<LoggedEvent>& events)
{
    const QString newest = events.isEmpty() ? QString() : events.last().eventType;
    TankState& tank = session.state.tank;
    if (newest.isEmpty() || newest == kAfterCost || !session.state.Trial) {
        clearFlowFlags(tank); // the end of a period clears them after its row
        return;
    }
    // The environment step runs in the same step as Submit Clicked, and without a flow
    // it writes no row: run it again, as it leaves the flags.
    if (newest == kSubmitClicked)
        model.EnvironmentDecision();
    dateEnvironmentStep(tank, events, session.state.Trial);
    const UserStage stage = newest == kSubmitClicked || newest == kEnvironmentEffect
                                ? UserStage::Started
                                : stageOf(newest);
    finishUserStep(session, model, log, stage);
}

// Time-driven: the clock's tick opens the period and runs the user step first (when no
// participant's order is in play) or the environment step; the end of a user step runs
// the environment step when it has not acted yet; every Submit runs a user step. The
// rows of the period, replayed against these rules, tell which steps are still open.
// Where a Submit's user animation and the environment's ran at the same time, a cost
// row is taken as the end of the user step.
void finishTimedPeriod(Session& session, task::TankModel& model, recording::Recorder& log,
                       const QList<LoggedEvent>& events)
{
    SessionState& s = session.state;
    TankState& tank = s.tank;
    const qint32 period = s.Trial;

    // UserFlowInPlay is rebuilt from the first period on: each tick runs the user step
    // while it is false, each Submit runs one, and each user step leaves it as its due
    // orders say (the orders of a period are 0 until a Submit).
    QVector<double> finalIn = tank.UserInFlow;
    QVector<double> finalOut = tank.UserOutFlow;
    for (const LoggedEvent& e : events) {
        if (e.Trial >= 0 && e.Trial < finalIn.size()) {
            finalIn[e.Trial] = e.UserInFlow;
            finalOut[e.Trial] = e.UserOutFlow;
        }
    }
    const QVector<double> keptIn = tank.UserInFlow;
    const QVector<double> keptOut = tank.UserOutFlow;
    tank.UserInFlow = finalIn;
    tank.UserOutFlow = finalOut;
    const auto setOrders = [&](qint32 t, double in, double out) {
        if (t >= 0 && t < tank.UserInFlow.size()) {
            tank.UserInFlow[t] = in;
            tank.UserOutFlow[t] = out;
        }
    };
    // The periods replayed in order; the state of the newest one is what is left open.
    // A period without rows of its own starts from the end of the one before: a user
    // step that ended there cleared the flags.
    bool inPlay = false;
    bool userOpen = false, envActed = false, envOpen = false;
    bool endedUserStep = false, envStartedAtUserEnd = false;
    UserStage stage = UserStage::Started;
    int next = 0;
    for (qint32 t = 0; t <= period; ++t) {
        s.Trial = t;
        setOrders(t, 0, 0);
        // The tick (none before period 1) runs the user step when no order is in play,
        // else the environment's.
        const bool ticked = t > 0;
        userOpen = ticked && !inPlay;
        if (userOpen)
            inPlay = model.userFlowInPlayAfterUserStep(inPlay);
        envActed = envOpen = ticked && !userOpen;
        stage = UserStage::Started;
        for (; next < events.size() && events.at(next).Trial <= t; ++next) {
            const LoggedEvent& e = events.at(next);
            if (e.Trial != t)
                continue;
            endedUserStep = envStartedAtUserEnd = false;
            if (e.eventType == kSubmitClicked) {
                setOrders(t, e.UserInFlow, e.UserOutFlow);
                inPlay = model.userFlowInPlayAfterUserStep(inPlay);
                userOpen = true;
                stage = UserStage::Started;
            } else if (e.eventType == kEnvironmentEffect) {
                envActed = envOpen = true;
            } else if (e.eventType == kAfterCost) {
                if (userOpen) {
                    userOpen = false;
                    endedUserStep = true;
                    if (ticked && !envActed)
                        envActed = envOpen = envStartedAtUserEnd = true;
                } else {
                    envOpen = false;
                }
            } else if (userOpen) {
                stage = stageOf(e.eventType);
            }
        }
        if (t < period)
            setOrders(t, finalIn.value(t), finalOut.value(t));
    }
    // The orders of the period itself are the replay's: 0 until a Submit.
    const double periodIn = tank.UserInFlow.value(period);
    const double periodOut = tank.UserOutFlow.value(period);
    tank.UserInFlow = keptIn;
    tank.UserOutFlow = keptOut;
    setOrders(period, periodIn, periodOut);
    const bool ticked = period > 0;

    tank.UserFlowInPlay = inPlay;
    tank.EnvActedThisPeriod = envActed;
    dateEnvironmentStep(tank, events, period);
    if (endedUserStep) {
        clearFlowFlags(tank); // the end of a user step clears them after its row
        // ... and, when the environment had not acted, runs its step (no row without a
        // flow), which sets both of its flags.
        if (envStartedAtUserEnd)
            tank.IsEnvInFlow = tank.IsEnvOutFlow = true;
    }
    if (userOpen) {
        finishUserStep(session, model, log, stage);
        if (ticked && !envActed) {
            model.EnvironmentDecision();
            if (!events.isEmpty())
                tank.EnvActionTime = events.last().time;
            envOpen = true;
        }
    }
    if (envOpen) {
        // The end of the environment's animation.
        model.CalCost(tank.AmountInTank);
        log.UpdateTrialSummary();
        model.recordEvent(kAfterCost);
    }
}

// The period is finished in the held form, as the task computes it, so that its rows
// carry the very numbers an uninterrupted session writes. The amount goes back to units
// afterwards as it is stored, held / UnitScale: the task's held form takes that quotient
// up again exactly, since the double nearest to held / UnitScale lies among those whose
// product with UnitScale rounds to the held amount whenever any does, and every held
// amount is such a product.
class HeldFormWhileFinishing {
public:
    explicit HeldFormWhileFinishing(SessionState& state)
        : m_state(state), m_goal(state.tank.GoalAmount), m_initial(state.setup.InitialAmountInTank),
          m_scale(state.tank.UnitScale)
    {
        if (state.setup.numMarks > 0) // a setup without scale marks stays in units
            task::TankModel::takeHeldForm(state);
    }
    ~HeldFormWhileFinishing()
    {
        TankState& tank = m_state.tank;
        tank.AmountInTank = tank.AmountInTank / tank.UnitScale;
        tank.GoalAmount = m_goal;
        tank.UnitScale = m_scale;
        m_state.setup.InitialAmountInTank = m_initial;
    }
    HeldFormWhileFinishing(const HeldFormWhileFinishing&) = delete;
    HeldFormWhileFinishing& operator=(const HeldFormWhileFinishing&) = delete;

private:
    SessionState& m_state;
    double m_goal;
    double m_initial;
    double m_scale;
};

} // namespace

void FinishInterruptedPeriod(Session& session)
{
    SessionState& s = session.state;
    const QList<LoggedEvent> events = LoggedEvents(session);
    // The time-gap bonus measures from the latest press, also one before the crash.
    s.tank.SubmitTime = recording::LastPressTime(session.store(), s.Subject, s.Version);

    // The rows finished here are the task's own, with its amounts.
    const QScopedValueRollback inTask(s.InTask, true);
    const HeldFormWhileFinishing held(s);
    recording::StoreRecorder log(session.store(), session.clock(), s);
    task::TankModel model(s, log, session.clock());
    store::Store::Group rows(session.store());
    if (!s.setup.IsTimeDriven) {
        finishPacedPeriod(session, model, log, events);
    } else {
        // The clock opens a period with its summary row; its first event row may not
        // have come yet.
        const qint32 opened = recording::LastOpenedPeriod(session.store(), s.Subject, s.Version);
        if (opened > s.Trial && opened <= s.setup.MaxTrial) {
            s.Trial = opened;
            if (opened < s.tank.UserInFlow.size()) {
                s.tank.UserInFlow[opened] = 0;
                s.tank.UserOutFlow[opened] = 0;
            }
        }
        finishTimedPeriod(session, model, log, events);
    }
    rows.commit();
}

} // namespace aquilevel
