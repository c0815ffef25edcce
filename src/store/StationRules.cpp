#include "store/StationRules.h"

#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/PasswordHash.h"
#include "store/Tables.h"

namespace aquilevel::store {

namespace {

// The moment of the server's clock, as the program writes its stamps.
const QString kNow = QStringLiteral("to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')");
const QString kMe = QStringLiteral("current_setting('%1', true)").arg(QLatin1String(kHolderSetting));
// Another station's holder is shown without its random part: its process and computer.
const QString kShownHolder =
    QStringLiteral("CASE WHEN h.\"Holder\" = %1 THEN h.\"Holder\" ELSE split_part(h.\"Holder\", ':', 1) || ':' || "
                   "split_part(h.\"Holder\", ':', 2) END")
        .arg(kMe);
const QString kHoldOut = QStringLiteral("TABLE(o_subject text, o_version text, o_station text, o_holder text, "
                                        "o_taken text, o_refreshed text)");
const QString kShownRow = QStringLiteral("h.\"Subject\", h.\"Version\"::text, h.\"Station\", %1, h.\"TakenUtc\", "
                                         "h.\"RefreshedUtc\"")
                              .arg(kShownHolder);
const QString kOwnRow = QStringLiteral("INSERT INTO \"datSessionHold\" (\"SubjectKey\", \"VersionKey\", \"Subject\", "
                                       "\"Version\", \"Station\", \"Holder\", \"HolderRole\", \"TakenUtc\", "
                                       "\"RefreshedUtc\") VALUES (p_subject_key, p_version_key, p_subject, p_version, "
                                       "p_station, me, session_user, %1, %1) ON CONFLICT (\"SubjectKey\", \"VersionKey\") "
                                       "DO NOTHING;")
                              .arg(kNow);
const QString kKeys = QStringLiteral("\"SubjectKey\" = p_subject_key AND \"VersionKey\" = p_version_key");

// Each function runs with the owner's rights, so it names its schema: a station cannot
// slip in a table or an operator of its own.
QString definer(const QString& schema, const QString& signature, const QString& returns, const QString& language,
                const QString& body)
{
    return QStringLiteral("CREATE OR REPLACE FUNCTION %1 RETURNS %2 LANGUAGE %3 SECURITY DEFINER "
                          "SET search_path = %4, pg_temp AS $fn$ %5 $fn$")
        .arg(signature, returns, language, schema, body);
}

QStringList functions(const QString& schema)
{
    const QString declare = QStringLiteral("DECLARE me text := %1; h \"datSessionHold\"%ROWTYPE; ").arg(kMe);
    const QString needMe = QStringLiteral("IF coalesce(me, '') = '' THEN RAISE EXCEPTION 'this session names no "
                                          "holder' USING ERRCODE = '42501'; END IF; ");
    return {
        // Whether this session holds the participant: the rows' policies ask it for every
        // row. PL/pgSQL keeps the lookup's plan for the session; SQL would plan it anew.
        definer(schema, QStringLiteral("\"aquilevelHolds\"(p_subject_key text, p_version_key text)"),
                QStringLiteral("boolean"), QStringLiteral("plpgsql STABLE"),
                QStringLiteral("BEGIN RETURN EXISTS (SELECT 1 FROM \"datSessionHold\" WHERE %1 AND \"Holder\" = %2); END")
                    .arg(kKeys, kMe)),
        definer(schema, QStringLiteral("\"aquilevelFindHold\"(p_subject_key text, p_version_key text)"), kHoldOut,
                QStringLiteral("sql STABLE"),
                QStringLiteral("SELECT %1 FROM \"datSessionHold\" h WHERE h.\"SubjectKey\" = p_subject_key AND "
                               "h.\"VersionKey\" = p_version_key")
                    .arg(kShownRow)),
        // Takes the hold unless another holder keeps it, which is returned. A hold is
        // stale by the server's clock; a live one is given up only for a copy that has
        // stopped on the computer (and under the role) of the one asking.
        definer(schema,
                QStringLiteral("\"aquilevelTakeHold\"(p_subject_key text, p_version_key text, p_subject text, "
                               "p_version text, p_station text, p_holder_gone boolean)"),
                kHoldOut, QStringLiteral("plpgsql VOLATILE"),
                declare + QStringLiteral("stale boolean; BEGIN ") + needMe +
                    QStringLiteral("SELECT * INTO h FROM \"datSessionHold\" WHERE %1 FOR UPDATE; "
                                   "IF FOUND AND h.\"Holder\" IS DISTINCT FROM me THEN "
                                   "BEGIN stale := clock_timestamp() - h.\"RefreshedUtc\"::timestamptz >= "
                                   "make_interval(secs => %2); EXCEPTION WHEN others THEN stale := true; END; "
                                   "IF NOT coalesce(stale, true) AND NOT (p_holder_gone AND h.\"Station\" = p_station "
                                   "AND h.\"HolderRole\" = session_user::text AND "
                                   "split_part(h.\"Holder\", ':', 2) = split_part(me, ':', 2)) THEN "
                                   "RETURN QUERY SELECT %3; RETURN; END IF; END IF; "
                                   "DELETE FROM \"datSessionHold\" WHERE %1; %4 "
                                   "IF NOT FOUND THEN SELECT * INTO h FROM \"datSessionHold\" WHERE %1; RETURN QUERY SELECT %3; "
                                   "END IF; END")
                        .arg(kKeys)
                        .arg(kHoldStaleSeconds)
                        .arg(kShownRow, kOwnRow)),
        // Refreshes this session's hold, or holds again a participant released from
        // outside; false when another holder has it.
        definer(schema,
                QStringLiteral("\"aquilevelRefreshHold\"(p_subject_key text, p_version_key text, p_subject text, "
                               "p_version text, p_station text)"),
                QStringLiteral("boolean"), QStringLiteral("plpgsql VOLATILE"),
                declare + QStringLiteral("BEGIN ") + needMe +
                    QStringLiteral("UPDATE \"datSessionHold\" SET \"RefreshedUtc\" = %1 WHERE %2 AND \"Holder\" = me; "
                                   "IF FOUND THEN RETURN true; END IF; %3 RETURN FOUND; END")
                        .arg(kNow, kKeys, kOwnRow)),
        definer(schema, QStringLiteral("\"aquilevelReleaseHold\"(p_subject_key text, p_version_key text)"),
                QStringLiteral("bigint"), QStringLiteral("sql VOLATILE"),
                QStringLiteral("WITH gone AS (DELETE FROM \"datSessionHold\" WHERE %1 AND \"Holder\" = %2 RETURNING 1) "
                               "SELECT count(*) FROM gone")
                    .arg(kKeys, kMe)),
    };
}

QStringList policies()
{
    QStringList statements;
    const QString holds = QStringLiteral("\"aquilevelHolds\"(\"SubjectKey\", \"VersionKey\")");
    for (const QString& name : tableNames(TableKind::Data)) {
        const QString table = quotedName(name);
        statements << QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(table);
        for (const char* policy : {"stationReads", "stationAppends", "stationCompletes"})
            statements << QStringLiteral("DROP POLICY IF EXISTS \"%1\" ON %2").arg(QLatin1String(policy), table);
        statements << QStringLiteral("CREATE POLICY \"stationReads\" ON %1 FOR SELECT USING (true)").arg(table)
                   << QStringLiteral("CREATE POLICY \"stationAppends\" ON %1 FOR INSERT WITH CHECK (%2)").arg(table, holds);
        if (name == QLatin1String("datTrialSummary"))
            statements << QStringLiteral("CREATE POLICY \"stationCompletes\" ON %1 FOR UPDATE USING (%2) WITH CHECK (%2)")
                              .arg(table, holds);
    }
    return statements;
}

QString schemaOf(Connection& c)
{
    return quotedName(c.value(Sql("SELECT current_schema()")).toString());
}

} // namespace

void installStationRules(Connection& c)
{
    const QString schema = schemaOf(c);
    for (const QString& statement : functions(schema))
        c.execute(Sql(statement));
    installPasswordCheck(c);
    // Nobody runs them but the owner and the roles given a station's rights.
    for (const QVariantList& f : c.query(Sql("SELECT p.oid::regprocedure::text FROM pg_proc p WHERE p.pronamespace = "
                                             "current_schema()::regnamespace AND p.proname LIKE 'aquilevel%'"))
                                     .values)
        c.execute(Sql(QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC").arg(f.value(0).toString())));
    for (const QString& statement : policies())
        c.execute(Sql(statement));
}

void grantStationRights(Connection& c, const QString& role)
{
    const QString who = quotedName(role);
    QStringList all;
    for (const TableDef& table : allTables())
        all << quotedName(table.name);
    all << QStringLiteral("\"aquilevelSchema\"");
    QStringList data;
    for (const QString& name : tableNames(TableKind::Data))
        data << quotedName(name);
    QStringList completed;
    for (const QString& column : TrialSummaryTable::completedColumns())
        completed << quotedName(column);
    const QStringList statements = {
        QStringLiteral("REVOKE ALL ON %1 FROM %2").arg(all.join(QStringLiteral(", ")), who),
        QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(schemaOf(c), who),
        QStringLiteral("GRANT SELECT ON \"tblSetup\", \"tblScenarios\", \"tblLabels\", \"aquilevelSchema\" TO %1").arg(who),
        QStringLiteral("GRANT SELECT, INSERT ON %1 TO %2").arg(data.join(QStringLiteral(", ")), who),
        QStringLiteral("GRANT UPDATE (%1) ON \"datTrialSummary\" TO %2").arg(completed.join(QStringLiteral(", ")), who),
        // The holds without their holders: a station that could read them could name one.
        QStringLiteral("GRANT SELECT (\"SubjectKey\", \"VersionKey\", \"Subject\", \"Version\", \"Station\", "
                       "\"TakenUtc\", \"RefreshedUtc\") ON \"datSessionHold\" TO %1")
            .arg(who),
    };
    for (const QString& statement : statements)
        c.execute(Sql(statement));
    for (const QVariantList& f : c.query(Sql("SELECT p.oid::regprocedure::text FROM pg_proc p WHERE p.pronamespace = "
                                             "current_schema()::regnamespace AND p.proname LIKE 'aquilevel%'"))
                                     .values)
        c.execute(Sql(QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO %2").arg(f.value(0).toString(), who)));
}

QStringList stationRoles(Connection& c)
{
    QStringList roles;
    for (const QVariantList& r :
         c.query(Sql("SELECT DISTINCT grantee::text FROM information_schema.role_table_grants WHERE table_schema = "
                     "current_schema() AND table_name = 'datExperimentTrials' AND privilege_type = 'INSERT' AND "
                     "grantee::text NOT IN (current_user, 'PUBLIC') ORDER BY 1"))
             .values)
        roles << r.value(0).toString();
    return roles;
}

} // namespace aquilevel::store
