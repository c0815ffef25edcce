#include "support/TempDatabase.h"

#include "config/DemoConfig.h"
#include "store/DataLocation.h"
#include "store/Schema.h"
#include "store/SqlCipherConnection.h"

#include <QStringList>

namespace aquilevel::test {

TempDatabase::TempDatabase(Content content)
{
    store::SqlCipherEngine::create(path(), store::databasePassword(), store::schemaStatements(),
                                   content == Content::Demo ? config::fillDemoConfiguration
                                                            : std::function<void(store::Connection&)>());
}

QString TempDatabase::path() const
{
    return store::databasePath(m_dir.path());
}

std::unique_ptr<store::SqlCipherEngine> TempDatabase::engine(int busyTimeoutMs) const
{
    return std::make_unique<store::SqlCipherEngine>(path(), store::databasePassword(), busyTimeoutMs);
}

void TempDatabase::exec(const QString& sql, const QVariantList& values) const
{
    column(sql, values);
}

QList<QVariantMap> byName(const store::Rows& rows)
{
    QList<QVariantMap> result;
    for (const QVariantList& values : rows.values) {
        QVariantMap row;
        for (int i = 0; i < rows.columns.size(); ++i)
            row.insert(rows.columns.at(i), values.value(i));
        result.append(row);
    }
    return result;
}

QList<QVariantMap> TempDatabase::rows(const QString& sql, const QVariantList& values) const
{
    auto connection = store::SqlCipherConnection::open(path(), store::databasePassword(), false,
                                                       store::SqlCipherEngine::kBusyTimeoutMs);
    return byName(connection->select(store::Query(sql, values), false));
}

QVariantList TempDatabase::column(const QString& sql, const QVariantList& values) const
{
    auto connection = store::SqlCipherConnection::open(path(), store::databasePassword(), false,
                                                       store::SqlCipherEngine::kBusyTimeoutMs);
    const bool isSelect = sql.trimmed().startsWith(QStringLiteral("select"), Qt::CaseInsensitive);
    if (!isSelect) {
        // Writes go through select() as well: a statement without result rows.
        connection->select(store::Query(sql, values), false);
        return {};
    }
    QVariantList result;
    const store::Rows rows = connection->select(store::Query(sql, values), false);
    for (const QVariantList& row : rows.values)
        result.append(row.value(0));
    return result;
}

QVariantMap soundSetupRow(const QString& version)
{
    return {
        {QStringLiteral("Version"), version},
        {QStringLiteral("MaxTrial"), 10},
        {QStringLiteral("BaseMoney"), 5.0},
        {QStringLiteral("numMarks"), 5},
        {QStringLiteral("InitialAmountInTank"), 20.0},
        {QStringLiteral("GoalLinePoisition"), 30.0},
        {QStringLiteral("InitialBackOrder"), 4.0},
        {QStringLiteral("InitialForwardDischarge"), 2.0},
        {QStringLiteral("inFlowTPAfter"), 3},
        {QStringLiteral("outFlowTPAfter"), 2},
        {QStringLiteral("simTimeForTP"), 1.0},
        {QStringLiteral("AfterEveryNTrials"), 1},
        {QStringLiteral("ScenarioUsed"), 7},
        {QStringLiteral("CostUnderFlowPerAmount"), 0.1},
        {QStringLiteral("CostOverFlowPerAmount"), 0.2},
        {QStringLiteral("BonusAmount"), 0.5},
        {QStringLiteral("YUnits"), QStringLiteral("Gallons")},
        {QStringLiteral("graphicalMode"), 1},
        {QStringLiteral("userDelay"), 100},
        {QStringLiteral("envDelay"), 100},
        {QStringLiteral("RHEIGHT"), 6.0},
        {QStringLiteral("RWIDTH"), 14.0},
        {QStringLiteral("UpperBoundFromGoal"), 1.0},
        {QStringLiteral("LowerBoundFromGoal"), 1.0},
        {QStringLiteral("ExperimentTimeForInstructions"), 30},
        {QStringLiteral("MaxNumberOfAScenarioType"), 10},
        {QStringLiteral("IsTimeDriven"), 0},
        {QStringLiteral("IsBonusOnTimeGap"), 0},
        {QStringLiteral("ShowBackOrder"), 1},
        {QStringLiteral("ShowDischargeOrder"), 1},
        {QStringLiteral("ShowTimePeriods"), 1},
        {QStringLiteral("deltaTmeBetweenEnvUsr"), 2000.0},
        {QStringLiteral("TimeBetweenEnvTries"), 5000.0},
        {QStringLiteral("UsrMv"), 50},
        {QStringLiteral("EnvMv"), 50},
    };
}

void insertSetup(const TempDatabase& db, const QVariantMap& row)
{
    QStringList names;
    QStringList marks;
    QVariantList values;
    for (auto it = row.begin(); it != row.end(); ++it) {
        names.append(QLatin1Char('"') + it.key() + QLatin1Char('"'));
        marks.append(QStringLiteral("?"));
        values.append(it.value());
    }
    db.exec(QStringLiteral("insert into tblSetup (%1) values (%2)")
                .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
            values);
}

void insertLabels(const TempDatabase& db, const QString& version, int count)
{
    for (int i = 1; i <= count; ++i)
        db.exec(QStringLiteral("insert into tblLabels (version, LabelNumber, LabelName) values (?,?,?)"),
                {version, i, QString::number(i * 10)});
}

void insertScenario(const TempDatabase& db, int scenario, int firstPeriod, int lastPeriod,
                    double inRate, double outRate)
{
    for (int t = firstPeriod; t <= lastPeriod; ++t)
        db.exec(QStringLiteral("insert into tblScenarios (Scenario, Trial, inFlowRateEnviron, "
                               "outFlowRateEnviron) values (?,?,?,?)"),
                {scenario, t, inRate, outRate});
}

} // namespace aquilevel::test
