#include "config/DemoConfig.h"

#include "store/Engine.h"
#include "store/TableRows.h"

#include <cmath>

namespace aquilevel::config {

namespace {

struct DemoVersion {
    const char* name;
    bool continuous;
    bool timeDriven;
    bool timeGapBonus;
    int scenario;
};

QList<QPair<QString, QVariant>> setupRow(const DemoVersion& v)
{
    return {
        {QStringLiteral("Version"), QString::fromLatin1(v.name)},
        {QStringLiteral("MaxTrial"), 20},
        {QStringLiteral("BaseMoney"), 5.0},
        {QStringLiteral("numMarks"), 10},
        {QStringLiteral("InitialAmountInTank"), 40.0},
        {QStringLiteral("GoalLinePoisition"), 60.0},
        {QStringLiteral("InitialBackOrder"), 4.0},
        {QStringLiteral("InitialForwardDischarge"), 2.0},
        {QStringLiteral("inFlowTPAfter"), 3},
        {QStringLiteral("outFlowTPAfter"), 2},
        {QStringLiteral("simTimeForTP"), 1.0},
        {QStringLiteral("AfterEveryNTrials"), 1},
        {QStringLiteral("ScenarioUsed"), v.scenario},
        {QStringLiteral("CostUnderFlowPerAmount"), 0.02},
        {QStringLiteral("CostOverFlowPerAmount"), 0.02},
        {QStringLiteral("BonusAmount"), 0.25},
        {QStringLiteral("YUnits"), QStringLiteral("Gallons")},
        {QStringLiteral("graphicalMode"), v.continuous ? 1 : 0},
        {QStringLiteral("userDelay"), 1000},
        {QStringLiteral("envDelay"), 1000},
        {QStringLiteral("RHEIGHT"), 24.0},
        {QStringLiteral("RWIDTH"), 60.0},
        {QStringLiteral("UpperBoundFromGoal"), 5.0},
        {QStringLiteral("LowerBoundFromGoal"), 5.0},
        {QStringLiteral("ExperimentTimeForInstructions"), 30},
        {QStringLiteral("MaxNumberOfAScenarioType"), 20},
        {QStringLiteral("IsTimeDriven"), v.timeDriven ? 1 : 0},
        {QStringLiteral("IsBonusOnTimeGap"), v.timeGapBonus ? 1 : 0},
        {QStringLiteral("ShowBackOrder"), 1},
        {QStringLiteral("ShowDischargeOrder"), 1},
        {QStringLiteral("ShowTimePeriods"), 1},
        {QStringLiteral("deltaTmeBetweenEnvUsr"), 3000.0},
        {QStringLiteral("TimeBetweenEnvTries"), 12000.0},
        {QStringLiteral("UsrMv"), 500},
        {QStringLiteral("EnvMv"), 500},
        {QStringLiteral("Language"), QStringLiteral("en")},
        {QStringLiteral("CurrencySymbol"), QStringLiteral("$")},
        {QStringLiteral("CurrencyWord"), QStringLiteral("dollars")},
        {QStringLiteral("CurrencyCents"), QStringLiteral("cents")},
        {QStringLiteral("CurrencyDecimals"), 2},
    };
}

// Appends one row given as column and value pairs.
void add(store::Connection& c, const char* table, const QList<QPair<QString, QVariant>>& fields)
{
    QStringList columns;
    QVariantList values;
    for (const auto& [column, value] : fields) {
        columns.append(column);
        values.append(value);
    }
    store::appendRow(c, *store::findTable(QString::fromLatin1(table)), columns, values);
}

// The demo's instruction pages, written with placeholders so that they stay true when a
// lab copies a version and changes its numbers.
const QString kGoal = QStringLiteral(
    "This experiment explores decision making in a dynamic environment over {MaxTrial} time periods. "
    "The tank holds {InitialAmountInTank} {YUnits} of water at the start. Your goal is to keep the "
    "water level at or as close as possible to the red goal line at {GoalLinePoisition} {YUnits}, "
    "by ordering User Inflow and Outflow.\n\n");

const QString kOrdersTakeTime = QStringLiteral(
    "Your orders take time: an inflow you order reaches the tank {InflowArrivesAfter} time period(s) "
    "after the one in which you ordered it, an outflow {OutflowArrivesAfter} time period(s) after it. "
    "What is still on its way is shown as Back Order (inflow) and Discharge Order (outflow); some "
    "of it is already on its way when you start.");

const QString kPacedPeriod = QStringLiteral(
    "Each time period begins when you type the units of inflow and outflow in the decision boxes "
    "at the bottom of the screen and press \"Submit\". First the Environment Inflow and Outflow act "
    "on the tank: you do not control them, they change over the time periods, and the screen shows "
    "what they were. Then the orders that are due reach the tank, and you see the new water level. "
    "The environment waits for you: nothing happens until you press \"Submit\" again.\n\n");

const QString kTimedPeriod = QStringLiteral(
    "The environment does not wait for you. It acts on its own clock, about every "
    "{SecondsBetweenEnvTries} seconds, and each of its actions begins a new time period, whether or "
    "not you have submitted anything. The Environment Inflow and Outflow are not in your control "
    "and change over the time periods. You may type the units of inflow and outflow and press "
    "\"Submit\" at any time while the button is enabled: your orders count for the current time "
    "period, and the orders due in it reach the tank when you press \"Submit\". Submit in every time "
    "period, even an order of 0, so that your orders keep moving.\n\n");

const QString kPayStart = QStringLiteral(
    "Compensation\n\n"
    "The experiment will last at most {ExperimentTimeForInstructions} minutes, and for this you are "
    "paid {BaseMoney}{CurrencySymbol}. ");

const QString kPayNotCost = QStringLiteral(
    " The cost shown on the screen measures how far the water is from the goal; it is not taken "
    "from your pay.\n\n"
    "If you are ready, click \"Continue\" to start the experiment.");

QStringList demoPages(const DemoVersion& v)
{
    if (v.timeDriven)
        return {kGoal + kTimedPeriod + kOrdersTakeTime,
                kPayStart +
                    QStringLiteral("In addition, the water level is checked after every action of the "
                                   "environment and after every Submit: each time it lies between "
                                   "{LowerBound} and {UpperBound} {YUnits}, the edges included, you earn "
                                   "{BonusCents} {CurrencyCents}.") +
                    kPayNotCost};
    if (v.timeGapBonus)
        return {kGoal + kPacedPeriod + kOrdersTakeTime,
                kPayStart +
                    QStringLiteral("In addition, you earn {BonusCents} {CurrencyCents} in each time period "
                                   "in which the environment acts within {SecondsBetweenEnvUsr} seconds "
                                   "of your Submit; the water level plays no part in this bonus. Here the "
                                   "environment acts as soon as you press \"Submit\", so every time period "
                                   "in which its inflow or outflow runs earns it: over the {MaxTrial} time "
                                   "periods up to {MaxBonus}{CurrencySymbol} more, {MaxEarnings}"
                                   "{CurrencySymbol} in all. Keeping the water near the goal is still your "
                                   "task.") +
                    kPayNotCost};
    return {kGoal + kPacedPeriod + kOrdersTakeTime,
            kPayStart +
                QStringLiteral("In addition, the water level is checked at the end of each time period: "
                               "when it lies between {LowerBound} and {UpperBound} {YUnits}, the edges "
                               "included, you earn {BonusCents} {CurrencyCents}. Over the {MaxTrial} time "
                               "periods you can earn up to {MaxBonus}{CurrencySymbol} more, {MaxEarnings}"
                               "{CurrencySymbol} in all.") +
                kPayNotCost};
}

} // namespace

void fillDemoConfiguration(store::Connection& connection)
{
    const DemoVersion versions[] = {
        {"Demo continuous", true, false, false, 1},
        {"Demo discrete", false, false, false, 1},
        {"Demo time-driven", true, true, false, 2},
        {"Demo time-gap bonus", true, false, true, 2},
    };
    for (const DemoVersion& v : versions) {
        add(connection, "tblSetup", setupRow(v));
        for (int mark = 1; mark <= 10; ++mark)
            add(connection, "tblLabels", {{QStringLiteral("version"), QString::fromLatin1(v.name)},
                               {QStringLiteral("LabelNumber"), mark},
                               {QStringLiteral("LabelName"), QString::number(mark * 10)}});
        const QStringList pages = demoPages(v);
        for (int page = 0; page < pages.size(); ++page)
            add(connection, "tblInstructions", {{QStringLiteral("version"), QString::fromLatin1(v.name)},
                                                {QStringLiteral("PageNumber"), page + 1},
                                                {QStringLiteral("PageText"), pages.at(page)}});
    }
    // Scenario 1 swings the net flow slowly up and down; scenario 2 brings a sudden
    // lasting rise of the outflow halfway through.
    for (int period = 0; period <= 21; ++period) {
        const double wave = 3.0 + 2.0 * std::sin(period * 0.6);
        add(connection, "tblScenarios", {{QStringLiteral("Scenario"), 1},
                           {QStringLiteral("Trial"), period},
                           {QStringLiteral("inFlowRateEnviron"), std::round(wave * 10) / 10},
                           {QStringLiteral("outFlowRateEnviron"), 3.0}});
        add(connection, "tblScenarios", {{QStringLiteral("Scenario"), 2},
                           {QStringLiteral("Trial"), period},
                           {QStringLiteral("inFlowRateEnviron"), 2.0},
                           {QStringLiteral("outFlowRateEnviron"), period < 10 ? 2.0 : 4.5}});
    }
    add(connection, "tblPasswords", {{QStringLiteral("username"), kDemoUser},
                       {QStringLiteral("password"), kDemoPasswordHash}});
}

} // namespace aquilevel::config
