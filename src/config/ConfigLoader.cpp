#include "config/ConfigLoader.h"

#include "config/InstructionText.h"
#include "config/NumberFormat.h"
#include "store/ConfigTables.h"
#include "store/Store.h"

#include <cmath>

namespace aquilevel::config {

namespace {
const QString kLoadingSetup = QStringLiteral("Loading configuration setup");
}

std::optional<store::Row> ReadSetupRow(store::Store& store, const QString& version, const QString& status)
{
    std::optional<store::Row> row;
    store.read([&](store::Connection& c) { row = store::SetupTable::row(c, version); }, QStringLiteral("tblSetup"),
               status);
    return row;
}

QVariantList ReadLabelCaptions(store::Store& store, const QString& version, bool rising, const QString& status)
{
    QVariantList captions;
    store.read([&](store::Connection& c) { captions = store::LabelTable::captions(c, version, rising); },
               QStringLiteral("tblLabels"), status);
    return captions;
}

QVariantList ReadInstructionPages(store::Store& store, const QString& version, const QString& status)
{
    QVariantList pages;
    store.read([&](store::Connection& c) { pages = store::InstructionTable::pages(c, version); },
               QStringLiteral("tblInstructions"), status);
    return pages;
}

QStringList LoadInstructionPages(store::Store& store, const ExperimentSetup& setup, const QString& version)
{
    QStringList pages;
    for (const QVariant& text : ReadInstructionPages(store, version, kLoadingSetup))
        pages.append(fillInstructionText(text.toString(), setup));
    return pages;
}

QList<store::Row> ReadScenarioRows(store::Store& store, int scenario, const QString& status)
{
    QList<store::Row> rows;
    store.read([&](store::Connection& c) { rows = store::ScenarioTable::rows(c, scenario); },
               QStringLiteral("tblScenarios"), status);
    return rows;
}

QStringList LoadVersions(store::Store& store)
{
    QStringList versions;
    store.read([&](store::Connection& c) { versions = store::SetupTable::versions(c); }, QStringLiteral("tblSetup"),
               QStringLiteral("Loading versions"));
    return versions;
}

ExperimentSetup LoadSetup(store::Store& store, const QString& version)
{
    const std::optional<store::Row> row = ReadSetupRow(store, version, kLoadingSetup);
    ConfigProblems problems;
    ExperimentSetup setup;
    if (!row)
        problems.append({QStringLiteral("tblSetup"), version, QStringLiteral("Version"),
                         QStringLiteral("there is no row for this version")});
    else
        setup = readSetupRow(*row, version, problems);
    if (!problems.isEmpty())
        throw ConfigError(problems);
    return setup;
}

QStringList LoadScaleLabels(store::Store& store, const QString& version, int numMarks)
{
    QStringList labels;
    for (int i = 0; i <= numMarks; ++i)
        labels.append(QString());
    const QVariantList captions = ReadLabelCaptions(store, version, true, kLoadingSetup);
    // Surplus labels are ignored; missing ones stay empty (the check reports them).
    for (int i = 0; i < numMarks && i < captions.size(); ++i)
        labels[i] = captions.at(i).toString();
    return labels;
}

double LoadTopLabel(store::Store& store, const QString& version, double current)
{
    const QVariantList captions = ReadLabelCaptions(store, version, false, kLoadingSetup);
    return captions.isEmpty() ? current : leadingNumber(captions.first().toString());
}

void LoadScenario(store::Store& store, const ExperimentSetup& setup, QVector<double>& envInFlow,
                  QVector<double>& envOutFlow)
{
    const int last = setup.MaxNumberOfAScenarioType + 1;
    envInFlow = QVector<double>(qMax(last + 1, 0), 0.0);
    envOutFlow = QVector<double>(qMax(last + 1, 0), 0.0);
    ConfigProblems problems;
    for (const store::Row& row : ReadScenarioRows(store, setup.ScenarioUsed, kLoadingSetup)) {
        const QVariant trial = row.value("Trial");
        const double period = trial.toDouble();
        if (trial.isNull() || period < 0 || period > last || period != std::floor(period)) {
            problems.append({QStringLiteral("tblScenarios"), setup.Version, QStringLiteral("Trial"),
                             QStringLiteral("scenario %1 has a row for period %2, outside 0 to %3")
                                 .arg(setup.ScenarioUsed)
                                 .arg(trial.toString())
                                 .arg(last)});
            continue;
        }
        envInFlow[int(period)] = row.value("inFlowRateEnviron").toDouble();
        envOutFlow[int(period)] = row.value("outFlowRateEnviron").toDouble();
    }
    if (!problems.isEmpty())
        throw ConfigError(problems);
}

} // namespace aquilevel::config
