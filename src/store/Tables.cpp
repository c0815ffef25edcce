#include "store/Tables.h"

#include <QHash>

namespace aquilevel::store {

namespace {

ColumnDef text(const char* name) { return {QString::fromLatin1(name), ColumnType::Text, {}}; }
ColumnDef caseText(const char* name) { return {QString::fromLatin1(name), ColumnType::CaseText, {}}; }
ColumnDef integer(const char* name) { return {QString::fromLatin1(name), ColumnType::Integer, {}}; }
ColumnDef real(const char* name) { return {QString::fromLatin1(name), ColumnType::Real, {}}; }
ColumnDef flag(const char* name) { return {QString::fromLatin1(name), ColumnType::Flag, {}}; }
ColumnDef date(const char* name) { return {QString::fromLatin1(name), ColumnType::Date, {}}; }
ColumnDef time(const char* name) { return {QString::fromLatin1(name), ColumnType::Time, {}}; }
ColumnDef key(const char* name, const char* of) { return {QString::fromLatin1(name), ColumnType::Key, QString::fromLatin1(of)}; }

QList<ColumnDef> list(std::initializer_list<ColumnDef> columns) { return QList<ColumnDef>(columns); }

// Every data row says when and where it was written, carries the keys its participant
// and version are found by, and, written to a server, the write step that appended it.
QList<ColumnDef> dataTail()
{
    return {text(kEventTimeColumn), text(kStationColumn), key("SubjectKey", "Subject"), key("VersionKey", "Version"),
            {QStringLiteral("WriteToken"), ColumnType::Token, {}}};
}

QList<TableDef> makeTables()
{
    // Names are written exactly as existing analyses know them, misspellings included.
    QList<TableDef> tables;
    ColumnDef version = caseText("Version");
    version.notNull = true;
    tables.append({QStringLiteral("tblSetup"), TableKind::Config,
                   list({version, integer("MaxTrial"), real("BaseMoney"), integer("numMarks"),
                         real("InitialAmountInTank"), real("GoalLinePoisition"), real("InitialBackOrder"),
                         real("InitialForwardDischarge"), integer("inFlowTPAfter"), integer("outFlowTPAfter"),
                         real("simTimeForTP"), integer("AfterEveryNTrials"), integer("ScenarioUsed"),
                         real("CostUnderFlowPerAmount"), real("CostOverFlowPerAmount"), real("BonusAmount"),
                         text("YUnits"), flag("graphicalMode"), integer("userDelay"), integer("envDelay"),
                         real("RHEIGHT"), real("RWIDTH"), real("UpperBoundFromGoal"), real("LowerBoundFromGoal"),
                         integer("ExperimentTimeForInstructions"), integer("MaxNumberOfAScenarioType"),
                         flag("IsTimeDriven"), flag("IsBonusOnTimeGap"), flag("ShowBackOrder"),
                         flag("ShowDischargeOrder"), flag("ShowTimePeriods"), real("deltaTmeBetweenEnvUsr"),
                         real("TimeBetweenEnvTries"), integer("UsrMv"), integer("EnvMv"),
                         text("Language"), text("CurrencySymbol"), text("CurrencyWord"), text("CurrencyCents"),
                         integer("CurrencyDecimals"), key("VersionKey", "Version")}),
                   {QStringLiteral("Version")},
                   {{QStringLiteral("tblSetup_VersionKey"), {QStringLiteral("VersionKey")}}}});
    tables.append({QStringLiteral("tblScenarios"), TableKind::Config,
                   list({integer("Scenario"), integer("Trial"), real("inFlowRateEnviron"), real("outFlowRateEnviron")}),
                   {},
                   {{QStringLiteral("tblScenarios_Scenario"), {QStringLiteral("Scenario")}}}});
    tables.append({QStringLiteral("tblLabels"), TableKind::Config,
                   list({caseText("version"), real("LabelNumber"), text("LabelName"), key("VersionKey", "version")}),
                   {},
                   {{QStringLiteral("tblLabels_VersionKey"), {QStringLiteral("VersionKey"), QStringLiteral("LabelNumber")}}}});
    tables.append({QStringLiteral("tblInstructions"), TableKind::Config,
                   list({caseText("version"), integer("PageNumber"), text("PageText"), key("VersionKey", "version")}),
                   {},
                   {{QStringLiteral("tblInstructions_VersionKey"), {QStringLiteral("VersionKey"), QStringLiteral("PageNumber")}}}});
    tables.append({QStringLiteral("tblPasswords"), TableKind::Config, list({caseText("username"), text("password")}), {}, {}});
    tables.append({QStringLiteral("datSubject"), TableKind::Data,
                   list({caseText("Subject"), caseText("Version"), text("Condition"), text("Major"), text("Gender"),
                         real("Age"), date("Date"), text("Time")}) + dataTail(),
                   {},
                   {{QStringLiteral("datSubject_Participant"), {QStringLiteral("VersionKey"), QStringLiteral("SubjectKey")}},
                    {QStringLiteral("datSubject_Written"), {QString::fromLatin1(kEventTimeColumn)}}}});
    tables.append(
        {QStringLiteral("datExperimentTrials"), TableKind::Data,
         list({caseText("Subject"), caseText("Version"), text("eventType"), integer("EventID"), integer("Trial"),
               date("Date"), text("Time"), real("CurrentCost"), real("TotCost"), real("UserInFlow"),
               real("UserOutFlow"), real("EnvInFlow"), real("EnvOutFlow"), real("BackOrder"),
               real("ForwardDischarge"), real("TotalBackOrder"), real("TotalForwardDischarge"),
               real("AmountInTank"), real("GoalAmount"), real("SimulationTime"), real("BaseMoney"),
               integer("UserInflowTP"), integer("UserOutflowTP"), integer("AfterEveryNTrials"),
               flag("IsUserInFlow"), flag("IsUserOutFlow"), flag("IsEnvInFlow"), flag("IsEnvOutFlow"),
               flag("graphicalMode"), real("BonusAmount"), real("CurrentBonus"), real("TotBonus"),
               real("LowerBoundFromGoal"), real("UpperBoundFromGoal"), integer("ExperimentTimeForInstructions"),
               integer("MaxNumberOfAScenarioType"), flag("IsTimeDriven"), flag("IsBonusOnTimeGap"),
               real("TimeBetweenEnvTries"), real("deltaTmeBetweenEnvUsr")}) +
             dataTail(),
         {},
         {{QStringLiteral("datExperimentTrials_Participant"),
           {QStringLiteral("SubjectKey"), QStringLiteral("VersionKey"), QStringLiteral("EventID")}},
          {QStringLiteral("datExperimentTrials_Written"), {QString::fromLatin1(kEventTimeColumn)}}}});
    tables.append({QStringLiteral("datTrialSummary"), TableKind::Data,
                   list({caseText("Subject"), caseText("Version"), integer("Trial"), date("Date"), time("startTime"),
                         time("endTime"), real("UserInFlow"), real("UserOutFlow"), real("EnvInFlow"),
                         real("EnvOutFlow"), real("GoalAmount"), real("SimulationTime"), real("BaseMoney"),
                         integer("UserInflowTP"), integer("UserOutflowTP"), flag("IsUserInFlow"),
                         flag("IsUserOutFlow"), flag("IsEnvInFlow"), flag("IsEnvOutFlow"), flag("graphicalMode"),
                         real("TotBonus"), real("LowerBoundFromGoal"), real("UpperBoundFromGoal"),
                         real("AmountInTank"), real("CurrentBonus"), real("CurrentCost"), real("TotCost"),
                         real("BackOrder"), real("ForwardDischarge"), real("TotalBackOrder"),
                         real("TotalForwardDischarge")}) +
                       dataTail(),
                   {},
                   {{QStringLiteral("datTrialSummary_Period"),
                     {QStringLiteral("SubjectKey"), QStringLiteral("VersionKey"), QStringLiteral("Trial")}}}});
    tables.append({QStringLiteral("datUserTimesSummary"), TableKind::Data,
                   list({caseText("Subject"), caseText("Version"), integer("Trial"), date("Date"),
                         time("SubmitClickTime")}) +
                       dataTail(),
                   {},
                   {{QStringLiteral("datUserTimesSummary_Participant"),
                     {QStringLiteral("SubjectKey"), QStringLiteral("VersionKey")}}}});
    tables.append({QStringLiteral("datQuestionnaire"), TableKind::Data,
                   list({caseText("Subject"), caseText("Version"), integer("QuestionNumber"), text("QuestionAnswer")}) +
                       dataTail(),
                   {},
                   {{QStringLiteral("datQuestionnaire_Participant"),
                     {QStringLiteral("SubjectKey"), QStringLiteral("VersionKey"), QStringLiteral("QuestionNumber")}}}});
    // A participant set apart from the analyses and the payments: a pilot played to try
    // the lab out, or one excluded afterwards. Marks are appended, never changed: the
    // participant's newest row is the mark, and an empty Mark takes one back.
    tables.append({QStringLiteral("datSubjectMark"), TableKind::Data,
                   list({caseText("Subject"), caseText("Version"), text("Mark"), text("Reason")}) + dataTail(),
                   {},
                   {{QStringLiteral("datSubjectMark_Participant"), {QStringLiteral("VersionKey"), QStringLiteral("SubjectKey")}}}});
    // One row per participant and version being played: which run of the program on
    // which station holds it, and when it last said it was still there.
    ColumnDef subjectKey = text("SubjectKey");
    subjectKey.notNull = true;
    ColumnDef versionKey = text("VersionKey");
    versionKey.notNull = true;
    tables.append({QStringLiteral("datSessionHold"), TableKind::Internal,
                   list({subjectKey, versionKey, caseText("Version"), text("Subject"), text("Station"),
                         text("Holder"), text("HolderRole"), integer("HolderBackend"), text("TakenUtc"),
                         text("RefreshedUtc")}),
                   {QStringLiteral("SubjectKey"), QStringLiteral("VersionKey")},
                   {}});
    // One row per run of the program on a station: what it does now (waits at the
    // login, plays a participant's session, or has closed) and when it last said so.
    ColumnDef run = text("Holder");
    run.notNull = true;
    tables.append({QStringLiteral("datStation"), TableKind::Internal,
                   list({run, text("Station"), text("State"), text("Subject"), text("Version"), text("StartedUtc"),
                         text("RefreshedUtc")}),
                   {QStringLiteral("Holder")},
                   {}});
    const QHash<QString, QStringList> rowKeys = {
        {QStringLiteral("datSubject"), {}},
        {QStringLiteral("datExperimentTrials"), {QStringLiteral("EventID")}},
        {QStringLiteral("datTrialSummary"), {QStringLiteral("Trial")}},
        {QStringLiteral("datUserTimesSummary"), {QStringLiteral("Trial"), QStringLiteral("SubmitClickTime")}},
        {QStringLiteral("datQuestionnaire"), {QStringLiteral("QuestionNumber")}},
        // Marks follow one another; two written at one moment are one stored twice.
        {QStringLiteral("datSubjectMark"), {QString::fromLatin1(kEventTimeColumn)}}};
    for (TableDef& t : tables)
        t.rowKey = rowKeys.value(t.name);
    return tables;
}

} // namespace

QString columnType(const ColumnDef& column, Dialect dialect)
{
    const bool sqlite = dialect == Dialect::SQLite;
    QString type;
    switch (column.type) {
    case ColumnType::Text:
    case ColumnType::Key:
    case ColumnType::Token:
        type = QStringLiteral("TEXT");
        break;
    case ColumnType::CaseText:
        type = sqlite ? QStringLiteral("TEXT COLLATE NOCASE") : QStringLiteral("citext");
        break;
    case ColumnType::Integer:
        type = sqlite ? QStringLiteral("INTEGER") : QStringLiteral("bigint");
        break;
    case ColumnType::Real:
        type = sqlite ? QStringLiteral("REAL") : QStringLiteral("double precision");
        break;
    case ColumnType::Flag:
        type = sqlite ? QStringLiteral("BOOLEAN DEFAULT 0") : QStringLiteral("boolean DEFAULT false");
        break;
    case ColumnType::Date:
        type = QStringLiteral("DATE");
        break;
    case ColumnType::Time:
        type = QStringLiteral("TIME");
        break;
    }
    if (column.notNull)
        type += QStringLiteral(" NOT NULL");
    return type;
}

QStringList TableDef::columnNames() const
{
    QStringList names;
    for (const ColumnDef& c : columns)
        names.append(c.name);
    return names;
}

QList<ColumnDef> TableDef::shownColumns() const
{
    QList<ColumnDef> shown;
    for (const ColumnDef& c : columns)
        if (c.type != ColumnType::Key && c.type != ColumnType::Token)
            shown.append(c);
    return shown;
}

const ColumnDef* TableDef::column(const QString& name) const
{
    for (const ColumnDef& c : columns)
        if (c.name.compare(name, Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

QString TableDef::keyColumnOf(const QString& name) const
{
    for (const ColumnDef& c : columns)
        if (c.type == ColumnType::Key && c.keyOf.compare(name, Qt::CaseInsensitive) == 0)
            return c.name;
    return {};
}

const QList<TableDef>& allTables()
{
    static const QList<TableDef> tables = makeTables();
    return tables;
}

const TableDef* findTable(const QString& name)
{
    for (const TableDef& t : allTables())
        if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

QStringList tableNames(TableKind kind)
{
    QStringList names;
    for (const TableDef& t : allTables())
        if (t.kind == kind)
            names.append(t.name);
    return names;
}

QStringList createStatements(Dialect dialect)
{
    QStringList statements;
    const bool sqlite = dialect == Dialect::SQLite;
    if (!sqlite)
        statements.append(QStringLiteral("CREATE EXTENSION IF NOT EXISTS citext"));
    for (const TableDef& t : allTables()) {
        QStringList parts;
        // On the server an identity column keeps the order rows were written in, as the
        // file's rowid does.
        if (!sqlite)
            parts.append(QStringLiteral("\"rowid\" bigint GENERATED BY DEFAULT AS IDENTITY UNIQUE"));
        for (const ColumnDef& c : t.columns)
            parts.append(quotedName(c.name) + QLatin1Char(' ') + columnType(c, dialect));
        if (!t.primaryKey.isEmpty()) {
            QStringList names;
            for (const QString& k : t.primaryKey)
                names.append(quotedName(k));
            parts.append(QStringLiteral("PRIMARY KEY (%1)").arg(names.join(QStringLiteral(", "))));
        }
        statements.append(QStringLiteral("CREATE TABLE %1 (%2)").arg(quotedName(t.name), parts.join(QStringLiteral(", "))));
        for (const IndexDef& index : t.indexes) {
            QStringList names;
            for (const QString& k : index.columns)
                names.append(quotedName(k));
            // The server's rowid stands last where the file's index has it anyway, so
            // "the participant's newest row" is read from the index on both.
            if (!sqlite && t.kind == TableKind::Data)
                names.append(QStringLiteral("\"rowid\""));
            statements.append(QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                                  .arg(quotedName(index.name), quotedName(t.name), names.join(QStringLiteral(", "))));
        }
    }
    return statements;
}

QString insertStatement(const TableDef& table, const QStringList& columns)
{
    QStringList names;
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i) {
        names.append(quotedName(columns.at(i)));
        marks.append(QStringLiteral("$%1").arg(i + 1));
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(quotedName(table.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
}

} // namespace aquilevel::store
