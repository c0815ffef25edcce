#include "tools/ToolCommand.h"

#include "session/Headless.h"
#include "session/Session.h"
#include "store/DataLocation.h"
#include "store/EngineChoice.h"
#include "store/ServerSettings.h"
#include "store/Store.h"

#include <QFileInfo>

namespace aquilevel::tools {

namespace {

// The data folder's database: the lab's server when one is named, else the file, which
// must exist.
std::unique_ptr<store::Engine> engineOf(const QString& dataFolder)
{
    try {
        if (store::chosenServer(dataFolder, QString()))
            return store::chooseEngine(dataFolder);
    } catch (const store::ServerSettingsError& error) {
        throw ToolError(error.message());
    }
    const QString path = store::databasePath(dataFolder);
    if (!QFileInfo::exists(path))
        throw ToolError(QStringLiteral("There is no experiment database at %1 (create one with: aquilevel init).")
                            .arg(path));
    return store::chooseEngine(dataFolder);
}

} // namespace

ToolStore::ToolStore(const QString& dataFolder, bool refuseDamaged) : ToolStore(engineOf(dataFolder), refuseDamaged) {}

ToolStore::ToolStore(std::unique_ptr<store::Engine> engine, bool refuseDamaged) : m_path(engine->location())
{
    // A command reads everything it may: the whole file is checked first.
    if (refuseDamaged) {
        try {
            store::refuseDamage(*engine, store::Sweep::EveryPage);
        } catch (const store::DamagedDatabase& error) {
            throw ToolError(error.message());
        }
    }
    // Nobody sits at the screen: the first question the store would ask ends the command.
    auto prompter = std::make_unique<UnattendedPrompter>();
    UnattendedPrompter* asked = prompter.get();
    m_prompter = std::move(prompter);
    m_pacer = std::make_unique<store::RealPacer>();
    m_random = std::make_unique<ProgramRandom>();
    m_store = std::make_unique<store::Store>(std::move(engine), *m_prompter, *m_pacer, *m_random,
                                             [asked] { throw ToolError(asked->last()); });
}

ToolStore::~ToolStore() = default;

} // namespace aquilevel::tools
