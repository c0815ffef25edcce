#pragma once

#include <QtGlobal>

namespace aquilevel {
class Session;
}

namespace aquilevel::recording {

// The per-period summary (datTrialSummary) and the submit times (datUserTimesSummary).
// Each call opens the store, writes one row and closes everything again.

// Appends the summary row of the period being opened (Trial + 1): its times, its
// environment flows and a copy of the configuration. The participant's flows are
// provisional: 0 for an empty entry box, otherwise the orders stored for the current
// Trial (the previous period's). Consumes PeriodStartTime and PeriodEndTime: both are
// reset to midnight afterwards.
void AddTrialSummary(Session& session, bool inflowBoxEmpty, bool outflowBoxEmpty);

// Completes the summary row of the current Trial with the amount, the money and the
// pipeline; in time-driven play also with the participant's flows. A later completion
// of the same period overwrites an earlier one. A period without a row is left alone.
void UpdateTrialSummary(Session& session);

// Appends one submit-time row for the current Trial (or for the period the press was
// made in): the time of the press (SubmitTime in time-driven play, PeriodEndTime in
// participant-paced play).
void AddSubmitTime(Session& session);
void AddSubmitTime(Session& session, qint32 trial);

} // namespace aquilevel::recording
