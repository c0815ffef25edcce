#pragma once

#include "task/PeriodView.h"

#include <QTime>

namespace aquilevel {
class Clock;
struct SessionState;
namespace recording {
class Recorder;
}
} // namespace aquilevel

namespace aquilevel::task {

// The height of the tank in the drawing's units (twips). Amounts are held as heights in
// them: one scale mark per unit of the labelled scale, numMarks marks to the top.
constexpr double kTankHeightTwips = 3585;

// The steps of a time period on the session's tank state: the environment step, the
// user step with its delay pipeline, the delivery of what falls due, and the cost step.
// Each step keeps the period's picture up to date and writes its events as it goes; it
// needs no window.
class TankModel final {
public:
    TankModel(SessionState& state, recording::Recorder& recorder, const Clock& clock);

    // The amounts enter the task: UnitScale is set from the scale marks, and the goal,
    // the initial amount and the amount in the tank are multiplied by it (the held
    // form). Once per session, when the trial screen opens.
    static void takeHeldForm(SessionState& state);

    // The next period opens (Trial advances) with no orders of its own yet.
    void openPeriod();
    // The participant's orders for the current period. Writes "Submit Clicked".
    void submitOrders(double inflow, double outflow);

    // The environment's flows of the period act on the tank.
    void EnvironmentDecision();
    // The orders that fall due this period come out of the pipeline and are shown.
    // noUserEffectWritten: the step was interrupted after its "No User Effect" row, which
    // is not written again.
    void processDecision(bool noUserEffectWritten = false);
    // What processDecision found due reaches the tank ("User Inflow", "User Outflow").
    // inflowDelivered: the step was interrupted after the inflow's row; only the outflow
    // is left to deliver.
    void deliverDueOrders(bool inflowDelivered = false);
    // UserFlowInPlay as a user step of the current period leaves it, from `before`.
    bool userFlowInPlayAfterUserStep(bool before) const;
    // Cost and bonus of the period for a held amount (the callers pass AmountInTank).
    void CalCost(const double& amount);
    // The end of a period: cost and bonus, "After Cost Calculation", flags cleared.
    void closePeriod();

    // The environment's flows reach the end of their pipes, then leave them.
    void environmentArrives();
    void environmentGone();
    // The delivered orders leave their pipes.
    void ordersGone();

    const PeriodPicture& picture() const { return m_picture; }

    // Advances EventID and writes an event row.
    void recordEvent(const QString& eventType);

    // The quantity due in period t from the delay pipeline.
    double DueInflow(qint32 t) const;
    double DueOutflow(qint32 t) const;

    // Status texts of the steps.
    static const QString kNoUserEffectStatus;
    static const QString kEnvironmentStatus;
    static const QString kUserFlowStatus;
    static const QString kStartStatus;

    // What the pipeline makes of the quantity due in a period (DueInflow, DueOutflow).
    struct Due {
        bool acts = false;      // the period is one in which orders are acted on
        bool inPlay = false;    // a quantity is delivered (an initial order even when 0)
        bool ownOrder = false;  // it is the participant's own order, not an initial one
        double quantity = 0;
    };
    // The rule by itself, for whatever else reads a session (a replay of its rows).
    static Due judgeDue(qint32 trial, qint32 afterEveryNTrials, qint16 delay, double quantity);

private:
    Due dueIn() const;
    Due dueOut() const;
    Due due(qint16 delay, double quantity) const;

    QTime timeOfDay() const;
    void hideStreams();

    bool environmentActs() const;

    SessionState& m_state;
    recording::Recorder& m_recorder;
    const Clock& m_clock;
    PeriodPicture m_picture;
};

// The largest order one period takes: ten times the tank's full scale (the number of its
// top scale label). A slip of a few extra digits is refused, while every order a tank of
// that size could use is taken. A full scale that is no positive number sets no bound.
double largestOrder(double topLabelValue);

} // namespace aquilevel::task
