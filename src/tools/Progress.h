#pragma once

#include <QDateTime>

#include <cmath>
#include <QList>
#include <QString>
#include <QStringList>

namespace aquilevel {
class Clock;
namespace store {
class Store;
}
} // namespace aquilevel

namespace aquilevel::tools {

struct ToolContext;

// Where one participant of one version stands, from the newest row of the event log
// (the row with the highest EventID; among equal ones the one written last) and the
// registration in datSubject.
struct ParticipantProgress {
    QString version;
    QString subject;
    bool versionKnown = false; // the version still has a tblSetup row
    int maxTrial = 0;          // MaxTrial of the version (0 when unknown)
    bool hasEvents = false;    // false: registered, but no event row yet
    int trial = 0;             // Trial of the newest row
    QString lastEvent;         // eventType of the newest row
    QDateTime lastEventAt;     // Date + Time of the newest row (local time); invalid if unreadable
    QDateTime registeredAt;    // Date + Time of the registration; invalid when not registered
    double baseMoney = 0;      // BaseMoney of the newest row, else of the version
    double totBonus = 0;       // TotBonus of the newest row, else BaseMoney
    QString station;           // the computer that wrote the newest row, or that holds the participant now
    // Date + Time of the oldest row (the session's start); read only without `since`.
    QDateTime firstEventAt;
    QString currencySymbol = QStringLiteral("$"); // CurrencySymbol of the version
    // The last period is done: the newest row belongs to period MaxTrial (or later) and
    // is the "After Cost Calculation" that closes a period.
    bool finished = false;
    // A station holds the participant: a session runs, or stopped without ending.
    bool held = false;
    QDateTime holdRefreshed;   // when that station last refreshed its hold; invalid if unreadable
    qint64 longestStageMs = 0; // the version's longest timed stage (0 when unknown)
    QString mark;              // "pilot", "excluded", or empty (datSubjectMark's newest)
    QString markReason;

    double bonus() const { return totBonus - baseMoney; }
    // The session ended before its last period was done: through the experimenter's
    // exit, Ctrl+X at the instructions, or a release of a station that had stopped.
    bool leftEarly() const { return !finished && !held; }
    // The newest moment known of this participant: the last event, else the registration.
    QDateTime lastActivity() const { return hasEvents ? lastEventAt : registeredAt; }
    // The day the session began: its oldest row's, else the registration's.
    QDate sessionDay() const { return (firstEventAt.isValid() ? firstEventAt : lastActivity()).date(); }
    // Whether the session is paid on `day`: the day of its newest row. A session past
    // midnight, or one taken up again on a later day, is paid once, on the day it ended.
    bool paidOn(const QDate& day) const { return lastActivity().isValid() && lastActivity().date() == day; }
};

// A station whose copy of the program waits at the login, nobody logged in there.
struct WaitingStation {
    QString station;
    QDateTime started;   // when that copy started (UTC); invalid if unreadable
    QDateTime refreshed; // when it last said it waits (UTC); invalid if unreadable
};

// Every participant (of `version`, or of all versions when it is empty), registered or
// with events, ordered by version and then name. One short read-only transaction, so the
// three tables read show the same moment while sessions keep writing. `versionFound`,
// when given, tells whether tblSetup has the version asked for. With `since` (UTC), only
// the participants who wrote an event row or registered at or after it, found through
// the index of the moments rows were written rather than by reading every participant.
// `waiting`, when given, receives in the same transaction the stations waiting at the
// login: each computer's newest run, unless a participant held there since it started
// shows it already.
QList<ParticipantProgress> readProgress(store::Store& store, const QString& version = {},
                                        bool* versionFound = nullptr, const QDateTime& since = {},
                                        QList<WaitingStation>* waiting = nullptr);

// What a lab can act on: "finished", "left early", "playing", "idle" (no row for longer
// than the version's longest stage while the station still runs: the participant thinks
// or is away) or "idle (possibly crashed)" (the station has stopped refreshing its hold).
QString stateOf(const ParticipantProgress& p, const QDateTime& now);

// A waiting station's state: "waiting at the login", "not responding" once it has not
// refreshed for the holds' stale time, and empty (no longer shown) a quarter of an hour on.
QString stateOf(const WaitingStation& w, const QDateTime& now);

// Money with two decimals and a point: 12.5 -> "12.50".
QString formatMoney(double value);
// Money in whole hundredths, as each line shows it: sums add these, so that a total is
// the sum of the lines above it.
inline qint64 toCents(double amount) { return std::llround(amount * 100); }
// Whole hundredths as money with a point: 1250 -> "12.50", -5 -> "-0.05".
QString formatCents(qint64 cents);
// An amount rounded up, never down, to a multiple of `unitCents` hundredths, in
// hundredths. The amount is first taken to the millionth, so that 5.1 (stored as
// 5.0999...) stays 510 while 0.001 becomes 1.
qint64 roundUpCents(double amount, qint64 unitCents);
// A duration in whole seconds, short: "42s", "3m 07s", "1h 05m".
QString formatAgo(qint64 seconds);
// Columns padded to their widest cell, separated by two blanks; the columns marked in
// `rightAligned` are aligned right. The header row is underlined with dashes.
QString alignedTable(const QStringList& header, const QList<QStringList>& rows,
                     const QList<bool>& rightAligned);

// The commands. The monitor takes the clock that says what "now" is.
int monitorCommand(const QStringList& arguments, const ToolContext& context);
// `terminal`: draw an aligned table (else plain tab-separated lines, for a pipe or a file).
int runMonitor(const QStringList& arguments, const ToolContext& context, const Clock& clock, bool terminal);
int paymentsCommand(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
