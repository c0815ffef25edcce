#include "tools/CommandArguments.h"
#include "tools/Payments.h"
#include "tools/Progress.h"
#include "tools/ToolCommand.h"

#include <QCommandLineParser>
#include <QDate>
#include <QTextStream>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] payments [--version V] [--since DATE] [--day DATE] [--csv FILE]\n"
        "       aquilevel [--data DIR] payments --day DATE [--version V] --sheet FILE.pdf|FILE.csv\n"
        "                                       [--round-up UNIT]\n"
        "       (either with [--include-pilots] [--include-excluded])\n\n"
        "Lists what to pay each participant: base pay (BaseMoney), bonus earned, the total\n"
        "(TotBonus of the participant's newest event), whether the last period is done, and\n"
        "whether the participant left early (the session ended before its last period:\n"
        "through the experimenter's exit, or a station's hold released after a crash); then\n"
        "the station (of the newest event row, or the one that holds the participant now),\n"
        "the session's date and the times of its first and last event.\n"
        "A registered participant without any event gets the base pay of the version.\n\n"
        "Options:\n"
        "  --version V      only participants of version V\n"
        "  --since DATE     only participants active on or after DATE (YYYY-MM-DD)\n"
        "  --day DATE       only participants to pay on DATE (YYYY-MM-DD): the day of a\n"
        "                   session's last row, so a session is paid on one day only\n"
        "  --csv FILE       also write the list as CSV (UTF-8, header row, CRLF line ends)\n"
        "  --sheet FILE     with --day: write a pay sheet to sign at the booth, a printable A4\n"
        "                   PDF (FILE.pdf) or the same as CSV (FILE.csv): station, participant,\n"
        "                   version, base pay, bonus, total, the total rounded up, a signature\n"
        "                   column, and the sums, in each version's currency symbol\n"
        "  --round-up UNIT  the sheet's rounding unit, e.g. 0.5 or 1 (default 0.01); totals are\n"
        "                   rounded up, never down\n"
        "  --include-pilots    take in participants marked as pilots (left out by default)\n"
        "  --include-excluded  take in participants marked as excluded (left out by default)\n"
        "  --help           show this text\n");
}

} // namespace

int paymentsCommand(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("payments"), usage(), context);
    QCommandLineParser& parser = args.parser;
    const QCommandLineOption version(QStringLiteral("version"), QString(), QStringLiteral("V"));
    const QCommandLineOption csv(QStringLiteral("csv"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption day(QStringLiteral("day"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption sheet(QStringLiteral("sheet"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption roundUp(QStringLiteral("round-up"), QString(), QStringLiteral("UNIT"));
    const QCommandLineOption includePilots(QStringLiteral("include-pilots"));
    const QCommandLineOption includeExcluded(QStringLiteral("include-excluded"));
    parser.addOptions({version, csv, since, day, sheet, roundUp, includePilots, includeExcluded});
    if (const auto status = args.parse(arguments))
        return *status;
    PaymentSelection selection;
    selection.includePilots = parser.isSet(includePilots);
    selection.includeExcluded = parser.isSet(includeExcluded);
    selection.version = parser.value(version).trimmed();
    if (parser.isSet(version) && selection.version.isEmpty())
        return args.usageError(QStringLiteral("--version needs a version name"));
    if (parser.isSet(csv) && parser.value(csv).isEmpty())
        return args.usageError(QStringLiteral("--csv needs a file name"));
    selection.since = QDate::fromString(parser.value(since).trimmed(), Qt::ISODate);
    if (parser.isSet(since) && !selection.since.isValid())
        return args.usageError(QStringLiteral("--since needs a date such as 2026-12-01, not \"%1\"").arg(parser.value(since)));
    selection.day = QDate::fromString(parser.value(day).trimmed(), Qt::ISODate);
    if (parser.isSet(day) && !selection.day.isValid())
        return args.usageError(QStringLiteral("--day needs a date such as 2026-12-01, not \"%1\"").arg(parser.value(day)));
    const QString sheetPath = parser.value(sheet);
    const bool sheetPdf = sheetPath.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive);
    if (parser.isSet(sheet) && !sheetPdf && !sheetPath.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        return args.usageError(QStringLiteral("--sheet needs a file name ending in .pdf or .csv"));
    if (parser.isSet(sheet) && !selection.day.isValid())
        return args.usageError(QStringLiteral("--sheet is for one session's day: give --day DATE"));
    const qint64 unitCents = parser.isSet(roundUp) ? unitInCents(parser.value(roundUp)) : 1;
    if (parser.isSet(roundUp) && !parser.isSet(sheet))
        return args.usageError(QStringLiteral("--round-up goes with --sheet"));
    if (unitCents <= 0)
        return args.usageError(QStringLiteral("--round-up needs a positive amount in whole cents, such as 0.5 or 1, "
                                              "not \"%1\"")
                                   .arg(parser.value(roundUp)));

    try {
        ToolStore tool(context.dataFolder);
        const ToPay toPay = participantsToPay(tool.store(), selection);
        const QList<ParticipantProgress>& participants = toPay.paid;
        if (!selection.version.isEmpty() && participants.isEmpty() && toPay.apart.isEmpty() && !toPay.versionFound)
            throw ToolError(QStringLiteral("There is no version named \"%1\".").arg(selection.version));

        QList<QStringList> rows;
        qint64 sum = 0; // in hundredths
        int finished = 0;
        int leftEarly = 0;
        for (const ParticipantProgress& p : participants) {
            rows.append({p.version, p.subject, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                         formatMoney(p.totBonus), p.finished ? QStringLiteral("yes") : QStringLiteral("no"),
                         p.leftEarly() ? QStringLiteral("left early") : QString(), p.station, sessionDate(p),
                         clockTime(p.firstEventAt), p.hasEvents ? clockTime(p.lastEventAt) : QString()});
            sum += toCents(p.totBonus);
            finished += p.finished ? 1 : 0;
            leftEarly += p.leftEarly() ? 1 : 0;
        }
        if (rows.isEmpty()) {
            context.out << "No participants.\n";
        } else {
            context.out << alignedTable({QStringLiteral("Version"), QStringLiteral("Participant"),
                                         QStringLiteral("Base pay"), QStringLiteral("Bonus"),
                                         QStringLiteral("Total to pay"), QStringLiteral("Finished"),
                                         QStringLiteral("Note"), QStringLiteral("Station"), QStringLiteral("Date"),
                                         QStringLiteral("First event"), QStringLiteral("Last event")},
                                        rows, {false, false, true, true, true, false, false, false, false, false, false});
            context.out << "\n" << rows.size() << " participants (" << finished << " finished, " << leftEarly
                        << " left early), total to pay " << formatCents(sum) << "\n";
        }
        if (!toPay.apart.isEmpty())
            context.out << toPay.note() << "\n";
        if (parser.isSet(csv)) {
            writePaymentsCsv(parser.value(csv), participants);
            context.out << "Wrote " << parser.value(csv) << "\n";
        }
        if (parser.isSet(sheet)) {
            const QString title = QStringLiteral("Pay sheet: %1, %2%3")
                                      .arg(tool.path(), selection.day.toString(Qt::ISODate),
                                           selection.version.isEmpty() ? QString()
                                                                       : QStringLiteral(", version %1").arg(selection.version));
            const PaySheet paid = paySheet(participants, unitCents, title);
            if (sheetPdf)
                writeSheetPdf(sheetPath, paid);
            else
                writeSheetCsv(sheetPath, paid);
            context.out << "Wrote " << sheetPath << "\n";
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
