#pragma once

#include <QString>
#include <QStringList>

namespace aquilevel::store {

class Connection;

// What a station may do on a lab's server, enforced by the server itself: a station's
// password must not open the experimenters' accounts or let it write into a participant
// played elsewhere. A station role
//  - reads the configuration, but not tblPasswords (an experimenter's password is
//    checked on the server, by a function that runs with the owner's rights);
//  - appends data rows only for a participant whose hold it owns (row-level security);
//  - completes only such a participant's summary rows, and only the columns a session
//    completes (column privileges);
//  - takes, refreshes and releases holds only through functions that run with the
//    owner's rights: only its own hold, or one gone stale by the server's clock.
// A station's hold is its own by the holder text of its run (pid, computer, a random
// part), which it names in its session (aquilevel.holder) and which no station can read
// back: another station cannot name it.

// The name of the session setting a station names its holder in.
inline constexpr auto kHolderSetting = "aquilevel.holder";

// Seconds without a refresh after which a hold may be taken over.
inline constexpr int kHoldStaleSeconds = 60;

// Creates or replaces the functions and policies, as the tables' owner. Run at creation
// and at every upgrade of a server's layout; a server only.
void installStationRules(Connection& c);

// Gives `role` a station's rights and nothing else: every right it had on the tables
// is taken back first. The role name must be a plain identifier (checked by the caller).
void grantStationRights(Connection& c, const QString& role);

// What `role` may still do beyond a station's work (through its attributes or the roles
// it is a member of), one phrase each; empty when nothing.
QStringList stationRightsBeyond(Connection& c, const QString& role);

// The roles that hold a station's rights today (to grant them again after an upgrade).
QStringList stationRoles(Connection& c);

} // namespace aquilevel::store
