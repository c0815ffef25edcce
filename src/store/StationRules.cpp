#include "store/StationRules.h"

#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/PasswordHash.h"
#include "store/Tables.h"

namespace aquilevel::store {

namespace {

// Every function and operator in the bodies below is one of pg_catalog's, named there or
// matching its argument types exactly, so that nothing of the caller's can stand in for
// it while it runs with the owner's rights.

// The moment of the server's clock, as the program writes its stamps.
const QString kNow = QStringLiteral("pg_catalog.to_char(pg_catalog.clock_timestamp() AT TIME ZONE 'UTC', "
                                    "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')");
// A day before that moment, the same way.
const QString kDayAgo = QStringLiteral("pg_catalog.to_char(pg_catalog.clock_timestamp() AT TIME ZONE 'UTC' - "
                                       "interval '1 day', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')");
const QString kMe = QStringLiteral("pg_catalog.current_setting('%1', true)").arg(QLatin1String(kHolderSetting));
// Another station's holder is shown without its random part: its process and computer.
const QString kShownHolder =
    QStringLiteral("CASE WHEN h.\"Holder\" = %1 THEN h.\"Holder\" ELSE pg_catalog.split_part(h.\"Holder\", ':', 1) "
                   "|| ':' || pg_catalog.split_part(h.\"Holder\", ':', 2) END")
        .arg(kMe);
const QString kHoldOut = QStringLiteral("TABLE(o_subject text, o_version text, o_station text, o_holder text, "
                                        "o_taken text, o_refreshed text)");
const QString kShownRow = QStringLiteral("h.\"Subject\", h.\"Version\"::text, h.\"Station\", %1, h.\"TakenUtc\", "
                                         "h.\"RefreshedUtc\"")
                              .arg(kShownHolder);
// The hold names the server session that keeps it, so that the server itself can tell
// a holder whose connection has ended.
const QString kOwnRow = QStringLiteral("INSERT INTO \"datSessionHold\" (\"SubjectKey\", \"VersionKey\", \"Subject\", "
                                       "\"Version\", \"Station\", \"Holder\", \"HolderRole\", \"HolderBackend\", "
                                       "\"TakenUtc\", \"RefreshedUtc\") VALUES (p_subject_key, p_version_key, p_subject, "
                                       "p_version, p_station, me, session_user, pg_catalog.pg_backend_pid(), %1, %1) "
                                       "ON CONFLICT (\"SubjectKey\", \"VersionKey\") DO NOTHING;")
                              .arg(kNow);
const QString kKeys = QStringLiteral("\"SubjectKey\" = p_subject_key AND \"VersionKey\" = p_version_key");

// Each function runs with the owner's rights, so it names its schema: a station cannot
// slip in a table of its own.
QString definer(const QString& schema, const QString& signature, const QString& returns, const QString& language,
                const QString& body)
{
    return QStringLiteral("CREATE OR REPLACE FUNCTION %1 RETURNS %2 LANGUAGE %3 SECURITY DEFINER "
                          "SET search_path = %4, pg_temp AS $fn$ %5 $fn$")
        .arg(signature, returns, language, schema, body);
}

// The program's name key (nameKey: Unicode simple case folding, a character for a
// character) as a function of the server's, so that the server sees that a row's keys
// are its names': a station cannot file a row under a participant it holds while naming
// another in it. The table of foldings is this program's, written into the function.
QString foldFunction()
{
    QString from;
    QString to;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const char32_t folded = QChar::toCaseFolded(c);
        if (folded != c) {
            from += QString::fromUcs4(&c, 1);
            to += QString::fromUcs4(&folded, 1);
        }
    }
    // No folding involves '$', so the dollar quotes hold the tables as they are. A name
    // all in ASCII (as many bytes as characters) needs only A-Z, and a short table is
    // quicker to search: the policies fold every row's names.
    return QStringLiteral("CREATE OR REPLACE FUNCTION \"aquilevelFold\"(text) RETURNS text LANGUAGE sql IMMUTABLE "
                          "PARALLEL SAFE AS $fn$ SELECT CASE WHEN pg_catalog.octet_length($1) = "
                          "pg_catalog.char_length($1) THEN pg_catalog.translate($1, "
                          "'ABCDEFGHIJKLMNOPQRSTUVWXYZ'::text, 'abcdefghijklmnopqrstuvwxyz'::text) ELSE "
                          "pg_catalog.translate($1, $from$%1$from$::text, $to$%2$to$::text) END $fn$")
        .arg(from, to);
}

QStringList functions(const QString& schema, bool unicode)
{
    const QString declare = QStringLiteral("DECLARE me text := %1; h \"datSessionHold\"%ROWTYPE; ").arg(kMe);
    const QString needMe = QStringLiteral("IF coalesce(me, '') = '' THEN RAISE EXCEPTION 'this session names no "
                                          "holder' USING ERRCODE = '42501'; END IF; ");
    // A hold's keys are its names' too.
    const QString keysOfNames = !unicode ? QString() :
        QStringLiteral("IF p_subject_key IS DISTINCT FROM \"aquilevelFold\"(p_subject) OR p_version_key IS DISTINCT "
                       "FROM \"aquilevelFold\"(p_version) THEN RAISE EXCEPTION 'the keys are not the names' "
                       "USING ERRCODE = '42501'; END IF; ");
    QStringList all = {
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
        // stale by the server's clock. A live one is given up only to a copy on the
        // computer of the one that holds it, under the same role, and only once that
        // holder's own session to the server has ended: the server sees that itself,
        // whatever a station says.
        definer(schema,
                QStringLiteral("\"aquilevelTakeHold\"(p_subject_key text, p_version_key text, p_subject text, "
                               "p_version text, p_station text, p_holder_gone boolean)"),
                kHoldOut, QStringLiteral("plpgsql VOLATILE"),
                declare + QStringLiteral("stale boolean; gone boolean; BEGIN ") + needMe + keysOfNames +
                    QStringLiteral("SELECT * INTO h FROM \"datSessionHold\" WHERE %1 FOR UPDATE; "
                                   "IF FOUND AND h.\"Holder\" IS DISTINCT FROM me THEN "
                                   "BEGIN stale := pg_catalog.clock_timestamp() - h.\"RefreshedUtc\"::timestamptz >= "
                                   "interval '%2 seconds'; EXCEPTION WHEN others THEN stale := true; END; "
                                   "gone := p_holder_gone AND h.\"Station\" = p_station AND "
                                   "h.\"HolderRole\" = session_user::text AND pg_catalog.split_part(h.\"Holder\", ':', 2) "
                                   "= pg_catalog.split_part(me, ':', 2) AND NOT EXISTS (SELECT 1 FROM "
                                   "pg_catalog.pg_stat_activity a WHERE a.pid = h.\"HolderBackend\"); "
                                   "IF stale IS NOT TRUE AND gone IS NOT TRUE THEN "
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
                declare + QStringLiteral("BEGIN ") + needMe + keysOfNames +
                    QStringLiteral("UPDATE \"datSessionHold\" SET \"RefreshedUtc\" = %1, \"HolderBackend\" = "
                                   "pg_catalog.pg_backend_pid() WHERE %2 AND \"Holder\" = me; "
                                   "IF FOUND THEN RETURN true; END IF; %3 RETURN FOUND; END")
                        .arg(kNow, kKeys, kOwnRow)),
        definer(schema, QStringLiteral("\"aquilevelReleaseHold\"(p_subject_key text, p_version_key text)"),
                QStringLiteral("bigint"), QStringLiteral("sql VOLATILE"),
                QStringLiteral("WITH gone AS (DELETE FROM \"datSessionHold\" WHERE %1 AND \"Holder\" = %2 RETURNING 1) "
                               "SELECT pg_catalog.count(*) FROM gone")
                    .arg(kKeys, kMe)),
        // Says what this session's run of the program does: its own row and no other's.
        // A run's first word clears the rows closed or silent for a day.
        definer(schema,
                QStringLiteral("\"aquilevelAnnounceStation\"(p_station text, p_state text, p_subject text, "
                               "p_version text)"),
                QStringLiteral("void"), QStringLiteral("plpgsql VOLATILE"),
                QStringLiteral("DECLARE me text := %1; BEGIN ").arg(kMe) + needMe +
                    QStringLiteral("IF p_state IS DISTINCT FROM 'login' AND p_state IS DISTINCT FROM 'session' AND "
                                   "p_state IS DISTINCT FROM 'closed' THEN RAISE EXCEPTION 'no such state' USING "
                                   "ERRCODE = '22023'; END IF; "
                                   "UPDATE \"datStation\" SET \"Station\" = p_station, \"State\" = p_state, "
                                   "\"Subject\" = p_subject, \"Version\" = p_version, \"RefreshedUtc\" = %1 "
                                   "WHERE \"Holder\" = me; IF FOUND THEN RETURN; END IF; "
                                   "DELETE FROM \"datStation\" WHERE \"State\" = 'closed' OR \"RefreshedUtc\" < %2; "
                                   "INSERT INTO \"datStation\" (\"Holder\", \"Station\", \"State\", \"Subject\", "
                                   "\"Version\", \"StartedUtc\", \"RefreshedUtc\") VALUES (me, p_station, p_state, "
                                   "p_subject, p_version, %1, %1) ON CONFLICT (\"Holder\") DO NOTHING; END")
                        .arg(kNow, kDayAgo)),
    };
    if (unicode)
        all.prepend(foldFunction());
    return all;
}

QStringList policies(bool unicode)
{
    QStringList statements;
    const QString holds = QStringLiteral("\"aquilevelHolds\"(\"SubjectKey\", \"VersionKey\")");
    // A row is appended under keys the session holds, and its names are those keys'.
    // (A database in another encoding than UTF-8 cannot hold the table of foldings, nor
    // fold a name's characters one by one: there the keys are not checked.)
    const QString appends = !unicode ? holds
                                     : holds + QStringLiteral(" AND \"SubjectKey\" = \"aquilevelFold\"(\"Subject\") AND "
                                                              "\"VersionKey\" = \"aquilevelFold\"(\"Version\")");
    for (const QString& name : tableNames(TableKind::Data)) {
        const QString table = quotedName(name);
        statements << QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(table);
        for (const char* policy : {"stationReads", "stationAppends", "stationCompletes"})
            statements << QStringLiteral("DROP POLICY IF EXISTS \"%1\" ON %2").arg(QLatin1String(policy), table);
        statements << QStringLiteral("CREATE POLICY \"stationReads\" ON %1 FOR SELECT USING (true)").arg(table)
                   << QStringLiteral("CREATE POLICY \"stationAppends\" ON %1 FOR INSERT WITH CHECK (%2)")
                          .arg(table, name == QLatin1String("datSubjectMark")
                                          // A station marks only its bot's pilots: taking a mark
                                          // back or excluding is the experimenter's.
                                          ? appends + QStringLiteral(" AND \"Mark\" = 'pilot'")
                                          : appends);
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

// The functions of the rules and the password check, each as its signature (quoted by
// the server itself).
QStringList rulesFunctions(Connection& c)
{
    QStringList signatures;
    for (const QVariantList& f : c.query(Sql("SELECT p.oid::regprocedure::text FROM pg_proc p WHERE p.pronamespace = "
                                             "current_schema()::regnamespace AND p.proname LIKE 'aquilevel%'"))
                                     .values)
        signatures << f.value(0).toString();
    return signatures;
}

} // namespace

void installStationRules(Connection& c)
{
    const QString schema = schemaOf(c);
    const bool unicode = c.value(Sql("SELECT current_setting('server_encoding')")).toString() == QLatin1String("UTF8");
    for (const QString& statement : functions(schema, unicode))
        c.execute(Sql(statement));
    installPasswordCheck(c);
    // Nobody runs them but the owner and the roles given a station's rights.
    for (const QString& f : rulesFunctions(c))
        c.execute(Sql(QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC").arg(f)));
    for (const QString& statement : policies(unicode))
        c.execute(Sql(statement));
    // Nobody but the owner makes objects beside the tables (a server of before
    // PostgreSQL 15 let everyone).
    c.execute(Sql(QStringLiteral("REVOKE CREATE ON SCHEMA %1 FROM PUBLIC").arg(schema)));
}

void grantStationRights(Connection& c, const QString& role)
{
    const QString who = quotedName(role);
    const QString schema = schemaOf(c);
    QStringList all;
    for (const TableDef& table : allTables())
        all << quotedName(table.name);
    all << QStringLiteral("\"aquilevelSchema\"");
    QStringList statements = {
        QStringLiteral("REVOKE ALL ON %1 FROM %2").arg(all.join(QStringLiteral(", ")), who),
        // A function or operator of its own in the tables' schema could stand in for one
        // of the server's in the rules.
        QStringLiteral("REVOKE CREATE ON SCHEMA %1 FROM %2").arg(schema, who),
        QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(schema, who),
        QStringLiteral("GRANT SELECT ON \"tblSetup\", \"tblScenarios\", \"tblLabels\", \"tblInstructions\", \"aquilevelSchema\" TO %1").arg(who),
    };
    // Rows appended with every column but the server's own row number: a number of its
    // choosing could take the place of the next one and stop the other stations' rows.
    for (const QString& name : tableNames(TableKind::Data)) {
        QStringList columns;
        for (const QString& column : findTable(name)->columnNames())
            columns << quotedName(column);
        statements << QStringLiteral("GRANT INSERT (%1) ON %2 TO %3")
                          .arg(columns.join(QStringLiteral(", ")), quotedName(name), who);
        statements << QStringLiteral("GRANT SELECT ON %1 TO %2").arg(quotedName(name), who);
    }
    QStringList completed;
    for (const QString& column : TrialSummaryTable::completedColumns())
        completed << quotedName(column);
    statements << QStringLiteral("GRANT UPDATE (%1) ON \"datTrialSummary\" TO %2").arg(completed.join(QStringLiteral(", ")), who)
               // The holds without their holders: a station that could read them could name one.
               << QStringLiteral("GRANT SELECT (\"SubjectKey\", \"VersionKey\", \"Subject\", \"Version\", \"Station\", "
                                 "\"TakenUtc\", \"RefreshedUtc\") ON \"datSessionHold\" TO %1")
                      .arg(who)
               // The stations' presences, likewise; each writes its own through its function.
               << QStringLiteral("GRANT SELECT (\"Station\", \"State\", \"Subject\", \"Version\", \"StartedUtc\", "
                                 "\"RefreshedUtc\") ON \"datStation\" TO %1")
                      .arg(who);
    for (const QString& statement : std::as_const(statements))
        c.execute(Sql(statement));
    for (const QString& f : rulesFunctions(c))
        c.execute(Sql(QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO %2").arg(f, who)));
}

QStringList stationRightsBeyond(Connection& c, const QString& role)
{
    // What a station must not do, as the server answers for the role with all it is a
    // member of (pg_read_all_data, a group role with rights of its own, ...).
    static const char* const checks[][2] = {
        {"reads the experimenters' passwords", "has_table_privilege($1::name, '\"tblPasswords\"', 'SELECT')"},
        {"reads the holders of the holds", "has_column_privilege($1::name, '\"datSessionHold\"', 'Holder', 'SELECT')"},
        {"changes the holds", "has_table_privilege($1::name, '\"datSessionHold\"', 'INSERT, UPDATE, DELETE')"},
        {"changes the stations' presences", "has_table_privilege($1::name, '\"datStation\"', 'INSERT, UPDATE, DELETE')"},
        {"deletes data rows", "has_table_privilege($1::name, '\"datExperimentTrials\"', 'DELETE')"},
        {"changes data rows", "has_column_privilege($1::name, '\"datExperimentTrials\"', 'Subject', 'UPDATE')"},
        {"changes the configuration", "has_table_privilege($1::name, '\"tblSetup\"', 'INSERT, UPDATE, DELETE')"},
        {"creates objects beside the tables", "has_schema_privilege($1::name, current_schema(), 'CREATE')"},
        {"creates or changes roles", "(SELECT rolcreaterole OR rolsuper OR rolbypassrls FROM pg_roles WHERE rolname = $1)"},
    };
    QStringList beyond;
    for (const auto& [what, test] : checks)
        if (c.value(Sql(QStringLiteral("SELECT %1").arg(QLatin1String(test))), {role}).toBool())
            beyond << QLatin1String(what);
    return beyond;
}

QStringList stationRoles(Connection& c)
{
    // The roles that may append a session's rows but not delete them, other than the
    // tables' owner and those above the rules: the stations' (an administrator's or an
    // analysis's role keeps what it has).
    QStringList roles;
    for (const QVariantList& r :
         c.query(Sql("SELECT r.rolname FROM pg_roles r, pg_tables t WHERE t.schemaname = current_schema() AND "
                     "t.tablename = 'datExperimentTrials' AND r.rolname <> current_user AND r.rolname NOT LIKE 'pg\\_%' "
                     "AND NOT r.rolsuper AND NOT r.rolbypassrls AND NOT pg_has_role(r.oid, t.tableowner, 'USAGE') AND "
                     "has_any_column_privilege(r.oid, t.schemaname || '.\"datExperimentTrials\"', 'INSERT') AND "
                     "NOT has_table_privilege(r.oid, t.schemaname || '.\"datExperimentTrials\"', 'DELETE') "
                     "ORDER BY 1"))
             .values)
        roles << r.value(0).toString();
    return roles;
}

} // namespace aquilevel::store
