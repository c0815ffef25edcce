#include "store/SqlCipherConnection.h"

#include "store/EngineError.h"
#include "store/SqlCipherEngine.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QTime>

#include <sys/stat.h>

namespace aquilevel::store {

namespace {

bool fileIdentity(const QString& path, dev_t& device, ino_t& inode)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    device = info.st_dev;
    inode = info.st_ino;
    return true;
}

QString quoted(const QString& identifier)
{
    QString escaped = identifier;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QVariant columnValue(sqlite3_stmt* statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qint64>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(statement, column));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
            sqlite3_column_bytes(statement, column)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(statement, column)),
                                   sqlite3_column_bytes(statement, column)));
    default:
        return QVariant();
    }
}

// Dates and times of day are stored as text that sorts and reads naturally.
QString storedText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate);
    case QMetaType::QTime:
        return value.toTime().toString(QStringLiteral("HH:mm:ss"));
    default:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
}

} // namespace

std::unique_ptr<SqlCipherConnection> SqlCipherConnection::open(const QString& path,
                                                               const QByteArray& key, bool create,
                                                               int busyTimeoutMs)
{
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    std::unique_ptr<SqlCipherConnection> connection(new SqlCipherConnection(db));
    if (rc != SQLITE_OK) {
        const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db))
                                   : QString::fromUtf8(sqlite3_errstr(rc));
        throw EngineError(classifySqliteCode(rc), rc & 0xff,
                          QStringLiteral("%1: %2").arg(message, path));
    }
    // The key goes through the API, never into an SQL text.
    if (sqlite3_key(db, key.constData(), key.size()) != SQLITE_OK)
        connection->fail(sqlite3_errcode(db));
    sqlite3_busy_timeout(db, busyTimeoutMs);
    // Reading the schema proves the key: a wrong one fails here with "not a database".
    connection->execute(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    fileIdentity(path, connection->m_device, connection->m_inode);
    return connection;
}

SqlCipherConnection::SqlCipherConnection(sqlite3* db) : m_db(db) {}

SqlCipherConnection::~SqlCipherConnection()
{
    for (sqlite3_stmt* statement : std::as_const(m_statements))
        sqlite3_finalize(statement);
    sqlite3_close_v2(m_db);
}

bool SqlCipherConnection::stillAt(const QString& path) const
{
    dev_t device = 0;
    ino_t inode = 0;
    return fileIdentity(path, device, inode) && device == m_device && inode == m_inode;
}

void SqlCipherConnection::fail(int resultCode)
{
    // The engine's text first: the rollback would replace it with "not an error".
    const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw EngineError(classifySqliteCode(resultCode), resultCode & 0xff, message);
}

sqlite3_stmt* SqlCipherConnection::prepare(const QString& sql)
{
    if (sqlite3_stmt* cached = m_statements.value(sql))
        return cached;
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(m_db, text.constData(), text.size(), &statement, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement);
        fail(rc);
    }
    if (m_statements.size() >= 64) { // a handful of statements serve the whole session
        for (sqlite3_stmt* old : std::as_const(m_statements))
            sqlite3_finalize(old);
        m_statements.clear();
    }
    m_statements.insert(sql, statement);
    return statement;
}

void SqlCipherConnection::bindAll(sqlite3_stmt* statement, const QVariantList& values)
{
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (values.size() != sqlite3_bind_parameter_count(statement))
        throw StoreError(QStringLiteral("%1 values given for %2 parameters in: %3")
                             .arg(values.size())
                             .arg(sqlite3_bind_parameter_count(statement))
                             .arg(QString::fromUtf8(sqlite3_sql(statement))));
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values.at(i);
        const int index = i + 1;
        int rc = SQLITE_OK;
        if (!value.isValid() || value.isNull()) {
            rc = sqlite3_bind_null(statement, index);
        } else {
            switch (value.typeId()) {
            case QMetaType::Bool:
                rc = sqlite3_bind_int(statement, index, value.toBool() ? 1 : 0);
                break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Short:
            case QMetaType::UShort:
            case QMetaType::Long:
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
                rc = sqlite3_bind_int64(statement, index, value.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                rc = sqlite3_bind_double(statement, index, value.toDouble());
                break;
            case QMetaType::QDate:
            case QMetaType::QTime:
            case QMetaType::QDateTime: {
                const QByteArray text = storedText(value).toUtf8();
                rc = sqlite3_bind_text(statement, index, text.constData(), text.size(),
                                       SQLITE_TRANSIENT);
                break;
            }
            case QMetaType::QByteArray: {
                const QByteArray bytes = value.toByteArray();
                rc = sqlite3_bind_blob(statement, index, bytes.constData(), bytes.size(),
                                       SQLITE_TRANSIENT);
                break;
            }
            default: {
                const QByteArray text = value.toString().toUtf8();
                rc = sqlite3_bind_text(statement, index, text.constData(), text.size(),
                                       SQLITE_TRANSIENT);
                break;
            }
            }
        }
        if (rc != SQLITE_OK)
            fail(rc);
    }
}

void SqlCipherConnection::execute(const QString& sql)
{
    sqlite3_stmt* statement = prepare(sql);
    sqlite3_reset(statement);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        fail(rc);
}

QStringList SqlCipherConnection::columns(const QString& table)
{
    if (auto it = m_columns.constFind(table); it != m_columns.constEnd())
        return *it;
    sqlite3_stmt* statement = prepare(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table)));
    sqlite3_reset(statement);
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        names.append(columnValue(statement, 1).toString());
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        fail(rc);
    if (names.isEmpty())
        throw EngineError(ErrorClass::Other, SQLITE_ERROR,
                          QStringLiteral("no such table: %1").arg(table));
    m_columns.insert(table, names);
    return names;
}

Rows SqlCipherConnection::select(const Query& query, bool withRowIds)
{
    QString sql = query.text();
    if (withRowIds) {
        // "select * from T ..." becomes "select rowid, * from T ..." so rows can be written back.
        const int star = sql.indexOf(QLatin1Char('*'));
        sql = sql.left(star) + QStringLiteral("rowid AS \"__rowid\", *") + sql.mid(star + 1);
    }
    sqlite3_stmt* statement = prepare(sql);
    bindAll(statement, query.params());
    Rows rows;
    const int count = sqlite3_column_count(statement);
    const int first = withRowIds ? 1 : 0;
    for (int c = first; c < count; ++c)
        rows.columns.append(QString::fromUtf8(sqlite3_column_name(statement, c)));
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        QVariantList values;
        values.reserve(count - first);
        for (int c = first; c < count; ++c)
            values.append(columnValue(statement, c));
        rows.values.append(values);
        if (withRowIds)
            rows.rowIds.append(sqlite3_column_int64(statement, 0));
    }
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        fail(rc);
    return rows;
}

void SqlCipherConnection::write(const QString& sql, const QVariantList& values)
{
    // Inside an open transaction (creating a file) the statement joins it; otherwise it
    // gets a transaction of its own that takes the write lock first, so a lock conflict
    // leaves nothing half-done and the whole write can simply be tried again.
    const bool ownTransaction = sqlite3_get_autocommit(m_db) != 0;
    if (ownTransaction)
        execute(QStringLiteral("BEGIN IMMEDIATE"));
    sqlite3_stmt* statement = prepare(sql);
    bindAll(statement, values);
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        fail(rc);
    if (ownTransaction)
        execute(QStringLiteral("COMMIT"));
}

void SqlCipherConnection::insert(const QString& table, const FieldValues& values)
{
    QStringList names;
    QStringList marks;
    QVariantList bound;
    for (const auto& [column, value] : values) {
        names.append(quoted(column));
        marks.append(QStringLiteral("?"));
        bound.append(value);
    }
    const QString sql =
        names.isEmpty()
            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(table))
            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(quoted(table), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    write(sql, bound);
}

void SqlCipherConnection::update(const QString& table, qint64 rowId, const FieldValues& values)
{
    if (values.isEmpty())
        return;
    QStringList sets;
    QVariantList bound;
    for (const auto& [column, value] : values) {
        sets.append(quoted(column) + QStringLiteral("=?"));
        bound.append(value);
    }
    bound.append(rowId);
    write(QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?")
              .arg(quoted(table), sets.join(QLatin1Char(','))),
          bound);
    if (sqlite3_changes(m_db) != 1)
        throw EngineError(ErrorClass::Other, SQLITE_NOTFOUND,
                          QStringLiteral("The record to update in %1 no longer exists").arg(table));
}

void SqlCipherConnection::remove(const QString& table, const QString& condition,
                                 const QVariantList& values)
{
    write(QStringLiteral("DELETE FROM %1 WHERE %2").arg(quoted(table), condition), values);
}

void SqlCipherConnection::begin(bool write)
{
    // A deferred transaction takes the shared lock at its first read and keeps it to the
    // end, so every read in it sees the same committed state.
    execute(write ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
}

void SqlCipherConnection::commit()
{
    execute(QStringLiteral("COMMIT"));
}

bool SqlCipherConnection::inTransaction() const
{
    return !sqlite3_get_autocommit(m_db);
}

void SqlCipherConnection::rollback()
{
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

} // namespace aquilevel::store
