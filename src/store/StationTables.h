#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace aquilevel::store {

class Connection;

// The stations' own bookkeeping.

// A station's hold of a participant of a version (datSessionHold).
struct HoldRow {
    QString Subject;
    QString Version;
    QString Station;
    QString Holder;      // the run of the program: "pid:machine:unique"
    QString TakenUtc;    // ISO 8601 with milliseconds
    QString RefreshedUtc;
};

class HoldTable {
public:
    // The hold of a participant of a version. On a server another run's Holder is shown
    // without its random part ("pid:machine"): a station may not learn it.
    static std::optional<HoldRow> find(Connection& c, const QString& subject, const QString& version);
    // Takes the hold for `mine` unless another holder keeps it, which is returned;
    // nothing is changed then. On the file another's hold is given up when `holderGone`
    // (a copy on this computer that has stopped) or `silent` (the challenger has watched
    // its refreshes stand still for the stale time by its own clock: the stations' wall
    // clocks need not agree). A server judges staleness by its own clock, ignores
    // `silent`, believes `holderGone` only once it has seen that copy's connection end,
    // and stamps the hold itself.
    static std::optional<HoldRow> take(Connection& c, const HoldRow& mine, bool holderGone, bool silent);
    // Refreshes `mine`, or holds the participant again when nobody does (released from
    // outside) and no event past `lastEvent` shows another station played it meanwhile;
    // false when another holder has it. On the file every refresh changes the stamp,
    // which is what a challenger watches.
    static bool refresh(Connection& c, const HoldRow& mine, qint32 lastEvent);
    // Whether `mine` still holds the participant, checked in a write's transaction;
    // a hold nobody has is taken again as by refresh().
    static bool keep(Connection& c, const HoldRow& mine, qint32 lastEvent);
    // Ends `holder`'s hold. Returns the rows ended.
    static qint64 remove(Connection& c, const QString& subject, const QString& version, const QString& holder);
    // Ends whoever's hold, from outside any session (an experimenter's command).
    static qint64 removeAny(Connection& c, const QString& subject, const QString& version);
    // Every hold, of one version or all, without their holders.
    static QList<HoldRow> all(Connection& c, const QString& version = {});
    // Writes a hold row as it stands, on the file (its take and refresh, and a test
    // standing in for another station); a server's holds are written by its functions.
    static void insert(Connection& c, const HoldRow& row);
};

// What a run of the program on a station is doing (datStation), so that the lab sees
// every station, also one waiting at the login with nobody logged in.
struct PresenceRow {
    QString Holder;  // the run, as its hold names it; never read back from a server
    QString Station; // the computer's name
    QString State;   // kAtLogin, kInSession or kClosed
    QString Subject; // in a session: whom it plays, of which version
    QString Version;
    QString StartedUtc; // ISO 8601 with milliseconds, as the holds
    QString RefreshedUtc;
};

class PresenceTable {
public:
    static constexpr auto kAtLogin = "login";
    static constexpr auto kInSession = "session";
    static constexpr auto kClosed = "closed";

    // Writes what `mine` does now: its row made at the run's first word, refreshed after.
    // A new row first clears the closed rows and those silent for a day. A server writes
    // only the row of the holder its session names, and stamps it by its own clock.
    static void announce(Connection& c, const PresenceRow& mine);
    // Every run's row but the closed ones, without their holders, oldest start first.
    static QList<PresenceRow> all(Connection& c);
};

} // namespace aquilevel::store
