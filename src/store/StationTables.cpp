#include "store/StationTables.h"

#include "store/Engine.h"
#include "store/NameKey.h"

namespace aquilevel::store {

namespace {

const Sql kHoldColumns("\"Subject\", \"Version\", \"Station\", \"Holder\", \"TakenUtc\", \"RefreshedUtc\"");

QList<HoldRow> holdsOf(const Rows& rows)
{
    QList<HoldRow> holds;
    for (const QVariantList& r : rows.values)
        holds.append({r.value(0).toString(), r.value(1).toString(), r.value(2).toString(), r.value(3).toString(),
                      r.value(4).toString(), r.value(5).toString()});
    return holds;
}

QString select(const QString& rest)
{
    return QStringLiteral("SELECT %1 FROM \"datSessionHold\"").arg(kHoldColumns.in(Dialect::SQLite)) + rest;
}

} // namespace

std::optional<HoldRow> HoldTable::find(Connection& c, const QString& subject, const QString& version)
{
    const QList<HoldRow> holds = holdsOf(c.query(Sql(select(QStringLiteral(" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2"))),
                                                 {nameKey(subject), nameKey(version)}));
    if (holds.isEmpty())
        return std::nullopt;
    return holds.first();
}

void HoldTable::insert(Connection& c, const HoldRow& row)
{
    c.execute(Sql("INSERT INTO \"datSessionHold\" (\"SubjectKey\", \"VersionKey\", \"Subject\", \"Version\", \"Station\", "
                  "\"Holder\", \"TakenUtc\", \"RefreshedUtc\") VALUES ($1, $2, $3, $4, $5, $6, $7, $8)"),
              {nameKey(row.Subject), nameKey(row.Version), row.Subject, row.Version, row.Station, row.Holder,
               row.TakenUtc, row.RefreshedUtc});
}

bool HoldTable::refresh(Connection& c, const QString& subject, const QString& version, const QString& holder,
                        const QString& nowUtc)
{
    return c.execute(Sql("UPDATE \"datSessionHold\" SET \"RefreshedUtc\" = $4 WHERE \"SubjectKey\" = $1 AND "
                         "\"VersionKey\" = $2 AND \"Holder\" = $3"),
                     {nameKey(subject), nameKey(version), holder, nowUtc}) > 0;
}

qint64 HoldTable::remove(Connection& c, const QString& subject, const QString& version, const QString& holder)
{
    if (holder.isEmpty())
        return c.execute(Sql("DELETE FROM \"datSessionHold\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2"),
                         {nameKey(subject), nameKey(version)});
    return c.execute(Sql("DELETE FROM \"datSessionHold\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2 AND \"Holder\" = $3"),
                     {nameKey(subject), nameKey(version), holder});
}

QList<HoldRow> HoldTable::all(Connection& c, const QString& version)
{
    if (version.isEmpty())
        return holdsOf(c.query(Sql(select(QString()))));
    return holdsOf(c.query(Sql(select(QStringLiteral(" WHERE \"VersionKey\" = $1"))), {nameKey(version)}));
}

} // namespace aquilevel::store
