#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

// The warnings check prints about the experimenter accounts, which do not fail it.
QStringList accountWarnings(store::Store& store);

// aquilevel check [--version V]: every problem of every version (or of one), one a line.
int runCheck(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
