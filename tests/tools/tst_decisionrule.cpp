#include "tools/DecisionRule.h"

#include <QTest>

#include <cmath>
#include <deque>
#include <random>

using namespace aquilevel;

namespace {

struct Truth {
    double weight, alpha, beta, theta, noise;
};

// A tank whose orders arrive two periods after they are placed, steered by the rule with
// known figures against an environment that drifts: the periods as a participant met them.
QList<tools::RulePeriod> played(const Truth& truth, int count, unsigned seed = 7)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> jitter(0, 1);
    QList<tools::RulePeriod> periods;
    std::deque<double> pipeline{0, 0};
    const double goal = 60;
    double amount = 50;
    double lastOutflow = 2;
    double expected = lastOutflow;
    for (int t = 1; t <= count; ++t) {
        expected = truth.theta * lastOutflow + (1 - truth.theta) * expected;
        double onTheWay = 0;
        for (double order : pipeline)
            onTheWay += order;
        const double net = truth.weight * expected + truth.alpha * (goal - amount) - truth.beta * onTheWay +
                           truth.noise * jitter(random);
        periods.append({net, goal - amount, onTheWay, lastOutflow});
        pipeline.push_back(net);
        const double arrived = pipeline.front();
        pipeline.pop_front();
        const double outflow = 2 + std::sin(t / 3.0) + 0.5 * jitter(random);
        amount += arrived - outflow;
        lastOutflow = outflow;
    }
    return periods;
}

} // namespace

class TestDecisionRule : public QObject {
    Q_OBJECT

private slots:
    // The figures a rule was played with are found again, within what its noise allows.
    void theRulePlayedIsRecovered_data()
    {
        QTest::addColumn<double>("alpha");
        QTest::addColumn<double>("beta");
        QTest::addColumn<double>("theta");
        QTest::addColumn<double>("noise");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("exact, last outflow expected") << 0.5 << 0.3 << 1.0 << 0.0 << 1e-6;
        QTest::newRow("exact, the orders on their way neglected") << 0.2 << 0.0 << 1.0 << 0.0 << 1e-6;
        QTest::newRow("exact, a slow expectation") << 0.8 << 0.6 << 0.4 << 0.0 << 1e-6;
        QTest::newRow("noisy orders") << 0.5 << 0.3 << 1.0 << 0.3 << 0.1;
    }

    void theRulePlayedIsRecovered()
    {
        QFETCH(double, alpha);
        QFETCH(double, beta);
        QFETCH(double, theta);
        QFETCH(double, noise);
        QFETCH(double, tolerance);
        const tools::RuleFit fit = tools::fitDecisionRule(played({1, alpha, beta, theta, noise}, 200));
        QVERIFY(fit.valid);
        QCOMPARE(fit.periods, 200);
        QVERIFY2(std::fabs(fit.alpha - alpha) <= tolerance, qPrintable(QString::number(fit.alpha)));
        QVERIFY2(std::fabs(fit.beta - beta) <= tolerance, qPrintable(QString::number(fit.beta)));
        QVERIFY2(std::fabs(fit.weight - 1) <= tolerance, qPrintable(QString::number(fit.weight)));
        if (noise == 0) {
            QCOMPARE(fit.theta, theta);
            QVERIFY(fit.rSquared > 1 - 1e-9);
        } else {
            // The true figures lie within about two standard errors, which are not zero.
            QVERIFY(fit.alphaSe > 0 && std::fabs(fit.alpha - alpha) < 3 * fit.alphaSe);
            QVERIFY(fit.betaSe > 0 && std::fabs(fit.beta - beta) < 3 * fit.betaSe);
            QVERIFY(fit.rSquared > 0.5 && fit.rSquared < 1);
        }
        // A smoothing weight given is kept, and fits no better than the one found.
        const tools::RuleFit fixed = tools::fitDecisionRule(played({1, alpha, beta, theta, noise}, 200), 0.0);
        QCOMPARE(fixed.theta, 0.0);
        QVERIFY(fixed.rSquared <= fit.rSquared + 1e-12);
    }

    // Orders that only replace the environment's outflow ("hold") have no gap in them.
    void holdingFitsNoAdjustment()
    {
        const tools::RuleFit fit = tools::fitDecisionRule(played({1, 0, 0, 1, 0}, 60));
        QVERIFY(fit.valid);
        QVERIFY(std::fabs(fit.alpha) < 1e-6);
        QVERIFY(std::fabs(fit.beta) < 1e-6);
        // Against an outflow that never changes, the same order every period: all of it
        // explained, whatever round-off leaves about the orders' mean.
        QList<tools::RulePeriod> steady;
        for (int t = 0; t < 20; ++t)
            steady.append({0.3, double(t % 5), double(t % 3) - 1, 0.3});
        const tools::RuleFit same = tools::fitDecisionRule(steady);
        QVERIFY(same.valid);
        QCOMPARE(same.rSquared, 1.0);
    }

    // A period without a decision is not fitted, but the outflow seen in it is expected
    // from: the figures are found again as with every period decided in.
    void periodsWithoutADecisionStillFeedTheExpectation()
    {
        QList<tools::RulePeriod> periods = played({1, 0.5, 0.3, 0.4, 0}, 40);
        for (qsizetype t = 3; t < periods.size(); t += 4) {
            periods[t].decided = false;
            periods[t].netOrder = 0; // what the log shows for a period the clock ran on in
        }
        const tools::RuleFit fit = tools::fitDecisionRule(periods);
        QVERIFY(fit.valid);
        QCOMPARE(fit.periods, 30);
        QVERIFY2(std::fabs(fit.alpha - 0.5) < 1e-6 && std::fabs(fit.beta - 0.3) < 1e-6, qPrintable(QString::number(fit.alpha)));
        QCOMPARE(fit.theta, 0.4);
    }

    // Too few periods, or periods that cannot tell the terms apart, fit nothing.
    void whatCannotBeFitted()
    {
        QVERIFY(!tools::fitDecisionRule(played({1, 0.5, 0.3, 1, 0}, 3)).valid);
        QList<tools::RulePeriod> flat(20, tools::RulePeriod{1, 0, 0, 1});
        QVERIFY(!tools::fitDecisionRule(flat).valid);
    }
};

QTEST_APPLESS_MAIN(TestDecisionRule)
#include "tst_decisionrule.moc"
