#pragma once

#include <QString>
#include <QTime>

namespace aquilevel {
class Clock;
struct SessionState;
namespace store {
class Store;
}
} // namespace aquilevel

namespace aquilevel::recording {

// Where a period's rows go: the event log, the per-period summary and the submit times.
class Recorder {
public:
    virtual ~Recorder() = default;

    // Appends one event row (datExperimentTrials) from the session state as it is now.
    virtual void RecordEvent(const QString& eventType) = 0;

    // Appends the summary row (datTrialSummary) of the period being opened (Trial + 1):
    // its times, its environment flows and a copy of the configuration. The
    // participant's flows are provisional: 0 for an empty entry box, otherwise the
    // orders stored for the current Trial (the previous period's). Consumes
    // PeriodStartTime and PeriodEndTime: both are reset to midnight afterwards.
    virtual void AddTrialSummary(bool inflowBoxEmpty, bool outflowBoxEmpty) = 0;

    // Completes the summary row of the current Trial with the amount, the money and the
    // pipeline; in time-driven play also with the participant's flows. A later
    // completion of the same period overwrites an earlier one. A period without a row
    // is left alone.
    virtual void UpdateTrialSummary() = 0;

    // Appends one submit-time row (datUserTimesSummary) for the period the press was
    // made in: the time of the press (SubmitTime in time-driven play, PeriodEndTime in
    // participant-paced play).
    virtual void AddSubmitTime(qint32 trial) = 0;
};

// Writes the rows into the store, stamped with the clock's date and time.
class StoreRecorder final : public Recorder {
public:
    StoreRecorder(store::Store& store, const Clock& clock, SessionState& state)
        : m_store(store), m_clock(clock), m_state(state)
    {
    }

    void RecordEvent(const QString& eventType) override;
    void AddTrialSummary(bool inflowBoxEmpty, bool outflowBoxEmpty) override;
    void UpdateTrialSummary() override;
    void AddSubmitTime(qint32 trial) override;

private:
    store::Store& m_store;
    const Clock& m_clock;
    SessionState& m_state;
};

// Keeps nothing: the model timed or run on its own.
class NullRecorder final : public Recorder {
public:
    void RecordEvent(const QString&) override { ++events; }
    void AddTrialSummary(bool, bool) override {}
    void UpdateTrialSummary() override {}
    void AddSubmitTime(qint32) override {}

    long events = 0;
};

// What a resumed session reads back of the rows it wrote before.

// The newest period the participant's summary rows opened; 0 when there is none.
qint32 LastOpenedPeriod(store::Store& store, const QString& subject, const QString& version);
// The time of the participant's latest Submit press; midnight when there was none.
QTime LastPressTime(store::Store& store, const QString& subject, const QString& version);

// Adds 1 to a 32-bit counter (EventID, Trial); running past the largest value is an
// error, never a wrap to negative numbers.
qint32 nextCount(qint32 value, const char* what);

} // namespace aquilevel::recording
