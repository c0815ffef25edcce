#pragma once

#include <QList>

#include <optional>

namespace aquilevel::tools {

// One period as a participant's decision met it: what they ordered, and what the screen
// showed them when they did.
struct RulePeriod {
    double netOrder = 0;   // inflow ordered less outflow ordered
    double gap = 0;        // the goal less the amount in the tank
    double onTheWay = 0;   // inflow ordered and not yet arrived less outflow not yet done
    double netOutflow = 0; // the environment's net outflow of the period just past
    int period = 0;        // the period it was met in, for charts; the fit does not read it
    bool decided = true;   // false: no order was typed (the clock ran on); only its outflow counts
};

// The anchoring-and-adjustment rule fitted to a participant's orders by least squares:
//   net order = weight x expected outflow + alpha x gap - beta x orders on their way,
// with the expected outflow an adaptive expectation of the environment's net outflow,
//   expected(t) = theta x outflow(t) + (1 - theta) x expected(t - 1), expected(1) = outflow(1).
// A beta near 0 is the neglect of the orders on their way.
struct RuleFit {
    bool valid = false; // false: too few periods, or what they showed cannot tell the terms apart
    int periods = 0; // decided in, and fitted
    double weight = 0, alpha = 0, beta = 0;
    double weightSe = 0, alphaSe = 0, betaSe = 0; // standard errors
    double theta = 1;
    double rSquared = 0; // 1 - residual / total sum of squares about the mean order
};

// Fits the rule; theta is fitted too (the best of 0, 0.01, ..., 1), unless given.
RuleFit fitDecisionRule(const QList<RulePeriod>& periods, std::optional<double> theta = {});

// The net order the fitted rule gives for each period, decided in or not; empty when the
// fit is not valid.
QList<double> predictedOrders(const QList<RulePeriod>& periods, const RuleFit& fit);

} // namespace aquilevel::tools
