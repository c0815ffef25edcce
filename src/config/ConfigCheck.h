#pragma once

#include "config/ConfigProblem.h"
#include "config/VersionConfig.h"

namespace aquilevel::store {
class Store;
}

namespace aquilevel::config {

// Checks everything a session of this version relies on: its tblSetup row, its scale
// labels and its scenario. Returns every problem found, in a fixed order; an empty list
// means the version can be played. The login runs it before a session starts, and the
// experimenter's check command runs it for every version.
ConfigProblems checkVersion(store::Store& store, const QString& version);
// The same rules on a version held in memory (an edit not yet saved).
ConfigProblems checkVersion(const VersionConfig& config);

// The two rules the login has always enforced, with their own messages.
extern const QString kAfterEveryNTrialsMessage;
extern const QString kInitialOrdersMessage;

} // namespace aquilevel::config
