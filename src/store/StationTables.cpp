#include "store/StationTables.h"

#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/NameKey.h"
#include "store/StationRules.h"

#include <QDateTime>

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

std::optional<HoldRow> first(const Rows& rows)
{
    const QList<HoldRow> holds = holdsOf(rows);
    if (holds.isEmpty())
        return std::nullopt;
    return holds.first();
}

QVariantList keys(const QString& subject, const QString& version)
{
    return {nameKey(subject), nameKey(version)};
}

QDateTime utc(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(text, Qt::ISODate);
    return time;
}

bool onServer(Connection& c)
{
    return c.dialect() == Dialect::Postgres;
}

} // namespace

std::optional<HoldRow> HoldTable::find(Connection& c, const QString& subject, const QString& version)
{
    if (onServer(c))
        return first(c.query(Sql("SELECT * FROM \"aquilevelFindHold\"($1, $2)"), keys(subject, version)));
    return first(c.query(Sql(QStringLiteral("SELECT %1 FROM \"datSessionHold\" WHERE \"SubjectKey\" = $1 AND "
                                            "\"VersionKey\" = $2")
                                 .arg(kHoldColumns.in(Dialect::SQLite))),
                         keys(subject, version)));
}

std::optional<HoldRow> HoldTable::take(Connection& c, const HoldRow& mine, bool holderGone, bool silent)
{
    if (onServer(c))
        return first(c.query(Sql("SELECT * FROM \"aquilevelTakeHold\"($1, $2, $3, $4, $5, $6)"),
                             keys(mine.Subject, mine.Version) + QVariantList{mine.Subject, mine.Version, mine.Station,
                                                                             holderGone}));
    if (const std::optional<HoldRow> hold = find(c, mine.Subject, mine.Version)) {
        if (hold->Holder != mine.Holder && !holderGone && !silent)
            return hold;
        removeAny(c, mine.Subject, mine.Version);
    }
    insert(c, mine);
    return std::nullopt;
}

bool HoldTable::refresh(Connection& c, const HoldRow& mine, qint32 lastEvent)
{
    const std::optional<HoldRow> hold = find(c, mine.Subject, mine.Version);
    if (hold && hold->Holder != mine.Holder)
        return false;
    // Released while another station played the participant (it took over, finished and
    // let go): holding again would append to a session that went on elsewhere.
    if (!hold && EventTable::lastEventId(c, mine.Subject, mine.Version) > lastEvent)
        return false;
    if (onServer(c))
        return c.value(Sql("SELECT \"aquilevelRefreshHold\"($1, $2, $3, $4, $5)"),
                       keys(mine.Subject, mine.Version) + QVariantList{mine.Subject, mine.Version, mine.Station})
            .toBool();
    if (!hold) {
        insert(c, mine);
        return true;
    }
    // A stamp that does not move (a clock set back, two refreshes in one millisecond)
    // would look like a holder that stopped.
    QString stamp = mine.RefreshedUtc;
    if (stamp <= hold->RefreshedUtc) {
        const QDateTime last = utc(hold->RefreshedUtc);
        if (last.isValid())
            stamp = last.addMSecs(1).toString(Qt::ISODateWithMs);
    }
    c.execute(Sql("UPDATE \"datSessionHold\" SET \"RefreshedUtc\" = $4 WHERE \"SubjectKey\" = $1 AND "
                  "\"VersionKey\" = $2 AND \"Holder\" = $3"),
              keys(mine.Subject, mine.Version) + QVariantList{mine.Holder, stamp});
    return true;
}

bool HoldTable::keep(Connection& c, const HoldRow& mine, qint32 lastEvent)
{
    const std::optional<HoldRow> hold = find(c, mine.Subject, mine.Version);
    if (hold)
        return hold->Holder == mine.Holder;
    return refresh(c, mine, lastEvent);
}

qint64 HoldTable::remove(Connection& c, const QString& subject, const QString& version, const QString& holder)
{
    if (onServer(c)) // the server knows the session's holder
        return c.value(Sql("SELECT \"aquilevelReleaseHold\"($1, $2)"), keys(subject, version)).toLongLong();
    return c.execute(Sql("DELETE FROM \"datSessionHold\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2 AND \"Holder\" = $3"),
                     keys(subject, version) + QVariantList{holder});
}

qint64 HoldTable::removeAny(Connection& c, const QString& subject, const QString& version)
{
    return c.execute(Sql("DELETE FROM \"datSessionHold\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2"),
                     keys(subject, version));
}

QList<HoldRow> HoldTable::all(Connection& c, const QString& version)
{
    const QString select = QStringLiteral("SELECT \"Subject\", \"Version\", \"Station\", '', \"TakenUtc\", "
                                          "\"RefreshedUtc\" FROM \"datSessionHold\"");
    if (version.isEmpty())
        return holdsOf(c.query(Sql(select)));
    return holdsOf(c.query(Sql(select + QStringLiteral(" WHERE \"VersionKey\" = $1")), {nameKey(version)}));
}

void HoldTable::insert(Connection& c, const HoldRow& row)
{
    c.execute(Sql("INSERT INTO \"datSessionHold\" (\"SubjectKey\", \"VersionKey\", \"Subject\", \"Version\", \"Station\", "
                  "\"Holder\", \"TakenUtc\", \"RefreshedUtc\") VALUES ($1, $2, $3, $4, $5, $6, $7, $8)"),
              keys(row.Subject, row.Version) + QVariantList{row.Subject, row.Version, row.Station, row.Holder,
                                                            row.TakenUtc, row.RefreshedUtc});
}

void PresenceTable::announce(Connection& c, const PresenceRow& mine)
{
    if (onServer(c)) {
        c.value(Sql("SELECT \"aquilevelAnnounceStation\"($1, $2, $3, $4)"),
                {mine.Station, mine.State, mine.Subject, mine.Version});
        return;
    }
    const QVariantList said = {mine.Holder, mine.Station, mine.State, mine.Subject, mine.Version, mine.RefreshedUtc};
    if (c.execute(Sql("UPDATE \"datStation\" SET \"Station\" = $2, \"State\" = $3, \"Subject\" = $4, "
                      "\"Version\" = $5, \"RefreshedUtc\" = $6 WHERE \"Holder\" = $1"),
                  said) > 0)
        return;
    const QDateTime now = utc(mine.RefreshedUtc);
    c.execute(Sql("DELETE FROM \"datStation\" WHERE \"State\" = $1 OR \"RefreshedUtc\" < $2"),
              {QString::fromLatin1(kClosed), now.isValid() ? now.addDays(-1).toString(Qt::ISODateWithMs) : QString()});
    c.execute(Sql("INSERT INTO \"datStation\" (\"Holder\", \"Station\", \"State\", \"Subject\", \"Version\", "
                  "\"StartedUtc\", \"RefreshedUtc\") VALUES ($1, $2, $3, $4, $5, $7, $6)"),
              said + QVariantList{mine.StartedUtc});
}

QList<PresenceRow> PresenceTable::all(Connection& c)
{
    QList<PresenceRow> rows;
    for (const QVariantList& r :
         c.query(Sql("SELECT \"Station\", \"State\", \"Subject\", \"Version\", \"StartedUtc\", \"RefreshedUtc\" "
                     "FROM \"datStation\" WHERE \"State\" <> $1 ORDER BY \"StartedUtc\""),
                 {QString::fromLatin1(kClosed)})
             .values)
        rows.append({QString(), r.value(0).toString(), r.value(1).toString(), r.value(2).toString(),
                     r.value(3).toString(), r.value(4).toString(), r.value(5).toString()});
    return rows;
}

} // namespace aquilevel::store
