#pragma once

#include <QStringList>

namespace aquilevel::store {

// Version of the layout of the experiment database, kept in the file itself.
// 1: the tables as the analyses know them. 2: every data row also carries EventTimeUtc
// and Station. 3: datSessionHold, the stations' holds of the participants they play.
constexpr int kSchemaVersion = 3;

// The two columns the program fills in every row appended to a data table: the moment
// of the row in UTC (ISO 8601 with milliseconds, e.g. 2026-12-08T17:03:04.123Z) and the
// host name of the computer that wrote it. Nothing in the program reads them.
inline constexpr auto kEventTimeColumn = "EventTimeUtc";
inline constexpr auto kStationColumn = "Station";

// The statements that create every table of an experiment database.
QStringList schemaStatements();

// The data tables whose rows carry the two columns above.
const QStringList& stampedTables();

// The statements that bring a file of layout fromVersion to kSchemaVersion, the new
// user_version last; empty when the file needs none (or is not one of ours: version 0).
QStringList upgradeStatements(int fromVersion);

} // namespace aquilevel::store
