#include "tools/ToolCommand.h"

#include "session/Headless.h"
#include "session/Session.h"
#include "store/DataLocation.h"
#include "store/EngineChoice.h"
#include "store/ServerSettings.h"
#include "store/Store.h"

#include <QFileInfo>

namespace aquilevel::tools {

ToolStore::ToolStore(const QString& dataFolder)
    : m_path(store::databasePath(dataFolder))
{
    std::optional<store::ServerSettings> server;
    try {
        server = store::chosenServer(dataFolder, QString());
    } catch (const store::ServerSettingsError& error) {
        throw ToolError(error.message());
    }
    if (server)
        m_path = server->describe();
    else if (!QFileInfo::exists(m_path))
        throw ToolError(QStringLiteral("There is no experiment database at %1 (create one with: aquilevel init).")
                            .arg(m_path));
    // Nobody sits at the screen: the first question the store would ask ends the command.
    auto prompter = std::make_unique<UnattendedPrompter>();
    UnattendedPrompter* asked = prompter.get();
    m_prompter = std::move(prompter);
    m_pacer = std::make_unique<store::RealPacer>();
    m_random = std::make_unique<ProgramRandom>();
    m_store = std::make_unique<store::Store>(
        store::chooseEngine(dataFolder), *m_prompter,
        *m_pacer, *m_random, [asked] { throw ToolError(asked->last()); });
}

ToolStore::~ToolStore() = default;

} // namespace aquilevel::tools
