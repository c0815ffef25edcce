#include "store/ConfigTables.h"

#include "store/Engine.h"
#include "store/NameKey.h"
#include "store/PasswordHash.h"
#include "store/TableRows.h"

namespace aquilevel::store {

QStringList SetupTable::versions(Connection& c)
{
    QStringList names;
    for (const QVariantList& row : c.query(Sql("SELECT \"Version\" FROM \"tblSetup\" ORDER BY \"VersionKey\", \"Version\"")).values)
        names.append(row.value(0).toString());
    return names;
}

std::optional<Row> SetupTable::row(Connection& c, const QString& version)
{
    const QList<Row> found = rows(c, version);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

QList<Row> SetupTable::rows(Connection& c, const QString& version)
{
    const QStringList columns = findTable(QStringLiteral("tblSetup"))->columnNames();
    QStringList quoted;
    for (const QString& column : columns)
        quoted.append(quotedName(column));
    const QString select = QStringLiteral("SELECT %1 FROM \"tblSetup\"").arg(quoted.join(QLatin1Char(',')));
    if (version.isNull())
        return rowsOf(c.query(Sql(select + QStringLiteral(" ORDER BY rowid"))));
    return rowsOf(c.query(Sql(select + QStringLiteral(" WHERE \"VersionKey\" = $1 ORDER BY rowid")), {nameKey(version)}));
}

QStringList SetupTable::versionsUsing(Connection& c, const QVariant& scenario)
{
    QStringList names;
    for (const QVariantList& row :
         c.query(Sql("SELECT \"Version\" FROM \"tblSetup\" WHERE \"ScenarioUsed\" = $1 ORDER BY rowid"), {scenario}).values)
        names.append(row.value(0).toString());
    return names;
}

namespace {

void appendAll(Connection& c, const char* table, const QList<Row>& rows)
{
    const TableDef& def = *findTable(QString::fromLatin1(table));
    for (const Row& row : rows)
        appendRow(c, def, row.columns(), row.values());
}

} // namespace

// Each replaces as import does: the old rows deleted and the new ones appended, so that
// the values are bound by the column's type on either engine and the keys follow.
void SetupTable::replace(Connection& c, const QString& version, const Row& row)
{
    removeVersionRows(c, *findTable(QStringLiteral("tblSetup")), version);
    appendAll(c, "tblSetup", {row});
}

void ScenarioTable::replace(Connection& c, const QVariant& scenario, const QList<Row>& rows)
{
    removeVersionRows(c, *findTable(QStringLiteral("tblScenarios")), scenario);
    appendAll(c, "tblScenarios", rows);
}

void LabelTable::replace(Connection& c, const QString& version, const QList<Row>& rows)
{
    removeVersionRows(c, *findTable(QStringLiteral("tblLabels")), version);
    appendAll(c, "tblLabels", rows);
}

QList<Row> ScenarioTable::rows(Connection& c, const QVariant& scenario)
{
    return rowsOf(c.query(Sql("SELECT \"Scenario\", \"Trial\", \"inFlowRateEnviron\", \"outFlowRateEnviron\" "
                              "FROM \"tblScenarios\" WHERE \"Scenario\" = $1 ORDER BY rowid"),
                          {scenario}));
}

QVariantList LabelTable::captions(Connection& c, const QString& version, bool rising)
{
    static const Sql up("SELECT \"LabelName\" FROM \"tblLabels\" WHERE \"VersionKey\" = $1 ORDER BY \"LabelNumber\", rowid");
    static const Sql down("SELECT \"LabelName\" FROM \"tblLabels\" WHERE \"VersionKey\" = $1 "
                          "ORDER BY \"LabelNumber\" DESC, rowid");
    QVariantList labels;
    for (const QVariantList& row : c.query(rising ? up : down, {nameKey(version)}).values)
        labels.append(row.value(0));
    return labels;
}

QList<Row> LabelTable::rows(Connection& c, const QString& version)
{
    return rowsOf(c.query(Sql("SELECT \"version\", \"LabelNumber\", \"LabelName\" FROM \"tblLabels\" "
                              "WHERE \"VersionKey\" = $1 ORDER BY rowid"),
                          {nameKey(version)}));
}

QVariantList InstructionTable::pages(Connection& c, const QString& version)
{
    QVariantList texts;
    for (const QVariantList& row : c.query(Sql("SELECT \"PageText\" FROM \"tblInstructions\" WHERE \"VersionKey\" = $1 "
                                               "ORDER BY \"PageNumber\" IS NULL, \"PageNumber\", rowid"),
                                           {nameKey(version)})
                                       .values)
        texts.append(row.value(0));
    return texts;
}

QList<Row> InstructionTable::rows(Connection& c, const QString& version)
{
    return rowsOf(c.query(Sql("SELECT \"version\", \"PageNumber\", \"PageText\" FROM \"tblInstructions\" "
                              "WHERE \"VersionKey\" = $1 ORDER BY rowid"),
                          {nameKey(version)}));
}

// The user name column compares without regard to case by itself (NOCASE, citext).
QList<PasswordTable::Account> PasswordTable::accounts(Connection& c)
{
    QList<Account> found;
    for (const QVariantList& row : c.query(Sql("SELECT \"username\", \"password\" FROM \"tblPasswords\" ORDER BY rowid")).values)
        found.append({row.value(0).toString(), row.value(1)});
    return found;
}

std::optional<QVariant> PasswordTable::password(Connection& c, const QString& user)
{
    const Rows rows = c.query(Sql("SELECT \"password\" FROM \"tblPasswords\" WHERE \"username\" = $1 ORDER BY rowid LIMIT 1"),
                              {user});
    if (rows.values.isEmpty())
        return std::nullopt;
    return rows.values.first().value(0);
}

bool PasswordTable::matches(Connection& c, const QString& user, const QString& typed)
{
    if (c.dialect() == Dialect::Postgres) {
        // The typed text is hashed here, with the stored hash's setting: what the server
        // compares (and could write to its log) is the hash, never the password.
        const QVariant setting = c.value(Sql("SELECT \"aquilevelPasswordSetting\"($1)"), {user});
        return c.value(Sql("SELECT \"aquilevelPasswordMatches\"($1, $2)"), {user, offeredPassword(setting, typed)})
            .toBool();
    }
    const std::optional<QVariant> stored = password(c, user);
    return stored && passwordMatches(*stored, typed);
}

qint64 PasswordTable::setPassword(Connection& c, const QString& user, const QString& hash)
{
    if (!isPasswordHash(hash))
        throw StoreError(QStringLiteral("A password is stored only as a hash."));
    // Every row of the user: the gate reads the first one it finds, and a duplicate left
    // with an old password would keep that password working somewhere.
    const qint64 changed =
        c.execute(Sql("UPDATE \"tblPasswords\" SET \"password\" = $1 WHERE \"username\" = $2"), {hash, user});
    if (changed == 0)
        appendRow(c, *findTable(QStringLiteral("tblPasswords")), {QStringLiteral("username"), QStringLiteral("password")},
                  {user, hash});
    return changed;
}

qint64 PasswordTable::remove(Connection& c, const QString& user)
{
    return c.execute(Sql("DELETE FROM \"tblPasswords\" WHERE \"username\" = $1"), {user});
}

} // namespace aquilevel::store
