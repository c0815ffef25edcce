#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::tools {

// The `analyze` command: fits every participant's decision rule and prints it.
int runAnalyze(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
