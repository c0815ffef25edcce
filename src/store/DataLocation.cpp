#include "store/DataLocation.h"

#include <QCoreApplication>
#include <QDir>

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
    return QCoreApplication::applicationDirPath() + QStringLiteral("/data");
}

QString databasePath(const QString& folder)
{
    return folder + QStringLiteral("/Cistern.mdb");
}

} // namespace aquilevel::store
