#include "tools/MarkCommand.h"

#include "session/ExperimenterAccounts.h"
#include "session/Registrations.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/Store.h"
#include "tools/CommandArguments.h"
#include "tools/PasswordInput.h"
#include "tools/Printable.h"

#include <QTextStream>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] mark --version V --subject S (--pilot|--excluded|--clear)\n"
        "                 --user NAME [--reason TEXT]\n\n"
        "Marks the participant S of version V (letter case ignored) as a pilot or as excluded,\n"
        "or takes the mark back, with the reason given. export and report leave marked\n"
        "participants out unless asked to take them in. Every mark is kept in datSubjectMark;\n"
        "a participant's newest one counts.\n"
        "An experimenter's account must allow it: the password of the user NAME is asked\n"
        "without echo; when standard input is not a terminal its first line is read instead.\n\n"
        "Options:\n"
        "  --version V     the participant's version\n"
        "  --subject S     the participant\n"
        "  --pilot         a session played to try the task or the lab out\n"
        "  --excluded      a participant left out of the analyses and payments\n"
        "  --clear         takes the participant's mark back\n"
        "  --reason TEXT   why, kept with the mark\n"
        "  --user NAME     the experimenter's user name\n"
        "  --help          show this text\n");
}

} // namespace

QString markParticipant(store::Store& store, const QString& version, const QString& subject, const QString& mark,
                        const QString& reason)
{
    // The names as the database spells them; a mark for nobody would be a typing error.
    const std::optional<KnownName> known = FindParticipant(store, version, subject);
    if (!known)
        throw ToolError(QStringLiteral("Version %1 has no participant %2; nothing was changed.")
                            .arg(printable(version), printable(subject)));
    QString spelled = version;
    QString before;
    store.read(
        [&](store::Connection& c) {
            if (const std::optional<store::Row> setup = store::SetupTable::row(c, version))
                spelled = setup->value("Version").toString();
            before = store::MarkTable::mark(c, known->spelling, version);
        },
        QStringLiteral("datSubjectMark"), QStringLiteral("Reading a mark"));
    if (mark.isEmpty() && before.isEmpty())
        throw ToolError(QStringLiteral("Participant %1 of version %2 has no mark; nothing was changed.")
                            .arg(printable(known->spelling), printable(spelled)));

    const store::MarkRow row{known->spelling, spelled, mark, reason};
    store.write([row](store::Connection& c) { store::MarkTable::append(c, row); }, QStringLiteral("datSubjectMark"),
                QStringLiteral("Marking a participant"));
    if (mark.isEmpty())
        return QStringLiteral("Took back the mark (%1) of participant %2 of version %3.")
            .arg(before, printable(row.Subject), printable(row.Version));
    return QStringLiteral("Marked participant %1 of version %2 as %3.")
        .arg(printable(row.Subject), printable(row.Version),
             mark == QLatin1String(store::MarkRow::kPilot) ? QStringLiteral("a pilot") : QStringLiteral("excluded"));
}

int runMark(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("mark"), usage(), context);
    const QCommandLineOption versionOption(QStringLiteral("version"), QString(), QStringLiteral("V"));
    const QCommandLineOption subjectOption(QStringLiteral("subject"), QString(), QStringLiteral("S"));
    const QCommandLineOption pilotOption(QStringLiteral("pilot"));
    const QCommandLineOption excludedOption(QStringLiteral("excluded"));
    const QCommandLineOption clearOption(QStringLiteral("clear"));
    const QCommandLineOption reasonOption(QStringLiteral("reason"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption userOption(QStringLiteral("user"), QString(), QStringLiteral("NAME"));
    args.parser.addOptions({versionOption, subjectOption, pilotOption, excludedOption, clearOption, reasonOption, userOption});
    if (const auto status = args.parse(arguments))
        return *status;
    const QString version = args.parser.value(versionOption).trimmed();
    const QString subject = args.parser.value(subjectOption).trimmed();
    const QString user = args.parser.value(userOption).trimmed();
    if (version.isEmpty())
        return args.usageError(QStringLiteral("--version is required"));
    if (subject.isEmpty())
        return args.usageError(QStringLiteral("--subject is required"));
    if (user.isEmpty())
        return args.usageError(QStringLiteral("--user is required"));
    const int kinds = int(args.parser.isSet(pilotOption)) + int(args.parser.isSet(excludedOption)) +
                      int(args.parser.isSet(clearOption));
    if (kinds != 1)
        return args.usageError(QStringLiteral("give one of --pilot, --excluded and --clear"));
    const QString mark = args.parser.isSet(pilotOption)      ? QString::fromLatin1(store::MarkRow::kPilot)
                         : args.parser.isSet(excludedOption) ? QString::fromLatin1(store::MarkRow::kExcluded)
                                                             : QStringLiteral("");

    // The database must be there before anyone is asked for a password.
    ToolStore tool(context.dataFolder);
    store::Store& store = tool.store();
    const std::optional<QString> password = readPassword(QStringLiteral("Password for %1: ").arg(user), context);
    if (!password || !AccountMatches(store, user, *password))
        throw ToolError(QStringLiteral("The user name or the password is wrong; nothing was changed."));

    context.out << markParticipant(store, version, subject, mark, args.parser.value(reasonOption)) << "\n";
    context.out.flush();
    return 0;
}

} // namespace aquilevel::tools
