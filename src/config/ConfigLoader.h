#pragma once

#include "config/ExperimentSetup.h"

#include <QStringList>
#include <QVector>

#include <optional>

namespace aquilevel::store {
class Row;
class Store;
}

namespace aquilevel::config {

// The configuration a session runs on, loaded once per session.
struct LoadedScale {
    QStringList MarkLabels; // entries 0 to numMarks - 1 filled, entry numMarks empty
    double TopLabelValue = 0;
};

// The five loaders of the experiment's configuration. Each opens a read-only record set
// through the store and closes the database again.
QStringList LoadVersions(store::Store& store);
// Throws ConfigError when the version has no row or a field cannot be read.
ExperimentSetup LoadSetup(store::Store& store, const QString& version);
QStringList LoadScaleLabels(store::Store& store, const QString& version, int numMarks);
// Keeps `current` when the version has no labels.
double LoadTopLabel(store::Store& store, const QString& version, double current);
// Fills both arrays for periods 0 to MaxNumberOfAScenarioType + 1; a period without a
// row holds 0, and of two rows for one period the later wins. Throws ConfigError on a
// period outside that range.
void LoadScenario(store::Store& store, const ExperimentSetup& setup, QVector<double>& envInFlow,
                  QVector<double>& envOutFlow);

// The version's own instruction pages with their placeholders filled; empty when the
// version has none (it is shown the program's own pages).
QStringList LoadInstructionPages(store::Store& store, const ExperimentSetup& setup, const QString& version);

// The reads the loaders share with the configuration check, each under the retry
// policy with the status given.
std::optional<store::Row> ReadSetupRow(store::Store& store, const QString& version, const QString& status);
QVariantList ReadLabelCaptions(store::Store& store, const QString& version, bool rising, const QString& status);
QVariantList ReadInstructionPages(store::Store& store, const QString& version, const QString& status);
QList<store::Row> ReadScenarioRows(store::Store& store, int scenario, const QString& status);

} // namespace aquilevel::config
