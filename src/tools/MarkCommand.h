#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::tools {

// aquilevel mark: marks a participant as a pilot or excluded, or takes the mark back.
int runMark(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
