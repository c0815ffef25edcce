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

bool serverNamedForThisRun()
{
    return !qEnvironmentVariableIsEmpty("AQUILEVEL_SERVER");
}

} // namespace aquilevel::store
