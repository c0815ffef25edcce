#include "tools/ToolCommand.h"

namespace aquilevel::tools {

// Each command lives in a file of its own; this table is the list the program knows.
const QList<ToolCommand>& toolCommands()
{
    static const QList<ToolCommand> commands = {
    };
    return commands;
}

} // namespace aquilevel::tools
