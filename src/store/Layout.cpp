#include "store/Layout.h"

#include "store/Engine.h"
#include "store/StationRules.h"
#include "store/TableRows.h"
#include "store/Tables.h"

#include <algorithm>

namespace aquilevel::store {

namespace {

// The server keeps the layout's version in a table of its own; the file in its header.
const Sql kReadVersion(QStringLiteral("PRAGMA user_version"), QStringLiteral("SELECT version FROM \"aquilevelSchema\""));

void setVersion(Connection& c, int version)
{
    if (c.dialect() == Dialect::SQLite)
        c.execute(Sql(QStringLiteral("PRAGMA user_version = %1").arg(version))); // a number of the program's own
    else
        c.execute(Sql("UPDATE \"aquilevelSchema\" SET version = $1"), {version});
}

QStringList statementsOf(const TableDef& table, Dialect dialect)
{
    QStringList mine;
    const QString quoted = quotedName(table.name);
    for (const QString& statement : createStatements(dialect))
        if (statement.contains(QStringLiteral(" %1 (").arg(quoted)) || statement.contains(QStringLiteral("ON %1 (").arg(quoted)))
            mine.append(statement);
    return mine;
}

// The layout a table came with: an older database gets it whole when it reaches that
// layout, and the steps before leave it alone.
int madeAt(const TableDef& table)
{
    if (table.name == QLatin1String("tblInstructions"))
        return 6;
    if (table.name == QLatin1String("datSubjectMark"))
        return 7;
    if (table.name == QLatin1String("datStation"))
        return 8;
    return 1;
}

// Creates the tables that came with `layout`, skipping what is there (a server whose
// layout number was set back may have them).
void createTablesOf(Connection& c, int layout)
{
    for (const TableDef& table : allTables())
        if (madeAt(table) == layout)
            for (QString statement : statementsOf(table, c.dialect()))
                c.execute(Sql(statement.replace(QLatin1String("CREATE TABLE"), QLatin1String("CREATE TABLE IF NOT EXISTS"))
                                  .replace(QLatin1String("CREATE INDEX"), QLatin1String("CREATE INDEX IF NOT EXISTS"))));
}

} // namespace

void createLayout(Connection& c)
{
    for (const QString& statement : createStatements(c.dialect()))
        c.execute(Sql(statement));
    if (c.dialect() == Dialect::Postgres) {
        c.execute(Sql("CREATE TABLE \"aquilevelSchema\" (version integer NOT NULL)"));
        c.execute(Sql("INSERT INTO \"aquilevelSchema\" VALUES ($1)"), {kSchemaVersion});
        installStationRules(c);
    } else {
        setVersion(c, kSchemaVersion);
    }
}

int layoutVersion(Connection& c)
{
    return c.value(kReadVersion).toInt();
}

void fillMissingKeys(Connection& c)
{
    QList<const TableDef*> unkeyed;
    for (const TableDef& table : allTables()) {
        for (const ColumnDef& column : table.columns) {
            // A row written by hand lacks all its keys: the one that leads an index is
            // looked at, through that index, never by reading the whole table.
            const auto leads = [&](const IndexDef& index) { return index.columns.value(0) == column.name; };
            if (column.type != ColumnType::Key || std::none_of(table.indexes.cbegin(), table.indexes.cend(), leads))
                continue;
            bool missing = false;
            try {
                missing = c.value(Sql(QStringLiteral("SELECT 1 FROM %1 WHERE %2 IS NULL AND %3 IS NOT NULL LIMIT 1")
                                          .arg(quotedName(table.name), quotedName(column.name), quotedName(column.keyOf))))
                              .isValid();
            } catch (const EngineError& error) {
                // A table that is missing or cannot be read is for check to report; the
                // rest of the database is still opened.
                if (error.kind() != ErrorClass::Other)
                    throw;
            }
            if (missing) {
                unkeyed.append(&table);
                break;
            }
        }
    }
    if (unkeyed.isEmpty())
        return;
    c.begin(true);
    try {
        for (const TableDef* table : std::as_const(unkeyed))
            fillNameKeys(c, *table);
        c.commit();
    } catch (...) {
        c.rollback();
        throw;
    }
}

void upgradeLayout(Connection& c, int from)
{
    if (from < 1 || from >= kSchemaVersion)
        return;
    const Dialect dialect = c.dialect();
    if (from < 2) {
        for (const TableDef& table : allTables())
            if (table.kind == TableKind::Data && madeAt(table) < 2)
                for (const char* column : {kEventTimeColumn, kStationColumn})
                    c.execute(Sql(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT")
                                      .arg(quotedName(table.name), quotedName(QString::fromLatin1(column)))));
    }
    if (from < 5) {
        // The holds are the stations' passing bookkeeping: made anew. A station still
        // playing writes its hold again at its next refresh.
        c.execute(Sql("DROP TABLE IF EXISTS \"datSessionHold\""));
        for (const QString& statement : statementsOf(*findTable(QStringLiteral("datSessionHold")), dialect))
            c.execute(Sql(statement));
    }
    if (from < 4) {
        // The indexes of older layouts found rows by the names as typed.
        for (const char* index : {"datExperimentTrials_Participant", "datTrialSummary_Period"})
            c.execute(Sql(QStringLiteral("DROP INDEX IF EXISTS %1").arg(quotedName(QString::fromLatin1(index)))));
        for (const TableDef& table : allTables()) {
            if (table.kind == TableKind::Internal || madeAt(table) > 4)
                continue;
            for (const ColumnDef& column : table.columns)
                if (column.type == ColumnType::Key || column.type == ColumnType::Token)
                    c.execute(Sql(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT")
                                      .arg(quotedName(table.name), quotedName(column.name))));
            fillNameKeys(c, table);
            for (const QString& statement : statementsOf(table, dialect))
                if (statement.startsWith(QLatin1String("CREATE INDEX")))
                    c.execute(Sql(QString(statement).replace(QLatin1String("CREATE INDEX"),
                                                             QLatin1String("CREATE INDEX IF NOT EXISTS"))));
        }
    }
    if (from < 6) {
        // A version's language and currency: Null in every existing row, which reads as
        // English and dollars, as before.
        // A server whose layout number was set back (by hand, or a restore of the number
        // alone) may have them: the server's statements skip what is there. A file's
        // number goes with its tables.
        const TableDef& setup = *findTable(QStringLiteral("tblSetup"));
        const QString add = dialect == Dialect::Postgres ? QStringLiteral("ADD COLUMN IF NOT EXISTS")
                                                         : QStringLiteral("ADD COLUMN");
        for (const char* name : {"Language", "CurrencySymbol", "CurrencyWord", "CurrencyCents", "CurrencyDecimals"})
            c.execute(Sql(QStringLiteral("ALTER TABLE \"tblSetup\" %1 %2 %3")
                              .arg(add, quotedName(QString::fromLatin1(name)),
                                   columnType(*setup.column(QString::fromLatin1(name)), dialect))));
        createTablesOf(c, 6);
    }
    if (from < 7)
        createTablesOf(c, 7); // the marks: none until an experimenter or a bot writes one
    if (from < 8)
        createTablesOf(c, 8); // the stations say what they do from their next start on
    if (dialect == Dialect::Postgres)
        installStationRules(c);
    setVersion(c, kSchemaVersion);
}

} // namespace aquilevel::store
