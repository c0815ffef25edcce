#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::tools {

// aquilevel release SUBJECT --version V: ends a station's hold of a participant at once.
int runRelease(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
