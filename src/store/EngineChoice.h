#pragma once

#include "store/Engine.h"

#include <QString>

#include <memory>

namespace aquilevel::store {

// The engine a run uses: the lab's server when one is named (--server, which the
// command line hands on as AQUILEVEL_SERVER, or server.conf in the data folder), else
// the encrypted file in the data folder. Throws ServerSettingsError for settings that
// cannot be used.
std::unique_ptr<Engine> chooseEngine(const QString& dataFolder);

// The engine of a server.
std::unique_ptr<Engine> engineFor(const struct ServerSettings& settings);

// Lets a login role of the server do a station's work and nothing else (see
// PostgresEngine::createStationRole). Throws EngineError or ServerSettingsError.
void grantStationRole(const struct ServerSettings& settings, const QString& role);

// True when this run was pointed at a server for itself (--server or AQUILEVEL_SERVER),
// not only through the data folder's server.conf.
bool serverNamedForThisRun();

} // namespace aquilevel::store
