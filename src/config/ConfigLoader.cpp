#include "config/ConfigLoader.h"

#include "config/NumberFormat.h"
#include "store/Store.h"

#include <cmath>

namespace aquilevel::config {

const QString kSetupQuery = QStringLiteral("Select * from tblSetup where version=?");
const QString kLabelsAscendingQuery =
    QStringLiteral("Select LabelName from tblLabels where version=? order by LabelNumber");
const QString kScenarioQuery = QStringLiteral("Select * from tblScenarios where Scenario=?;");

namespace {
const QString kLoadingSetup = QStringLiteral("Loading configuration setup");
}

QStringList LoadVersions(store::Store& store)
{
    QStringList versions;
    auto rs = store.OpenTable("select Version from tblSetup order by version", true,
                              QStringLiteral("Loading versions"));
    for (; !rs->isEOF(); rs->moveNext())
        versions.append(rs->field(QStringLiteral("Version")).toString());
    rs->close();
    return versions;
}

ExperimentSetup LoadSetup(store::Store& store, const QString& version)
{
    auto rs = store.OpenTable(store::Query(kSetupQuery, {version}), true, kLoadingSetup);
    ConfigProblems problems;
    ExperimentSetup setup;
    if (rs->isEOF()) {
        problems.append({QStringLiteral("tblSetup"), version, QStringLiteral("Version"),
                         QStringLiteral("there is no row for this version")});
    } else {
        rs->moveFirst();
        setup = readSetupRow(*rs, version, problems);
    }
    rs->close();
    if (!problems.isEmpty())
        throw ConfigError(problems);
    return setup;
}

QStringList LoadScaleLabels(store::Store& store, const QString& version, int numMarks)
{
    QStringList labels;
    for (int i = 0; i <= numMarks; ++i)
        labels.append(QString());
    auto rs = store.OpenTable(store::Query(kLabelsAscendingQuery, {version}), true, kLoadingSetup);
    // Surplus labels are ignored; missing ones stay empty (the check reports them).
    for (int i = 0; i < numMarks && !rs->isEOF(); ++i, rs->moveNext())
        labels[i] = rs->field(QStringLiteral("LabelName")).toString();
    rs->close();
    return labels;
}

double LoadTopLabel(store::Store& store, const QString& version, double current)
{
    auto rs = store.OpenTable(
        store::Query(QStringLiteral("Select LabelName from tblLabels where version=? order by "
                                    "LabelNumber Desc"),
                     {version}),
        true, kLoadingSetup);
    double top = current;
    if (!rs->isEOF()) {
        rs->moveFirst();
        top = leadingNumber(rs->field(QStringLiteral("LabelName")).toString());
    }
    rs->close();
    return top;
}

void LoadScenario(store::Store& store, const ExperimentSetup& setup, QVector<double>& envInFlow,
                  QVector<double>& envOutFlow)
{
    const int last = setup.MaxNumberOfAScenarioType + 1;
    envInFlow = QVector<double>(qMax(last + 1, 0), 0.0);
    envOutFlow = QVector<double>(qMax(last + 1, 0), 0.0);
    auto rs = store.OpenTable(store::Query(kScenarioQuery, {int(setup.ScenarioUsed)}), true,
                              kLoadingSetup);
    ConfigProblems problems;
    for (; !rs->isEOF(); rs->moveNext()) {
        const QVariant trial = rs->field(QStringLiteral("Trial"));
        const double period = trial.toDouble();
        if (trial.isNull() || period < 0 || period > last || period != std::floor(period)) {
            problems.append({QStringLiteral("tblScenarios"), setup.Version, QStringLiteral("Trial"),
                             QStringLiteral("scenario %1 has a row for period %2, outside 0 to %3")
                                 .arg(setup.ScenarioUsed)
                                 .arg(trial.toString())
                                 .arg(last)});
            continue;
        }
        envInFlow[int(period)] = rs->field(QStringLiteral("inFlowRateEnviron")).toDouble();
        envOutFlow[int(period)] = rs->field(QStringLiteral("outFlowRateEnviron")).toDouble();
    }
    rs->close();
    if (!problems.isEmpty())
        throw ConfigError(problems);
}

} // namespace aquilevel::config
