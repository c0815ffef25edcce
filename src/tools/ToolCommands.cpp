#include "tools/ToolCommand.h"
#include "tools/AnalyzeCommand.h"
#include "tools/BotCommand.h"
#include "tools/CheckCommand.h"
#include "tools/CopyCommand.h"
#include "tools/ExportImport.h"
#include "tools/MarkCommand.h"
#include "tools/PasswdCommand.h"
#include "tools/Progress.h"
#include "tools/ReleaseCommand.h"
#include "tools/ReplayWindow.h"
#include "tools/SessionReport.h"

namespace aquilevel::tools {

// Each command lives in a file of its own; this table is the list the program knows.
const QList<ToolCommand>& toolCommands()
{
    static const QList<ToolCommand> commands = {
        {QStringLiteral("check"), QStringLiteral("check every version's configuration"), runCheck},
        {QStringLiteral("passwd"), QStringLiteral("add an experimenter account or change its password"), runPasswd},
        {QStringLiteral("monitor"), QStringLiteral("live view of the participants active in the last hour"), monitorCommand},
        {QStringLiteral("payments"), QStringLiteral("what to pay each participant (table or CSV)"), paymentsCommand},
        {QStringLiteral("export"), QStringLiteral("write tables as CSV files for analysis"), runExport},
        {QStringLiteral("import"), QStringLiteral("replace versions' configuration from CSV files"), runImport},
        {QStringLiteral("report"), QStringLiteral("draw a participant's session (or a version's participants) as a PNG, or a version's PDF report"), runReport},
        {QStringLiteral("analyze"), QStringLiteral("fit each participant's decision rule to their orders"), runAnalyze},
        {QStringLiteral("replay"), QStringLiteral("redraw a participant's stored session stage by stage in a window"),
         runReplay, true},
        {QStringLiteral("mark"), QStringLiteral("mark a participant as a pilot or excluded, or take the mark back"), runMark},
        {QStringLiteral("release"), QStringLiteral("end a station's hold of a participant at once"), runRelease},
        {QStringLiteral("copy"), QStringLiteral("copy a whole experiment between a file and a server"), runCopy},
        {QStringLiteral("bot"), QStringLiteral("play a whole session of a version with scripted orders, offscreen"), runBot},
    };
    return commands;
}

} // namespace aquilevel::tools
