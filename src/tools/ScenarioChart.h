#pragma once

#include <QList>
#include <QWidget>

namespace aquilevel::tools {

// The environment's flows of one period of a scenario.
struct ScenarioFlow {
    double period = 0;
    double inflow = 0;
    double outflow = 0;
    bool operator==(const ScenarioFlow&) const = default;
};

// The scenario's environment inflow and outflow over the periods, as two lines.
class ScenarioChart final : public QWidget {
    Q_OBJECT
public:
    explicit ScenarioChart(QWidget* parent = nullptr);

    // The flows to draw, in any order (drawn by period).
    void setFlows(QList<ScenarioFlow> flows);
    const QList<ScenarioFlow>& flows() const { return m_flows; }

    QSize sizeHint() const override { return {360, 170}; }
    QSize minimumSizeHint() const override { return {200, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<ScenarioFlow> m_flows;
};

} // namespace aquilevel::tools
