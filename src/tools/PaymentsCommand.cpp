#include "tools/CommandArguments.h"
#include "tools/Progress.h"
#include "tools/ToolCommand.h"

#include <QCommandLineParser>
#include <QDate>
#include <QSaveFile>
#include <QTextStream>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] payments [--version V] [--since DATE] [--csv FILE]\n\n"
        "Lists what to pay each participant: base pay (BaseMoney), bonus earned, the total\n"
        "(TotBonus of the participant's newest event), whether the last period is done, and\n"
        "whether the participant left early (the session ended before its last period:\n"
        "through the experimenter's exit, or a station's hold released after a crash).\n"
        "A registered participant without any event gets the base pay of the version.\n\n"
        "Options:\n"
        "  --version V   only participants of version V\n"
        "  --since DATE  only participants active on or after DATE (YYYY-MM-DD)\n"
        "  --csv FILE    also write the list as CSV (UTF-8, header row, CRLF line ends)\n"
        "  --help        show this text\n");
}

// One field of a CSV record: quoted when it holds a separator, a quote or a line end.
QString csvField(const QString& value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"'))
        && !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    return QLatin1Char('"') + QString(value).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString csvRecord(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& field : fields)
        quoted.append(csvField(field));
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

void writeCsv(const QString& path, const QList<ParticipantProgress>& participants)
{
    QString text = csvRecord({QStringLiteral("Version"), QStringLiteral("Subject"), QStringLiteral("BasePay"),
                              QStringLiteral("Bonus"), QStringLiteral("TotalPay"), QStringLiteral("Finished"),
                              QStringLiteral("LeftEarly")});
    for (const ParticipantProgress& p : participants)
        text += csvRecord({p.version, p.subject, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                           formatMoney(p.totBonus), p.finished ? QStringLiteral("1") : QStringLiteral("0"),
                           p.leftEarly() ? QStringLiteral("1") : QStringLiteral("0")});
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    file.write(text.toUtf8());
    if (!file.commit())
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

} // namespace

int paymentsCommand(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("payments"), usage(), context);
    QCommandLineParser& parser = args.parser;
    const QCommandLineOption version(QStringLiteral("version"), QString(), QStringLiteral("V"));
    const QCommandLineOption csv(QStringLiteral("csv"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("DATE"));
    parser.addOptions({version, csv, since});
    if (const auto status = args.parse(arguments))
        return *status;
    const QString onlyVersion = parser.value(version).trimmed();
    if (parser.isSet(version) && onlyVersion.isEmpty())
        return args.usageError(QStringLiteral("--version needs a version name"));
    if (parser.isSet(csv) && parser.value(csv).isEmpty())
        return args.usageError(QStringLiteral("--csv needs a file name"));
    const QDate sinceDate = QDate::fromString(parser.value(since).trimmed(), Qt::ISODate);
    if (parser.isSet(since) && !sinceDate.isValid())
        return args.usageError(QStringLiteral("--since needs a date such as 2026-12-01, not \"%1\"").arg(parser.value(since)));

    try {
        ToolStore tool(context.dataFolder);
        bool found = false;
        QList<ParticipantProgress> participants = readProgress(tool.store(), onlyVersion, &found);
        if (sinceDate.isValid())
            participants.removeIf([&](const ParticipantProgress& p) {
                return !p.lastActivity().isValid() || p.lastActivity().date() < sinceDate;
            });
        if (!onlyVersion.isEmpty() && participants.isEmpty() && !found)
            throw ToolError(QStringLiteral("There is no version named \"%1\".").arg(onlyVersion));

        QList<QStringList> rows;
        double sum = 0;
        int finished = 0;
        int leftEarly = 0;
        for (const ParticipantProgress& p : participants) {
            rows.append({p.version, p.subject, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                         formatMoney(p.totBonus), p.finished ? QStringLiteral("yes") : QStringLiteral("no"),
                         p.leftEarly() ? QStringLiteral("left early") : QString()});
            sum += p.totBonus;
            finished += p.finished ? 1 : 0;
            leftEarly += p.leftEarly() ? 1 : 0;
        }
        if (rows.isEmpty()) {
            context.out << "No participants.\n";
        } else {
            context.out << alignedTable({QStringLiteral("Version"), QStringLiteral("Participant"),
                                         QStringLiteral("Base pay"), QStringLiteral("Bonus"),
                                         QStringLiteral("Total to pay"), QStringLiteral("Finished"),
                                         QStringLiteral("Note")},
                                        rows, {false, false, true, true, true, false, false});
            context.out << "\n" << rows.size() << " participants (" << finished << " finished, " << leftEarly
                        << " left early), total to pay " << formatMoney(sum) << "\n";
        }
        if (parser.isSet(csv)) {
            writeCsv(parser.value(csv), participants);
            context.out << "Wrote " << parser.value(csv) << "\n";
        }
        context.out.flush();
        return 0;
    } catch (const ToolError& error) {
        context.out.flush();
        context.err << "aquilevel payments: " << error.message() << "\n";
        context.err.flush();
        return 1;
    }
}

} // namespace aquilevel::tools
