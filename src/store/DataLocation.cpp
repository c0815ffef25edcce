#include "store/DataLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace aquilevel::store {

QByteArray databasePassword()
{
    return QByteArrayLiteral("KwPz_*R*_t");
}

QString dataFolder(const QString& commandLineFolder)
{
    if (!commandLineFolder.isEmpty())
        return QDir::cleanPath(commandLineFolder);
    const QString fromEnvironment = qEnvironmentVariable("AQUILEVEL_DATA");
    if (!fromEnvironment.isEmpty())
        return QDir::cleanPath(fromEnvironment);
    // A build tree (CMake leaves its cache beside the executable) or a copy that already
    // has its data beside it keeps the data there.
    const QDir programFolder(QCoreApplication::applicationDirPath());
    const QString beside = programFolder.filePath(QStringLiteral("data"));
    if (programFolder.exists(QStringLiteral("CMakeCache.txt")) || QFileInfo(beside).isDir())
        return beside;
    // An installed program's folder (/usr/bin) is no place for data, and may be written
    // by root only: each user keeps theirs in their own data folder. The name is fixed
    // here rather than taken from the application's name, which differs between the
    // session and the commands.
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/aquilevel"));
}

QString databasePath(const QString& folder)
{
    return folder + QStringLiteral("/Cistern.mdb");
}

} // namespace aquilevel::store
