#pragma once

#include "tools/ToolCommand.h"

#include <QStringList>

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

// The warnings check prints about the experimenter accounts, which do not fail it.
QStringList accountWarnings(store::Store& store);

// aquilevel check [--version V]: every problem of every version (or of one), one a line.
int runCheck(const QStringList& arguments, const ToolContext& context);

// The versions of tblSetup, and what check says of one of them, a line a problem (the
// login's rules first; the design's when those hold).
QStringList configuredVersions(store::Store& store);
QStringList versionProblems(store::Store& store, const QString& version);

} // namespace aquilevel::tools
