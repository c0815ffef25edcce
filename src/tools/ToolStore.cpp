#include "tools/ToolCommand.h"

#include "session/Prompter.h"
#include "store/DataLocation.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"

#include <QFileInfo>

namespace aquilevel::tools {

namespace {

// Nobody sits at the screen: the first question the store would ask ends the command.
class RefusingPrompter final : public Prompter {
public:
    Answer ask(const Prompt& prompt) override
    {
        m_last = prompt.title + QStringLiteral(": ") + QString(prompt.text).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        return prompt.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
    QString m_last;
};

} // namespace

class ToolRandom final : public store::RandomSource {
public:
    double next() override { return 0.5; }
};

ToolStore::ToolStore(const QString& dataFolder)
    : m_path(store::databasePath(dataFolder))
{
    if (!QFileInfo::exists(m_path))
        throw ToolError(QStringLiteral("There is no experiment database at %1 (create one with: aquilevel init).")
                            .arg(m_path));
    auto prompter = std::make_unique<RefusingPrompter>();
    RefusingPrompter* asked = prompter.get();
    m_prompter = std::move(prompter);
    m_pacer = std::make_unique<store::RealPacer>();
    m_random = std::make_unique<ToolRandom>();
    m_store = std::make_unique<store::Store>(
        std::make_unique<store::SqlCipherEngine>(m_path, store::databasePassword()), *m_prompter,
        *m_pacer, *m_random, [asked] { throw ToolError(asked->m_last); });
}

ToolStore::~ToolStore() = default;

} // namespace aquilevel::tools
