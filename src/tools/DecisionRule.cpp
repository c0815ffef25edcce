#include "tools/DecisionRule.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace aquilevel::tools {

namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

// The inverse of a symmetric 3 x 3 matrix by Gauss-Jordan elimination with partial
// pivoting; none when it is (nearly) singular.
std::optional<Matrix> inverse(Matrix a)
{
    Matrix inv{};
    for (int i = 0; i < 3; ++i)
        inv[i][i] = 1;
    double scale = 0;
    for (const auto& row : a)
        for (double v : row)
            scale = std::max(scale, std::fabs(v));
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (std::fabs(a[pivot][col]) <= 1e-10 * std::max(scale, 1e-300))
            return std::nullopt;
        std::swap(a[col], a[pivot]);
        std::swap(inv[col], inv[pivot]);
        const double d = a[col][col];
        for (int c = 0; c < 3; ++c) {
            a[col][c] /= d;
            inv[col][c] /= d;
        }
        for (int r = 0; r < 3; ++r) {
            if (r == col)
                continue;
            const double f = a[r][col];
            for (int c = 0; c < 3; ++c) {
                a[r][c] -= f * a[col][c];
                inv[r][c] -= f * inv[col][c];
            }
        }
    }
    return inv;
}

// The adaptive expectation of the environment's net outflow met in each period.
QList<double> expectations(const QList<RulePeriod>& periods, double theta)
{
    QList<double> expected;
    double e = periods.isEmpty() ? 0 : periods.first().netOutflow;
    for (const RulePeriod& p : periods) {
        e = theta * p.netOutflow + (1 - theta) * e;
        expected.append(e);
    }
    return expected;
}

// Least squares for one theta over the periods decided in; the residual sum of squares in `sse`.
RuleFit fitFor(const QList<RulePeriod>& periods, double theta, double& sse)
{
    RuleFit fit;
    fit.theta = theta;
    sse = INFINITY;
    // Every period's outflow feeds the expectation; only a decision is fitted.
    const QList<double> expected = expectations(periods, theta);
    QList<std::array<double, 3>> x;
    QList<double> y;
    for (qsizetype t = 0; t < periods.size(); ++t)
        if (periods[t].decided) {
            x.append({expected[t], periods[t].gap, -periods[t].onTheWay});
            y.append(periods[t].netOrder);
        }
    const qsizetype n = y.size();
    fit.periods = int(n);
    if (n < 4) // three terms and at least one degree of freedom
        return fit;
    Matrix xtx{};
    std::array<double, 3> xty{};
    for (qsizetype t = 0; t < n; ++t)
        for (int i = 0; i < 3; ++i) {
            xty[i] += x[t][i] * y[t];
            for (int j = 0; j < 3; ++j)
                xtx[i][j] += x[t][i] * x[t][j];
        }
    const std::optional<Matrix> inv = inverse(xtx);
    if (!inv)
        return fit;
    std::array<double, 3> b{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            b[i] += (*inv)[i][j] * xty[j];
    double mean = 0;
    double size = 0;
    for (double order : y) {
        mean += order / double(n);
        size += order * order;
    }
    sse = 0;
    double sst = 0;
    for (qsizetype t = 0; t < n; ++t) {
        const double e = y[t] - (b[0] * x[t][0] + b[1] * x[t][1] + b[2] * x[t][2]);
        sse += e * e;
        sst += (y[t] - mean) * (y[t] - mean);
    }
    const double variance = sse / double(n - 3);
    fit.valid = true;
    fit.weight = b[0];
    fit.alpha = b[1];
    fit.beta = b[2];
    fit.weightSe = std::sqrt(variance * (*inv)[0][0]);
    fit.alphaSe = std::sqrt(variance * (*inv)[1][1]);
    fit.betaSe = std::sqrt(variance * (*inv)[2][2]);
    // Orders that never change leave only round-off about their mean: judged against the
    // orders' own size, not against zero.
    const double negligible = 1e-12 * std::max(size, 1e-300);
    fit.rSquared = sst > negligible ? 1 - sse / sst : (sse <= negligible ? 1 : 0);
    return fit;
}

} // namespace

RuleFit fitDecisionRule(const QList<RulePeriod>& periods, std::optional<double> theta)
{
    double sse = 0;
    if (theta)
        return fitFor(periods, std::clamp(*theta, 0.0, 1.0), sse);
    RuleFit best = fitFor(periods, 1, sse);
    double bestSse = sse;
    for (int step = 0; step < 100; ++step) {
        const RuleFit fit = fitFor(periods, step / 100.0, sse);
        if (fit.valid && (!best.valid || sse < bestSse - 1e-12)) {
            best = fit;
            bestSse = sse;
        }
    }
    return best;
}

QList<double> predictedOrders(const QList<RulePeriod>& periods, const RuleFit& fit)
{
    QList<double> predicted;
    if (!fit.valid)
        return predicted;
    const QList<double> expected = expectations(periods, fit.theta);
    for (qsizetype t = 0; t < periods.size(); ++t)
        predicted.append(fit.weight * expected[t] + fit.alpha * periods[t].gap - fit.beta * periods[t].onTheWay);
    return predicted;
}

} // namespace aquilevel::tools
