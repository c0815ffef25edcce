#include "tools/SessionReport.h"

#include "config/BonusBand.h"
#include "config/NumberFormat.h"
#include "recording/EventTypes.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/NameKey.h"
#include "store/Store.h"
#include "tools/ToolCommand.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

namespace aquilevel::tools {

namespace {

using events::kAfterCost;
const QString kStatus = QStringLiteral("Reading the session");

double number(const QVariant& value)
{
    return value.isNull() ? 0.0 : value.toDouble();
}

// The columns a picture reads from the event log, then the version's number of periods
// and units from its setup.
const QStringList kColumns = {QStringLiteral("Subject"),      QStringLiteral("eventType"),
                              QStringLiteral("Trial"),        QStringLiteral("AmountInTank"),
                              QStringLiteral("GoalAmount"),   QStringLiteral("LowerBoundFromGoal"),
                              QStringLiteral("UpperBoundFromGoal"), QStringLiteral("EnvInFlow"),
                              QStringLiteral("EnvOutFlow"),   QStringLiteral("SimulationTime"),
                              QStringLiteral("UserInFlow"),   QStringLiteral("UserOutFlow"),
                              QStringLiteral("TotBonus")};

// The version's event rows (of one participant, or of one event type) in the order of
// the events, each with the version's MaxTrial and YUnits after its own columns; one
// read, so that a session written at this moment is seen as one state.
QList<QVariantList> readRows(store::Store& store, const QString& version, const QString& subject,
                             const QString& eventType)
{
    QList<QVariantList> rows;
    store.transaction(
        [&](store::Connection& c) {
            rows.clear(); // a retried transaction starts over
            const std::optional<store::Row> setup = store::SetupTable::row(c, version);
            const QVariant maxTrial = setup ? setup->value("MaxTrial") : QVariant();
            const QVariant units = setup ? setup->value("YUnits") : QVariant();
            store::EventTable::forEach(c, kColumns, version, subject, eventType, [&](const store::Row& row) {
                rows.append(row.values() + QVariantList{maxTrial, units});
            });
        },
        true, kStatus);
    return rows;
}

ReportPeriod periodOf(const QVariantList& row)
{
    ReportPeriod p;
    p.trial = row.value(2).toInt();
    p.amount = number(row.value(3));
    p.goal = number(row.value(4));
    p.lowerBound = number(row.value(5));
    p.upperBound = number(row.value(6));
    p.envNetFlow = (number(row.value(7)) - number(row.value(8))) * number(row.value(9));
    p.userInFlow = number(row.value(10));
    p.userOutFlow = number(row.value(11));
    return p;
}

// One participant's rows, oldest first: the last "After Cost Calculation" row of each
// period, the money of the newest row.
SessionData sessionOf(const QString& version, const QString& subject, const QList<QVariantList>& rows)
{
    SessionData data;
    data.version = version;
    data.subject = subject;
    QMap<int, ReportPeriod> byTrial; // a later row of the same period replaces an earlier one
    for (const QVariantList& row : rows) {
        if (row.value(1).toString() == kAfterCost) {
            const ReportPeriod p = periodOf(row);
            byTrial.insert(p.trial, p);
        }
    }
    data.periods = byTrial.values();
    if (!rows.isEmpty()) {
        data.earnings = number(rows.last().value(12));
        data.maxTrial = rows.last().value(13).toInt();
        data.units = rows.last().value(14).toString().trimmed();
    }
    return data;
}

// A step of 1, 2 or 5 times a power of ten that splits `span` into about `parts` pieces.
double niceStep(double span, int parts)
{
    if (!(span > 0))
        return 1;
    const double raw = span / parts;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / power;
    const double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10;
    return nice * power;
}

} // namespace

double niceRange(double& low, double& high, int parts)
{
    if (high - low < 1e-9) {
        const double pad = std::max(std::abs(high) * 0.1, 1.0);
        low -= pad;
        high += pad;
    }
    const double pad = (high - low) * 0.05;
    double lo = low - pad;
    double hi = high + pad;
    const double step = niceStep(hi - lo, parts);
    low = std::floor(lo / step) * step;
    high = std::ceil(hi / step) * step;
    return step;
}

QString tickText(double value, double step)
{
    if (std::abs(value) < step * 1e-6)
        value = 0;
    const int decimals = step >= 1 ? 0 : std::min(6, int(std::ceil(-std::log10(step) - 1e-9)));
    return QString::number(value, 'f', decimals);
}

namespace {

QString money(double value)
{
    return QString::number(value, 'f', 2);
}

QString amountText(double value)
{
    return QString::number(value, 'f', 3);
}

// The unit of amounts as the version names it (YUnits), for the axes.
QString unitOf(const QString& units)
{
    return units.isEmpty() ? QStringLiteral("amount units") : units;
}

// The common frame of both pictures: panel rectangles from the picture's size and the
// x range from the periods shown.
ReportLayout frame(QSize size, int lastShownPeriod)
{
    ReportLayout layout;
    const double w = size.width();
    const double h = size.height();
    const double left = std::max(70.0, w * 0.075);
    const double right = std::max(20.0, w * 0.025);
    const double top = std::max(80.0, h * 0.13);
    const double bottom = std::max(50.0, h * 0.065);
    const double gap = std::max(50.0, h * 0.07);
    const double plotHeight = std::max(40.0, h - top - bottom - gap);
    const double upperHeight = plotHeight * 0.62;
    layout.upper = QRectF(left, top, std::max(40.0, w - left - right), upperHeight);
    layout.lower = QRectF(left, top + upperHeight + gap, layout.upper.width(), plotHeight - upperHeight);
    layout.firstPeriod = 0.5;
    layout.lastPeriod = std::max(1, lastShownPeriod) + 0.5;
    return layout;
}

int tickEvery(const ReportLayout& layout)
{
    const int periods = int(layout.lastPeriod - layout.firstPeriod);
    const double pixelsPerPeriod = layout.periodWidth();
    for (int every : {1, 2, 5, 10, 20, 25, 50, 100, 200, 500, 1000})
        if (every * pixelsPerPeriod >= 40 || every >= periods)
            return every;
    return 1000;
}

QFont font(QSize size, double share, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    // By the height of a wide picture; a narrow one (the console's) by its width, so
    // that its titles and legends keep to their rows.
    const double base = std::min(double(size.height()), size.width() * 0.65);
    f.setPixelSize(std::max(10, int(std::lround(base * share))));
    f.setBold(bold);
    return f;
}

// Axes, grid and tick labels of one panel. Returns where the panel's title ends.
double drawPanelFrame(QPainter& p, const ReportLayout& layout, const QRectF& panel, double min, double max,
                    double step, bool isUpper, const QString& yTitle, QSize size)
{
    p.save();
    p.setFont(font(size, 0.016));
    const QFontMetricsF metrics(p.font());
    p.setPen(QPen(QColor(225, 225, 225), 1));
    for (double v = min; v <= max + step * 1e-6; v += step) {
        const double y = isUpper ? layout.upperY(v) : layout.lowerY(v);
        p.drawLine(QPointF(panel.left(), y), QPointF(panel.right(), y));
        p.setPen(Qt::black);
        const QString text = tickText(v, step);
        p.drawText(QPointF(panel.left() - 8 - metrics.horizontalAdvance(text), y + metrics.ascent() / 2.5), text);
        p.setPen(QPen(QColor(225, 225, 225), 1));
    }
    const int every = tickEvery(layout);
    p.setPen(Qt::black);
    for (int t = int(std::ceil(layout.firstPeriod)); t <= int(layout.lastPeriod); ++t) {
        if (t % every != 0 && t != 1)
            continue;
        const double x = layout.x(t);
        p.drawLine(QPointF(x, panel.bottom()), QPointF(x, panel.bottom() + 5));
        const QString text = QString::number(t);
        p.drawText(QPointF(x - metrics.horizontalAdvance(text) / 2, panel.bottom() + 6 + metrics.ascent()), text);
    }
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(panel);
    p.setFont(font(size, 0.018, true));
    p.drawText(QPointF(panel.left(), panel.top() - 8), yTitle);
    const double titleEnd = panel.left() + QFontMetricsF(p.font()).horizontalAdvance(yTitle);
    p.restore();
    return titleEnd;
}

// Right-aligned at `at`, in a smaller font where it would reach left of `leftLimit` (the
// end of the panel's title).
void drawLegend(QPainter& p, QPointF at, const QList<std::pair<QColor, QString>>& entries, QSize size,
                double leftLimit)
{
    p.save();
    QFont legendFont = font(size, 0.016);
    const auto width = [&](const QFontMetricsF& metrics) {
        double total = 0;
        for (const auto& [colour, text] : entries)
            total += 22 + metrics.horizontalAdvance(text) + 18;
        return total;
    };
    while (legendFont.pixelSize() > 7 && at.x() - width(QFontMetricsF(legendFont)) < leftLimit + 12)
        legendFont.setPixelSize(legendFont.pixelSize() - 1);
    p.setFont(legendFont);
    const QFontMetricsF metrics(p.font());
    double x = at.x() - width(metrics);
    for (const auto& [colour, text] : entries) {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawRect(QRectF(x, at.y() - metrics.ascent() * 0.8, 16, metrics.ascent() * 0.8));
        p.setPen(Qt::black);
        p.drawText(QPointF(x + 22, at.y()), text);
        x += 22 + metrics.horizontalAdvance(text) + 18;
    }
    p.restore();
}

// Widens [low, high] to the amounts and band edges of a session's periods.
void widenToAmounts(const SessionData& session, double& low, double& high)
{
    for (const ReportPeriod& p : session.periods) {
        low = std::min({low, p.amount, p.goal - p.lowerBound});
        high = std::max({high, p.amount, p.goal + p.upperBound});
    }
}

// The first participant with a completed period: the band and goal all sessions of a
// version share are read from it. Null when there is none.
const SessionData* firstPlayed(const DistributionData& data)
{
    for (const SessionData& session : data.sessions)
        if (!session.periods.isEmpty())
            return &session;
    return nullptr;
}

// A line through the points of consecutive periods, broken where a period is missing.
template <typename Item, typename Place>
QPainterPath periodLine(const QList<Item>& items, Place place)
{
    QPainterPath line;
    for (int i = 0; i < items.size(); ++i) {
        if (i > 0 && items[i - 1].trial == items[i].trial - 1)
            line.lineTo(place(items[i]));
        else
            line.moveTo(place(items[i]));
    }
    return line;
}

void drawTitle(QPainter& p, QSize size, const QString& title, const QString& line)
{
    p.save();
    p.setPen(Qt::black);
    p.setFont(font(size, 0.03, true));
    const QFontMetricsF big(p.font());
    const double left = std::max(70.0, size.width() * 0.075);
    const double room = size.width() - left - 8;
    p.drawText(QPointF(left, 8 + big.ascent()), big.elidedText(title, Qt::ElideRight, room));
    p.setFont(font(size, 0.019));
    const QFontMetricsF small(p.font());
    p.drawText(QPointF(left, 8 + big.height() + 4 + small.ascent()), small.elidedText(line, Qt::ElideRight, room));
    p.restore();
}

// Saves the painter's state (restored at the end of the picture) and clears the picture.
void startPicture(QPainter& p, QSize size)
{
    p.save();
    p.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), reportColours::background);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
}

QImage onImage(QSize size, const std::function<void(QPainter&)>& draw)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    draw(p);
    p.end();
    return image;
}

} // namespace

// ---------------------------------------------------------------------------------------

bool isInBand(const ReportPeriod& period)
{
    return config::inBonusBand(period.amount, period.goal, period.lowerBound, period.upperBound);
}

int SessionData::periodsInBand() const
{
    return int(std::count_if(periods.begin(), periods.end(),
                             [](const ReportPeriod& p) { return isInBand(p); }));
}

double SessionData::goal() const
{
    return periods.isEmpty() ? 0 : periods.last().goal;
}

double SessionData::bandLow() const
{
    return periods.isEmpty() ? 0 : periods.last().goal - periods.last().lowerBound;
}

double SessionData::bandHigh() const
{
    return periods.isEmpty() ? 0 : periods.last().goal + periods.last().upperBound;
}

SessionData loadSession(store::Store& store, const QString& version, const QString& subject)
{
    const auto rows = readRows(store, version, subject, QString());
    if (rows.isEmpty())
        throw ToolError(QStringLiteral("Participant \"%1\" has no rows in version \"%2\".").arg(subject, version));
    SessionData data = sessionOf(version, subject, rows);
    if (data.periods.isEmpty())
        throw ToolError(QStringLiteral("Participant \"%1\" of version \"%2\" has not completed a period.")
                            .arg(subject, version));
    return data;
}

DistributionData summarise(const QString& version, const QList<SessionData>& sessions)
{
    DistributionData data;
    data.version = version;
    data.participants = int(sessions.size());
    data.sessions = sessions;
    QMap<int, QList<double>> distances;
    for (const SessionData& session : sessions) {
        data.maxTrial = std::max(data.maxTrial, session.maxTrial);
        if (data.units.isEmpty())
            data.units = session.units;
        for (const ReportPeriod& p : session.periods)
            distances[p.trial].append(std::abs(p.amount - p.goal));
    }
    for (auto it = distances.cbegin(); it != distances.cend(); ++it) {
        const QList<double>& values = it.value();
        DistributionPoint point;
        point.trial = it.key();
        point.participants = int(values.size());
        double sum = 0;
        for (double v : values)
            sum += v;
        point.meanDistance = sum / values.size();
        if (values.size() > 1) {
            double squares = 0;
            for (double v : values)
                squares += (v - point.meanDistance) * (v - point.meanDistance);
            point.standardDeviation = std::sqrt(squares / (values.size() - 1));
        }
        data.points.append(point);
    }
    return data;
}

DistributionData loadDistribution(store::Store& store, const QString& version, LeftOut* leftOut)
{
    if (leftOut)
        store.read([&](store::Connection& c) { leftOut->read(c, version); }, QStringLiteral("datSubjectMark"), kStatus);
    // One short read per participant, each through the participant's index, so that a
    // version with thousands of sessions never holds the stations' writes up and only one
    // participant's rows are in memory at a time.
    QStringList subjects;
    QString after;
    do {
        store.read(
            [&](store::Connection& c) {
                QString next = after; // a retried read starts from the same place
                subjects += store::EventTable::subjects(c, version, next, 500);
                after = next;
            },
            QStringLiteral("datExperimentTrials"), kStatus);
    } while (!after.isEmpty());
    QList<SessionData> sessions;
    for (const QString& subject : std::as_const(subjects)) {
        if (leftOut && leftOut->contains(subject, version))
            continue;
        const QList<QVariantList> rows = readRows(store, version, subject, kAfterCost);
        if (!rows.isEmpty())
            sessions.append(sessionOf(version, subject, rows));
    }
    if (sessions.isEmpty())
        throw ToolError(QStringLiteral("No participant of version \"%1\" has completed a period.%2")
                            .arg(version, leftOut && leftOut->total() > 0 ? QLatin1Char(' ') + leftOut->note() : QString()));
    std::sort(sessions.begin(), sessions.end(), [](const SessionData& a, const SessionData& b) {
        return store::nameKey(a.subject) < store::nameKey(b.subject);
    });
    return summarise(version, sessions);
}

// ---------------------------------------------------------------------------------------

double ReportLayout::periodWidth() const
{
    return upper.width() / (lastPeriod - firstPeriod);
}

double ReportLayout::x(double period) const
{
    return upper.left() + (period - firstPeriod) * periodWidth();
}

double ReportLayout::upperY(double value) const
{
    return upper.bottom() - (value - upperMin) / (upperMax - upperMin) * upper.height();
}

double ReportLayout::lowerY(double value) const
{
    return lower.bottom() - (value - lowerMin) / (lowerMax - lowerMin) * lower.height();
}

QRectF ReportLayout::bar(int period, int index, int count, double value) const
{
    const double groupWidth = periodWidth() * 0.8;
    const double barWidth = groupWidth / count;
    const double left = x(period) - groupWidth / 2 + index * barWidth;
    const double zero = lowerY(0);
    const double end = lowerY(value);
    return QRectF(QPointF(left, std::min(zero, end)), QPointF(left + barWidth, std::max(zero, end)));
}

ReportLayout sessionLayout(const SessionData& data, QSize size)
{
    const int last = std::max(data.maxTrial, data.periods.isEmpty() ? 1 : data.periods.last().trial);
    ReportLayout layout = frame(size, last);
    double low = data.bandLow();
    double high = data.bandHigh();
    widenToAmounts(data, low, high);
    double flowLow = 0;
    double flowHigh = 0;
    for (const ReportPeriod& p : data.periods) {
        flowLow = std::min({flowLow, p.envNetFlow, p.userInFlow, p.userOutFlow});
        flowHigh = std::max({flowHigh, p.envNetFlow, p.userInFlow, p.userOutFlow});
    }
    layout.upperStep = niceRange(low, high, 8);
    layout.upperMin = low;
    layout.upperMax = high;
    layout.lowerStep = niceRange(flowLow, flowHigh, 4);
    layout.lowerMin = flowLow;
    layout.lowerMax = flowHigh;
    return layout;
}

QImage drawSession(const SessionData& data, QSize size)
{
    return onImage(size, [&](QPainter& p) { drawSession(p, data, size); });
}

void drawSession(QPainter& p, const SessionData& data, QSize size)
{
    const ReportLayout layout = sessionLayout(data, size);
    startPicture(p, size);

    const int shown = data.maxTrial > 0 ? data.maxTrial : data.periods.isEmpty() ? 0 : data.periods.last().trial;
    drawTitle(p, size,
              QStringLiteral("Version %1 \u2014 participant %2").arg(data.version, data.subject),
              QStringLiteral("Periods in the band: %1 of %2 completed (%3 periods in the version)    "
                             "Goal %4, band %5 to %6    Earnings: %7")
                  .arg(data.periodsInBand())
                  .arg(data.periods.size())
                  .arg(shown)
                  .arg(amountText(data.goal()), amountText(data.bandLow()), amountText(data.bandHigh()),
                       money(data.earnings)));

    // Upper panel: the band, the goal and the amount after each period.
    p.save();
    p.setClipRect(layout.upper);
    p.setPen(Qt::NoPen);
    p.setBrush(reportColours::band);
    p.drawRect(QRectF(QPointF(layout.upper.left(), layout.upperY(data.bandHigh())),
                      QPointF(layout.upper.right(), layout.upperY(data.bandLow()))));
    p.restore();
    const double upperTitleEnd = drawPanelFrame(p, layout, layout.upper, layout.upperMin, layout.upperMax, layout.upperStep, true,
                   QStringLiteral("Amount in the tank after the period (%1)").arg(unitOf(data.units)), size);
    p.save();
    p.setClipRect(layout.upper);
    p.setPen(QPen(reportColours::goal, 3));
    p.drawLine(QPointF(layout.upper.left(), layout.upperY(data.goal())),
               QPointF(layout.upper.right(), layout.upperY(data.goal())));
    const double radius = std::clamp(layout.periodWidth() * 0.3, 2.5, 7.0);
    const QPainterPath line =
        periodLine(data.periods, [&](const ReportPeriod& period) { return layout.upperPoint(period.trial, period.amount); });
    p.setPen(QPen(reportColours::amountLine, 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(line);
    p.setPen(Qt::NoPen);
    for (const ReportPeriod& period : data.periods) {
        p.setBrush(isInBand(period) ? reportColours::inBand : reportColours::outOfBand);
        p.drawEllipse(layout.upperPoint(period.trial, period.amount), radius, radius);
    }
    p.restore();
    drawLegend(p, QPointF(layout.upper.right(), layout.upper.top() - 8),
               {{reportColours::goal, QStringLiteral("goal")},
                {reportColours::band, QStringLiteral("band")},
                {reportColours::inBand, QStringLiteral("in the band")},
                {reportColours::outOfBand, QStringLiteral("outside")}},
               size, upperTitleEnd);

    // Lower panel: the environment's net flow and the participant's orders per period.
    const double lowerTitleEnd = drawPanelFrame(p, layout, layout.lower, layout.lowerMin, layout.lowerMax, layout.lowerStep, false,
                   QStringLiteral("Flows per period (%1 per period)").arg(unitOf(data.units)), size);
    p.save();
    p.setClipRect(layout.lower);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    for (const ReportPeriod& period : data.periods) {
        p.setBrush(reportColours::envNet);
        p.drawRect(layout.bar(period.trial, 0, 3, period.envNetFlow));
        p.setBrush(reportColours::userIn);
        p.drawRect(layout.bar(period.trial, 1, 3, period.userInFlow));
        p.setBrush(reportColours::userOut);
        p.drawRect(layout.bar(period.trial, 2, 3, period.userOutFlow));
    }
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(QPointF(layout.lower.left(), layout.lowerY(0)), QPointF(layout.lower.right(), layout.lowerY(0)));
    p.restore();
    drawLegend(p, QPointF(layout.lower.right(), layout.lower.top() - 8),
               {{reportColours::envNet, QStringLiteral("environment net flow")},
                {reportColours::userIn, QStringLiteral("inflow order")},
                {reportColours::userOut, QStringLiteral("outflow order")}},
               size, lowerTitleEnd);
    p.setFont(font(size, 0.016));
    p.setPen(Qt::black);
    p.drawText(QPointF(layout.lower.center().x() - 20, size.height() - 10), QStringLiteral("Period"));
    p.restore();
}

ReportLayout distributionLayout(const DistributionData& data, QSize size)
{
    const int last = std::max(data.maxTrial, data.points.isEmpty() ? 1 : data.points.last().trial);
    ReportLayout layout = frame(size, last);
    // Upper panel: every participant's amounts and the band.
    const SessionData* reference = firstPlayed(data);
    double low = reference ? reference->bandLow() : 0;
    double high = reference ? reference->bandHigh() : 0;
    for (const SessionData& session : data.sessions)
        widenToAmounts(session, low, high);
    layout.upperStep = niceRange(low, high, 8);
    layout.upperMin = low;
    layout.upperMax = high;
    // Lower panel: the mean distance from the goal and its spread, from 0.
    double distance = 0;
    for (const DistributionPoint& point : data.points)
        distance = std::max(distance, point.meanDistance + point.standardDeviation);
    if (distance <= 0)
        distance = 1;
    layout.lowerStep = niceStep(distance, 4);
    layout.lowerMin = 0;
    layout.lowerMax = std::ceil(distance * 1.05 / layout.lowerStep) * layout.lowerStep;
    return layout;
}

QImage drawDistribution(const DistributionData& data, QSize size)
{
    return onImage(size, [&](QPainter& p) { drawDistribution(p, data, size); });
}

void drawDistribution(QPainter& p, const DistributionData& data, QSize size)
{
    const ReportLayout layout = distributionLayout(data, size);
    startPicture(p, size);
    const QString units = unitOf(data.units);
    const SessionData* reference = firstPlayed(data); // its band and goal are the version's

    drawTitle(p, size,
              QStringLiteral("Version %1 \u2014 %2 participant%3")
                  .arg(data.version)
                  .arg(data.participants)
                  .arg(data.participants == 1 ? QString() : QStringLiteral("s")),
              reference ? QStringLiteral("Every participant's amount after each period; goal %1, band %2 to %3 %4")
                              .arg(amountText(reference->goal()), amountText(reference->bandLow()),
                                   amountText(reference->bandHigh()), units)
                        : QString());

    // Upper panel: the band, the goal, and one trace per participant.
    if (reference) {
        p.save();
        p.setClipRect(layout.upper);
        p.setPen(Qt::NoPen);
        p.setBrush(reportColours::band);
        p.drawRect(QRectF(QPointF(layout.upper.left(), layout.upperY(reference->bandHigh())),
                          QPointF(layout.upper.right(), layout.upperY(reference->bandLow()))));
        p.restore();
    }
    const double upperTitleEnd = drawPanelFrame(p, layout, layout.upper, layout.upperMin, layout.upperMax, layout.upperStep, true,
                   QStringLiteral("Amount in the tank after the period (%1)").arg(units), size);
    p.save();
    p.setClipRect(layout.upper);
    if (reference) {
        p.setPen(QPen(reportColours::goal, 3));
        p.drawLine(QPointF(layout.upper.left(), layout.upperY(reference->goal())),
                   QPointF(layout.upper.right(), layout.upperY(reference->goal())));
    }
    p.setPen(QPen(reportColours::trace, 1.5));
    p.setBrush(Qt::NoBrush);
    for (const SessionData& session : data.sessions)
        p.drawPath(periodLine(session.periods, [&](const ReportPeriod& period) {
            return layout.upperPoint(period.trial, period.amount);
        }));
    // A dot at each period, so a trace of one period shows as well.
    p.setPen(Qt::NoPen);
    p.setBrush(reportColours::trace);
    for (const SessionData& session : data.sessions)
        for (const ReportPeriod& period : session.periods)
            p.drawEllipse(layout.upperPoint(period.trial, period.amount), 3.0, 3.0);
    p.restore();
    drawLegend(p, QPointF(layout.upper.right(), layout.upper.top() - 8),
               {{reportColours::goal, QStringLiteral("goal")},
                {reportColours::band, QStringLiteral("band")},
                {reportColours::trace, QStringLiteral("one participant")}},
               size, upperTitleEnd);

    // Lower panel: the spread, then the grid over it, then the mean.
    p.save();
    p.setClipRect(layout.lower);
    p.setPen(Qt::NoPen);
    p.setBrush(reportColours::spread);
    for (const DistributionPoint& point : data.points) {
        // Each period's spread covers its own period's width, so gaps and single periods show.
        const double half = layout.periodWidth() / 2;
        const double x = layout.x(point.trial);
        const double top = layout.lowerY(point.meanDistance + point.standardDeviation);
        const double bottom = layout.lowerY(std::max(0.0, point.meanDistance - point.standardDeviation));
        p.drawRect(QRectF(QPointF(x - half, top), QPointF(x + half, bottom)));
    }
    p.restore();
    const double lowerTitleEnd = drawPanelFrame(p, layout, layout.lower, layout.lowerMin, layout.lowerMax, layout.lowerStep, false,
                   QStringLiteral("Absolute distance from the goal (%1)").arg(units), size);
    p.save();
    p.setClipRect(layout.lower);
    const QPainterPath line = periodLine(data.points, [&](const DistributionPoint& point) {
        return layout.lowerPoint(point.trial, point.meanDistance);
    });
    p.setPen(QPen(reportColours::mean, 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(line);
    const double radius = std::clamp(layout.periodWidth() * 0.3, 2.5, 7.0);
    p.setPen(Qt::NoPen);
    p.setBrush(reportColours::mean);
    for (const DistributionPoint& point : data.points)
        p.drawEllipse(layout.lowerPoint(point.trial, point.meanDistance), radius, radius);
    p.restore();
    drawLegend(p, QPointF(layout.lower.right(), layout.lower.top() - 8),
               {{reportColours::mean, QStringLiteral("mean over the participants who reached the period")},
                {reportColours::spread, QStringLiteral("\u00b1 1 SD")}},
               size, lowerTitleEnd);
    p.setFont(font(size, 0.016));
    p.setPen(Qt::black);
    p.drawText(QPointF(layout.lower.center().x() - 20, size.height() - 10), QStringLiteral("Period"));
    p.restore();
}

namespace {

QString ruleFigures(const RuleFit& fit)
{
    if (!fit.valid)
        return QStringLiteral("No rule fitted: %1 period%2 with a Submit after the first (4 needed), or orders that "
                              "cannot tell the terms apart")
            .arg(fit.periods)
            .arg(fit.periods == 1 ? QString() : QStringLiteral("s"));
    const auto withSe = [](double value, double se) {
        return QStringLiteral("%1 (SE %2)").arg(QString::number(value, 'f', 3), QString::number(se, 'f', 3));
    };
    return QStringLiteral("Weight %1, alpha %2, beta %3, theta %4, R\u00b2 %5; %6 periods used")
        .arg(withSe(fit.weight, fit.weightSe), withSe(fit.alpha, fit.alphaSe), withSe(fit.beta, fit.betaSe),
             QString::number(fit.theta, 'f', 2), QString::number(fit.rSquared, 'f', 3))
        .arg(fit.periods);
}

} // namespace

ReportLayout ruleLayout(const RuleChart& chart, QSize size)
{
    ReportLayout layout = frame(size, chart.lastPeriod);
    // One panel under a line of figures and the panel's title; the x axis as on the session's picture.
    const double top = std::max(50.0, size.height() * 0.16);
    const double bottom = std::max(50.0, size.height() * 0.065);
    layout.upper.setTop(top);
    layout.upper.setHeight(std::max(40.0, size.height() - top - bottom));
    layout.lower = QRectF();
    double low = 0;
    double high = 0;
    for (const RulePeriod& period : chart.periods) {
        low = std::min(low, period.netOrder);
        high = std::max(high, period.netOrder);
    }
    for (double order : predictedOrders(chart.periods, chart.fit)) {
        low = std::min(low, order);
        high = std::max(high, order);
    }
    layout.upperStep = niceRange(low, high, 4);
    layout.upperMin = low;
    layout.upperMax = high;
    return layout;
}

QImage drawRuleFit(const RuleChart& chart, QSize size)
{
    return onImage(size, [&](QPainter& p) { drawRuleFit(p, chart, size); });
}

void drawRuleFit(QPainter& p, const RuleChart& chart, QSize size)
{
    const ReportLayout layout = ruleLayout(chart, size);
    startPicture(p, size);
    p.setPen(Qt::black);
    p.setFont(font(size, 0.019));
    const QFontMetricsF metrics(p.font());
    p.drawText(QPointF(layout.upper.left(), 6 + metrics.ascent()),
               metrics.elidedText(ruleFigures(chart.fit), Qt::ElideRight, layout.upper.width()));

    const double titleEnd = drawPanelFrame(p, layout, layout.upper, layout.upperMin, layout.upperMax, layout.upperStep,
                                           true, QStringLiteral("Net order (%1)").arg(unitOf(chart.units)), size);
    struct Point {
        int trial;
        double value;
    };
    QList<Point> typed;
    QList<Point> predicted;
    const QList<double> orders = predictedOrders(chart.periods, chart.fit);
    for (qsizetype i = 0; i < chart.periods.size(); ++i) {
        if (chart.periods[i].decided) // a period the clock ran on in has no order typed to show
            typed.append({chart.periods[i].period, chart.periods[i].netOrder});
        if (i < orders.size())
            predicted.append({chart.periods[i].period, orders[i]});
    }
    const auto place = [&](const Point& point) { return layout.upperPoint(point.trial, point.value); };
    p.save();
    p.setClipRect(layout.upper);
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(QPointF(layout.upper.left(), layout.upperY(0)), QPointF(layout.upper.right(), layout.upperY(0)));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(reportColours::typedOrder, 1.5));
    p.drawPath(periodLine(typed, place));
    p.setPen(QPen(reportColours::ruleOrder, 2.5, Qt::DashLine));
    p.drawPath(periodLine(predicted, place));
    const double radius = std::clamp(layout.periodWidth() * 0.3, 2.5, 6.0);
    p.setPen(Qt::NoPen);
    p.setBrush(reportColours::typedOrder);
    for (const Point& point : typed)
        p.drawEllipse(place(point), radius, radius);
    p.restore();
    drawLegend(p, QPointF(layout.upper.right(), layout.upper.top() - 8),
               {{reportColours::typedOrder, QStringLiteral("typed (inflow less outflow)")},
                {reportColours::ruleOrder, QStringLiteral("the fitted rule's")}},
               size, titleEnd);
    p.setFont(font(size, 0.016));
    p.setPen(Qt::black);
    p.drawText(QPointF(layout.upper.center().x() - 20, size.height() - 10), QStringLiteral("Period"));
    p.restore();
}

void writePngAtomically(const QImage& image, const QString& path)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    if (image.isNull() || !image.save(&file, "PNG")) {
        file.cancelWriting();
        throw ToolError(QStringLiteral("Cannot encode the picture for %1.").arg(path));
    }
    if (!file.commit())
        throw ToolError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

} // namespace aquilevel::tools
