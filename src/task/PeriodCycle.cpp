#include "task/PeriodCycle.h"

#include "config/NumberFormat.h"
#include "recording/EventTypes.h"
#include "recording/Recorder.h"
#include "session/Clock.h"
#include "session/ProcessEnd.h"
#include "session/SessionState.h"
#include "session/StationHold.h"
#include "store/Store.h"

#include <QTimer>

namespace aquilevel::task {

PeriodCycle::PeriodCycle(SessionState& state, const Clock& clock, store::Store& store,
                         recording::Recorder& recorder, PeriodView& view, SessionEnds& ends,
                         QObject* parent)
    : QObject(parent), m_state(state), m_clock(clock), m_store(store), m_recorder(recorder),
      m_view(view), m_ends(ends), m_model(state, recorder, clock)
{
    setObjectName(QStringLiteral("periodCycle"));
    m_timer1 = addTimer("Timer1", &PeriodCycle::onTimer1);
    m_timer2 = addTimer("Timer2", &PeriodCycle::onTimer2);
    m_envDelay = addTimer("tmrEnvDelay", &PeriodCycle::onEnvDelay);
    m_envMv = addTimer("tmrEnvMv", &PeriodCycle::onEnvMv);
    m_userDelay = addTimer("tmrUserDelay", &PeriodCycle::onUserDelay);
    m_userMv = addTimer("tmrUserMv", &PeriodCycle::onUserMv);
}

QTimer* PeriodCycle::addTimer(const char* name, void (PeriodCycle::*tick)())
{
    auto* timer = new QTimer(this);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setSingleShot(true); // one start, one tick
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, tick] { runStep([this, tick] { (this->*tick)(); }); });
    return timer;
}

QTime PeriodCycle::timeOfDay() const
{
    const QTime now = m_clock.now().time();
    return QTime(now.hour(), now.minute(), now.second());
}

void PeriodCycle::show(Stage stage)
{
    m_view.showStage(stage, m_model.picture());
}

void PeriodCycle::enter()
{
    SessionState& s = m_state;
    s.InTask = true;
    TankModel::takeHeldForm(s);
    if (s.Trial == 0)
        s.tank.AmountInTank = s.setup.InitialAmountInTank;
    s.tank.PeriodStartTime = timeOfDay();
}

void PeriodCycle::start()
{
    const config::ExperimentSetup& setup = m_state.setup;
    m_timer2->setInterval(int(config::roundHalfEven(setup.TimeBetweenEnvTries)));
    if (setup.IsTimeDriven)
        m_timer2->start();
}

void PeriodCycle::runStep(const std::function<void()>& step)
{
    // A granted exit ends the session inside the gate's event loop; whatever falls due
    // before that loop has returned belongs to a session that is over.
    if (m_halted || m_state.ExitGranted)
        return;
    if (m_store.isBusy()) {
        // The store lets window events through while it waits out a lock; whatever
        // falls due then runs once the access has finished, never inside it.
        m_store.whenIdle(this, [this, step] { runStep(step); }, 1);
        return;
    }
    QString failure;
    try {
        // Everything one step writes reaches the file together or not at all: a crash
        // between two of its rows would leave a step that no resume can tell apart.
        store::Store::Group group(m_store);
        step();
        group.commit();
    } catch (const SessionOver&) {
        halt();
        m_ends.endedInStep();
        return;
    } catch (const HoldLost&) {
        // Another station plays the participant now; the hold told the experimenter.
        halt();
        return;
    } catch (const std::exception& error) {
        // The half-done step has been dropped with its group.
        failure = QString::fromStdString(error.what());
    }
    if (failure.isNull())
        return;
    try {
        halt();
        m_ends.stepFailed(failure);
    } catch (const SessionOver&) {
        m_ends.endedInStep();
    }
}

void PeriodCycle::halt()
{
    for (QTimer* t : {m_timer1, m_timer2, m_envDelay, m_envMv, m_userDelay, m_userMv})
        t->stop();
    if (!m_halted) {
        m_halted = true;
        show(Stage::Stopped);
    }
}

void PeriodCycle::submit(const std::function<bool()>& accepted)
{
    runStep([this, accepted] {
        if (!accepted())
            return;
        SessionState& s = m_state;
        show(Stage::Submitted);
        s.tank.SubmitTime = timeOfDay();
        if (!s.setup.IsTimeDriven)
            s.tank.PeriodEndTime = timeOfDay();
        // The press is stored by the submit stage, together with the orders it opens the
        // period with: what the rows say about the press is taken now.
        const Orders typed = m_view.orders();
        m_press = Press{s.Trial, typed.inflowEmpty, typed.outflowEmpty};
        m_timer1->start(1);
    });
}

// --- The stages of a period ----------------------------------------------------------

void PeriodCycle::environmentStep()
{
    m_model.EnvironmentDecision();
    show(Stage::EnvironmentActs);
    m_envDelay->start(m_state.setup.envDelay);
}

void PeriodCycle::userStep()
{
    m_model.processDecision();
    show(Stage::OrdersDue);
    m_userDelay->start(m_state.setup.userDelay);
}

void PeriodCycle::onTimer1()
{
    SessionState& s = m_state;
    const bool timeDriven = s.setup.IsTimeDriven;
    if (m_press) {
        m_recorder.AddSubmitTime(m_press->trial);
        if (!timeDriven)
            m_recorder.AddTrialSummary(m_press->inflowEmpty, m_press->outflowEmpty);
        m_press.reset();
    }
    // In time-driven play the last period is played like every other one: its Submit
    // places the orders and writes its row, so that a resume sees the user step it runs.
    if (timeDriven || s.Trial < s.setup.MaxTrial) {
        s.tank.PeriodStartTime = timeOfDay();
        const Orders typed = m_view.orders();
        // In participant-paced play the orders open the next period; in time-driven
        // play they act on the one the clock has open.
        if (!timeDriven)
            m_model.openPeriod();
        m_model.submitOrders(typed.inflow, typed.outflow);
        show(Stage::PeriodOpened);
        if (!timeDriven)
            environmentStep();
    }
    if (timeDriven)
        userStep();
}

void PeriodCycle::onTimer2()
{
    SessionState& s = m_state;
    s.tank.PeriodEndTime = timeOfDay();
    if (s.Trial >= s.setup.MaxTrial)
        m_ends.allPeriodsPlayed();
    const Orders typed = m_view.orders();
    m_recorder.AddTrialSummary(typed.inflowEmpty, typed.outflowEmpty);
    m_model.openPeriod();
    s.tank.PeriodStartTime = timeOfDay();
    show(Stage::ClockTicked);
    if (s.tank.UserFlowInPlay)
        environmentStep();
    else
        userStep();
}

void PeriodCycle::onEnvDelay()
{
    m_model.environmentArrives();
    show(Stage::EnvironmentArrives);
    m_envMv->start(m_state.setup.EnvMv);
}

void PeriodCycle::onEnvMv()
{
    SessionState& s = m_state;
    m_model.environmentGone();
    show(Stage::EnvironmentGone);
    if (!s.setup.IsTimeDriven) {
        userStep();
        return;
    }
    m_model.CalCost(s.tank.AmountInTank);
    m_recorder.UpdateTrialSummary();
    m_model.recordEvent(events::kAfterCost);
    show(Stage::EnvironmentCosted);
    m_timer2->start(int(config::roundHalfEven(s.setup.TimeBetweenEnvTries)));
}

void PeriodCycle::onUserDelay()
{
    m_model.deliverDueOrders();
    show(Stage::OrdersDelivered);
    m_userMv->start(m_state.setup.UsrMv);
}

void PeriodCycle::onUserMv()
{
    SessionState& s = m_state;
    m_model.ordersGone();
    m_model.closePeriod();
    show(Stage::PeriodClosed);
    m_recorder.UpdateTrialSummary();
    if (s.setup.IsTimeDriven) {
        if (!s.tank.EnvActedThisPeriod)
            environmentStep();
    } else if (s.Trial == s.setup.MaxTrial) {
        m_ends.allPeriodsPlayed();
    }
}

} // namespace aquilevel::task
