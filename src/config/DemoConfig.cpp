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
