#include "store/TableRows.h"

#include "store/Engine.h"
#include "store/NameKey.h"

#include <QDateTime>
#include <QHash>
#include <QSysInfo>

namespace aquilevel::store {

namespace {

QStringList quotedList(const QStringList& names)
{
    QStringList quoted;
    for (const QString& name : names)
        quoted.append(quotedName(name));
    return quoted;
}

QStringList shownNames(const TableDef& table)
{
    QStringList names;
    for (const ColumnDef& c : table.shownColumns())
        names.append(c.name);
    return names;
}

} // namespace

void appendRow(Connection& c, const TableDef& table, const QStringList& columns, const QVariantList& values)
{
    QStringList names = columns;
    QVariantList bound = values;
    const auto given = [&](const QString& name) {
        for (qsizetype i = 0; i < names.size(); ++i)
            if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return qsizetype(-1);
    };
    for (const ColumnDef& column : table.columns) {
        if (column.type != ColumnType::Key || given(column.name) >= 0)
            continue;
        const qsizetype from = given(column.keyOf);
        const QVariant name = from < 0 ? QVariant() : bound.at(from);
        names.append(column.name);
        bound.append(name.isNull() ? QVariant() : QVariant(nameKey(name.toString())));
    }
    if (table.kind == TableKind::Data) {
        if (!c.writeToken().isEmpty() && given(QStringLiteral("WriteToken")) < 0) {
            names.append(QStringLiteral("WriteToken"));
            bound.append(c.writeToken());
            c.noteAppended(table.name, {bound.value(names.indexOf(QStringLiteral("SubjectKey"))),
                                        bound.value(names.indexOf(QStringLiteral("VersionKey")))});
        }
        if (given(QString::fromLatin1(kEventTimeColumn)) < 0) {
            names.append(QString::fromLatin1(kEventTimeColumn));
            bound.append(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
        }
        if (given(QString::fromLatin1(kStationColumn)) < 0) {
            static const QString station = QSysInfo::machineHostName(); // asked of the system once
            names.append(QString::fromLatin1(kStationColumn));
            bound.append(station);
        }
    }
    // The statement of each table and set of columns is made once: a session appends the
    // same few hundreds of times.
    static QHash<QString, Sql> statements;
    const QString key = table.name + QLatin1Char('\x1f') + names.join(QLatin1Char('\x1f'));
    auto statement = statements.constFind(key);
    if (statement == statements.constEnd())
        statement = statements.insert(key, Sql(insertStatement(table, names)));
    c.execute(*statement, bound);
}

bool stepLanded(Connection& c, const QString& table, const QVariantList& keys, const QString& token)
{
    // Found through the participant's index: the cost does not grow with the table.
    const TableDef* def = findTable(table);
    if (!def || def->kind != TableKind::Data)
        return false;
    return c.value(Sql(QStringLiteral("SELECT 1 FROM %1 WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2 AND "
                                      "\"WriteToken\" = $3 LIMIT 1")
                           .arg(quotedName(def->name))),
                   {keys.value(0), keys.value(1), token})
        .isValid();
}

qint64 lastRowPosition(Connection& c, const TableDef& table)
{
    return c.value(Sql(QStringLiteral("SELECT max(rowid) FROM %1").arg(quotedName(table.name)))).toLongLong();
}

qint64 readRows(Connection& c, const TableDef& table, const TableFilter& filter, qint64 after, qint64 last,
                int limit, const std::function<void(const QVariantList&)>& take)
{
    QStringList conditions{QStringLiteral("rowid > $1"), QStringLiteral("rowid <= $2")};
    QVariantList params{after, last};
    const auto condition = [&](const QString& text, const QString& value) {
        params.append(nameKey(value));
        conditions.append(text.arg(params.size()));
    };
    if (!filter.version.isEmpty()) {
        const QString key = table.keyColumnOf(QStringLiteral("Version"));
        if (table.name == QLatin1String("tblScenarios"))
            condition(QStringLiteral("\"Scenario\" IN (SELECT \"ScenarioUsed\" FROM \"tblSetup\" WHERE \"VersionKey\" = $%1)"),
                      filter.version);
        else if (!key.isEmpty())
            condition(quotedName(key) + QStringLiteral(" = $%1"), filter.version);
    }
    if (!filter.subject.isEmpty() && table.kind == TableKind::Data)
        condition(QStringLiteral("\"SubjectKey\" = $%1"), filter.subject);
    const QStringList names = shownNames(table);
    const Sql sql(QStringLiteral("SELECT rowid, %1 FROM %2 WHERE %3 ORDER BY rowid LIMIT %4")
                      .arg(quotedList(names).join(QLatin1Char(',')), quotedName(table.name),
                           conditions.join(QStringLiteral(" AND ")))
                      .arg(limit));
    qint64 position = after;
    c.forEach(sql, params, [&](const QVariantList& row) {
        position = row.value(0).toLongLong();
        take(row.mid(1));
        return true;
    });
    return position;
}

qint64 removeVersionRows(Connection& c, const TableDef& table, const QVariant& versionOrScenario)
{
    if (table.name == QLatin1String("tblScenarios"))
        return c.execute(Sql("DELETE FROM \"tblScenarios\" WHERE \"Scenario\" = $1"), {versionOrScenario});
    const QString key = table.keyColumnOf(QStringLiteral("Version"));
    if (key.isEmpty())
        throw StoreError(QStringLiteral("%1 has no rows of a version").arg(table.name));
    return c.execute(Sql(QStringLiteral("DELETE FROM %1 WHERE %2 = $1").arg(quotedName(table.name), quotedName(key))),
                     {nameKey(versionOrScenario.toString())});
}

void fillNameKeys(Connection& c, const TableDef& table)
{
    for (const ColumnDef& key : table.columns) {
        if (key.type != ColumnType::Key)
            continue;
        // Each distinct spelling once; rows of one spelling get one key. On the server both
        // the spellings and the comparison are of the text as stored, not of its letter
        // case (citext would give "Anna" and "ANNA" as one).
        const QString name = quotedName(key.keyOf);
        const Rows names = c.query(Sql(QStringLiteral("SELECT DISTINCT %1 FROM %2 WHERE %3 IS NULL AND %1 IS NOT NULL")
                                           .arg(name, quotedName(table.name), quotedName(key.name)),
                                       QStringLiteral("SELECT DISTINCT %1::text FROM %2 WHERE %3 IS NULL AND %1 IS NOT NULL")
                                           .arg(name, quotedName(table.name), quotedName(key.name))));
        const Sql update(QStringLiteral("UPDATE %1 SET %2 = $1 WHERE %2 IS NULL AND %3 = $2")
                             .arg(quotedName(table.name), quotedName(key.name), name),
                         QStringLiteral("UPDATE %1 SET %2 = $1 WHERE %2 IS NULL AND %3::text = $2")
                             .arg(quotedName(table.name), quotedName(key.name), name));
        for (const QVariantList& row : names.values)
            c.execute(update, {nameKey(row.value(0).toString()), row.value(0)});
    }
}

void probeTable(Connection& c, const TableDef& table)
{
    c.query(Sql(QStringLiteral("SELECT %1 FROM %2 WHERE 0 = 1")
                    .arg(quotedList(table.columnNames()).join(QLatin1Char(',')), quotedName(table.name))));
}

QString doubledRowsOf(Connection& c, const TableDef& table, const QString& after, int participants,
                      QList<DoubledRows>& found)
{
    // The next participants, through the index that leads with their key.
    const Rows next = c.query(Sql(QStringLiteral("SELECT DISTINCT \"SubjectKey\" FROM %1 WHERE \"SubjectKey\" > $1 "
                                                 "ORDER BY \"SubjectKey\" LIMIT %2")
                                      .arg(quotedName(table.name))
                                      .arg(participants)),
                              {after});
    if (next.values.isEmpty())
        return {};
    const QString last = next.values.last().value(0).toString();
    const QStringList by = QStringList{QStringLiteral("SubjectKey"), QStringLiteral("VersionKey")} + table.rowKey;
    const Rows rows = c.query(Sql(QStringLiteral("SELECT min(\"Subject\"), min(\"Version\"), %1, count(*) FROM %2 "
                                                 "WHERE \"SubjectKey\" > $1 AND \"SubjectKey\" <= $2 "
                                                 "GROUP BY %3 HAVING count(*) > 1 ORDER BY min(rowid)")
                                      .arg(table.rowKey.isEmpty() ? QStringLiteral("NULL")
                                                                  : quotedList(table.rowKey).join(QLatin1Char(',')),
                                           quotedName(table.name), quotedList(by).join(QLatin1Char(',')))),
                              {after, last});
    for (const QVariantList& row : rows.values) {
        QStringList what;
        for (int i = 0; i < table.rowKey.size(); ++i)
            what.append(table.rowKey.at(i) + QLatin1Char(' ') + row.value(2 + i).toString());
        found.append({table.name, row.value(0).toString(), row.value(1).toString(),
                      what.isEmpty() ? QStringLiteral("the registration") : what.join(QStringLiteral(", ")),
                      row.last().toLongLong()});
    }
    return last;
}

} // namespace aquilevel::store
