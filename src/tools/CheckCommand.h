#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::tools {

// aquilevel check [--version V]: every problem of every version (or of one), one a line.
int runCheck(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
