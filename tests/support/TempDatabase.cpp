#include "support/TempDatabase.h"

#include "config/DemoConfig.h"
#include "store/DataLocation.h"
#include "store/TableRows.h"
#include "store/Tables.h"
#include "store/SqlCipherConnection.h"

#include <QStringList>

#include <algorithm>

namespace aquilevel::test {

namespace {

std::unique_ptr<store::SqlCipherConnection> ownConnection(const QString& path)
{
    return store::SqlCipherConnection::open(path, store::databasePassword(), false,
                                            store::SqlCipherEngine::kBusyTimeoutMs);
}

} // namespace

TempDatabase::TempDatabase(Content content)
{
    engine()->create(content == Content::Demo ? config::fillDemoConfiguration
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
    ownConnection(path())->execute(store::Sql(sql), values);
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

QList<QVariantMap> rowsIn(store::Connection& connection, const QString& sql, const QVariantList& values)
{
    return byName(connection.query(store::Sql(sql), values));
}

void appendTo(store::Connection& connection, const QString& table, const QVariantMap& row)
{
    const store::TableDef* def = store::findTable(table);
    if (!def)
        throw store::StoreError(QStringLiteral("No table %1").arg(table));
    store::appendRow(connection, *def, row.keys(), row.values());
}

QList<QVariantMap> TempDatabase::rows(const QString& sql, const QVariantList& values) const
{
    return rowsIn(*ownConnection(path()), sql, values);
}

QVariantList TempDatabase::column(const QString& sql, const QVariantList& values) const
{
    QVariantList result;
    for (const QVariantList& row : ownConnection(path())->query(store::Sql(sql), values).values)
        result.append(row.value(0));
    return result;
}

void TempDatabase::append(const QString& table, const QVariantMap& row) const
{
    appendTo(*ownConnection(path()), table, row);
}

QStringList olderLayout(int version)
{
    if (version >= 6) {
        // Today's tables but those of later layouts: the marks (7), the stations' presences (8).
        QStringList later = {QStringLiteral("\"datStation\"")};
        if (version < 7)
            later << QStringLiteral("\"datSubjectMark\"");
        QStringList statements;
        for (const QString& statement : store::createStatements(store::Dialect::SQLite))
            if (std::none_of(later.cbegin(), later.cend(), [&](const QString& t) { return statement.contains(t); }))
                statements.append(statement);
        return statements << QStringLiteral("PRAGMA user_version = %1").arg(version);
    }
    // Layout 3, as the program wrote it before the name keys.
    QStringList statements = {
        QStringLiteral(R"(CREATE TABLE tblSetup (
  Version TEXT NOT NULL COLLATE NOCASE PRIMARY KEY,
  MaxTrial INTEGER, BaseMoney REAL, numMarks INTEGER, InitialAmountInTank REAL,
  GoalLinePoisition REAL, InitialBackOrder REAL, InitialForwardDischarge REAL,
  inFlowTPAfter INTEGER, outFlowTPAfter INTEGER, simTimeForTP REAL, AfterEveryNTrials INTEGER,
  ScenarioUsed INTEGER, CostUnderFlowPerAmount REAL, CostOverFlowPerAmount REAL,
  BonusAmount REAL, YUnits TEXT, graphicalMode BOOLEAN DEFAULT 0, userDelay INTEGER,
  envDelay INTEGER, RHEIGHT REAL, RWIDTH REAL, UpperBoundFromGoal REAL,
  LowerBoundFromGoal REAL, ExperimentTimeForInstructions INTEGER,
  MaxNumberOfAScenarioType INTEGER, IsTimeDriven BOOLEAN DEFAULT 0,
  IsBonusOnTimeGap BOOLEAN DEFAULT 0, ShowBackOrder BOOLEAN DEFAULT 0,
  ShowDischargeOrder BOOLEAN DEFAULT 0, ShowTimePeriods BOOLEAN DEFAULT 0,
  deltaTmeBetweenEnvUsr REAL, TimeBetweenEnvTries REAL, UsrMv INTEGER, EnvMv INTEGER))"),
        QStringLiteral(R"(CREATE TABLE tblScenarios (
  Scenario INTEGER, Trial INTEGER, inFlowRateEnviron REAL, outFlowRateEnviron REAL))"),
        QStringLiteral("CREATE INDEX tblScenarios_Scenario ON tblScenarios (Scenario)"),
        QStringLiteral("CREATE TABLE tblLabels (version TEXT COLLATE NOCASE, LabelNumber REAL, LabelName TEXT)"),
        QStringLiteral("CREATE TABLE tblPasswords (username TEXT COLLATE NOCASE, password TEXT)"),
        QStringLiteral(R"(CREATE TABLE datSubject (
  Subject TEXT COLLATE NOCASE, Version TEXT COLLATE NOCASE, Condition TEXT, Major TEXT,
  Gender TEXT, Age REAL, Date DATE, Time TEXT,
  EventTimeUtc TEXT, Station TEXT))"),
        QStringLiteral(R"(CREATE TABLE datExperimentTrials (
  Subject TEXT COLLATE NOCASE, Version TEXT COLLATE NOCASE, eventType TEXT, EventID INTEGER,
  Trial INTEGER, Date DATE, Time TEXT, CurrentCost REAL, TotCost REAL, UserInFlow REAL,
  UserOutFlow REAL, EnvInFlow REAL, EnvOutFlow REAL, BackOrder REAL, ForwardDischarge REAL,
  TotalBackOrder REAL, TotalForwardDischarge REAL, AmountInTank REAL, GoalAmount REAL,
  SimulationTime REAL, BaseMoney REAL, UserInflowTP INTEGER, UserOutflowTP INTEGER,
  AfterEveryNTrials INTEGER, IsUserInFlow BOOLEAN DEFAULT 0, IsUserOutFlow BOOLEAN DEFAULT 0,
  IsEnvInFlow BOOLEAN DEFAULT 0, IsEnvOutFlow BOOLEAN DEFAULT 0,
  graphicalMode BOOLEAN DEFAULT 0, BonusAmount REAL, CurrentBonus REAL, TotBonus REAL,
  LowerBoundFromGoal REAL, UpperBoundFromGoal REAL, ExperimentTimeForInstructions INTEGER,
  MaxNumberOfAScenarioType INTEGER, IsTimeDriven BOOLEAN DEFAULT 0,
  IsBonusOnTimeGap BOOLEAN DEFAULT 0, TimeBetweenEnvTries REAL, deltaTmeBetweenEnvUsr REAL,
  EventTimeUtc TEXT, Station TEXT))"),
        QStringLiteral("CREATE INDEX datExperimentTrials_Participant ON datExperimentTrials (Subject, Version, EventID)"),
        QStringLiteral(R"(CREATE TABLE datTrialSummary (
  Subject TEXT COLLATE NOCASE, Version TEXT COLLATE NOCASE, Trial INTEGER, Date DATE,
  startTime TIME, endTime TIME, UserInFlow REAL, UserOutFlow REAL, EnvInFlow REAL,
  EnvOutFlow REAL, GoalAmount REAL, SimulationTime REAL, BaseMoney REAL,
  UserInflowTP INTEGER, UserOutflowTP INTEGER, IsUserInFlow BOOLEAN DEFAULT 0,
  IsUserOutFlow BOOLEAN DEFAULT 0, IsEnvInFlow BOOLEAN DEFAULT 0,
  IsEnvOutFlow BOOLEAN DEFAULT 0, graphicalMode BOOLEAN DEFAULT 0, TotBonus REAL,
  LowerBoundFromGoal REAL, UpperBoundFromGoal REAL, AmountInTank REAL, CurrentBonus REAL,
  CurrentCost REAL, TotCost REAL, BackOrder REAL, ForwardDischarge REAL,
  TotalBackOrder REAL, TotalForwardDischarge REAL,
  EventTimeUtc TEXT, Station TEXT))"),
        QStringLiteral("CREATE INDEX datTrialSummary_Period ON datTrialSummary (Version, Subject, Trial)"),
        QStringLiteral(R"(CREATE TABLE datUserTimesSummary (
  Subject TEXT COLLATE NOCASE, Version TEXT COLLATE NOCASE, Trial INTEGER, Date DATE,
  SubmitClickTime TIME, EventTimeUtc TEXT, Station TEXT))"),
        QStringLiteral(R"(CREATE TABLE datQuestionnaire (
  Subject TEXT COLLATE NOCASE, Version TEXT COLLATE NOCASE, QuestionNumber INTEGER,
  QuestionAnswer TEXT, EventTimeUtc TEXT, Station TEXT))"),
        QStringLiteral(R"(CREATE TABLE datSessionHold (
  SubjectKey TEXT NOT NULL, Version TEXT NOT NULL COLLATE NOCASE, Subject TEXT,
  Station TEXT, Holder TEXT, TakenUtc TEXT, RefreshedUtc TEXT,
  PRIMARY KEY (SubjectKey, Version)))"),
    };
    if (version == 1) {
        // Before the stamps and the holds.
        statements.removeLast();
        for (QString& statement : statements) {
            statement.remove(QStringLiteral(",\n  EventTimeUtc TEXT, Station TEXT"));
            statement.remove(QStringLiteral(", EventTimeUtc TEXT, Station TEXT"));
        }
    }
    statements.append(QStringLiteral("PRAGMA user_version = %1").arg(version));
    return statements;
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
    db.append(QStringLiteral("tblSetup"), row);
}

void insertLabels(const TempDatabase& db, const QString& version, int count)
{
    for (int i = 1; i <= count; ++i)
        db.append(QStringLiteral("tblLabels"), {{QStringLiteral("version"), version},
                                                {QStringLiteral("LabelNumber"), i},
                                                {QStringLiteral("LabelName"), QString::number(i * 10)}});
}

void insertScenario(const TempDatabase& db, int scenario, int firstPeriod, int lastPeriod,
                    double inRate, double outRate)
{
    for (int t = firstPeriod; t <= lastPeriod; ++t)
        db.append(QStringLiteral("tblScenarios"), {{QStringLiteral("Scenario"), scenario},
                                                   {QStringLiteral("Trial"), t},
                                                   {QStringLiteral("inFlowRateEnviron"), inRate},
                                                   {QStringLiteral("outFlowRateEnviron"), outRate}});
}

} // namespace aquilevel::test
