#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::tools {

// aquilevel copy --from SOURCE --to TARGET: a whole experiment between a file and a server.
int runCopy(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
