#pragma once

#include <QString>

#include <optional>

namespace aquilevel::store {
class Store;
}

namespace aquilevel {

class Session;

// What a participant said about themselves at the registration. Nothing is said for a
// scripted participant, nor for one whose registration row was lost: those columns
// stay empty (NULL).
struct Demographics {
    QString Major;
    QString Gender;
    std::optional<double> Age;
};

// A name the version knows: the spelling it goes by, and whether it has its
// registration row.
struct KnownName {
    QString spelling;
    bool registered = false;
};

// The participant `typed` names in `version` (matched without regard to letter case in
// every script): registered, or known only by rows of the data tables (a database of an
// older program, a scripted session killed before it registered). None for a new name.
std::optional<KnownName> FindParticipant(store::Store& store, const QString& version, const QString& typed);

// Records the session's participant (Subject, under the version text `version`) as one
// who plays the version: one datSubject row with the condition of the version's setup
// (which also becomes the session's Condition), the session clock's date and time and
// `about`. Every way into a session records its participant so: the registration screen,
// the scripted participant, and the login that takes up a name known only by its rows.
void RecordParticipant(Session& session, const QString& version, const Demographics& about = {});

} // namespace aquilevel
