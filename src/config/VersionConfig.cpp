#include "config/VersionConfig.h"

#include "config/ConfigLoader.h"
#include "config/ExperimentSetup.h"

namespace aquilevel::config {

namespace {
const QString kStatus = QStringLiteral("Loading configuration setup");
}

VersionConfig readVersionConfig(store::Store& store, const QString& version, bool withPages)
{
    VersionConfig config;
    config.version = version;
    config.setup = ReadSetupRow(store, version, kStatus);
    if (!config.setup)
        return config;
    ConfigProblems unread;
    const ExperimentSetup setup = readSetupRow(*config.setup, version, unread);
    const auto readable = [&](std::initializer_list<const char*> fields) {
        for (const ConfigProblem& p : std::as_const(unread))
            for (const char* f : fields)
                if (p.field == QLatin1String(f))
                    return false;
        return true;
    };
    if (readable({"numMarks"}))
        config.labels = ReadLabelCaptions(store, version, true, kStatus);
    if (readable({"ScenarioUsed", "MaxNumberOfAScenarioType"}))
        config.scenario = ReadScenarioRows(store, setup.ScenarioUsed, kStatus);
    if (withPages)
        config.pages = ReadInstructionPages(store, version, kStatus);
    return config;
}

} // namespace aquilevel::config
