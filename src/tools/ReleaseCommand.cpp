#include "tools/ReleaseCommand.h"

#include "session/StationHold.h"
#include "store/Store.h"
#include "tools/CommandArguments.h"
#include "tools/Printable.h"

#include <QTextStream>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] release SUBJECT --version V\n\n"
        "Ends at once the hold that a station has on the participant SUBJECT of version V\n"
        "(letter case ignored), so that the participant can log in at another station. A\n"
        "running session refreshes its hold every %1 s; one that stopped without ending\n"
        "(a crash, a power cut) is released by itself after %2 s without a refresh. Release a\n"
        "hold only when its session is no longer running.\n\n"
        "Options:\n"
        "  --version V   the participant's version\n"
        "  --help        show this text\n")
        .arg(StationHold::kRefreshSeconds)
        .arg(StationHold::kStaleSeconds);
}

} // namespace

int runRelease(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("release"), usage(), context);
    const QCommandLineOption versionOption(QStringLiteral("version"), QString(), QStringLiteral("V"));
    args.parser.addOption(versionOption);
    if (const auto status = args.parse(arguments, 1, QStringLiteral("SUBJECT")))
        return *status;
    const QString subject = args.parser.positionalArguments().first();
    const QString version = args.parser.value(versionOption);
    if (version.isEmpty())
        return args.usageError(QStringLiteral("--version is required"));

    ToolStore tool(context.dataFolder);
    const QStringList stations = StationHold::releaseFromOutside(tool.store(), subject, version);
    if (stations.isEmpty())
        throw ToolError(QStringLiteral("No station holds participant %1 of version %2.")
                            .arg(printable(subject), printable(version)));
    context.out << "Released participant " << printable(subject) << " of version " << printable(version)
                << " (held by station " << printable(stations.join(QStringLiteral(", "))) << ").\n";
    context.out.flush();
    return 0;
}

} // namespace aquilevel::tools
