#pragma once

#include <QString>

namespace aquilevel {
class Session;
}

namespace aquilevel::recording {

// Where the task's events go.
class EventRecorder {
public:
    virtual ~EventRecorder() = default;
    // Appends one event row from the session state as it is at this moment.
    virtual void RecordEvent(const QString& eventType) = 0;
};

// The event log: one complete snapshot of the session per event in datExperimentTrials.
class EventLog final : public EventRecorder {
public:
    explicit EventLog(Session& session) : m_session(session) {}
    void RecordEvent(const QString& eventType) override;

private:
    Session& m_session;
};

// Adds 1 to a 32-bit counter (EventID, Trial); running past the largest value is an
// error, never a wrap to negative numbers.
qint32 nextCount(qint32 value, const char* what);

} // namespace aquilevel::recording
