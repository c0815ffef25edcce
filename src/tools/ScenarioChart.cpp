#include "tools/ScenarioChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace aquilevel::tools {

namespace {

const QColor kInflow(30, 110, 200);
const QColor kOutflow(220, 110, 20);

QString tick(double value)
{
    return QString::number(value, 'g', 4);
}

} // namespace

ScenarioChart::ScenarioChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("chtScenario"));
    setToolTip(QStringLiteral("The environment's inflow and outflow of the scenario, period by period"));
}

void ScenarioChart::setFlows(QList<ScenarioFlow> flows)
{
    std::stable_sort(flows.begin(), flows.end(),
                     [](const ScenarioFlow& a, const ScenarioFlow& b) { return a.period < b.period; });
    if (flows == m_flows)
        return;
    m_flows = std::move(flows);
    update();
}

void ScenarioChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QFontMetrics metrics = p.fontMetrics();
    const int line = metrics.height();
    if (m_flows.isEmpty()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No scenario rows to draw"));
        return;
    }

    double low = 0;
    double high = 0;
    for (const ScenarioFlow& f : std::as_const(m_flows)) {
        low = std::min({low, f.inflow, f.outflow});
        high = std::max({high, f.inflow, f.outflow});
    }
    if (!(high > low))
        high = low + 1;
    // Four steps of 1, 2 or 5 times a power of ten, the ends on them.
    const double rough = (high - low) / 4;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    const double step = rough <= power ? power : rough <= 2 * power ? 2 * power : rough <= 5 * power ? 5 * power : 10 * power;
    low = std::floor(low / step) * step;
    high = std::max(std::ceil(high / step) * step, low + step);
    double first = m_flows.first().period;
    double last = m_flows.last().period;
    if (!(last > first)) {
        first -= 0.5;
        last += 0.5;
    }
    const QRectF plot(metrics.horizontalAdvance(QStringLiteral("-0.0000")) + 8, line + 8,
                      width() - metrics.horizontalAdvance(QStringLiteral("-0.0000")) - 20, height() - 2 * line - 16);
    if (plot.width() < 20 || plot.height() < 20)
        return;
    const auto x = [&](double period) { return plot.left() + (period - first) / (last - first) * plot.width(); };
    const auto y = [&](double value) { return plot.bottom() - (value - low) / (high - low) * plot.height(); };

    // The value axis: four steps, with 0 on it.
    p.setPen(palette().color(QPalette::Mid));
    for (double value = low; value <= high + step / 2; value += step) {
        p.drawLine(QPointF(plot.left(), y(value)), QPointF(plot.right(), y(value)));
        p.drawText(QRectF(0, y(value) - line / 2.0, plot.left() - 4, line), Qt::AlignRight | Qt::AlignVCenter,
                   tick(value));
    }
    p.setPen(palette().color(QPalette::Text));
    p.drawLine(QPointF(plot.left(), y(0)), QPointF(plot.right(), y(0)));
    // The periods: the first, the last and one between, each kept inside the widget.
    for (const double period : {m_flows.first().period, (m_flows.first().period + m_flows.last().period) / 2,
                                m_flows.last().period}) {
        const double at = std::round(period);
        const QString text = tick(at);
        const double half = metrics.horizontalAdvance(text) / 2.0 + 1;
        const double centre = std::clamp(x(at), half, width() - half);
        p.drawText(QRectF(centre - half, plot.bottom() + 4, 2 * half, line), Qt::AlignCenter, text);
    }
    p.drawText(QRectF(0, plot.bottom() + 4, plot.left() - metrics.horizontalAdvance(tick(std::round(first))) - 6, line),
               Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("period"));

    const auto drawLine = [&](const QColor& colour, double ScenarioFlow::*value) {
        QPainterPath path;
        for (int i = 0; i < m_flows.size(); ++i) {
            const QPointF point(x(m_flows.at(i).period), y(m_flows.at(i).*value));
            if (i == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        p.setPen(QPen(colour, 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
        if (m_flows.size() <= 60) {
            p.setBrush(colour);
            for (const ScenarioFlow& f : std::as_const(m_flows))
                p.drawEllipse(QPointF(x(f.period), y(f.*value)), 2.5, 2.5);
        }
    };
    drawLine(kOutflow, &ScenarioFlow::outflow);
    drawLine(kInflow, &ScenarioFlow::inflow);

    // The legend, above the plot.
    qreal at = plot.left();
    for (const auto& [colour, name] : {std::pair{kInflow, QStringLiteral("inflow")},
                                       std::pair{kOutflow, QStringLiteral("outflow")}}) {
        p.setPen(QPen(colour, 3));
        p.drawLine(QPointF(at, 4 + line / 2.0), QPointF(at + 18, 4 + line / 2.0));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QPointF(at + 22, 4 + metrics.ascent()), name);
        at += 22 + metrics.horizontalAdvance(name) + 16;
    }
}

} // namespace aquilevel::tools
