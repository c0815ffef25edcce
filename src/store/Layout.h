#pragma once

namespace aquilevel::store {

class Connection;

// The layout of an experiment database: its tables, and the version that says which of
// them it has. Each runs inside the caller's write transaction.

// Creates every table and index of a new database and records kSchemaVersion.
void createLayout(Connection& connection);
// The version of the layout, 0 for a database that is not an experiment's.
int layoutVersion(Connection& connection);
// Brings a database of an older layout up to kSchemaVersion; rows already stored stay
// as they are, and gain the keys they are found by.
void upgradeLayout(Connection& connection, int fromVersion);
// Fills the keys of rows written without them (by hand, in the database's own shell);
// does nothing, at the cost of one indexed look per table, when there are none. Runs its
// own write transaction when there is something to fill.
void fillMissingKeys(Connection& connection);

} // namespace aquilevel::store
