#include "tools/CommandArguments.h"
#include "tools/Progress.h"
#include "tools/ToolCommand.h"

#include "tools/Printable.h"

#include <QCommandLineParser>
#include <QDate>
#include <QMap>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <functional>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] payments [--version V] [--since DATE] [--day DATE] [--csv FILE]\n"
        "       aquilevel [--data DIR] payments --day DATE [--version V] --sheet FILE.pdf|FILE.csv\n"
        "                                       [--round-up UNIT]\n\n"
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
        "  --day DATE       only participants who played on DATE (YYYY-MM-DD)\n"
        "  --csv FILE       also write the list as CSV (UTF-8, header row, CRLF line ends)\n"
        "  --sheet FILE     with --day: write a pay sheet to sign at the booth, a printable A4\n"
        "                   PDF (FILE.pdf) or the same as CSV (FILE.csv): station, participant,\n"
        "                   version, base pay, bonus, total, the total rounded up, a signature\n"
        "                   column, and the sums, in each version's currency symbol\n"
        "  --round-up UNIT  the sheet's rounding unit, e.g. 0.5 or 1 (default 0.01); totals are\n"
        "                   rounded up, never down\n"
        "  --help           show this text\n");
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

void saveFile(const QString& path, const std::function<void(QIODevice&)>& write)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    write(file);
    if (!file.commit())
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

QString timeOf(const QDateTime& at)
{
    return at.isValid() ? at.time().toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString dayOf(const ParticipantProgress& p)
{
    const QDate day = p.sessionDay();
    return day.isValid() ? day.toString(Qt::ISODate) : QString();
}

void writeCsv(const QString& path, const QList<ParticipantProgress>& participants)
{
    // The first columns stay where scripts read them.
    QString text = csvRecord({QStringLiteral("Version"), QStringLiteral("Subject"), QStringLiteral("BasePay"),
                              QStringLiteral("Bonus"), QStringLiteral("TotalPay"), QStringLiteral("Finished"),
                              QStringLiteral("LeftEarly"), QStringLiteral("Station"), QStringLiteral("Date"),
                              QStringLiteral("FirstEvent"), QStringLiteral("LastEvent")});
    for (const ParticipantProgress& p : participants)
        text += csvRecord({p.version, p.subject, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                           formatMoney(p.totBonus), p.finished ? QStringLiteral("1") : QStringLiteral("0"),
                           p.leftEarly() ? QStringLiteral("1") : QStringLiteral("0"), p.station, dayOf(p),
                           timeOf(p.firstEventAt), p.hasEvents ? timeOf(p.lastEventAt) : QString()});
    saveFile(path, [&](QIODevice& file) { file.write(text.toUtf8()); });
}

// Who is paid: every filter of the participants to pay goes here, for the list and the
// sheet alike.
struct PaymentSelection {
    QString version;
    QDate since;
    QDate day;
};

QList<ParticipantProgress> participantsToPay(store::Store& store, const PaymentSelection& selection,
                                             bool* versionFound)
{
    QList<ParticipantProgress> participants = readProgress(store, selection.version, versionFound);
    participants.removeIf([&](const ParticipantProgress& p) {
        const QDateTime last = p.lastActivity();
        if (!selection.since.isValid() && !selection.day.isValid())
            return false;
        if (!last.isValid())
            return true;
        if (selection.since.isValid() && last.date() < selection.since)
            return true;
        return selection.day.isValid() && !p.playedOn(selection.day);
    });
    return participants;
}

// One participant's line of the pay sheet, in hundredths.
struct SheetLine {
    QString station, subject, version, symbol;
    qint64 base = 0, bonus = 0, total = 0, roundedUp = 0;
};

struct PaySheet {
    QString title;
    qint64 unitCents = 1;
    QList<SheetLine> lines;
    QList<SheetLine> sums; // one for each currency symbol
};

PaySheet paySheet(const QList<ParticipantProgress>& participants, qint64 unitCents, const QString& title)
{
    PaySheet sheet;
    sheet.title = title;
    sheet.unitCents = unitCents;
    QMap<QString, SheetLine> sums;
    for (const ParticipantProgress& p : participants) {
        SheetLine line{p.station, p.subject, p.version, p.currencySymbol};
        line.total = std::llround(p.totBonus * 100);
        line.base = std::llround(p.baseMoney * 100);
        line.bonus = line.total - line.base; // so that the columns add up
        line.roundedUp = roundUpCents(p.totBonus, unitCents);
        SheetLine& sum = sums[p.currencySymbol];
        sum.station = QStringLiteral("Sum");
        sum.symbol = p.currencySymbol;
        sum.base += line.base;
        sum.bonus += line.bonus;
        sum.total += line.total;
        sum.roundedUp += line.roundedUp;
        sheet.lines.append(line);
    }
    std::sort(sheet.lines.begin(), sheet.lines.end(), [](const SheetLine& a, const SheetLine& b) {
        const int byStation = QString::compare(a.station, b.station, Qt::CaseInsensitive);
        return byStation != 0 ? byStation < 0 : QString::compare(a.subject, b.subject, Qt::CaseInsensitive) < 0;
    });
    sheet.sums = sums.values();
    return sheet;
}

QString withSymbol(const QString& symbol, qint64 cents)
{
    if (symbol.size() <= 1)
        return symbol + formatCents(cents);
    return symbol + QLatin1Char(' ') + formatCents(cents); // "CHF 5.00"
}

void writeSheetCsv(const QString& path, const PaySheet& sheet)
{
    // Plain numbers, for a spreadsheet to add; the symbol in a column of its own.
    QString text = csvRecord({QStringLiteral("Station"), QStringLiteral("Participant"), QStringLiteral("Version"),
                              QStringLiteral("Currency"), QStringLiteral("BasePay"), QStringLiteral("Bonus"),
                              QStringLiteral("Total"), QStringLiteral("TotalRoundedUp"), QStringLiteral("Signature")});
    for (const SheetLine& l : sheet.lines + sheet.sums)
        text += csvRecord({l.station, l.subject, l.version, l.symbol, formatCents(l.base), formatCents(l.bonus),
                           formatCents(l.total), formatCents(l.roundedUp), QString()});
    saveFile(path, [&](QIODevice& file) { file.write(text.toUtf8()); });
}

void writeSheetPdf(const QString& path, const PaySheet& sheet)
{
    saveFile(path, [&](QIODevice& file) {
        QPdfWriter pdf(&file);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle(sheet.title);
        pdf.setCreator(QStringLiteral("Aquilevel"));
        QPainter painter(&pdf);
        const QRect page = painter.viewport();
        const int width = page.width();
        QFont font = painter.font();
        font.setPointSizeF(9);
        painter.setFont(font);
        // Room for a signature on every line.
        const int rowHeight = painter.fontMetrics().height() * 3;

        // Station, participant, version, base, bonus, total, rounded up, signature.
        const QList<double> shares = {0.10, 0.16, 0.17, 0.09, 0.09, 0.09, 0.11, 0.19};
        const QStringList headings = {QStringLiteral("Station"),  QStringLiteral("Participant"),
                                    QStringLiteral("Version"),  QStringLiteral("Base pay"),
                                    QStringLiteral("Bonus"),    QStringLiteral("Total"),
                                    QStringLiteral("Rounded up"),
                                    QStringLiteral("Signature")};
        int y = 0;
        const auto drawTitle = [&] {
            QFont big = font;
            big.setPointSizeF(13);
            big.setBold(true);
            painter.setFont(big);
            const QRect box(0, 0, width, painter.fontMetrics().height() * 3);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, sheet.title);
            painter.setFont(font);
            y = box.height();
            painter.drawText(QRect(0, y, width, rowHeight), Qt::AlignLeft | Qt::AlignTop,
                             QStringLiteral("Totals rounded up, never down, to %1.").arg(formatCents(sheet.unitCents)));
            y += rowHeight;
        };
        // The header's cells wrap rather than lose their words.
        const auto drawCells = [&](const QStringList& cells, bool bold, bool header) {
            QFont f = font;
            f.setBold(bold);
            if (header)
                f.setPointSizeF(8);
            painter.setFont(f);
            int x = 0;
            for (int c = 0; c < shares.size(); ++c) {
                const int w = int(shares.at(c) * width);
                const Qt::Alignment align = (c >= 3 && c <= 6 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
                const QRect cell(x + 20, y, w - 40, rowHeight);
                if (header)
                    painter.drawText(cell, int(align | Qt::TextWordWrap), cells.value(c));
                else
                    painter.drawText(cell, int(align), painter.fontMetrics().elidedText(printable(cells.value(c)),
                                                                                       Qt::ElideRight, cell.width()));
                x += w;
            }
            y += rowHeight;
            painter.drawLine(0, y, width, y);
        };
        // A new page repeats the header.
        const auto drawRow = [&](const QStringList& cells, bool bold, bool header = false) {
            if (y + rowHeight > page.height()) {
                pdf.newPage();
                y = 0;
                drawCells(headings, true, true);
            }
            drawCells(cells, bold, header);
        };
        drawTitle();
        drawRow(headings, true, true);
        for (const SheetLine& l : sheet.lines)
            drawRow({l.station, l.subject, l.version, withSymbol(l.symbol, l.base), withSymbol(l.symbol, l.bonus),
                     withSymbol(l.symbol, l.total), withSymbol(l.symbol, l.roundedUp), QString()},
                    false);
        for (const SheetLine& l : sheet.sums)
            drawRow({l.station, QStringLiteral("%1 participants").arg(sheet.lines.size()), QString(),
                     withSymbol(l.symbol, l.base), withSymbol(l.symbol, l.bonus), withSymbol(l.symbol, l.total),
                     withSymbol(l.symbol, l.roundedUp), QString()},
                    true);
        if (!painter.end())
            throw ToolError(QStringLiteral("Cannot write %1: the PDF could not be drawn").arg(path));
    });
}

// A rounding unit in whole hundredths: "0.5" -> 50; 0 when it is none.
qint64 unitInCents(const QString& text)
{
    bool ok = false;
    const double unit = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(unit) || unit <= 0 || unit > 1e6)
        return 0;
    const qint64 cents = std::llround(unit * 100);
    return std::fabs(unit * 100 - double(cents)) < 1e-6 ? cents : 0;
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
    parser.addOptions({version, csv, since, day, sheet, roundUp});
    if (const auto status = args.parse(arguments))
        return *status;
    PaymentSelection selection;
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
        bool found = false;
        const QList<ParticipantProgress> participants = participantsToPay(tool.store(), selection, &found);
        if (!selection.version.isEmpty() && participants.isEmpty() && !found)
            throw ToolError(QStringLiteral("There is no version named \"%1\".").arg(selection.version));

        QList<QStringList> rows;
        double sum = 0;
        int finished = 0;
        int leftEarly = 0;
        for (const ParticipantProgress& p : participants) {
            rows.append({p.version, p.subject, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                         formatMoney(p.totBonus), p.finished ? QStringLiteral("yes") : QStringLiteral("no"),
                         p.leftEarly() ? QStringLiteral("left early") : QString(), p.station, dayOf(p),
                         timeOf(p.firstEventAt), p.hasEvents ? timeOf(p.lastEventAt) : QString()});
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
                                         QStringLiteral("Note"), QStringLiteral("Station"), QStringLiteral("Date"),
                                         QStringLiteral("First event"), QStringLiteral("Last event")},
                                        rows, {false, false, true, true, true, false, false, false, false, false, false});
            context.out << "\n" << rows.size() << " participants (" << finished << " finished, " << leftEarly
                        << " left early), total to pay " << formatMoney(sum) << "\n";
        }
        if (parser.isSet(csv)) {
            writeCsv(parser.value(csv), participants);
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
