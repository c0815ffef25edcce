#include "tools/CommandArguments.h"
#include "tools/Printable.h"
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
        "participant, station, period reached of the version's periods, state, the last\n"
        "event and how long ago it was written, and the money so far. The state is one of\n"
        "  playing                  rows come as the version's stages produce them\n"
        "  idle                     no row for longer than the version's longest stage; the\n"
        "                           station runs (the participant thinks or is away)\n"
        "  idle (possibly crashed)  no row, and the station no longer refreshes its hold:\n"
        "                           see the station; a login there resumes the session\n"
        "  finished                 the last period is done\n"
        "  left early               the session ended before its last period\n"
        "Below the table, the stations waiting at the login with nobody logged in (those\n"
        "silent for a minute marked as not responding). The view is read again every two\n"
        "seconds until Ctrl+C. Into a pipe or a file the view is plain tab-separated lines\n"
        "under a header line, without the waiting stations.\n\n"
        "Options:\n"
        "  --once        print one view and exit\n"
        "  --version V   only participants of version V\n"
        "  --help        show this text\n");
}

// One view of the participants active in the hour before `now`: an aligned table for a
// person at a terminal, else one tab-separated line a participant under a header line.
QString snapshot(store::Store& store, const QString& version, const QDateTime& now, bool terminal)
{
    const QStringList header = {QStringLiteral("Version"), QStringLiteral("Participant"), QStringLiteral("Station"),
                                QStringLiteral("Period"), QStringLiteral("State"), QStringLiteral("Last event"),
                                QStringLiteral("Ago"), QStringLiteral("Money")};
    QList<QStringList> rows;
    int finished = 0;
    int attention = 0;
    QList<WaitingStation> waiting;
    const QList<ParticipantProgress> participants =
        readProgress(store, version, nullptr, now.addSecs(-kActiveWindowSeconds), terminal ? &waiting : nullptr);
    for (const ParticipantProgress& p : participants) {
        const QDateTime at = p.lastActivity();
        if (!at.isValid() || at.secsTo(now) > kActiveWindowSeconds)
            continue;
        const QString period = QStringLiteral("%1/%2").arg(p.trial).arg(
            p.versionKnown ? QString::number(p.maxTrial) : QStringLiteral("?"));
        const QString state = stateOf(p, now);
        finished += p.finished ? 1 : 0;
        attention += state == QLatin1String("idle (possibly crashed)") ? 1 : 0;
        rows.append({p.version, p.subject, p.station, period, state,
                     p.hasEvents ? p.lastEvent : QStringLiteral("(registered)"), formatAgo(at.secsTo(now)),
                     formatMoney(p.totBonus)});
    }
    if (!terminal) {
        QString text = header.join(QLatin1Char('\t')) + QLatin1Char('\n');
        for (const QStringList& row : std::as_const(rows)) {
            QStringList cells;
            for (const QString& cell : row)
                cells.append(printable(cell).replace(QLatin1Char('\t'), QLatin1Char(' ')));
            text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
        }
        return text;
    }
    // The stations nobody is logged in at, in one short line.
    QStringList idle;
    for (const WaitingStation& w : std::as_const(waiting)) {
        const QString state = stateOf(w, now);
        if (!state.isEmpty())
            idle << printable(w.station) + (state == QLatin1String("not responding") ? QStringLiteral(" (not responding)")
                                                                                     : QString());
    }
    const QString atLogin = idle.isEmpty() ? QString()
                                           : QStringLiteral("Waiting at the login: %1\n").arg(idle.join(QStringLiteral(", ")));
    QString text = QStringLiteral("Participants active since %1 (now %2)\n\n")
                       .arg(now.addSecs(-kActiveWindowSeconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                            now.toString(QStringLiteral("HH:mm:ss")));
    if (rows.isEmpty())
        return text + QStringLiteral("No participant has been active in the last hour.\n") + atLogin;
    text += alignedTable(header, rows, {false, false, false, true, false, false, true, true});
    text += QStringLiteral("\n%1 active, %2 finished").arg(rows.size()).arg(finished);
    if (attention > 0)
        text += QStringLiteral(", %1 possibly crashed: see the station").arg(attention);
    return text + QLatin1Char('\n') + atLogin;
}

} // namespace

int runMonitor(const QStringList& arguments, const ToolContext& context, const Clock& clock, bool terminal)
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
        if (!onlyVersion.isEmpty() &&
            readProgress(store, onlyVersion, &found, clock.now().addSecs(-kActiveWindowSeconds)).isEmpty() && !found)
            throw ToolError(QStringLiteral("There is no version named \"%1\".").arg(onlyVersion));

        if (parser.isSet(once)) {
            context.out << snapshot(store, onlyVersion, clock.now(), terminal);
            context.out.flush();
            return 0;
        }

        // The live view: read and redraw every two seconds until the process is interrupted.
        // A read that fails (the file locked for long) is shown and tried again.
        const auto redraw = [&] {
            QString text;
            try {
                text = snapshot(store, onlyVersion, clock.now(), terminal);
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
    return runMonitor(arguments, context, clock, isatty(fileno(stdout)) != 0);
}

} // namespace aquilevel::tools
