#include "tools/BotCommand.h"

#include "session/Clock.h"
#include "session/Headless.h"
#include "task/InitSession.h"
#include "session/ProcessEnd.h"
#include "session/Registrations.h"
#include "session/Prompter.h"
#include "session/Resume.h"
#include "config/ControlCharacters.h"
#include "config/NumberFormat.h"
#include "session/Session.h"
#include "session/StationHold.h"
#include "session/StartVersion.h"
#include "store/DataLocation.h"
#include "store/EngineChoice.h"
#include "store/EngineError.h"
#include "store/ServerSettings.h"
#include "store/Pacer.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/Store.h"
#include "store/TableRows.h"
#include "store/Tables.h"
#include "task/TrialScreen.h"
#include "tools/CommandArguments.h"
#include "tools/Progress.h"
#include "tools/SessionReport.h"
#include "tools/ToolCommand.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <unistd.h>

namespace aquilevel::tools {

namespace {

const QString kBotReason = QStringLiteral("played by bot");

const QString kUsage = QStringLiteral(
    "Usage: aquilevel [--data DIR] bot --version V [--subject NAME]\n"
    "                 [--orders FILE.csv | --policy hold|anchor [--alpha A] [--beta B]\n"
    "                  [--noise SD [--seed N]]]\n"
    "                 [--schedule MS[,MS...]|never] [--clock MS] [--db FILE] [--report FILE.png]\n\n"
    "Plays one whole session of version V through the real trial screen, without a window\n"
    "and with every animation stage at 1 ms, then prints the participant's summary. The\n"
    "participant is marked a pilot (reason \"played by bot\") as it is registered, so that\n"
    "export and report leave it out unless asked to take pilots in.\n\n"
    "  --version V        the version to play\n"
    "  --subject NAME     the participant's name (default: bot-<date and time>)\n"
    "  --orders FILE.csv  one line per period: inflow,outflow (an optional header line\n"
    "                     first; when the file has fewer lines than periods, its last\n"
    "                     line is repeated)\n"
    "  --policy hold      order back what the environment's net flow of the last period\n"
    "                     took away (the default when no orders are given); it ignores the\n"
    "                     gap to the goal and the orders on their way, so it never steers\n"
    "                     the tank into the band\n"
    "  --policy anchor    anchoring and adjustment, as people order: net order =\n"
    "                     expected outflow + A x (goal - amount) - B x orders on their way,\n"
    "                     where the expected outflow is the environment's net outflow of\n"
    "                     the last period and the orders on their way are the inflow\n"
    "                     ordered and not yet arrived less the outflow ordered and not yet\n"
    "                     done; a positive net order is typed as inflow, a negative one as\n"
    "                     outflow\n"
    "  --alpha A          the anchor policy's weight of the gap to the goal (default 0.5)\n"
    "  --beta B           its weight of the orders on their way (default 0.3)\n"
    "  --noise SD         add to each net order of a policy a normally distributed error\n"
    "                     with mean 0 and standard deviation SD, as people's orders scatter\n"
    "                     about their rule\n"
    "  --seed N           the errors' random seed, so that a run can be repeated\n"
    "                     (default: a new seed each run)\n"
    "  --schedule MS,...  time-driven play: submit MS milliseconds after each period opens\n"
    "                     (one value a period, the last repeated; default 0, as soon as\n"
    "                     Submit is enabled); a period whose clock ticks first is missed.\n"
    "                     \"never\" leaves the clock to play alone\n"
    "  --clock MS         time-driven play: the clock's interval instead of the version's\n"
    "                     TimeBetweenEnvTries (a pilot of 20 periods at 10 s takes 200 s)\n"
    "  --db FILE          an experiment database to play into; without it a new database\n"
    "                     in a temporary folder gets a copy of the version's configuration\n"
    "                     from the data folder (whose own database is never written)\n"
    "  --report FILE.png  also draw the participant's session into a picture\n");

const QRegularExpression& typedNumberPattern()
{
    static const QRegularExpression number(QStringLiteral(R"(^(\d+\.?\d*|\.\d+)$)"));
    return number;
}

// A new database in a temporary folder that stays for the experimenter to look at:
// the schema without the demo versions, plus the version's configuration read from
// the data folder's database.
QString freshDatabase(const ToolContext& ctx, const QString& version)
{
    ToolStore source(ctx.dataFolder);
    QList<store::Row> setup;
    QList<store::Row> labels;
    QList<store::Row> pages;
    QList<store::Row> scenario;
    source.store().transaction(
        [&](store::Connection& c) {
            setup = store::SetupTable::rows(c, version);
            labels = setup.isEmpty() ? QList<store::Row>() : store::LabelTable::rows(c, version);
            pages = setup.isEmpty() ? QList<store::Row>() : store::InstructionTable::rows(c, version);
            scenario = setup.isEmpty() ? QList<store::Row>()
                                       : store::ScenarioTable::rows(c, setup.first().value("ScenarioUsed"));
        },
        true, QStringLiteral("Copy configuration"));
    if (setup.isEmpty())
        throw ToolError(QStringLiteral("There is no version \"%1\" in %2.").arg(version, source.path()));

    QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("aquilevel-bot-XXXXXX")));
    if (!dir.isValid())
        throw ToolError(QStringLiteral("Cannot create a temporary folder: %1").arg(dir.errorString()));
    dir.setAutoRemove(false);
    const QString path = store::databasePath(dir.path());
    try {
        const auto copy = [](store::Connection& c, const char* table, const QList<store::Row>& rows) {
            for (const store::Row& row : rows)
                store::appendRow(c, *store::findTable(QString::fromLatin1(table)), row.columns(), row.values());
        };
        store::engineAt(path)->create([&](store::Connection& connection) {
            copy(connection, "tblSetup", setup);
            copy(connection, "tblLabels", labels);
            copy(connection, "tblInstructions", pages);
            copy(connection, "tblScenarios", scenario);
        });
    } catch (const store::EngineError& error) {
        throw ToolError(QStringLiteral("Could not create %1: %2").arg(path, error.description()));
    }
    return path;
}

bool errIsTerminal(const ToolContext& ctx)
{
    auto* file = qobject_cast<QFile*>(ctx.err.device());
    return file && file->handle() >= 0 && ::isatty(file->handle());
}

QString firstMessage(const UnattendedPrompter& prompter)
{
    return prompter.messages().isEmpty() ? QStringLiteral("the session ended early")
                                         : prompter.messages().first();
}

} // namespace

QString typedNumber(double value)
{
    return config::fixedDecimal(value, 6);
}

BotOrder typedNet(double net)
{
    if (net > 0)
        return {typedNumber(net), QStringLiteral("0")};
    if (net < 0)
        return {QStringLiteral("0"), typedNumber(-net)};
    return {QStringLiteral("0"), QStringLiteral("0")};
}

double netOf(const BotOrder& order)
{
    return order.inflow.toDouble() - order.outflow.toDouble();
}

BotOrder holdOrder(double envInFlow, double envOutFlow, double simTimeForTP)
{
    return typedNet((envOutFlow - envInFlow) * simTimeForTP);
}

BotOrder anchorOrder(double expectedNetOutflow, double goal, double amount, double onTheWay, double alpha,
                     double beta)
{
    return typedNet(expectedNetOutflow + alpha * (goal - amount) - beta * onTheWay);
}

QList<int> parseSchedule(const QString& text)
{
    if (text.trimmed().compare(QStringLiteral("never"), Qt::CaseInsensitive) == 0)
        return {};
    QList<int> delays;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int ms = part.trimmed().toInt(&ok);
        if (!ok || ms < 0)
            throw ToolError(QStringLiteral("--schedule takes milliseconds such as 500,1500 or \"never\", not \"%1\"")
                                .arg(part.trimmed()));
        delays.append(ms);
    }
    return delays;
}

QList<BotOrder> parseOrders(const QString& text)
{
    QList<BotOrder> orders;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(','));
        const auto bad = [&](const QString& why) {
            return ToolError(QStringLiteral("line %1 of the orders: %2 (\"%3\")").arg(i + 1).arg(why, line));
        };
        if (fields.size() != 2)
            throw bad(QStringLiteral("expected two values, inflow,outflow"));
        const QString in = fields.at(0).trimmed();
        const QString out = fields.at(1).trimmed();
        // A header line of names (inflow,outflow), as a spreadsheet writes one, comes first.
        static const QRegularExpression name(QStringLiteral(R"(^[A-Za-z_][\w ]*$)"));
        if (orders.isEmpty() && name.match(in).hasMatch() && name.match(out).hasMatch())
            continue;
        for (const QString& value : {in, out})
            if (!typedNumberPattern().match(value).hasMatch())
                throw bad(QStringLiteral("\"%1\" is not a number a participant can type").arg(value));
        orders.append({in, out});
    }
    if (orders.isEmpty())
        throw ToolError(QStringLiteral("The orders file holds no orders."));
    return orders;
}

int runBot(const QStringList& arguments, const ToolContext& ctx)
{
    CommandArguments args(QStringLiteral("bot"), kUsage, ctx);
    QCommandLineParser& parser = args.parser;
    const QCommandLineOption versionOption(QStringLiteral("version"), QString(), QStringLiteral("V"));
    const QCommandLineOption subjectOption(QStringLiteral("subject"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption ordersOption(QStringLiteral("orders"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption policyOption(QStringLiteral("policy"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption dbOption(QStringLiteral("db"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption reportOption(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption alphaOption(QStringLiteral("alpha"), QString(), QStringLiteral("A"));
    const QCommandLineOption betaOption(QStringLiteral("beta"), QString(), QStringLiteral("B"));
    const QCommandLineOption scheduleOption(QStringLiteral("schedule"), QString(), QStringLiteral("MS"));
    const QCommandLineOption clockOption(QStringLiteral("clock"), QString(), QStringLiteral("MS"));
    const QCommandLineOption noiseOption(QStringLiteral("noise"), QString(), QStringLiteral("SD"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QString(), QStringLiteral("N"));
    parser.addOptions({versionOption, subjectOption, ordersOption, policyOption, dbOption, reportOption, alphaOption,
                       betaOption, scheduleOption, clockOption, noiseOption, seedOption});
    if (const auto status = args.parse(arguments))
        return *status;
    const QString version = parser.value(versionOption).trimmed();
    if (version.isEmpty())
        return args.usageError(QStringLiteral("--version is required"));
    if (parser.isSet(ordersOption) && parser.isSet(policyOption))
        return args.usageError(QStringLiteral("give either --orders or --policy, not both"));
    const QString policy = parser.isSet(policyOption) ? parser.value(policyOption) : QStringLiteral("hold");
    if (policy != QStringLiteral("hold") && policy != QStringLiteral("anchor"))
        return args.usageError(QStringLiteral("unknown policy \"%1\" (known: hold, anchor)").arg(policy));
    if ((parser.isSet(alphaOption) || parser.isSet(betaOption)) && policy != QStringLiteral("anchor"))
        return args.usageError(QStringLiteral("--alpha and --beta belong to --policy anchor"));
    const auto weight = [&](const QCommandLineOption& option, double fallback) -> std::optional<double> {
        if (!parser.isSet(option))
            return fallback;
        bool ok = false;
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < 0)
            return std::nullopt;
        return value;
    };
    const std::optional<double> alpha = weight(alphaOption, 0.5);
    const std::optional<double> beta = weight(betaOption, 0.3);
    if (!alpha || !beta)
        return args.usageError(QStringLiteral("--alpha and --beta take a number of 0 or more"));
    if ((parser.isSet(noiseOption) || parser.isSet(seedOption)) && parser.isSet(ordersOption))
        return args.usageError(QStringLiteral("--noise and --seed belong to a --policy, not to --orders"));
    const std::optional<double> noise = weight(noiseOption, 0);
    if (!noise)
        return args.usageError(QStringLiteral("--noise takes a standard deviation of 0 or more"));
    bool seedOk = true;
    const quint32 seed = parser.isSet(seedOption) ? parser.value(seedOption).trimmed().toUInt(&seedOk)
                                                  : std::random_device{}();
    if (!seedOk)
        return args.usageError(QStringLiteral("--seed takes a whole number of 0 or more"));
    std::mt19937 random(seed);
    std::normal_distribution<double> standard; // scaled by the noise: a spread of 0 is no distribution
    const auto error = [&](std::mt19937& r) { return *noise * standard(r); };
    QList<int> schedule{0};
    int clockMs = 0;
    try {
        if (parser.isSet(scheduleOption))
            schedule = parseSchedule(parser.value(scheduleOption));
    } catch (const ToolError& error) {
        return args.usageError(error.message());
    }
    if (parser.isSet(clockOption)) {
        bool ok = false;
        clockMs = parser.value(clockOption).toInt(&ok);
        if (!ok || clockMs < 1)
            return args.usageError(QStringLiteral("--clock takes milliseconds, 1 or more"));
    }
    const QString subject = parser.isSet(subjectOption)
                                ? parser.value(subjectOption).trimmed()
                                : QStringLiteral("bot-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (subject.isEmpty())
        return args.usageError(QStringLiteral("--subject must not be empty"));
    // What the login refuses the bot refuses too: a name no one could type to resume it.
    if (config::hasControlCharacters(subject))
        return args.usageError(QStringLiteral("--subject must not contain control characters (such as a tab, a "
                                              "line break or an escape)"));

    QList<BotOrder> orders;
    if (parser.isSet(ordersOption)) {
        QFile file(parser.value(ordersOption));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            throw ToolError(QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
        orders = parseOrders(QString::fromUtf8(file.readAll()));
    }

    // Where the session is written: the lab's server when this run names one, the file
    // given, or a fresh file.
    QString path;
    QString freshFolder;
    std::unique_ptr<store::Engine> engine;
    if (store::serverNamedForThisRun() && !parser.isSet(dbOption)) {
        try {
            engine = store::chooseEngine(ctx.dataFolder);
        } catch (const store::ServerSettingsError& error) {
            throw ToolError(error.message());
        }
        path = engine->location();
    } else if (parser.isSet(dbOption)) {
        path = QFileInfo(parser.value(dbOption)).absoluteFilePath();
        if (!QFileInfo(path).isFile())
            throw ToolError(QStringLiteral("There is no database at %1.").arg(path));
    } else {
        path = freshDatabase(ctx, version);
        freshFolder = QFileInfo(path).absolutePath();
    }
    // A fresh database without a whole session in it is of use to nobody: its folder
    // goes with the failure (after the session below has closed it).
    auto removeFresh = qScopeGuard([&] {
        if (!freshFolder.isEmpty())
            QDir(freshFolder).removeRecursively();
    });
    ctx.err << "Playing version " << version << " as " << subject << " into " << path << "\n";
    if (*noise > 0) // so that a run can be repeated with --seed
        ctx.err << "Noise seed: " << seed << "\n";
    ctx.err.flush();

    UnattendedPrompter prompter;
    SystemClock clock;
    UnwindingProcessEnd processEnd;
    store::RealPacer pacer;
    if (!engine)
        engine = store::engineAt(path);
    // A session written into a damaged file would be lost with it.
    try {
        store::refuseDamage(*engine, store::Sweep::EveryPage);
    } catch (const store::DamagedDatabase& error) {
        throw ToolError(error.message());
    }
    Session session({prompter, clock, processEnd, pacer}, std::move(engine));
    session.setQuestionnaire([] {});
    session.random().seed(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    SessionState& s = session.state;
    s.Subject = subject;
    s.Version = version;

    // Set up as the login does for a new participant (no instructions or questionnaire
    // are shown).
    try {
        LoadCheckedSetup(session);
        // Like a station's session, the bot holds its participant while it plays (on a
        // server a station may write only the rows of a participant it holds).
        if (const std::optional<QString> refusal = session.hold().take(subject, version))
            throw ToolError(*refusal);
        if (!s.setup.IsTimeDriven && (parser.isSet(scheduleOption) || parser.isSet(clockOption)))
            throw ToolError(QStringLiteral("Version %1 is participant-paced: --schedule and --clock belong to "
                                           "time-driven play.").arg(version));
        if (clockMs > 0)
            s.setup.TimeBetweenEnvTries = clockMs;
        // A name is one session: one registered or with rows (a bot killed before) is
        // taken up by a login, never played again beside its rows.
        if (FindParticipant(session.store(), version, subject))
            throw ToolError(QStringLiteral("%1 already has a session of version %2 in %3.").arg(subject, version, path));
        s.setup.envDelay = s.setup.EnvMv = s.setup.userDelay = s.setup.UsrMv = 1;
        // Recorded as the login records a new participant, without what nobody was asked,
        // and marked a pilot in the same group: no bot's session is ever there unmarked
        // among the participants the analyses and payments count.
        store::Store::Group registration(session.store());
        RecordParticipant(session, version);
        const store::MarkRow pilot{s.Subject, version, QString::fromLatin1(store::MarkRow::kPilot), kBotReason};
        session.store().write([pilot](store::Connection& c) { store::MarkTable::append(c, pilot); },
                              QStringLiteral("datSubjectMark"), QStringLiteral("Marking a pilot"));
        registration.commit();
        StartNewParticipant(session);
    } catch (const SessionOver&) {
        throw ToolError(firstMessage(prompter));
    }

    task::TrialScreen screen(session);
    screen.load();
    screen.show();
    auto* inflow = screen.findChild<QLineEdit*>(QStringLiteral("txtUsrInflowVal"));
    auto* outflow = screen.findChild<QLineEdit*>(QStringLiteral("txtUsrOutflowVal"));
    auto* submit = screen.findChild<QPushButton*>(QStringLiteral("cmdNextTrial"));
    if (!inflow || !outflow || !submit)
        throw ToolError(QStringLiteral("The trial screen has no order boxes or Submit."));

    const bool terminal = errIsTerminal(ctx);
    const int maxTrial = s.setup.MaxTrial;
    const bool timeDriven = s.setup.IsTimeDriven;
    // Waits in the event loop until `done` holds or the session is over. The clock of
    // time-driven play may take its interval before anything happens.
    const int patienceMs = 60000 + (timeDriven ? int(std::min(s.setup.TimeBetweenEnvTries, 3.6e6)) : 0);
    const auto waitFor = [&](const std::function<bool()>& done) {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done() || screen.isOver() || session.hold().isLost())
                loop.quit();
        });
        QObject::connect(&screen, &task::TrialScreen::sessionOver, &loop, &QEventLoop::quit);
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(patienceMs);
        poll.start();
        if (!done() && !screen.isOver())
            loop.exec();
        if (session.hold().isLost())
            throw ToolError(QStringLiteral("Stopped at period %1: another station now holds %2 of version %3.")
                                .arg(s.Trial)
                                .arg(subject, version));
        if (!done() && !screen.isOver())
            throw ToolError(QStringLiteral("The trial screen did not go on within %1 s (period %2).")
                                .arg(patienceMs / 1000)
                                .arg(s.Trial + 1));
    };
    const auto progress = [&](int period) {
        if (terminal)
            ctx.err << "\rperiod " << period << " of " << maxTrial;
        else
            ctx.err << "period " << period << " of " << maxTrial << "\n";
        ctx.err.flush();
    };
    // What the participant types in period `period`, from what the screen shows now.
    const auto orderFor = [&](int period) {
        if (!orders.isEmpty())
            return orders.at(std::min<qsizetype>(period - 1, orders.size() - 1));
        const double envIn = s.EnvInFlow.value(s.Trial);
        const double envOut = s.EnvOutFlow.value(s.Trial);
        const TankState& tank = s.tank;
        const BotOrder order =
            policy == QStringLiteral("hold")
                ? holdOrder(envIn, envOut, s.setup.simTimeForTP)
                : anchorOrder((envOut - envIn) * s.setup.simTimeForTP, tank.GoalAmount / tank.UnitScale,
                              tank.AmountInTank / tank.UnitScale, tank.TotalBackOrder - tank.TotalForwardDischarge,
                              *alpha, *beta);
        return *noise > 0 ? typedNet(netOf(order) + error(random)) : order;
    };
    const auto type = [&](const BotOrder& order) {
        inflow->setText(order.inflow);
        outflow->setText(order.outflow);
        // An order the screen refuses (one larger than the task takes) is said at once.
        const qsizetype before = prompter.messages().size();
        submit->click();
        if (!screen.isOver() && prompter.messages().size() > before)
            throw ToolError(prompter.messages().last());
    };

    int submits = 0;
    int missed = 0;
    if (!timeDriven) {
        while (!screen.isOver() && s.Trial < maxTrial) {
            waitFor([&] { return submit->isEnabled(); });
            if (screen.isOver())
                break;
            const int period = s.Trial + 1;
            progress(period);
            const int messagesBefore = int(prompter.messages().size());
            type(orderFor(period));
            ++submits;
            waitFor([&] { return s.Trial >= period && submit->isEnabled(); });
            if (!screen.isOver() && s.Trial < period && prompter.messages().size() > messagesBefore)
                throw ToolError(prompter.messages().last());
        }
    } else {
        // The clock opens the periods; in each the bot waits its scheduled time, then
        // submits once Submit is enabled, unless the next tick comes first.
        int seen = 0;
        while (!screen.isOver()) {
            waitFor([&] { return s.Trial != seen; });
            if (screen.isOver())
                break;
            seen = s.Trial;
            progress(seen);
            if (schedule.isEmpty() || seen < 1 || seen > maxTrial)
                continue;
            QElapsedTimer sinceOpen;
            sinceOpen.start();
            const int delay = schedule.at(std::min<qsizetype>(seen - 1, schedule.size() - 1));
            waitFor([&] { return s.Trial != seen || (sinceOpen.elapsed() >= delay && submit->isEnabled()); });
            if (screen.isOver())
                break;
            if (s.Trial != seen) {
                ++missed;
                continue;
            }
            type(orderFor(seen));
            ++submits;
        }
    }
    if (terminal)
        ctx.err << "\n";
    ctx.err.flush();
    // A session that ran its course ends with the earnings message and nothing before it.
    const bool completed = screen.isOver() && s.Trial >= maxTrial && prompter.messages().size() == 1 &&
                           prompter.messages().first().startsWith(QStringLiteral("The game is over"));
    if (!completed)
        throw ToolError(QStringLiteral("The session stopped in period %1: %2").arg(s.Trial).arg(firstMessage(prompter)));

    const SessionData data = loadSession(session.store(), version, subject);
    double distance = 0;
    for (const ReportPeriod& p : data.periods)
        distance += std::abs(p.amount - p.goal);
    if (!data.periods.isEmpty())
        distance /= double(data.periods.size());
    ctx.out << "Subject: " << subject << "\n"
            << "Version: " << version << "\n"
            << "Database: " << path << "\n"
            << "Periods: " << data.periods.size() << " of " << maxTrial << "\n"
            << "Submits: " << submits;
    if (timeDriven)
        ctx.out << " (" << missed << (missed == 1 ? " period" : " periods") << " missed: the clock ticked first)";
    ctx.out << "\n"
            << "Periods in the band: " << data.periodsInBand() << "\n"
            << "Earnings: " << formatMoney(data.earnings) << "\n"
            << "Mean absolute distance from the goal: " << QString::number(distance, 'f', 3) << "\n";
    if (parser.isSet(reportOption)) {
        writePngAtomically(drawSession(data), parser.value(reportOption));
        ctx.out << "Report: " << parser.value(reportOption) << "\n";
    }
    ctx.out.flush();
    removeFresh.dismiss();
    return 0;
}

} // namespace aquilevel::tools
