#include "store/Schema.h"

namespace aquilevel::store {

namespace {

// One row per participant and version being played: which run of the program on which
// station holds it, and when it last said it was still there.
QString holdTable()
{
    return QStringLiteral(R"(CREATE TABLE IF NOT EXISTS datSessionHold (
  SubjectKey TEXT NOT NULL, Version TEXT NOT NULL COLLATE NOCASE, Subject TEXT,
  Station TEXT, Holder TEXT, TakenUtc TEXT, RefreshedUtc TEXT,
  PRIMARY KEY (SubjectKey, Version)))");
}

} // namespace

// Names are written exactly as existing analyses know them, misspellings included.
// Texts that were compared without regard to letter case (versions, participant and
// experimenter names) keep that through NOCASE. Yes/no columns are BOOLEAN, default 0;
// the program writes 1 for yes. Dates are DATE text (YYYY-MM-DD), times of day TIME
// text (HH:MM:SS). Every row of a data table also carries, after the columns the analyses
// know, the moment it was written (UTC, with milliseconds) and the computer that wrote it.
QStringList schemaStatements()
{
    return {
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
        QStringLiteral(R"(CREATE TABLE tblLabels (
  version TEXT COLLATE NOCASE, LabelNumber REAL, LabelName TEXT))"),
        QStringLiteral(R"(CREATE TABLE tblPasswords (
  username TEXT COLLATE NOCASE, password TEXT))"),
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
        QStringLiteral("CREATE INDEX datExperimentTrials_Participant ON datExperimentTrials "
                       "(Subject, Version, EventID)"),
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
        QStringLiteral("CREATE INDEX datTrialSummary_Period ON datTrialSummary "
                       "(Version, Subject, Trial)"),
        QStringLiteral(R"(CREATE TABLE datUserTimesSummary (
  Subject TEXT COLLATE NOCASE, Version TEXT COLLATE NOCASE, Trial INTEGER, Date DATE,
  SubmitClickTime TIME,
  EventTimeUtc TEXT, Station TEXT))"),
        QStringLiteral(R"(CREATE TABLE datQuestionnaire (
  Subject TEXT COLLATE NOCASE, Version TEXT COLLATE NOCASE, QuestionNumber INTEGER,
  QuestionAnswer TEXT,
  EventTimeUtc TEXT, Station TEXT))"),
        holdTable(),
        QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion),
    };
}

const QStringList& stampedTables()
{
    static const QStringList tables = {
        QStringLiteral("datSubject"), QStringLiteral("datExperimentTrials"),
        QStringLiteral("datTrialSummary"), QStringLiteral("datUserTimesSummary"),
        QStringLiteral("datQuestionnaire")};
    return tables;
}

QStringList upgradeStatements(int fromVersion)
{
    QStringList statements;
    if (fromVersion < 1 || fromVersion >= kSchemaVersion)
        return statements;
    if (fromVersion < 2) {
        for (const QString& table : stampedTables()) {
            statements.append(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT").arg(table, QLatin1String(kEventTimeColumn)));
            statements.append(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT").arg(table, QLatin1String(kStationColumn)));
        }
    }
    if (fromVersion < 3)
        statements.append(holdTable());
    statements.append(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
    return statements;
}

} // namespace aquilevel::store
