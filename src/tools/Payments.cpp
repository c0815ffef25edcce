#include "tools/Payments.h"

#include "store/DataRows.h"
#include "store/NameKey.h"
#include "tools/Csv.h"
#include "tools/Printable.h"
#include "tools/ToolCommand.h"

#include <QMap>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <functional>

namespace aquilevel::tools {

namespace {

void saveFile(const QString& path, const std::function<void(QIODevice&)>& write)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    write(file);
    if (!file.commit())
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

QString withSymbol(const QString& symbol, qint64 cents)
{
    if (symbol.size() <= 1)
        return symbol + formatCents(cents);
    return symbol + QLatin1Char(' ') + formatCents(cents); // "CHF 5.00"
}

} // namespace

QString clockTime(const QDateTime& at)
{
    return at.isValid() ? at.time().toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString sessionDate(const ParticipantProgress& p)
{
    const QDate day = p.sessionDay();
    return day.isValid() ? day.toString(Qt::ISODate) : QString();
}

void writePaymentsCsv(const QString& path, const QList<ParticipantProgress>& participants)
{
    // The first columns stay where scripts read them.
    QByteArray text = csv::record({QStringLiteral("Version"), QStringLiteral("Subject"), QStringLiteral("BasePay"),
                              QStringLiteral("Bonus"), QStringLiteral("TotalPay"), QStringLiteral("Finished"),
                              QStringLiteral("LeftEarly"), QStringLiteral("Station"), QStringLiteral("Date"),
                              QStringLiteral("FirstEvent"), QStringLiteral("LastEvent")});
    for (const ParticipantProgress& p : participants)
        text += csv::record({p.version, p.subject, formatMoney(p.baseMoney), formatMoney(p.bonus()),
                           formatMoney(p.totBonus), p.finished ? QStringLiteral("1") : QStringLiteral("0"),
                           p.leftEarly() ? QStringLiteral("1") : QStringLiteral("0"), p.station, sessionDate(p),
                           clockTime(p.firstEventAt), p.hasEvents ? clockTime(p.lastEventAt) : QString()});
    saveFile(path, [&](QIODevice& file) { file.write(text); });
}

ToPay participantsToPay(store::Store& store, const PaymentSelection& selection)
{
    bool found = false;
    const QList<ParticipantProgress> participants = readProgress(store, selection.version, &found);
    ToPay result = sortOut(participants, selection);
    result.versionFound = found;
    return result;
}

ToPay sortOut(const QList<ParticipantProgress>& participants, const PaymentSelection& selection)
{
    ToPay result;
    for (const ParticipantProgress& p : participants) {
        if (!selection.version.isEmpty() && store::nameKey(p.version) != store::nameKey(selection.version))
            continue;
        const QDateTime last = p.lastActivity();
        if (selection.since.isValid() || selection.day.isValid()) {
            if (!last.isValid())
                continue;
            if (selection.since.isValid() && last.date() < selection.since)
                continue;
            if (selection.day.isValid() && !p.paidOn(selection.day))
                continue;
        }
        const bool apart = (p.mark == QLatin1String(store::MarkRow::kPilot) && !selection.includePilots) ||
                           (p.mark == QLatin1String(store::MarkRow::kExcluded) && !selection.includeExcluded);
        (apart ? result.apart : result.paid).append(p);
    }
    return result;
}

QString ToPay::note() const
{
    LeftOut counted; // says it as export and report do
    for (const ParticipantProgress& p : apart)
        ++(p.mark == QLatin1String(store::MarkRow::kPilot) ? counted.pilots : counted.excluded);
    return counted.note();
}

PaySheet paySheet(const QList<ParticipantProgress>& participants, qint64 unitCents, const QString& title)
{
    PaySheet sheet;
    sheet.title = title;
    sheet.unitCents = unitCents;
    QMap<QString, SheetLine> sums;
    for (const ParticipantProgress& p : participants) {
        SheetLine line{p.station, p.subject, p.version, p.currencySymbol};
        line.total = toCents(p.totBonus);
        line.base = toCents(p.baseMoney);
        line.bonus = line.total - line.base; // so that the columns add up
        line.roundedUp = roundUpCents(p.totBonus, unitCents);
        if (!p.finished)
            line.note = p.held ? QStringLiteral("still playing") : QStringLiteral("left early");
        const bool first = !sums.contains(p.currencySymbol);
        SheetLine& sum = sums[p.currencySymbol];
        sum.participants = first ? 1 : sum.participants + 1;
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

void writeSheetCsv(const QString& path, const PaySheet& sheet)
{
    // Plain numbers, for a spreadsheet to add; the symbol in a column of its own.
    QByteArray text = csv::record({QStringLiteral("Station"), QStringLiteral("Participant"), QStringLiteral("Version"),
                              QStringLiteral("Currency"), QStringLiteral("BasePay"), QStringLiteral("Bonus"),
                              QStringLiteral("Total"), QStringLiteral("TotalRoundedUp"), QStringLiteral("Note"),
                              QStringLiteral("Signature")});
    for (const SheetLine& l : sheet.lines + sheet.sums)
        text += csv::record({l.station, l.subject, l.version, l.symbol, formatCents(l.base), formatCents(l.bonus),
                           formatCents(l.total), formatCents(l.roundedUp), l.note, QString()});
    saveFile(path, [&](QIODevice& file) { file.write(text); });
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
            drawRow({l.station, l.note.isEmpty() ? l.subject : QStringLiteral("%1 (%2)").arg(l.subject, l.note), l.version, withSymbol(l.symbol, l.base), withSymbol(l.symbol, l.bonus),
                     withSymbol(l.symbol, l.total), withSymbol(l.symbol, l.roundedUp), QString()},
                    false);
        for (const SheetLine& l : sheet.sums)
            drawRow({l.station, QStringLiteral("%1 participants").arg(l.participants), QString(),
                     withSymbol(l.symbol, l.base), withSymbol(l.symbol, l.bonus), withSymbol(l.symbol, l.total),
                     withSymbol(l.symbol, l.roundedUp), QString()},
                    true);
        if (!painter.end())
            throw ToolError(QStringLiteral("Cannot write %1: the PDF could not be drawn").arg(path));
    });
}

qint64 unitInCents(const QString& text)
{
    bool ok = false;
    const double unit = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(unit) || unit <= 0 || unit > 1e6)
        return 0;
    const qint64 cents = std::llround(unit * 100);
    return std::fabs(unit * 100 - double(cents)) < 1e-6 ? cents : 0;
}

} // namespace aquilevel::tools
