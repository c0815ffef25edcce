#include "tools/AnalysisCsv.h"

#include "config/NumberFormat.h"
#include "tools/Csv.h"

#include <cmath>

namespace aquilevel::tools {

namespace {

QString whole(qint64 value)
{
    return QString::number(value);
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

QString isoDate(const QDate& date)
{
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

} // namespace

QString decimal(double value)
{
    return std::isfinite(value) ? config::fixedDecimal(value, 9) : QString();
}

QByteArray periodsCsv(const QList<ParticipantAnalysis>& participants)
{
    QByteArray bytes = csv::record(
        {QStringLiteral("Subject"), QStringLiteral("Version"), QStringLiteral("Period"), QStringLiteral("Date"),
         QStringLiteral("Complete"), QStringLiteral("AmountStart"), QStringLiteral("AmountEnd"), QStringLiteral("Goal"), QStringLiteral("BandLow"),
         QStringLiteral("BandHigh"), QStringLiteral("GapAtDecision"), QStringLiteral("EnvInflow"),
         QStringLiteral("EnvOutflow"), QStringLiteral("Submitted"), QStringLiteral("OrderedInflow"),
         QStringLiteral("OrderedOutflow"), QStringLiteral("DeliveredInflow"), QStringLiteral("DeliveredOutflow"),
         QStringLiteral("InflowOnTheWay"), QStringLiteral("OutflowOnTheWay"), QStringLiteral("Cost"),
         QStringLiteral("Bonus"), QStringLiteral("InBand"), QStringLiteral("DecisionMs"), QStringLiteral("Money")});
    for (const ParticipantAnalysis& a : participants)
        for (const AnalysisPeriod& p : a.periods)
            bytes += csv::record({a.subject,
                                  a.version,
                                  whole(p.period),
                                  isoDate(p.date),
                                  yesNo(p.complete),
                                  decimal(p.amountStart),
                                  decimal(p.amountEnd),
                                  decimal(p.goal),
                                  decimal(p.bandLow),
                                  decimal(p.bandHigh),
                                  decimal(p.goal - p.amountStart),
                                  decimal(p.envInflow),
                                  decimal(p.envOutflow),
                                  yesNo(p.submitted),
                                  decimal(p.orderedInflow),
                                  decimal(p.orderedOutflow),
                                  decimal(p.deliveredInflow),
                                  decimal(p.deliveredOutflow),
                                  decimal(p.inflowOnTheWay),
                                  decimal(p.outflowOnTheWay),
                                  decimal(p.cost),
                                  decimal(p.bonus),
                                  yesNo(p.inBand),
                                  p.decisionMs ? whole(*p.decisionMs) : QString(),
                                  decimal(p.money)});
    return bytes;
}

QByteArray participantsCsv(const QList<ParticipantAnalysis>& participants)
{
    QByteArray bytes = csv::record(
        {QStringLiteral("Subject"), QStringLiteral("Version"), QStringLiteral("Station"), QStringLiteral("Date"),
         QStringLiteral("Condition"), QStringLiteral("Age"), QStringLiteral("Gender"), QStringLiteral("Major"),
         QStringLiteral("DifficultyRating"), QStringLiteral("DifficultyReasons"), QStringLiteral("Strategy"),
         QStringLiteral("StrategyChange"), QStringLiteral("Periods"), QStringLiteral("CompletePeriods"),
         QStringLiteral("PeriodsInBand"),
         QStringLiteral("MeanAbsDistance"), QStringLiteral("Money"), QStringLiteral("RulePeriods"),
         QStringLiteral("Weight"), QStringLiteral("WeightSE"), QStringLiteral("Alpha"), QStringLiteral("AlphaSE"),
         QStringLiteral("Beta"), QStringLiteral("BetaSE"), QStringLiteral("Theta"), QStringLiteral("RSquared"),
         QStringLiteral("LowRSquared"), QStringLiteral("Mark"), QStringLiteral("MarkReason")});
    for (const ParticipantAnalysis& a : participants) {
        const RuleFit& r = a.rule;
        const auto fitted = [&](double value) { return r.valid ? decimal(value) : QString(); };
        bytes += csv::record({a.subject,
                              a.version,
                              a.station,
                              isoDate(a.date),
                              a.condition,
                              a.age.isNull() ? QString() : decimal(a.age.toDouble()),
                              a.gender,
                              a.major,
                              a.difficulty.rating,
                              a.difficulty.reasons,
                              a.strategy,
                              a.strategyChange,
                              whole(a.periods.size()),
                              whole(a.completePeriods()),
                              whole(a.periodsInBand()),
                              decimal(a.meanDistance()),
                              decimal(a.periods.isEmpty() ? 0 : a.periods.last().money),
                              whole(r.periods),
                              fitted(r.weight),
                              fitted(r.weightSe),
                              fitted(r.alpha),
                              fitted(r.alphaSe),
                              fitted(r.beta),
                              fitted(r.betaSe),
                              fitted(r.theta),
                              fitted(r.rSquared),
                              r.valid ? yesNo(r.rSquared < kLowRSquared) : QString(),
                              a.mark,
                              a.markReason});
    }
    return bytes;
}

} // namespace aquilevel::tools
