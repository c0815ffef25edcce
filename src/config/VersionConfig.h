#pragma once

#include "store/Row.h"

#include <QString>
#include <QVariantList>

#include <optional>

namespace aquilevel::store {
class Store;
}

namespace aquilevel::config {

// What the checks judge of one version, read from the store or as an editor holds it
// before anything is written: the tblSetup row, the scale's captions, the rows of the
// scenario the setup plays and the instruction pages.
struct VersionConfig {
    QString version;
    std::optional<store::Row> setup; // none: there is no row for the version
    QVariantList labels;             // LabelName by LabelNumber, bottom to top
    QList<store::Row> scenario;      // Scenario, Trial, inFlowRateEnviron, outFlowRateEnviron
    QVariantList pages;              // PageText by PageNumber
};

// Reads a version as the checks need it. The labels are read only when numMarks can be
// read, the scenario only when ScenarioUsed and MaxNumberOfAScenarioType can, the pages
// only when asked for: what a rule cannot judge is not read.
VersionConfig readVersionConfig(store::Store& store, const QString& version, bool withPages);

} // namespace aquilevel::config
