#pragma once

#include "config/ConfigProblem.h"
#include "config/VersionConfig.h"

namespace aquilevel::store {
class Store;
}

namespace aquilevel::config {

// Design errors a session would play through without complaint, but that cost a study:
// a goal, a starting amount or a band edge outside the tank's labelled scale, scale
// labels that are not increasing numbers, and a scenario without rows for some periods
// (their environment flows silently act as 0), and an instruction page with a
// placeholder the program does not know. For a version that checkVersion found
// sound; the check command reports them and import refuses them, the login does not.
ConfigProblems checkDesign(store::Store& store, const QString& version);
// The same on a version held in memory (an edit not yet saved).
ConfigProblems checkDesign(const VersionConfig& config);

} // namespace aquilevel::config
