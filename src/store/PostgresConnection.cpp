#include "store/PostgresConnection.h"

#include "store/ServerSettings.h"

#include <libpq-fe.h>

#include <QDate>
#include <QElapsedTimer>
#include <QThread>
#include <QDateTime>
#include <QTime>

#include <vector>

namespace aquilevel::store {

namespace {

// Type numbers of the server's built-in types.
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

QVariant readValue(const PGresult* result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return {};
    const char* text = PQgetvalue(result, row, column);
    switch (PQftype(result, column)) {
    case kBool:
        return QVariant(static_cast<qint64>(text[0] == 't' ? 1 : 0));
    case kInt2:
    case kInt4:
    case kInt8:
        return QVariant(QByteArray(text).toLongLong());
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QVariant(QByteArray(text).toDouble());
    default:
        return QVariant(QString::fromUtf8(text, PQgetlength(result, row, column)));
    }
}

// Every value goes as text; the server reads it as its column's type.
QByteArray valueText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? "1" : "0";
    case QMetaType::Double:
    case QMetaType::Float:
        return QByteArray::number(value.toDouble(), 'g', 17);
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate).toUtf8();
    case QMetaType::QTime:
        return value.toTime().toString(QStringLiteral("HH:mm:ss")).toUtf8();
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
    default:
        return value.toString().toUtf8();
    }
}

QString message(const PGconn* connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).trimmed();
}

} // namespace

ErrorClass classifySqlState(const QByteArray& sqlState, bool connectionLost)
{
    if (connectionLost || sqlState.startsWith("08") || sqlState == "57P01" || sqlState == "57P02" ||
        sqlState == "57P03")
        return ErrorClass::LostHandle;
    if (sqlState == "55P03" || sqlState == "53300")
        return ErrorClass::LockConflict; // a lock not granted in time; a server full for now
    if (sqlState == "40001" || sqlState == "40P01")
        return ErrorClass::ConcurrentChange;
    return ErrorClass::Other;
}

std::unique_ptr<PostgresConnection> PostgresConnection::open(const ServerSettings& settings, int lockTimeoutMs)
{
    const auto keywords = settings.connectionKeywords();
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : keywords) {
        keys.push_back(key.constData());
        values.push_back(value.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    // A server that is restarting refuses for a moment: keep trying for as long as a
    // statement would wait for a lock, then report it as a lock conflict, so that the
    // store backs off and asks as it does for another station's lock.
    QElapsedTimer waited;
    waited.start();
    PGconn* connection = nullptr;
    for (;;) {
        connection = PQconnectdbParams(keys.data(), values.data(), 0);
        if (PQstatus(connection) == CONNECTION_OK)
            break;
        const QString why = message(connection);
        PQfinish(connection);
        if (waited.elapsed() >= lockTimeoutMs)
            throw EngineError(ErrorClass::LockConflict, 8006, QStringLiteral("%1: %2").arg(settings.describe(), why));
        QThread::msleep(100);
    }
    std::unique_ptr<PostgresConnection> result(new PostgresConnection(connection));
    result->execute(QStringLiteral("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO'; SET lock_timeout = %1")
                        .arg(lockTimeoutMs));
    return result;
}

PostgresConnection::PostgresConnection(PGconn* connection) : m_connection(connection) {}

PostgresConnection::~PostgresConnection()
{
    PQfinish(m_connection);
}

bool PostgresConnection::usable() const
{
    return PQstatus(m_connection) == CONNECTION_OK;
}

void PostgresConnection::fail(PGresult* result)
{
    const QByteArray state = result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
    QString text = result ? QString::fromUtf8(PQresultErrorMessage(result)).trimmed() : QString();
    if (text.isEmpty())
        text = message(m_connection);
    if (result)
        PQclear(result);
    const bool lost = PQstatus(m_connection) != CONNECTION_OK;
    // A failed statement spoils its transaction: end it, as the file does.
    if (!lost && PQtransactionStatus(m_connection) != PQTRANS_IDLE)
        PQclear(PQexec(m_connection, "ROLLBACK"));
    const int number = state.toInt(); // 0 for a SQLSTATE with letters; the text names it
    throw EngineError(classifySqlState(state, lost), number, text);
}

PGresult* PostgresConnection::run(const QString& sql, const QVariantList& values)
{
    auto prepared = m_prepared.constFind(sql);
    if (prepared == m_prepared.constEnd()) {
        if (m_prepared.size() >= 256) { // the program has fewer statements than this
            PQclear(PQexec(m_connection, "DEALLOCATE ALL"));
            m_prepared.clear();
        }
        Prepared p;
        const QByteArray text = sql.toUtf8();
        p.parameters = int(values.size());
        p.name = "s" + QByteArray::number(++m_statementNumber);
        PGresult* made = PQprepare(m_connection, p.name.constData(), text.constData(), p.parameters, nullptr);
        if (PQresultStatus(made) != PGRES_COMMAND_OK)
            fail(made);
        PQclear(made);
        prepared = m_prepared.insert(sql, p);
    }
    if (prepared->parameters != values.size())
        throw StoreError(QStringLiteral("%1 values given for %2 parameters in: %3")
                             .arg(values.size())
                             .arg(prepared->parameters)
                             .arg(sql));
    std::vector<QByteArray> texts;
    std::vector<const char*> pointers;
    texts.reserve(values.size());
    for (const QVariant& v : values) {
        if (!v.isValid() || v.isNull()) {
            texts.emplace_back();
            pointers.push_back(nullptr);
        } else {
            texts.push_back(valueText(v));
            pointers.push_back(texts.back().constData());
        }
    }
    PGresult* result = PQexecPrepared(m_connection, prepared->name.constData(), int(values.size()), pointers.data(),
                                      nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(result);
    return result;
}

void PostgresConnection::execute(const QString& sql)
{
    PGresult* result = PQexec(m_connection, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(result);
    PQclear(result);
}

void PostgresConnection::forEach(const Sql& sql, const QVariantList& params, const QStringList&,
                                 const std::function<bool(const QVariantList&)>& take)
{
    PGresult* result = run(sql.in(Dialect::Postgres), params);
    const int count = PQnfields(result);
    const int n = PQntuples(result);
    try {
        for (int r = 0; r < n; ++r) {
            QVariantList values;
            values.reserve(count);
            for (int c = 0; c < count; ++c)
                values.append(readValue(result, r, c));
            if (!take(values))
                break;
        }
    } catch (...) {
        PQclear(result);
        throw;
    }
    PQclear(result);
}

Rows PostgresConnection::query(const Sql& sql, const QVariantList& params)
{
    PGresult* result = run(sql.in(Dialect::Postgres), params);
    Rows rows;
    const int count = PQnfields(result);
    for (int c = 0; c < count; ++c)
        rows.columns.append(QString::fromUtf8(PQfname(result, c)));
    const int n = PQntuples(result);
    rows.values.reserve(n);
    for (int r = 0; r < n; ++r) {
        QVariantList values;
        values.reserve(count);
        for (int c = 0; c < count; ++c)
            values.append(readValue(result, r, c));
        rows.values.append(values);
    }
    PQclear(result);
    return rows;
}

qint64 PostgresConnection::execute(const Sql& sql, const QVariantList& params)
{
    // Outside a transaction the statement commits on its own.
    PGresult* result = run(sql.in(Dialect::Postgres), params);
    const qint64 changed = QByteArray(PQcmdTuples(result)).toLongLong();
    PQclear(result);
    return changed;
}

void PostgresConnection::begin(bool write)
{
    // A write transaction is serialisable: two stations deciding on the same rows (the
    // hold of a participant) cannot both act on what they read; the later one fails
    // with a serialisation failure and is run again at once. A read transaction sees one
    // committed state from its first read to its end.
    execute(write ? QStringLiteral("BEGIN ISOLATION LEVEL SERIALIZABLE")
                  : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
}

void PostgresConnection::commit()
{
    PGresult* result = PQexec(m_connection, "COMMIT");
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK)
        fail(result);
    // A transaction spoilt earlier ends in ROLLBACK even though COMMIT was asked for.
    const bool rolledBack = qstrcmp(PQcmdStatus(result), "ROLLBACK") == 0;
    PQclear(result);
    if (rolledBack)
        throw EngineError(ErrorClass::ConcurrentChange, 40001, QStringLiteral("The transaction was rolled back"));
}

void PostgresConnection::rollback()
{
    if (usable() && PQtransactionStatus(m_connection) != PQTRANS_IDLE)
        PQclear(PQexec(m_connection, "ROLLBACK"));
}

bool PostgresConnection::inTransaction() const
{
    const PGTransactionStatusType status = PQtransactionStatus(m_connection);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

} // namespace aquilevel::store
