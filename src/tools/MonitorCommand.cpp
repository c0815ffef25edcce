#include "tools/CommandArguments.h"
#include "tools/Progress.h"
#include "tools/ToolCommand.h"

#include "session/Clock.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace aquilevel::tools {

namespace {

constexpr qint64 kActiveWindowSeconds = 3600;
constexpr int kRefreshMs = 2000;

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] monitor [--once] [--version V]\n\n"
        "Shows every participant with activity in the last hour, one line each: version,\n"
        "participant, period reached of the version's periods, the last event and how long\n"
        "ago it was written, the money so far and whether the last period is done.\n"
        "The view is read again every two seconds until Ctrl+C.\n\n"
        "Options:\n"
        "  --once        print one view and exit\n"
        "  --version V   only participants of version V\n"
        "  --help        show this text\n");
}

// One view of the participants active in the hour before `now`.
QString snapshot(store::Store& store, const QString& version, const QDateTime& now)
{
    QList<QStringList> rows;
    for (const ParticipantProgress& p : readProgress(store, version)) {
        const QDateTime at = p.lastActivity();
        if (!at.isValid() || at.secsTo(now) > kActiveWindowSeconds)
            continue;
        const QString period = QStringLiteral("%1/%2").arg(p.trial).arg(
            p.versionKnown ? QString::number(p.maxTrial) : QStringLiteral("?"));
        rows.append({p.version, p.subject, p.station, period,
                     p.hasEvents ? p.lastEvent : QStringLiteral("(registered)"),
                     formatAgo(at.secsTo(now)), formatMoney(p.totBonus),
                     p.finished ? QStringLiteral("yes") : QStringLiteral("no")});
    }
    QString text = QStringLiteral("Participants active since %1 (now %2)\n\n")
                       .arg(now.addSecs(-kActiveWindowSeconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                            now.toString(QStringLiteral("HH:mm:ss")));
    if (rows.isEmpty())
        return text + QStringLiteral("No participant has been active in the last hour.\n");
    text += alignedTable({QStringLiteral("Version"), QStringLiteral("Participant"), QStringLiteral("Station"),
                          QStringLiteral("Period"),
                          QStringLiteral("Last event"), QStringLiteral("Ago"), QStringLiteral("Money"),
                          QStringLiteral("Finished")},
                         rows, {false, false, false, true, false, true, true, false});
    return text + QStringLiteral("\n%1 active, %2 finished\n")
                      .arg(rows.size())
                      .arg(std::count_if(rows.cbegin(), rows.cend(),
                                         [](const QStringList& r) { return r.last() == QStringLiteral("yes"); }));
}

} // namespace

int runMonitor(const QStringList& arguments, const ToolContext& context, const Clock& clock)
{
    CommandArguments args(QStringLiteral("monitor"), usage(), context);
    QCommandLineParser& parser = args.parser;
    const QCommandLineOption once(QStringLiteral("once"));
    const QCommandLineOption version(QStringLiteral("version"), QString(), QStringLiteral("V"));
    parser.addOptions({once, version});
    if (const auto status = args.parse(arguments))
        return *status;
    const QString onlyVersion = parser.value(version).trimmed();
    if (parser.isSet(version) && onlyVersion.isEmpty())
        return args.usageError(QStringLiteral("--version needs a version name"));

    try {
        ToolStore tool(context.dataFolder);
        store::Store& store = tool.store();
        bool found = false;
        if (!onlyVersion.isEmpty() && readProgress(store, onlyVersion, &found).isEmpty() && !found)
            throw ToolError(QStringLiteral("There is no version named \"%1\".").arg(onlyVersion));

        if (parser.isSet(once)) {
            context.out << snapshot(store, onlyVersion, clock.now());
            context.out.flush();
            return 0;
        }

        // The live view: read and redraw every two seconds until the process is interrupted.
        // A read that fails (the file locked for long) is shown and tried again.
        const bool terminal = isatty(fileno(stdout)) != 0;
        const auto redraw = [&] {
            QString text;
            try {
                text = snapshot(store, onlyVersion, clock.now());
            } catch (const ToolError& error) {
                text = QStringLiteral("Could not read the database just now: %1\n").arg(error.message());
            }
            if (terminal)
                context.out << "\x1b[H\x1b[2J"; // clear the screen
            else
                context.out << "\n";
            context.out << text << "\nRefreshing every two seconds; Ctrl+C to stop.\n";
            context.out.flush();
        };
        redraw();
        QEventLoop loop;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, &loop, redraw);
        timer.start(kRefreshMs);
        return loop.exec();
    } catch (const ToolError& error) {
        context.err << "aquilevel monitor: " << error.message() << "\n";
        context.err.flush();
        return 1;
    }
}

int monitorCommand(const QStringList& arguments, const ToolContext& context)
{
    const SystemClock clock;
    return runMonitor(arguments, context, clock);
}

} // namespace aquilevel::tools
