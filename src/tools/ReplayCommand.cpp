#include "store/Engine.h"
#include "tools/CommandArguments.h"
#include "tools/ReplayWindow.h"
#include "tools/ToolCommand.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>

#include <memory>

namespace aquilevel::tools {

int runReplay(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("replay"),
                          QStringLiteral("Usage: aquilevel replay --subject S --version V [--db FILE]"), context,
                          CommandArguments::Help::WithOptions);
    QCommandLineParser& parser = args.parser;
    parser.setApplicationDescription(QStringLiteral(
        "Opens a window that redraws a participant's stored session with the trial screen's own tank "
        "drawing, stage by stage, from its event rows, with the period's numbers beside it. Space plays "
        "and pauses, Left and Right step through the stages, Up and Down through the periods. A session "
        "still running is shown up to its last row (Reload reads again). Nothing stored is changed."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The experiment version (required)."),
                                     QStringLiteral("V"));
    const QCommandLineOption subject(QStringLiteral("subject"), QStringLiteral("The participant (required)."),
                                     QStringLiteral("S"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("An experiment database file to read instead of the data folder's."),
                                QStringLiteral("FILE"));
    parser.addOptions({version, subject, db});
    if (const auto status = args.parse(arguments))
        return *status;
    const QString versionName = parser.value(version).trimmed();
    const QString subjectName = parser.value(subject).trimmed();
    if (versionName.isEmpty())
        return args.usageError(QStringLiteral("--version is required."));
    if (subjectName.isEmpty())
        return args.usageError(QStringLiteral("--subject is required."));

    std::unique_ptr<ToolStore> tools;
    if (parser.isSet(db)) {
        const QString path = QFileInfo(parser.value(db)).absoluteFilePath();
        if (!QFileInfo(path).isFile())
            throw ToolError(QStringLiteral("There is no database at %1.").arg(path));
        tools = std::make_unique<ToolStore>(store::engineAt(path));
    } else {
        tools = std::make_unique<ToolStore>(context.dataFolder);
    }
    ReplaySession replay = loadReplay(tools->store(), versionName, subjectName);
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        throw ToolError(QStringLiteral("The replay is a window and needs a display: run it in the experimenter's "
                                       "desktop session."));
    context.out << "Replaying " << replay.frames.size() << " rows of " << subjectName << " in version "
                << versionName << "." << Qt::endl;
    ReplayWindow window(tools->store(), std::move(replay));
    window.show();
    return QApplication::exec();
}

} // namespace aquilevel::tools
