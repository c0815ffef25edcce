#include "store/EngineChoice.h"

#include "store/DataLocation.h"
#include "store/PostgresEngine.h"
#include "store/ServerSettings.h"
#include "store/SqlCipherEngine.h"

namespace aquilevel::store {

std::unique_ptr<Engine> chooseEngine(const QString& dataFolder)
{
    if (const std::optional<ServerSettings> server = chosenServer(dataFolder, QString()))
        return std::make_unique<PostgresEngine>(*server);
    return std::make_unique<SqlCipherEngine>(databasePath(dataFolder), databasePassword());
}

bool isServerUrl(const QString& fileOrUrl)
{
    return fileOrUrl.startsWith(QLatin1String("postgresql://")) || fileOrUrl.startsWith(QLatin1String("postgres://"));
}

std::unique_ptr<Engine> engineAt(const QString& fileOrUrl)
{
    if (isServerUrl(fileOrUrl))
        return std::make_unique<PostgresEngine>(serverSettingsFromUrl(fileOrUrl));
    return std::make_unique<SqlCipherEngine>(fileOrUrl, databasePassword());
}

std::unique_ptr<Engine> engineFor(const ServerSettings& settings)
{
    return std::make_unique<PostgresEngine>(settings);
}

void grantStationRole(const ServerSettings& settings, const QString& role)
{
    PostgresEngine::createStationRole(settings, role);
}

bool serverNamedForThisRun()
{
    return !qEnvironmentVariableIsEmpty("AQUILEVEL_SERVER");
}

} // namespace aquilevel::store
