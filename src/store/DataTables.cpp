#include "store/DataTables.h"

#include <QHash>

#include "store/Engine.h"
#include "store/NameKey.h"
#include "store/TableRows.h"
#include "store/Tables.h"

namespace aquilevel::store {

namespace {

void appendTo(Connection& c, const char* table, const QStringList& columns, const QVariantList& values)
{
    appendRow(c, *findTable(QString::fromLatin1(table)), columns, values);
}

QVariantList keys(const QString& subject, const QString& version)
{
    return {nameKey(subject), nameKey(version)};
}

QString columnList(const QStringList& columns, const QString& prefix = {})
{
    QStringList quoted;
    for (const QString& column : columns) {
        // Only the table's own columns are ever named.
        if (!findTable(QStringLiteral("datExperimentTrials"))->column(column))
            throw StoreError(QStringLiteral("Item %1 not found in datExperimentTrials").arg(column));
        quoted.append(prefix + quotedName(column));
    }
    return quoted.join(QLatin1Char(','));
}

std::optional<Row> first(const Rows& rows)
{
    if (rows.values.isEmpty())
        return std::nullopt;
    return Row(rows.columns, rows.values.first());
}

} // namespace

void SubjectTable::append(Connection& c, const SubjectRow& row)
{
    appendTo(c, "datSubject", SubjectRow::columns(), row.values());
}

QString SubjectTable::registeredName(Connection& c, const QString& version, const QString& typed)
{
    const QVariant name =
        c.value(Sql("SELECT \"Subject\" FROM \"datSubject\" WHERE \"VersionKey\" = $1 AND \"SubjectKey\" = $2 "
                    "ORDER BY rowid LIMIT 1"),
                {nameKey(version), nameKey(typed)});
    return name.isValid() ? name.toString() : QString();
}

QString SubjectTable::nameInRows(Connection& c, const QString& version, const QString& typed)
{
    for (const char* table : {"datExperimentTrials", "datTrialSummary", "datUserTimesSummary", "datQuestionnaire"}) {
        const QVariant name = c.value(Sql(QStringLiteral("SELECT \"Subject\" FROM %1 WHERE \"SubjectKey\" = $1 AND "
                                                         "\"VersionKey\" = $2 ORDER BY rowid LIMIT 1")
                                              .arg(quotedName(QString::fromLatin1(table)))),
                                      keys(typed, version));
        if (name.isValid())
            return name.toString();
    }
    return {};
}

QList<Row> SubjectTable::registrations(Connection& c, const QString& version, const QDateTime& since)
{
    QStringList conditions;
    QVariantList params;
    if (!version.isEmpty()) {
        params.append(nameKey(version));
        conditions.append(QStringLiteral("\"VersionKey\" = $%1").arg(params.size()));
    }
    if (since.isValid()) {
        params.append(since.toUTC().toString(Qt::ISODateWithMs));
        conditions.append(QStringLiteral("\"EventTimeUtc\" >= $%1").arg(params.size()));
    }
    const QString where = conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    return rowsOf(c.query(Sql(QStringLiteral("SELECT \"Subject\", \"Version\", \"Date\", \"Time\" FROM \"datSubject\"%1 "
                                             "ORDER BY rowid")
                                  .arg(where)),
                          params));
}

std::optional<Row> SubjectTable::registration(Connection& c, const QString& version, const QString& subject)
{
    const QList<Row> rows = rowsOf(c.query(Sql("SELECT \"Station\", \"Condition\", \"Major\", \"Gender\", \"Age\", "
                                               "\"Date\", \"Time\" FROM \"datSubject\" WHERE \"VersionKey\" = $1 AND "
                                               "\"SubjectKey\" = $2 ORDER BY rowid LIMIT 1"),
                                           {nameKey(version), nameKey(subject)}));
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

QList<SubjectTable::SharedKey> SubjectTable::namesSharingAKey(Connection& c)
{
    // The keys with more than one spelling, through the participants' index.
    const Rows rows = c.query(Sql("SELECT min(\"Version\"), \"Subject\" FROM \"datSubject\" WHERE (\"VersionKey\", "
                                  "\"SubjectKey\") IN (SELECT \"VersionKey\", \"SubjectKey\" FROM \"datSubject\" GROUP BY "
                                  "\"VersionKey\", \"SubjectKey\" HAVING count(DISTINCT \"Subject\") > 1) "
                                  "GROUP BY \"VersionKey\", \"SubjectKey\", \"Subject\" ORDER BY min(rowid)",
                                  "SELECT min(\"Version\"::text), \"Subject\"::text FROM \"datSubject\" WHERE (\"VersionKey\", "
                                  "\"SubjectKey\") IN (SELECT \"VersionKey\", \"SubjectKey\" FROM \"datSubject\" GROUP BY "
                                  "\"VersionKey\", \"SubjectKey\" HAVING count(DISTINCT \"Subject\"::text) > 1) "
                                  "GROUP BY \"VersionKey\", \"SubjectKey\", \"Subject\"::text ORDER BY min(rowid)"));
    QList<SharedKey> shared;
    QHash<QString, qsizetype> at;
    for (const QVariantList& row : rows.values) {
        const QString version = row.value(0).toString();
        const QString subject = row.value(1).toString();
        const QString key = nameKey(version) + QChar(0x1f) + nameKey(subject);
        if (!at.contains(key)) {
            at.insert(key, shared.size());
            shared.append({version, {}});
        }
        shared[at.value(key)].spellings.append(subject);
    }
    return shared;
}

qint64 SubjectTable::countWithoutEvents(Connection& c, const QString& version)
{
    return c.value(Sql("SELECT count(*) FROM \"datSubject\" s WHERE s.\"VersionKey\" = $1 AND NOT EXISTS "
                       "(SELECT 1 FROM \"datExperimentTrials\" e WHERE e.\"SubjectKey\" = s.\"SubjectKey\" "
                       "AND e.\"VersionKey\" = s.\"VersionKey\")"),
                   {nameKey(version)})
        .toLongLong();
}

void EventTable::append(Connection& c, const EventRow& row)
{
    appendTo(c, "datExperimentTrials", EventRow::columns(), row.values());
}

std::optional<Row> EventTable::newest(Connection& c, const QString& subject, const QString& version)
{
    static const Sql sql(QStringLiteral("SELECT %1 FROM \"datExperimentTrials\" WHERE \"SubjectKey\" = $1 AND "
                                        "\"VersionKey\" = $2 ORDER BY \"EventID\" DESC, rowid DESC LIMIT 1")
                             .arg(columnList(findTable(QStringLiteral("datExperimentTrials"))->columnNames())));
    return first(c.query(sql, keys(subject, version)));
}

std::optional<Row> EventTable::newestOfPeriod(Connection& c, const QString& subject, const QString& version,
                                              qint32 trial)
{
    static const Sql sql(QStringLiteral("SELECT %1 FROM \"datExperimentTrials\" WHERE \"SubjectKey\" = $1 AND "
                                        "\"VersionKey\" = $2 AND \"Trial\" = $3 ORDER BY \"EventID\" DESC, rowid DESC "
                                        "LIMIT 1")
                             .arg(columnList(findTable(QStringLiteral("datExperimentTrials"))->columnNames())));
    return first(c.query(sql, keys(subject, version) + QVariantList{trial}));
}

qint32 EventTable::lastEventId(Connection& c, const QString& subject, const QString& version)
{
    return c.value(Sql("SELECT \"EventID\" FROM \"datExperimentTrials\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2 "
                       "ORDER BY \"EventID\" DESC LIMIT 1"),
                   keys(subject, version))
        .toInt();
}

bool EventTable::any(Connection& c, const QString& subject, const QString& version)
{
    return c.value(Sql("SELECT 1 FROM \"datExperimentTrials\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2 LIMIT 1"),
                   keys(subject, version))
        .isValid();
}

QDateTime EventTable::lastWritten(Connection& c, const QString& subject, const QString& version)
{
    // The newest by EventID, through the participant's index, rather than the largest time.
    const QVariant stamp = c.value(Sql("SELECT \"EventTimeUtc\" FROM \"datExperimentTrials\" WHERE \"SubjectKey\" = $1 "
                                       "AND \"VersionKey\" = $2 ORDER BY \"EventID\" DESC, rowid DESC LIMIT 1"),
                                   keys(subject, version));
    QDateTime time = QDateTime::fromString(stamp.toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(stamp.toString(), Qt::ISODate);
    return time;
}

void EventTable::forEach(Connection& c, const QStringList& columns, const QString& version, const QString& subject,
                         const QString& eventType, const std::function<void(const Row&)>& take, std::optional<qint64> through)
{
    QStringList conditions{QStringLiteral("\"VersionKey\" = $1")};
    QVariantList params{nameKey(version)};
    if (through) {
        params.append(*through);
        conditions.append(QStringLiteral("rowid <= $%1").arg(params.size()));
    }
    if (!subject.isEmpty()) {
        params.append(nameKey(subject));
        conditions.append(QStringLiteral("\"SubjectKey\" = $%1").arg(params.size()));
    }
    if (!eventType.isEmpty()) {
        params.append(eventType);
        conditions.append(QStringLiteral("\"eventType\" = $%1").arg(params.size()));
    }
    const auto shared = std::make_shared<const QStringList>(columns);
    c.forEach(Sql(QStringLiteral("SELECT %1 FROM \"datExperimentTrials\" WHERE %2 ORDER BY \"EventID\", rowid")
                      .arg(columnList(columns), conditions.join(QStringLiteral(" AND ")))),
              params, [&](const QVariantList& values) {
                  take(Row(shared, values));
                  return true;
              });
}

namespace {

// The newest row of each participant and version among the log's rows that `where`
// picks, each found through the participant's index. SQLite is told which index finds the
// picked rows (`hint`), since it would walk the participants' one for the DISTINCT; the
// server takes each newest row through the index whatever its statistics say.
// With `oldest`, the oldest row of each instead.
QList<Row> newestOfPicked(Connection& c, const QStringList& columns, const QString& where, const QVariantList& params,
                          const QString& hint = {}, bool oldest = false)
{
    const QString picked = QStringLiteral("SELECT DISTINCT \"SubjectKey\" AS s, \"VersionKey\" AS v FROM "
                                          "\"datExperimentTrials\"%1 WHERE %2");
    const QString newest = QStringLiteral("\"datExperimentTrials\" x WHERE x.\"SubjectKey\" = r.s AND x.\"VersionKey\" = r.v "
                                          "ORDER BY x.\"EventID\" %1, x.rowid %1 LIMIT 1")
                               .arg(oldest ? QStringLiteral("ASC") : QStringLiteral("DESC"));
    const QString shown = columnList(columns, QStringLiteral("e."));
    return rowsOf(c.query(
        Sql(QStringLiteral("SELECT %1 FROM \"datExperimentTrials\" e WHERE e.rowid IN (SELECT (SELECT x.rowid FROM %2) "
                           "FROM (%3) r) ORDER BY e.rowid")
                .arg(shown, newest, picked.arg(hint.isEmpty() ? QString() : QStringLiteral(" INDEXED BY ") + quotedName(hint), where)),
            QStringLiteral("SELECT %1 FROM (%3) r CROSS JOIN LATERAL (SELECT * FROM %2) e ORDER BY e.rowid")
                .arg(shown, newest, picked.arg(QString(), where))),
        params));
}

} // namespace

QList<Row> EventTable::newestOfEach(Connection& c, const QStringList& columns, const QString& version,
                                    const QDateTime& since)
{
    // The participants who wrote lately, found through the index of the moments: the
    // cost follows the lab's present, not its history.
    QVariantList params{since.toUTC().toString(Qt::ISODateWithMs)};
    QString where = QStringLiteral("\"EventTimeUtc\" >= $1");
    if (!version.isEmpty()) {
        params.append(nameKey(version));
        where += QStringLiteral(" AND \"VersionKey\" = $2");
    }
    return newestOfPicked(c, columns, where, params, QStringLiteral("datExperimentTrials_Written"));
}

QList<Row> EventTable::newestOfNext(Connection& c, const QStringList& columns, const QString& version, QString& after,
                                    int participants)
{
    QVariantList params{after};
    QString ofVersion;
    if (!version.isEmpty()) {
        params.append(nameKey(version));
        ofVersion = QStringLiteral(" AND \"VersionKey\" = $2");
    }
    const Rows keys = c.query(Sql(QStringLiteral("SELECT DISTINCT \"SubjectKey\" FROM \"datExperimentTrials\" WHERE "
                                                 "\"SubjectKey\" > $1%1 ORDER BY \"SubjectKey\" LIMIT %2")
                                      .arg(ofVersion)
                                      .arg(participants)),
                              params);
    if (keys.values.isEmpty()) {
        after.clear();
        return {};
    }
    params.append(keys.values.last().value(0));
    const QList<Row> rows = newestOfPicked(
        c, columns,
        QStringLiteral("\"SubjectKey\" > $1 AND \"SubjectKey\" <= $%1%2").arg(params.size()).arg(ofVersion), params);
    after = params.last().toString();
    return rows;
}

QList<Row> EventTable::oldestOfRange(Connection& c, const QStringList& columns, const QString& version,
                                     const QString& after, const QString& through)
{
    QVariantList params{after, through};
    QString where = QStringLiteral("\"SubjectKey\" > $1 AND \"SubjectKey\" <= $2");
    if (!version.isEmpty()) {
        params.append(nameKey(version));
        where += QStringLiteral(" AND \"VersionKey\" = $3");
    }
    return newestOfPicked(c, columns, where, params, {}, true);
}

QStringList EventTable::subjects(Connection& c, const QString& version, QString& after, int participants)
{
    // Through the participants' index, in the order of their keys.
    const Rows rows = c.query(Sql(QStringLiteral("SELECT \"SubjectKey\", min(\"Subject\") FROM \"datExperimentTrials\" "
                                                 "WHERE \"SubjectKey\" > $1 AND \"VersionKey\" = $2 GROUP BY \"SubjectKey\" "
                                                 "ORDER BY \"SubjectKey\" LIMIT %1")
                                      .arg(participants)),
                              {after, nameKey(version)});
    QStringList names;
    for (const QVariantList& row : rows.values)
        names.append(row.value(1).toString());
    after = rows.values.isEmpty() ? QString() : rows.values.last().value(0).toString();
    return names;
}

qint64 EventTable::participants(Connection& c, const QString& version)
{
    return c.value(Sql("SELECT count(*) FROM (SELECT DISTINCT \"SubjectKey\" FROM \"datExperimentTrials\" "
                       "WHERE \"VersionKey\" = $1) p"),
                   {nameKey(version)})
        .toLongLong();
}

void TrialSummaryTable::append(Connection& c, const PeriodOpened& row)
{
    appendTo(c, "datTrialSummary", PeriodOpened::columns(), row.values());
}

bool TrialSummaryTable::complete(Connection& c, const QString& subject, const QString& version, qint32 trial,
                                 const PeriodCompleted& v)
{
    // The period's first row: of two left by an older version of the program, the one
    // the analyses have always seen completed.
    static const Sql withFlows(
        "UPDATE \"datTrialSummary\" SET \"AmountInTank\" = $4, \"CurrentBonus\" = $5, \"TotBonus\" = $6, "
        "\"CurrentCost\" = $7, \"TotCost\" = $8, \"BackOrder\" = $9, \"ForwardDischarge\" = $10, "
        "\"TotalBackOrder\" = $11, \"TotalForwardDischarge\" = $12, \"UserInFlow\" = $13, \"UserOutFlow\" = $14 "
        "WHERE rowid = (SELECT rowid FROM \"datTrialSummary\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2 AND "
        "\"Trial\" = $3 ORDER BY rowid LIMIT 1)");
    static const Sql withoutFlows(
        "UPDATE \"datTrialSummary\" SET \"AmountInTank\" = $4, \"CurrentBonus\" = $5, \"TotBonus\" = $6, "
        "\"CurrentCost\" = $7, \"TotCost\" = $8, \"BackOrder\" = $9, \"ForwardDischarge\" = $10, "
        "\"TotalBackOrder\" = $11, \"TotalForwardDischarge\" = $12 "
        "WHERE rowid = (SELECT rowid FROM \"datTrialSummary\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2 AND "
        "\"Trial\" = $3 ORDER BY rowid LIMIT 1)");
    QVariantList params = keys(subject, version);
    params << trial << v.AmountInTank << v.CurrentBonus << v.TotBonus << v.CurrentCost << v.TotCost << v.BackOrder
           << v.ForwardDischarge << v.TotalBackOrder << v.TotalForwardDischarge;
    if (v.withUserFlows)
        params << v.UserInFlow << v.UserOutFlow;
    return c.execute(v.withUserFlows ? withFlows : withoutFlows, params) > 0;
}

QStringList TrialSummaryTable::completedColumns()
{
    return {QStringLiteral("AmountInTank"),      QStringLiteral("CurrentBonus"),   QStringLiteral("TotBonus"),
            QStringLiteral("CurrentCost"),       QStringLiteral("TotCost"),        QStringLiteral("BackOrder"),
            QStringLiteral("ForwardDischarge"),  QStringLiteral("TotalBackOrder"), QStringLiteral("TotalForwardDischarge"),
            QStringLiteral("UserInFlow"),        QStringLiteral("UserOutFlow")};
}

qint32 TrialSummaryTable::lastOpened(Connection& c, const QString& subject, const QString& version)
{
    return c.value(Sql("SELECT max(\"Trial\") FROM \"datTrialSummary\" WHERE \"SubjectKey\" = $1 AND \"VersionKey\" = $2"),
                   keys(subject, version))
        .toInt();
}

void SubmitTimeTable::append(Connection& c, const SubmitTimeRow& row)
{
    appendTo(c, "datUserTimesSummary", SubmitTimeRow::columns(), row.values());
}

QList<Row> TrialSummaryTable::times(Connection& c, const QString& subject, const QString& version)
{
    return rowsOf(c.query(Sql("SELECT \"Trial\", \"Date\", \"startTime\", \"endTime\" FROM \"datTrialSummary\" WHERE "
                              "\"SubjectKey\" = $1 AND \"VersionKey\" = $2 ORDER BY rowid"),
                          keys(subject, version)));
}

QTime SubmitTimeTable::lastPress(Connection& c, const QString& subject, const QString& version)
{
    const QVariant stored = c.value(Sql("SELECT \"SubmitClickTime\" FROM \"datUserTimesSummary\" WHERE \"SubjectKey\" = $1 "
                                        "AND \"VersionKey\" = $2 ORDER BY rowid DESC LIMIT 1"),
                                    keys(subject, version));
    return QTime::fromString(stored.toString().trimmed(), QStringLiteral("HH:mm:ss"));
}

void QuestionnaireTable::append(Connection& c, const AnswerRow& row)
{
    appendTo(c, "datQuestionnaire", AnswerRow::columns(), row.values());
}

int QuestionnaireTable::answered(Connection& c, const QString& subject, const QString& version, int questions)
{
    return c.value(Sql("SELECT count(DISTINCT \"QuestionNumber\") FROM \"datQuestionnaire\" WHERE \"SubjectKey\" = $1 "
                       "AND \"VersionKey\" = $2 AND \"QuestionNumber\" BETWEEN 1 AND $3"),
                   keys(subject, version) + QVariantList{questions})
        .toInt();
}

QMap<int, QString> QuestionnaireTable::answers(Connection& c, const QString& subject, const QString& version)
{
    const Rows rows = c.query(Sql("SELECT \"QuestionNumber\", \"QuestionAnswer\" FROM \"datQuestionnaire\" WHERE "
                                  "\"SubjectKey\" = $1 AND \"VersionKey\" = $2 ORDER BY rowid"),
                              keys(subject, version));
    QMap<int, QString> answers;
    for (const QVariantList& row : rows.values)
        answers.insert(row.value(0).toInt(), row.value(1).toString()); // a later answer replaces an earlier one
    return answers;
}

void MarkTable::append(Connection& c, const MarkRow& row)
{
    appendTo(c, "datSubjectMark", MarkRow::columns(), row.values());
}

QString MarkTable::mark(Connection& c, const QString& subject, const QString& version)
{
    return c.value(Sql("SELECT \"Mark\" FROM \"datSubjectMark\" WHERE \"VersionKey\" = $1 AND \"SubjectKey\" = $2 "
                       "ORDER BY rowid DESC LIMIT 1"),
                   {nameKey(version), nameKey(subject)})
        .toString();
}

QList<MarkTable::Marked> MarkTable::marks(Connection& c, const QString& version)
{
    // Each participant's newest row, through the participants' index.
    QVariantList params;
    QString ofVersion;
    if (!version.isEmpty()) {
        params.append(nameKey(version));
        ofVersion = QStringLiteral(" AND m.\"VersionKey\" = $1");
    }
    const Rows rows = c.query(Sql(QStringLiteral("SELECT m.\"Subject\", m.\"Version\", m.\"Mark\", m.\"Reason\" FROM "
                                                 "\"datSubjectMark\" m WHERE m.rowid = (SELECT max(x.rowid) FROM "
                                                 "\"datSubjectMark\" x WHERE x.\"VersionKey\" = m.\"VersionKey\" AND "
                                                 "x.\"SubjectKey\" = m.\"SubjectKey\") AND coalesce(m.\"Mark\", '') <> ''%1 ORDER BY m.rowid")
                                      .arg(ofVersion)),
                              params);
    QList<Marked> marked;
    for (const QVariantList& row : rows.values)
        marked.append({row.value(0).toString(), row.value(1).toString(), row.value(2).toString(), row.value(3).toString()});
    return marked;
}

} // namespace aquilevel::store
