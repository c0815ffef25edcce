#pragma once

#include "task/TankView.h"

#include <QTime>

namespace aquilevel {
class Clock;
struct SessionState;
namespace recording {
class EventRecorder;
}
} // namespace aquilevel

namespace aquilevel::task {

// The steps of a time period on the session's tank state: the environment step, the
// user step with its delay pipeline, the delivery of what falls due, and the cost step.
// Each step shows its effects through a TankView and writes its events as it goes.
class TankModel final {
public:
    TankModel(SessionState& state, TankView& view, recording::EventRecorder& recorder,
              const Clock& clock);

    // The participant's orders for a period: in participant-paced play the period
    // opens here (Trial advances); in time-driven play they act on the current one.
    // Writes "Submit Clicked".
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

    // Advances EventID and writes an event row.
    void recordEvent(const QString& eventType);

    // The quantity due in period t from the delay pipeline.
    double DueInflow(qint32 t) const;
    double DueOutflow(qint32 t) const;

    // Status texts of the steps.
    static const QString kNoUserEffectStatus;
    static const QString kEnvironmentStatus;
    static const QString kUserFlowStatus;

private:
    struct Due {
        bool acts = false;      // the period is one in which orders are acted on
        bool inPlay = false;    // a quantity is delivered (an initial order even when 0)
        bool ownOrder = false;  // it is the participant's own order, not an initial one
        double quantity = 0;
    };
    Due dueIn() const;
    Due dueOut() const;
    Due due(qint16 delay, double quantity) const;

    QTime timeOfDay() const;
    void hideStreams();

    SessionState& m_state;
    TankView& m_view;
    recording::EventRecorder& m_recorder;
    const Clock& m_clock;
};

} // namespace aquilevel::task
