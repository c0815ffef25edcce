#pragma once

#include "task/TankModel.h"

#include <QObject>

#include <functional>
#include <optional>

class QTimer;

namespace aquilevel {
class Clock;
struct SessionState;
namespace store {
class Store;
}
} // namespace aquilevel

namespace aquilevel::task {

// Where the cycle hands the end of the session over to.
class SessionEnds {
public:
    virtual ~SessionEnds() = default;
    // Every period is played: the session ends normally.
    virtual void allPeriodsPlayed() = 0;
    // A step failed; what it had written is dropped. The session ends with the reason.
    virtual void stepFailed(const QString& reason) = 0;
    // The session ended without ending the process (tests, the bot): inside a step, or
    // at the experimenter's gate.
    virtual void endedInStep() = 0;
};

// One period after the other, from Submit to the cost of the period: six single-shot
// timers carry it from step to step. Timer1 is the submit stage, Timer2 the
// environment's clock in time-driven play, tmrEnvDelay/tmrEnvMv and
// tmrUserDelay/tmrUserMv the environment's and the orders' way through their pipes.
// Each step runs the model, writes its rows in one transaction, and tells the view what
// to show. No window is needed: the view may show nothing.
class PeriodCycle final : public QObject {
    Q_OBJECT
public:
    PeriodCycle(SessionState& state, const Clock& clock, store::Store& store,
                recording::Recorder& recorder, PeriodView& view, SessionEnds& ends,
                QObject* parent = nullptr);

    // The state enters the task (amounts in the held form, a new session at its initial
    // amount), before the view shows it.
    void enter();
    // Play begins: in time-driven play the environment's clock starts.
    void start();

    // Submit was pressed; `accepted` checks the orders typed (and says what is wrong).
    void submit(const std::function<bool()>& accepted);

    // Runs one step: deferred while the store is in the middle of an access (its lock
    // back-off lets window events through), committed as one transaction, and ended
    // cleanly when the session ends inside it.
    void runStep(const std::function<void()>& step);

    // Every timer stops and the view shows the end; nothing more happens.
    void halt();
    bool isHalted() const { return m_halted; }

    TankModel& model() { return m_model; }

private:
    QTimer* addTimer(const char* name, void (PeriodCycle::*tick)());
    void show(Stage stage);
    QTime timeOfDay() const;

    void environmentStep();
    void userStep();

    void onTimer1();
    void onTimer2();
    void onEnvDelay();
    void onEnvMv();
    void onUserDelay();
    void onUserMv();

    SessionState& m_state;
    const Clock& m_clock;
    store::Store& m_store;
    recording::Recorder& m_recorder;
    PeriodView& m_view;
    SessionEnds& m_ends;
    TankModel m_model;
    QTimer* m_timer1 = nullptr;
    QTimer* m_timer2 = nullptr;
    QTimer* m_envDelay = nullptr;
    QTimer* m_envMv = nullptr;
    QTimer* m_userDelay = nullptr;
    QTimer* m_userMv = nullptr;
    bool m_halted = false;
    // A Submit press waiting for the submit stage: the period it was pressed in and
    // which order boxes were empty then.
    struct Press {
        qint32 trial = 0;
        bool inflowEmpty = false;
        bool outflowEmpty = false;
    };
    std::optional<Press> m_press;
};

} // namespace aquilevel::task
