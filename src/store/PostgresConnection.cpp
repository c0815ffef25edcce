#include "store/PostgresConnection.h"

#include "store/ServerSettings.h"

#include <libpq-fe.h>

#include <QDate>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QDateTime>
#include <QTime>

#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

#include <poll.h>

namespace aquilevel::store {

namespace {

// Type numbers of the server's built-in types.
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

// The server's text of a number: the shortest form that reads back as the same double
// (the session asks for it, see sessionOptions), or one of its words for the specials.
double numberOf(const char* text)
{
    if (qstricmp(text, "NaN") == 0)
        return std::numeric_limits<double>::quiet_NaN();
    if (qstricmp(text, "Infinity") == 0)
        return std::numeric_limits<double>::infinity();
    if (qstricmp(text, "-Infinity") == 0)
        return -std::numeric_limits<double>::infinity();
    return QByteArray(text).toDouble();
}

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
        return QVariant(numberOf(text));
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
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (std::isnan(d))
            return "NaN";
        if (std::isinf(d))
            return d > 0 ? "Infinity" : "-Infinity";
        return QByteArray::number(d, 'g', 17);
    }
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

// libpq reads the server's closing of a session only when it next reads from it: a
// session that a crash or an immediate stop ended still shows as open until then.
bool lostNow(PGconn* connection)
{
    if (PQstatus(connection) == CONNECTION_OK)
        PQconsumeInput(connection);
    return PQstatus(connection) != CONNECTION_OK;
}

// What every session needs whatever the server's, the database's or the role's own
// settings say: doubles in their shortest exact form (fifteen digits would lose the last
// bits), dates as the program writes them, one time zone, the lock wait. Given at
// connection, so every new session has them from its first statement and they outrank
// ALTER DATABASE / ALTER ROLE settings; options the lab gives in PGOPTIONS come first.
QByteArray sessionOptions(int lockTimeoutMs)
{
    QByteArray options = qgetenv("PGOPTIONS").trimmed();
    if (!options.isEmpty())
        options += ' ';
    return options + "-c extra_float_digits=3 -c DateStyle=ISO,YMD -c TimeZone=UTC -c lock_timeout=" +
           QByteArray::number(lockTimeoutMs);
}

// One attempt at connecting, as PQconnectdbParams makes it, but with the server's
// errors worded with their SQLSTATE (verbose) so that a refusal can be told from a
// server that is not there. Fills stage with the last stage the attempt got to.
PGconn* connectOnce(const char* const* keys, const char* const* values, int timeoutMs, ConnStatusType* stage)
{
    *stage = CONNECTION_STARTED;
    PGconn* connection = PQconnectStartParams(keys, values, 0);
    if (!connection)
        throw EngineError(ErrorClass::Other, 0, QStringLiteral("Out of memory"));
    PQsetErrorVerbosity(connection, PQERRORS_VERBOSE);
    const QDeadlineTimer deadline(timeoutMs);
    PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
    while (PQstatus(connection) != CONNECTION_BAD && polled != PGRES_POLLING_OK && polled != PGRES_POLLING_FAILED) {
        pollfd socket{PQsocket(connection), short(polled == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        const int ready = ::poll(&socket, 1, int(deadline.remainingTime()));
        if (ready == 0) {
            PQfinish(connection);
            return nullptr; // no answer in time: a server not there
        }
        if (ready < 0 && errno != EINTR)
            break;
        polled = PQconnectPoll(connection);
        if (PQstatus(connection) != CONNECTION_BAD)
            *stage = PQstatus(connection);
    }
    PQsetErrorVerbosity(connection, PQERRORS_DEFAULT);
    return connection;
}

// True when a failed connection says the server is not there for now (stopped,
// restarting, recovering, full, out of reach), so that trying again in a moment may
// succeed; false when it refused this station (a password, a missing database or role,
// TLS, the server's access rules), which no waiting mends.
bool serverAbsent(const PGconn* connection, const QString& why, ConnStatusType stage)
{
    if (PQconnectionNeedsPassword(connection))
        return false;
    // The server's own refusal carries its SQLSTATE ("FATAL:  57P03: the database
    // system is starting up"); the last one is from the last host tried.
    static const QRegularExpression state(QStringLiteral(":  ([0-9A-Z]{5}): "));
    QByteArray sqlState;
    for (auto it = state.globalMatch(why); it.hasNext();)
        sqlState = it.next().captured(1).toLatin1();
    if (!sqlState.isEmpty()) {
        const ErrorClass kind = classifySqlState(sqlState, false);
        return kind == ErrorClass::LostHandle || kind == ErrorClass::LockConflict;
    }
    // libpq's own failure, worded in the station's language. Failing to agree on
    // encryption (TLS refused or required, a certificate that does not match) is a
    // refusal; anything else is a server not there (no socket, refused, unreachable, a
    // name not resolved, a connection that ended while the server was going down).
    return stage != CONNECTION_SSL_STARTUP && stage != CONNECTION_GSS_STARTUP;
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
    auto keywords = settings.connectionKeywords();
    int timeoutMs = 5000;
    for (const auto& [key, value] : keywords)
        if (key == "connect_timeout" && value.toInt() > 0)
            timeoutMs = value.toInt() * 1000;
    keywords.append({QByteArrayLiteral("client_encoding"), QByteArrayLiteral("UTF8")});
    keywords.append({QByteArrayLiteral("options"), sessionOptions(lockTimeoutMs)});
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : keywords) {
        keys.push_back(key.constData());
        values.push_back(value.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    // A server that is stopped or restarting is waited for as long as a statement waits
    // for a lock, then reported as a lock conflict, so that the store backs off and asks
    // as it does for another station's lock. A server that refuses this station is
    // reported at once.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        ConnStatusType stage = CONNECTION_STARTED;
        PGconn* connection = connectOnce(keys.data(), values.data(), timeoutMs, &stage);
        if (connection && PQstatus(connection) == CONNECTION_OK)
            return std::unique_ptr<PostgresConnection>(new PostgresConnection(connection));
        const QString why = connection ? message(connection)
                                       : QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000);
        const bool absent = !connection || serverAbsent(connection, why, stage);
        PQfinish(connection);
        const QString text = QStringLiteral("%1: %2").arg(settings.describe(), why);
        if (!absent)
            throw EngineError(ErrorClass::Other, 0, text);
        if (waited.elapsed() >= lockTimeoutMs)
            throw EngineError(ErrorClass::LockConflict, 8006, text);
        QThread::msleep(150);
    }
}

PostgresConnection::PostgresConnection(PGconn* connection) : m_connection(connection)
{
    // The server's notices ("already exists, skipping", a shutdown's warning) are not for
    // the person at the station; what matters arrives as an error.
    PQsetNoticeProcessor(m_connection, [](void*, const char*) {}, nullptr);
}

PostgresConnection::~PostgresConnection()
{
    PQfinish(m_connection);
}

bool PostgresConnection::usable() const
{
    return !lostNow(m_connection);
}

void PostgresConnection::fail(PGresult* result)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    const QByteArray state = result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
    QString text = result ? QString::fromUtf8(PQresultErrorMessage(result)).trimmed() : QString();
    if (text.isEmpty())
        text = message(m_connection);
    if (result)
        PQclear(result);
    // No result, or a failure libpq reports itself (no SQLSTATE: "server closed the
    // connection unexpectedly"), is the session lost, whatever PQstatus still says.
    const bool lost = !result || (status == PGRES_FATAL_ERROR && state.isEmpty()) || lostNow(m_connection);
    // A failed statement spoils its transaction: end it, as the file does.
    if (!lost && PQtransactionStatus(m_connection) != PQTRANS_IDLE)
        PQclear(PQexec(m_connection, "ROLLBACK"));
    // A station's role refused what only the tables' owner may do (or what no station may).
    if (state == "42501")
        text += QStringLiteral(" (the role %1 may not do this: the experimenter's commands that change the "
                               "configuration or read the accounts run as the tables' owner)")
                    .arg(QString::fromUtf8(PQuser(m_connection)));
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
        // An invalid date or time of day is no value, as on the file.
        const bool noMoment = (v.typeId() == QMetaType::QDate && !v.toDate().isValid()) ||
                              (v.typeId() == QMetaType::QTime && !v.toTime().isValid()) ||
                              (v.typeId() == QMetaType::QDateTime && !v.toDateTime().isValid());
        if (!v.isValid() || v.isNull() || noMoment) {
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

void PostgresConnection::forEach(const Sql& sql, const QVariantList& params,
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
