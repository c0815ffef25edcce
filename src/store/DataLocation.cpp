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

bool isInstalled(const QDir& programFolder)
{
    // An installed program runs from the bin folder of the prefix it was installed into,
    // where its menu entry lies beside it in share/applications; a copied executable or
    // the build tree has none there.
    return programFolder.dirName() == QLatin1String("bin") &&
           QFileInfo::exists(programFolder.filePath(QStringLiteral("../share/applications/aquilevel.desktop")));
}

QString dataFolder(const QString& commandLineFolder)
{
    if (!commandLineFolder.isEmpty())
        return QDir::cleanPath(commandLineFolder);
    const QString fromEnvironment = qEnvironmentVariable("AQUILEVEL_DATA");
    if (!fromEnvironment.isEmpty())
        return QDir::cleanPath(fromEnvironment);
    // A build tree, or a copy of the program in a folder of its own (a lab copies it to a
    // station or a share), keeps its data beside it.
    const QDir programFolder(QCoreApplication::applicationDirPath());
    const QString beside = programFolder.filePath(QStringLiteral("data"));
    if (!isInstalled(programFolder) || QFileInfo(beside).isDir())
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
