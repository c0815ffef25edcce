#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

namespace aquilevel::store {

// The database password; the stock sqlcipher shell opens the file with
// PRAGMA key = '<this password>';
QByteArray databasePassword();

// The data folder: the one given on the command line, else $AQUILEVEL_DATA, else the
// folder "data" beside the executable, unless the program is installed (run from the
// bin folder of its prefix, with its menu entry in share/applications) and has no such
// folder: then the user's own data folder, ~/.local/share/aquilevel. Stations
// that share one database name its folder with --data or AQUILEVEL_DATA.
QString dataFolder(const QString& commandLineFolder);
bool isInstalled(const QDir& programFolder);

// The database file inside a data folder.
QString databasePath(const QString& folder);

} // namespace aquilevel::store
