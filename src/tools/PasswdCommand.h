#pragma once

#include "tools/ToolCommand.h"

namespace aquilevel::tools {

// aquilevel passwd USER: adds an experimenter account or changes its password.
int runPasswd(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
