#pragma once

#include <QList>
#include <QString>
#include <QTime>

#include <stdexcept>

namespace aquilevel {

class Session;

// The saved state of a returning participant cannot be taken up: a field of the newest
// event row (or of an order still on its way) is empty, missing or holds something that
// is not a number of the kind it should be. The message names the participant, the
// version, the table and the field.
class ResumeError : public std::runtime_error {
public:
    ResumeError(const QString& participant, const QString& version, const QString& table,
                const QString& field, const QString& problem);

    QString message() const { return QString::fromStdString(what()); }
    const QString& participant() const { return m_participant; }
    const QString& version() const { return m_version; }
    const QString& table() const { return m_table; }
    const QString& field() const { return m_field; }

private:
    QString m_participant;
    QString m_version;
    QString m_table;
    QString m_field;
};

// Takes up the state of an interrupted session from the participant's newest row of the
// event log `table` (the highest EventID among the rows of the session's Subject and
// Version, names compared without regard to letter case) and returns its period, which
// the caller keeps as Trial. Restored: EventID, the money, the pipeline totals, the
// amount (in units), the four flow flags and the display mode, time-driven mode, bonus
// rule, bonus amount and timing the session was started with, which replace those of
// the setup just loaded. The per-period pipeline arrays are not read back: InitSession
// rebuilds them from the setup.
// Returns 0 and changes nothing when the participant has no row or `table` is empty.
// Throws ResumeError, with the state left as it was, when a field cannot be read.
qint32 RestoreLastState(Session& session, const QString& table);

// The participant's inflow (outflow) order of period `trial`, from its latest event row;
// 0 when the period has no row or `table` is empty. Throws ResumeError when the order
// cannot be read.
double GetUserInFlow(Session& session, const QString& table, qint32 trial);
double GetUserOutFlow(Session& session, const QString& table, qint32 trial);

// Reloads the orders of a resumed session that are still on their way into UserInFlow
// and UserOutFlow (zero arrays for periods 0 to MaxTrial + 1): every period up to Trial
// when the session stopped within the first delay of either flow, otherwise the last
// inFlowTPAfter (outFlowTPAfter) periods up to and including Trial.
void ReloadPendingOrders(Session& session);

// The event log the session's state is taken up from.
extern const QString kEventLogTable;

// One row of a participant's event log, as far as the resume needs it.
struct LoggedEvent {
    qint32 Trial = 0;
    QString eventType;
    double UserInFlow = 0;
    double UserOutFlow = 0;
    QTime time; // of day, when the row was written
};

// The participant's event rows, oldest first.
QList<LoggedEvent> LoggedEvents(Session& session);

// True when the participant has any event row (read as `status` says).
bool HasLoggedEvents(Session& session, const QString& status);


} // namespace aquilevel
