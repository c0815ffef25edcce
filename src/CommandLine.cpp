#include "CommandLine.h"

#include "config/DemoConfig.h"
#include "materials/Questionnaire.h"
#include "config/Languages.h"
#include "session/Clock.h"
#include "session/EndGame.h"
#include "session/Language.h"
#include "session/MessageBoxPrompter.h"
#include "session/ProcessEnd.h"
#include "session/Session.h"
#include "Startup.h"
#include "session/StopSignals.h"
#include "store/DataLocation.h"
#include "store/EngineChoice.h"
#include "store/EngineError.h"
#include "store/ServerSettings.h"
#include "tools/ConsoleWindow.h"
#include "tools/ToolCommand.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

namespace aquilevel {

namespace {

QString usage()
{
    QString text = QStringLiteral("Usage: aquilevel [--data DIR] [--server URL] [COMMAND] [ARGUMENTS]\n\n"
                                  "Without a command, runs one participant's session (--language CODE\n"
                                  "shows its screens in that language, whatever the version names).\n\nCommands:\n"
                                  "  init       create the experiment database with the demo versions\n"
                                  "  console    the experimenter's window: stations live, versions, payments\n");
    for (const tools::ToolCommand& command : tools::toolCommands())
        text += QStringLiteral("  %1 %2\n").arg(command.name.leftJustified(10), command.summary);
    text += QStringLiteral("\nEach command takes --help.\n");
    return text;
}

QtMessageHandler g_qtMessages = nullptr;

// Qt's notes on a run without a display (no runtime folder, window hints the offscreen
// platform ignores) are no news to an experimenter reading a command's output.
void withoutStartupNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
                                 message.contains(QLatin1String("propagateSizeHints"))))
        return;
    if (g_qtMessages)
        g_qtMessages(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Runs an experimenter's command without any window: arguments after its name, less
// the global data folder option.
int runTool(const tools::ToolCommand& command, int argc, char** argv)
{
    g_qtMessages = qInstallMessageHandler(withoutStartupNotes);
    // Pictures are drawn without a display; a command's own window goes on the display.
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !(command.opensWindow && display))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Widgets too: the scripted participant plays the real trial screen.
    QApplication app(argc, argv);
    QString folder;
    QStringList arguments;
    bool seenCommand = false;
    const QStringList all = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < all.size(); ++i) {
        const QString& a = all.at(i);
        if (a == QStringLiteral("--data") || a == QStringLiteral("-d")) {
            folder = all.value(++i);
        } else if (a.startsWith(QStringLiteral("--data="))) {
            folder = a.mid(7);
        } else if (a == QStringLiteral("--server")) {
            ++i; // taken by takeServerOption() already, with its value
        } else if (a.startsWith(QStringLiteral("--server="))) {
        } else if (!seenCommand && a == command.name) {
            seenCommand = true;
        } else {
            arguments.append(a);
        }
    }
    QTextStream out(stdout);
    QTextStream err(stderr);
    try {
        return command.run(arguments, {store::dataFolder(folder), out, err});
    } catch (const tools::ToolError& error) {
        err << "aquilevel " << command.name << ": " << error.message() << Qt::endl;
        return 1;
    }
}

// --server URL names the lab's server for this run; it is handed on to every part of the
// program as AQUILEVEL_SERVER, which it replaces.
void takeServerOption(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--server" && i + 1 < argc)
            qputenv("AQUILEVEL_SERVER", argv[i + 1]);
        else if (arg.startsWith("--server="))
            qputenv("AQUILEVEL_SERVER", arg.mid(9));
    }
}

// The first argument that is not an option or an option's value.
QString commandOf(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QStringLiteral("--data") || arg == QStringLiteral("-d") || arg == QStringLiteral("--server") ||
            arg == QStringLiteral("--language")) {
            ++i;
            continue;
        }
        if (!arg.startsWith(QLatin1Char('-')))
            return arg;
    }
    return {};
}

void addCommonOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Aquilevel: a water tank task for experiments on decision making.\n\n") + usage());
    parser.addHelpOption();
    parser.addOption({{QStringLiteral("d"), QStringLiteral("data")},
                      QStringLiteral("Folder of the experiment database (default: $AQUILEVEL_DATA, "
                                     "else data beside the program; an installed program: "
                                     "~/.local/share/aquilevel)."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("The lab's database server for this run, postgresql://USER@HOST:PORT/DATABASE "
                                     "(default: $AQUILEVEL_SERVER, else server.conf in the data folder)."),
                      QStringLiteral("URL")});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("init, or nothing"));
}

int runInitOnServer(const store::ServerSettings& server, const QString& stationRole)
{
    try {
        // With a station role on a database that holds the tables already: the role only.
        const std::unique_ptr<store::Engine> engine = store::engineFor(server);
        if (!stationRole.isEmpty() && engine->holdsTables()) {
            store::grantStationRole(server, stationRole);
            std::printf("Station role %s may now play on the %s; set its password with psql's \\password %s.\n",
                        qPrintable(stationRole), qPrintable(server.describe()), qPrintable(stationRole));
            return 0;
        }
        engine->create(config::fillDemoConfiguration);
        if (!stationRole.isEmpty())
            store::grantStationRole(server, stationRole);
    } catch (const store::StoreError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    } catch (const store::EngineError& error) {
        std::fprintf(stderr, "Could not create the tables on the %s: %s\n", qPrintable(server.describe()),
                     qPrintable(error.description()));
        return 1;
    } catch (const store::ServerSettingsError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
    std::printf("Created the tables on the %s with the demo versions.\nDemo experimenter account: %s / %s "
                "(replace it before running participants).\n",
                qPrintable(server.describe()), qPrintable(config::kDemoUser), qPrintable(config::kDemoPassword));
    if (!stationRole.isEmpty())
        std::printf("Station role %s created; set its password with psql's \\password %s.\n", qPrintable(stationRole),
                    qPrintable(stationRole));
    return 0;
}

int runInit(const QString& folder, const QString& stationRole)
{
    try {
        if (const auto server = store::chosenServer(folder, QString()))
            return runInitOnServer(*server, stationRole);
        if (!stationRole.isEmpty()) {
            std::fprintf(stderr, "--station-role is for a server (--server URL or server.conf).\n");
            return 2;
        }
    } catch (const store::ServerSettingsError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
    const QString path = store::databasePath(folder);
    if (QFileInfo::exists(path)) {
        std::fprintf(stderr, "%s already exists; nothing was changed.\n", qPrintable(path));
        return 1;
    }
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "Cannot create the folder %s.\n", qPrintable(folder));
        return 1;
    }
    try {
        store::engineAt(path)->create(config::fillDemoConfiguration);
    } catch (const store::EngineError& error) {
        std::fprintf(stderr, "Could not create %s: %s\n", qPrintable(path),
                     qPrintable(error.description()));
        return 1;
    }
    std::printf("Created %s with the demo versions.\nDemo experimenter account: %s / %s "
                "(replace it before running participants).\n",
                qPrintable(path), qPrintable(config::kDemoUser), qPrintable(config::kDemoPassword));
    return 0;
}

int runSession(QApplication& app, const QString& folder, const StartupOptions& options,
               const QString& stationLanguage)
{
    MessageBoxPrompter prompter;
    SystemClock clock;
    ImmediateProcessEnd processEnd;
    store::RealPacer pacer;
    std::unique_ptr<store::Engine> engine;
    try {
        const bool onServer = store::chosenServer(folder, QString()).has_value();
        const QString path = store::databasePath(folder);
        if (!onServer && !QFileInfo::exists(path)) {
            prompter.inform(kProgramTitle,
                            QCoreApplication::translate("Startup", "There is no experiment database at %1.\n"
                                                                   "Create one with: aquilevel init")
                                .arg(path),
                            Prompter::Icon::Critical);
            return 1;
        }
        engine = store::chooseEngine(folder);
    } catch (const store::ServerSettingsError& error) {
        prompter.inform(kProgramTitle, error.message(), Prompter::Icon::Critical);
        return 1;
    }
    Session session({prompter, clock, processEnd, pacer}, std::move(engine));
    session.setQuestionnaire([&session] { Questionnaire::run(session); });
    // The station's own language wins over the version's.
    if (stationLanguage.isEmpty()) {
        session.setLanguageChoice([](const QString& code) {
            if (!useLanguage(code)) {
                std::fprintf(stderr, "%s The session is shown in English.\n",
                             qPrintable(unknownLanguageMessage(code)));
                useLanguage(QString());
            }
        });
    }
    StopSignals stops([&session](int number) { RequestStop(session, number); });
    try {
        Main(session, options);
    } catch (const std::exception& error) {
        // A fault of the program itself: say so rather than vanish.
        prompter.inform(kProgramTitle,
                        QCoreApplication::translate("Startup", "Aquilevel stopped because of an internal error:\n%1")
                            .arg(QString::fromStdString(error.what())),
                        Prompter::Icon::Critical);
        EndProcess(session, 1);
    }
    return app.exec();
}

} // namespace

int runProgram(int argc, char** argv)
{
    takeServerOption(argc, argv);
    const QString command = commandOf(argc, argv);
    if (command.isEmpty()) {
        // Help needs no window system.
        for (int i = 1; i < argc; ++i) {
            const QByteArray arg(argv[i]);
            if (arg == "--help" || arg == "-h" || arg == "-?") {
                std::printf("%s", qPrintable(usage()));
                return 0;
            }
        }
    }
    if (command == QStringLiteral("init")) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        addCommonOptions(parser);
        const QCommandLineOption stationRole(
            QStringLiteral("station-role"),
            QStringLiteral("On a server: also create the login role NAME with only what a station needs."),
            QStringLiteral("NAME"));
        parser.addOption(stationRole);
        parser.process(app);
        return runInit(store::dataFolder(parser.value(QStringLiteral("data"))), parser.value(stationRole));
    }
    if (command == QStringLiteral("console")) {
        // A window for the experimenter, on the display like a session.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            std::fprintf(stderr, "The console needs a display: run it in the experimenter's desktop session.\n");
            return 1;
        }
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Aquilevel"));
        QCommandLineParser parser;
        addCommonOptions(parser);
        parser.addPositionalArgument(QStringLiteral("console"), QStringLiteral("The experimenter's window."));
        parser.process(app);
        return tools::runConsole(store::dataFolder(parser.value(QStringLiteral("data"))));
    }
    for (const tools::ToolCommand& tool : tools::toolCommands())
        if (tool.name == command)
            return runTool(tool, argc, argv);
    if (!command.isEmpty()) {
        std::fprintf(stderr, "Unknown command: %s\n%s", qPrintable(command), qPrintable(usage()));
        return 2;
    }
    // A session is shown to a person: without a display Qt would abort with a note about
    // platform plugins, which tells a lab nothing.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "A session needs a display: run aquilevel in the station's desktop session "
                             "(the experimenter's commands run without one).\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Aquilevel"));
    QCommandLineParser parser;
    addCommonOptions(parser);
    const QCommandLineOption fullScreen(QStringLiteral("full-screen"),
                                        QStringLiteral("Show the trial screen full-screen rather than maximised."));
    parser.addOption(fullScreen);
    const QCommandLineOption language(QStringLiteral("language"),
                                      QStringLiteral("Show the participant's screens in CODE (%1), whatever the "
                                                     "version's configuration names.")
                                          .arg(config::knownLanguages().join(QStringLiteral(", "))),
                                      QStringLiteral("CODE"));
    parser.addOption(language);
    parser.process(app);
    StartupOptions options;
    options.fullScreen = parser.isSet(fullScreen);
    const QString stationLanguage = parser.value(language);
    if (!stationLanguage.isEmpty() && !useLanguage(stationLanguage)) {
        // Said on the screen too: a station started from its menu shows no terminal.
        const QString message = unknownLanguageMessage(stationLanguage);
        std::fprintf(stderr, "%s\n", qPrintable(message));
        MessageBoxPrompter().inform(kProgramTitle, message, Prompter::Icon::Critical);
        return 2;
    }
    return runSession(app, store::dataFolder(parser.value(QStringLiteral("data"))), options, stationLanguage);
}

} // namespace aquilevel
