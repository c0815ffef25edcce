#include "tools/ReportPdf.h"

#include "store/ConfigTables.h"
#include "store/Store.h"
#include "tools/ToolCommand.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace aquilevel::tools {

namespace {

// The page's pixels are about 0.28 mm: 11 pixels print at about 9 points.
constexpr double kTitleText = 22;
constexpr double kText = 12;
constexpr double kTableText = 11;
constexpr double kRowHeight = 16;
constexpr double kFooter = 18;
constexpr double kColumnGap = 30;
// The first page's figures on the left, the strip plots on the right.
constexpr double kFiguresTop = 62;
constexpr double kPlotHeight = 86;
constexpr double kPlotGap = 14;
// Of a participant's page: the session's pictures above, the rule's below.
constexpr double kSessionShare = 0.64;

QFont textFont(double pixels, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(int(pixels));
    f.setBold(bold);
    return f;
}

QString fixed(double value, int decimals)
{
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0; // no "-0.000"
    return QString::number(value, 'f', decimals);
}

// A list of names that keeps to a few lines; the table marks every one of them.
QString someNames(const QStringList& names)
{
    constexpr int kShown = 12;
    if (names.size() <= kShown)
        return names.join(QStringLiteral(", "));
    return QStringLiteral("%1 and %2 more (marked in the table)")
        .arg(names.first(kShown).join(QStringLiteral(", ")))
        .arg(names.size() - kShown);
}

// The middle value; the mean of the middle two of an even count.
double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The lines of figures on the first page, each wrapped to the left column.
QStringList figureLines(const VersionReport& report, const VersionFigures& f)
{
    QStringList lines;
    lines << QStringLiteral("Participants: %1").arg(f.participants);
    if (!report.leftOutNote.isEmpty())
        lines << report.leftOutNote;
    const int periods = report.participants.isEmpty() ? 0 : report.participants.first().session.maxTrial;
    lines << QStringLiteral("Periods in the band%1: mean %2, fewest %3, most %4")
                 .arg(periods > 0 ? QStringLiteral(" (of %1)").arg(periods) : QString())
                 .arg(fixed(f.meanInBand, 1))
                 .arg(f.fewestInBand)
                 .arg(f.mostInBand);
    const QString units = report.participants.isEmpty() ? QString() : report.participants.first().session.units;
    lines << QStringLiteral("Mean absolute distance from the goal: %1 %2, averaged over the participants")
                 .arg(fixed(f.meanDistance, 3), units.isEmpty() ? QStringLiteral("amount units") : units);
    lines << (f.alphas.isEmpty()
                  ? QStringLiteral("The rule was fitted for nobody.")
                  : QStringLiteral("Rule fitted for %1 of %2: median alpha %3, median beta %4")
                        .arg(f.alphas.size())
                        .arg(f.participants)
                        .arg(fixed(f.medianAlpha, 3), fixed(f.medianBeta, 3)));
    if (!f.unfitted.isEmpty())
        lines << QStringLiteral("Not fitted (fewer than 4 periods to fit, or orders that cannot tell the "
                                "terms apart): %1")
                     .arg(someNames(f.unfitted));
    if (!f.lowFit.isEmpty())
        lines << QStringLiteral("R\u00b2 below %1 (the rule explains little): %2")
                     .arg(fixed(kLowRSquared, 2), someNames(f.lowFit));
    return lines;
}

// Where the first page's table begins and how many of its rows each summary page holds.
struct SummaryPlan {
    QStringList lines;
    QList<double> lineHeights;
    double tableTop = 0;
    int firstRows = 0;
    int laterRows = 0;
    int pages = 1;
};

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

SummaryPlan summaryPlan(const VersionReport& report, QSize page)
{
    SummaryPlan plan;
    plan.lines = figureLines(report, versionFigures(report));
    const QFontMetricsF metrics(textFont(kText));
    const double width = page.width() / 2.0 - kColumnGap / 2;
    double y = kFiguresTop;
    for (const QString& line : std::as_const(plan.lines)) {
        const double height = metrics.boundingRect(QRectF(0, 0, width, 10000), kTextFlags, line).height() + 5;
        plan.lineHeights.append(height);
        y += height;
    }
    plan.tableTop = std::max(y, kFiguresTop + 2 * kPlotHeight + kPlotGap) + 20;
    const double bottom = page.height() - kFooter;
    plan.firstRows = std::max(0, int((bottom - plan.tableTop) / kRowHeight) - 1); // less the heading row
    plan.laterRows = std::max(1, int((bottom - 50) / kRowHeight) - 1);
    const int rest = std::max(0, int(report.participants.size()) - plan.firstRows);
    plan.pages = 1 + (rest + plan.laterRows - 1) / plan.laterRows;
    return plan;
}

void drawFooter(QPainter& p, const VersionReport& report, int index, int pages, QSize page)
{
    p.save();
    p.setPen(QColor(90, 90, 90));
    p.setFont(textFont(9));
    p.drawText(QRectF(0, page.height() - kFooter + 4, page.width(), kFooter - 4), Qt::AlignRight | Qt::AlignBottom,
               QStringLiteral("Version %1 \u2014 page %2 of %3").arg(report.version).arg(index + 1).arg(pages));
    p.restore();
}

// The values of one figure over the participants as dots on an axis, the median marked.
void drawStrip(QPainter& p, const QRectF& box, const QString& title, const QList<double>& values, double median)
{
    p.save();
    p.setPen(Qt::black);
    p.setFont(textFont(kText, true));
    p.drawText(QPointF(box.left(), box.top() + 12), title);
    p.setFont(textFont(10));
    if (values.isEmpty()) {
        p.drawText(QPointF(box.left(), box.top() + 34), QStringLiteral("No rule was fitted."));
        p.restore();
        return;
    }
    double low = 0, high = 1; // the range a rule's alpha or beta is expected in
    for (double v : values) {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    const double step = niceRange(low, high, 5);
    const double axisY = box.bottom() - 18;
    const double left = box.left() + 12;
    const double right = box.right() - 12;
    const auto x = [&](double v) { return left + (v - low) / (high - low) * (right - left); };
    p.drawLine(QPointF(left, axisY), QPointF(right, axisY));
    const QFontMetricsF metrics(p.font());
    for (double v = low; v <= high + step * 1e-6; v += step) {
        p.drawLine(QPointF(x(v), axisY), QPointF(x(v), axisY + 4));
        const QString text = tickText(v, step);
        p.drawText(QPointF(x(v) - metrics.horizontalAdvance(text) / 2, axisY + 5 + metrics.ascent()), text);
    }
    // Three rows of dots, so that close values stay apart.
    p.setPen(Qt::NoPen);
    QColor dot = reportColours::typedOrder;
    dot.setAlpha(170);
    p.setBrush(dot);
    for (qsizetype i = 0; i < values.size(); ++i)
        p.drawEllipse(QPointF(x(values[i]), axisY - 10 - (i % 3) * 9), 4.0, 4.0);
    p.setPen(QPen(reportColours::goal, 2));
    const double top = box.top() + 34;
    p.drawLine(QPointF(x(median), axisY), QPointF(x(median), top));
    const QString label = QStringLiteral("median %1").arg(fixed(median, 3));
    const double labelX = std::clamp(x(median) + 4, left, right - metrics.horizontalAdvance(label));
    p.drawText(QPointF(labelX, top - 2), label);
    p.restore();
}

void drawTable(QPainter& p, const VersionReport& report, int first, int count, double top, QSize page)
{
    struct Column {
        QString heading;
        double width;
        bool right;
    };
    const QList<Column> columns = {{QStringLiteral("Participant"), 190, false},  {QStringLiteral("Periods"), 60, true},
                                   {QStringLiteral("In band"), 60, true},        {QStringLiteral("Mean distance"), 110, true},
                                   {QStringLiteral("Alpha (SE)"), 130, true},    {QStringLiteral("Beta (SE)"), 130, true},
                                   {QStringLiteral("R\u00b2"), 60, true},        {QString(), 0, false}};
    const auto row = [&](double y, const QStringList& cells) {
        double x = 0;
        for (qsizetype c = 0; c < columns.size(); ++c) {
            const double width = columns[c].width > 0 ? columns[c].width : page.width() - x;
            const QRectF cell(x + 4, y, width - 8, kRowHeight);
            const QString text = QFontMetricsF(p.font()).elidedText(cells.value(c), Qt::ElideRight, cell.width());
            p.drawText(cell, Qt::AlignVCenter | (columns[c].right ? Qt::AlignRight : Qt::AlignLeft), text);
            x += width;
        }
    };
    p.save();
    p.setPen(Qt::black);
    p.setFont(textFont(kTableText, true));
    QStringList headings;
    for (const Column& c : columns)
        headings << c.heading;
    row(top, headings);
    p.drawLine(QPointF(0, top + kRowHeight), QPointF(page.width(), top + kRowHeight));
    p.setFont(textFont(kTableText));
    const auto withSe = [](double value, double se) {
        return QStringLiteral("%1 (%2)").arg(fixed(value, 3), fixed(se, 3));
    };
    for (int i = 0; i < count && first + i < report.participants.size(); ++i) {
        const ReportParticipant& r = report.participants.at(first + i);
        const double y = top + (i + 1) * kRowHeight;
        if (i % 2 == 1)
            p.fillRect(QRectF(0, y, page.width(), kRowHeight), QColor(242, 244, 248));
        const bool fitted = r.rule.valid;
        const QString dash = QStringLiteral("\u2013");
        row(y, {r.session.subject, QString::number(r.session.periods.size()), QString::number(r.session.periodsInBand()),
                fixed(r.meanDistance, 3), fitted ? withSe(r.rule.alpha, r.rule.alphaSe) : dash,
                fitted ? withSe(r.rule.beta, r.rule.betaSe) : dash, fitted ? fixed(r.rule.rSquared, 3) : dash,
                !fitted ? QStringLiteral("not fitted")
                        : r.rule.rSquared < kLowRSquared ? QStringLiteral("explains little") : QString()});
    }
    p.restore();
}

void drawSummaryPage(QPainter& p, const VersionReport& report, const SummaryPlan& plan, int index, int pages,
                     QSize page)
{
    p.save();
    p.setPen(Qt::black);
    if (index == 0) {
        p.setFont(textFont(kTitleText, true));
        const QFontMetricsF big(p.font());
        p.drawText(QPointF(0, big.ascent()), big.elidedText(QStringLiteral("Version %1").arg(report.version),
                                                           Qt::ElideRight, page.width()));
        p.setFont(textFont(kText));
        const QFontMetricsF small(p.font());
        p.drawText(QPointF(0, big.height() + 6 + small.ascent()),
                   small.elidedText(QStringLiteral("Database %1, written %2")
                                        .arg(report.database, report.written.toString(QStringLiteral("yyyy-MM-dd HH:mm t"))),
                                    Qt::ElideMiddle, page.width()));
        const double width = page.width() / 2.0 - kColumnGap / 2;
        double y = kFiguresTop;
        for (qsizetype i = 0; i < plan.lines.size(); ++i) {
            p.drawText(QRectF(0, y, width, plan.lineHeights[i]), kTextFlags, plan.lines[i]);
            y += plan.lineHeights[i];
        }
        const VersionFigures f = versionFigures(report);
        const double plotLeft = width + kColumnGap;
        drawStrip(p, QRectF(plotLeft, kFiguresTop, page.width() - plotLeft, kPlotHeight),
                  QStringLiteral("Alpha: the share of the gap to the goal ordered"), f.alphas, f.medianAlpha);
        drawStrip(p, QRectF(plotLeft, kFiguresTop + kPlotHeight + kPlotGap, page.width() - plotLeft, kPlotHeight),
                  QStringLiteral("Beta: the share of the orders on their way counted"), f.betas, f.medianBeta);
        drawTable(p, report, 0, plan.firstRows, plan.tableTop, page);
    } else {
        p.setFont(textFont(kText, true));
        p.drawText(QPointF(0, 24), QStringLiteral("Version %1: participants, continued").arg(report.version));
        drawTable(p, report, plan.firstRows + (index - 1) * plan.laterRows, plan.laterRows, 40, page);
    }
    p.restore();
    drawFooter(p, report, index, pages, page);
}

void drawParticipantPage(QPainter& p, const VersionReport& report, const ReportParticipant& r, int index, int pages,
                         QSize page)
{
    const QSize upper(page.width(), int(page.height() * kSessionShare));
    drawSession(p, r.session, upper);
    RuleChart chart;
    chart.units = r.session.units;
    chart.periods = r.rulePeriods;
    chart.fit = r.rule;
    chart.lastPeriod = sessionLayout(r.session, upper).lastPeriod - 0.5; // the same periods across
    p.save();
    p.translate(0, upper.height());
    drawRuleFit(p, chart, QSize(page.width(), int(page.height() - kFooter) - upper.height()));
    p.restore();
    drawFooter(p, report, index, pages, page);
}

} // namespace


VersionReport versionReport(const QList<ParticipantAnalysis>& analysed, int maxTrial, const QString& units)
{
    VersionReport report;
    report.written = QDateTime::currentDateTime();
    for (const ParticipantAnalysis& a : analysed) {
        ReportParticipant r;
        r.session.version = a.version;
        r.session.subject = a.subject;
        r.session.maxTrial = maxTrial;
        r.session.units = units.trimmed();
        double distance = 0;
        for (const AnalysisPeriod& p : a.periods) {
            if (!p.complete)
                continue;
            r.session.periods.append({p.period, p.amountEnd, p.goal, p.goal - p.bandLow, p.bandHigh - p.goal,
                                      p.envInflow - p.envOutflow, p.orderedInflow, p.orderedOutflow});
            r.session.earnings = p.money;
            distance += std::abs(p.amountEnd - p.goal);
        }
        if (r.session.periods.isEmpty())
            continue;
        r.meanDistance = distance / double(r.session.periods.size());
        r.rulePeriods = rulePeriodsOf(a.periods);
        r.rule = a.rule;
        if (report.version.isEmpty())
            report.version = a.version;
        report.participants.append(r);
    }
    if (report.participants.isEmpty())
        throw ToolError(QStringLiteral("No participant%1 has completed a period.")
                            .arg(analysed.isEmpty() ? QString()
                                                    : QStringLiteral(" of version \"%1\"").arg(analysed.first().version)));
    return report;
}

VersionReport loadVersionReport(store::Store& store, const QString& version, LeftOut& leftOut)
{
    AnalysisOptions options;
    options.version = version;
    options.includePilots = leftOut.includePilots;
    options.includeExcluded = leftOut.includeExcluded;
    const QList<ParticipantAnalysis> analysed = loadAnalysis(store, options, &leftOut);
    int maxTrial = 0;
    QString units;
    store.read(
        [&](store::Connection& c) {
            if (const std::optional<store::Row> setup = store::SetupTable::row(c, analysed.first().version)) {
                maxTrial = setup->value("MaxTrial").toInt();
                units = setup->value("YUnits").toString();
            }
        },
        QStringLiteral("tblSetup"), QStringLiteral("Reading the version"));
    VersionReport report = versionReport(analysed, maxTrial, units);
    report.leftOutNote = leftOut.note();
    return report;
}

VersionFigures versionFigures(const VersionReport& report)
{
    VersionFigures f;
    f.participants = int(report.participants.size());
    if (f.participants == 0)
        return f;
    f.fewestInBand = report.participants.first().session.periodsInBand();
    double inBand = 0, distance = 0;
    for (const ReportParticipant& r : report.participants) {
        const int n = r.session.periodsInBand();
        inBand += n;
        f.fewestInBand = std::min(f.fewestInBand, n);
        f.mostInBand = std::max(f.mostInBand, n);
        distance += r.meanDistance;
        if (!r.rule.valid) {
            f.unfitted << r.session.subject;
            continue;
        }
        f.alphas << r.rule.alpha;
        f.betas << r.rule.beta;
        if (r.rule.rSquared < kLowRSquared)
            f.lowFit << r.session.subject;
    }
    f.meanInBand = inBand / f.participants;
    f.meanDistance = distance / f.participants;
    f.medianAlpha = median(f.alphas);
    f.medianBeta = median(f.betas);
    return f;
}

int reportPageCount(const VersionReport& report, QSize page)
{
    return summaryPlan(report, page).pages + int(report.participants.size());
}

void drawReportPage(QPainter& painter, const VersionReport& report, int index, QSize page)
{
    const SummaryPlan plan = summaryPlan(report, page);
    const int pages = plan.pages + int(report.participants.size());
    painter.save();
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(page)), reportColours::background);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (index < plan.pages)
        drawSummaryPage(painter, report, plan, index, pages, page);
    else if (index < pages)
        drawParticipantPage(painter, report, report.participants.at(index - plan.pages), index, pages, page);
    painter.restore();
}

int writeReportPdf(const VersionReport& report, const QString& path)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    int pages = 0;
    {
        QPdfWriter pdf(&file);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(12, 12, 12, 12),
                                      QPageLayout::Millimeter));
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Aquilevel report: version %1").arg(report.version));
        pdf.setCreator(QStringLiteral("Aquilevel"));
        QPainter painter(&pdf);
        // The pictures' pixels scaled onto the printable area, its width filled.
        const QRect area = painter.viewport();
        const double scale = area.width() / double(kReportPage.width());
        const QSize page(kReportPage.width(), int(area.height() / scale));
        painter.scale(scale, scale);
        pages = reportPageCount(report, page);
        for (int i = 0; i < pages; ++i) {
            if (i > 0)
                pdf.newPage();
            drawReportPage(painter, report, i, page);
        }
        if (!painter.end()) {
            file.cancelWriting();
            throw ToolError(QStringLiteral("Cannot write %1: the PDF could not be drawn.").arg(path));
        }
    }
    if (!file.commit())
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return pages;
}

} // namespace aquilevel::tools
