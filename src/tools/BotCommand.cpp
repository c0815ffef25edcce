#include "tools/BotCommand.h"

#include "session/Clock.h"
#include "session/Headless.h"
#include "task/InitSession.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Resume.h"
#include "session/Session.h"
#include "session/StartVersion.h"
#include "store/DataLocation.h"
#include "store/EngineChoice.h"
#include "store/EngineError.h"
#include "store/ServerSettings.h"
#include "store/Pacer.h"
#include "store/Query.h"
#include "store/Schema.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"
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
#include <unistd.h>

namespace aquilevel::tools {

namespace {

const QString kUsage = QStringLiteral(
    "Usage: aquilevel [--data DIR] bot --version V [--subject NAME]\n"
    "                 [--orders FILE.csv | --policy hold] [--db FILE] [--report FILE.png]\n\n"
    "Plays one whole participant-paced session of version V through the real trial screen,\n"
    "without a window and with every stage interval at 1 ms, then prints the participant's\n"
    "summary.\n\n"
    "  --version V        the version to play\n"
    "  --subject NAME     the participant's name (default: bot-<date and time>)\n"
    "  --orders FILE.csv  one line per period: inflow,outflow (when the file has fewer\n"
    "                     lines than periods, its last line is repeated)\n"
    "  --policy hold      order back what the environment's net flow of the last period\n"
    "                     took away (the default when no orders are given)\n"
    "  --db FILE          an experiment database to play into; without it a new database\n"
    "                     in a temporary folder gets a copy of the version's configuration\n"
    "                     from the data folder (whose own database is never written)\n"
    "  --report FILE.png  also draw the participant's session into a picture\n");

const QRegularExpression& typedNumberPattern()
{
    static const QRegularExpression number(QStringLiteral(R"(^(\d+\.?\d*|\.\d+)$)"));
    return number;
}

using Row = store::FieldValues;

// Every row of a query, field by field.
QList<Row> readAll(store::Store& store, const QString& sql, const QVariantList& params)
{
    QList<Row> rows;
    auto rs = store.OpenTable(store::Query(sql, params), true, QStringLiteral("Copy configuration"));
    const QStringList names = rs->fieldNames();
    for (; !rs->isEOF(); rs->moveNext()) {
        Row row;
        for (const QString& name : names)
            row.append({name, rs->field(name)});
        rows.append(row);
    }
    rs->close();
    return rows;
}

QVariant valueOf(const Row& row, const QString& name)
{
    for (const auto& [field, value] : row)
        if (field.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// A new database in a temporary folder that stays for the experimenter to look at:
// the schema without the demo versions, plus the version's configuration read from
// the data folder's database.
QString freshDatabase(const ToolContext& ctx, const QString& version)
{
    ToolStore source(ctx.dataFolder);
    const QList<Row> setup = readAll(source.store(), QStringLiteral("select * from tblSetup where Version=?"), {version});
    if (setup.isEmpty())
        throw ToolError(QStringLiteral("There is no version \"%1\" in %2.").arg(version, source.path()));
    const QList<Row> labels = readAll(source.store(), QStringLiteral("select * from tblLabels where version=?"), {version});
    const QList<Row> scenario = readAll(source.store(), QStringLiteral("select * from tblScenarios where Scenario=?"),
                                        {valueOf(setup.first(), QStringLiteral("ScenarioUsed"))});

    QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("aquilevel-bot-XXXXXX")));
    if (!dir.isValid())
        throw ToolError(QStringLiteral("Cannot create a temporary folder: %1").arg(dir.errorString()));
    dir.setAutoRemove(false);
    const QString path = store::databasePath(dir.path());
    try {
        store::SqlCipherEngine::create(path, store::databasePassword(), store::schemaStatements(),
                                       [&](store::Connection& connection) {
                                           for (const Row& row : setup)
                                               connection.insert(QStringLiteral("tblSetup"), row);
                                           for (const Row& row : labels)
                                               connection.insert(QStringLiteral("tblLabels"), row);
                                           for (const Row& row : scenario)
                                               connection.insert(QStringLiteral("tblScenarios"), row);
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
    QString text = QString::number(value, 'f', 6);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QStringLiteral("-0") ? QStringLiteral("0") : text;
}

BotOrder holdOrder(double envInFlow, double envOutFlow, double simTimeForTP)
{
    const double takenAway = (envOutFlow - envInFlow) * simTimeForTP;
    if (takenAway > 0)
        return {typedNumber(takenAway), QStringLiteral("0")};
    if (takenAway < 0)
        return {QStringLiteral("0"), typedNumber(-takenAway)};
    return {QStringLiteral("0"), QStringLiteral("0")};
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
    parser.addOptions({versionOption, subjectOption, ordersOption, policyOption, dbOption, reportOption});
    if (const auto status = args.parse(arguments))
        return *status;
    const QString version = parser.value(versionOption).trimmed();
    if (version.isEmpty())
        return args.usageError(QStringLiteral("--version is required"));
    if (parser.isSet(ordersOption) && parser.isSet(policyOption))
        return args.usageError(QStringLiteral("give either --orders or --policy, not both"));
    if (parser.isSet(policyOption) && parser.value(policyOption) != QStringLiteral("hold"))
        return args.usageError(QStringLiteral("unknown policy \"%1\" (known: hold)").arg(parser.value(policyOption)));
    const QString subject = parser.isSet(subjectOption)
                                ? parser.value(subjectOption).trimmed()
                                : QStringLiteral("bot-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (subject.isEmpty())
        return args.usageError(QStringLiteral("--subject must not be empty"));

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
    ctx.err.flush();

    UnattendedPrompter prompter;
    SystemClock clock;
    UnwindingProcessEnd processEnd;
    store::RealPacer pacer;
    if (!engine)
        engine = std::make_unique<store::SqlCipherEngine>(path, store::databasePassword());
    Session session({prompter, clock, processEnd, pacer}, std::move(engine));
    session.setQuestionnaire([] {});
    session.random().seed(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    SessionState& s = session.state;
    s.Subject = subject;
    s.Version = version;

    // Set up as the login does for a new participant (no registration row is written,
    // no instructions or questionnaire are shown).
    try {
        LoadCheckedSetup(session);
        if (s.setup.IsTimeDriven)
            throw ToolError(QStringLiteral("Version %1 is time-driven; only participant-paced versions can be played.")
                                .arg(version));
        if (HasLoggedEvents(session, QStringLiteral("Copy configuration")))
            throw ToolError(QStringLiteral("%1 already has a session of version %2 in %3.").arg(subject, version, path));
        s.setup.envDelay = s.setup.EnvMv = s.setup.userDelay = s.setup.UsrMv = 1;
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
    // Waits in the event loop until `done` holds or the session is over.
    const auto waitFor = [&](const std::function<bool()>& done) {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done() || screen.isOver())
                loop.quit();
        });
        QObject::connect(&screen, &task::TrialScreen::sessionOver, &loop, &QEventLoop::quit);
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(60000);
        poll.start();
        if (!done() && !screen.isOver())
            loop.exec();
        if (!done() && !screen.isOver())
            throw ToolError(QStringLiteral("The trial screen did not go on within a minute (period %1).")
                                .arg(s.Trial + 1));
    };

    while (!screen.isOver() && s.Trial < maxTrial) {
        waitFor([&] { return submit->isEnabled(); });
        if (screen.isOver())
            break;
        const int period = s.Trial + 1;
        const BotOrder order = orders.isEmpty()
                                   ? holdOrder(s.EnvInFlow.value(s.Trial), s.EnvOutFlow.value(s.Trial),
                                               s.setup.simTimeForTP)
                                   : orders.at(std::min<qsizetype>(period - 1, orders.size() - 1));
        if (terminal)
            ctx.err << "\rperiod " << period << " of " << maxTrial;
        else
            ctx.err << "period " << period << " of " << maxTrial << "\n";
        ctx.err.flush();
        inflow->setText(order.inflow);
        outflow->setText(order.outflow);
        const int messagesBefore = int(prompter.messages().size());
        submit->click();
        waitFor([&] { return s.Trial >= period && submit->isEnabled(); });
        if (!screen.isOver() && s.Trial < period && prompter.messages().size() > messagesBefore)
            throw ToolError(prompter.messages().last());
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
