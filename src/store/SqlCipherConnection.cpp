#include "store/SqlCipherConnection.h"

#include "store/EngineError.h"

#include <QFileInfo>
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

bool isValidMoment(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QDate:
        return value.toDate().isValid();
    case QMetaType::QTime:
        return value.toTime().isValid();
    default:
        return value.toDateTime().isValid();
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
    // Reading the schema proves the key: a wrong one fails here with "not a database",
    // which is said in the experimenter's terms.
    try {
        connection->run(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    } catch (const EngineError& error) {
        if (error.number() != SQLITE_NOTADB)
            throw;
        throw EngineError(ErrorClass::Other, SQLITE_NOTADB,
                          QStringLiteral("%1 is not an experiment database of this program (a file of another "
                                         "program, one with another password, or one damaged at its start)")
                              .arg(path));
    }
    // SQLite takes an empty file for an empty database: say what it is instead of
    // "no such table".
    if (!create && QFileInfo(path).size() == 0)
        throw EngineError(ErrorClass::Other, SQLITE_NOTADB,
                          QStringLiteral("%1 is empty (0 bytes): it is no experiment database; remove it and create "
                                         "one with: aquilevel init")
                              .arg(path));
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
    if (m_statements.size() >= 256) { // the program has fewer statements than this
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
        // Parameters are named $1, $2, ... as on the server; bound by name, whatever the
        // order they first appear in.
        const QByteArray name = "$" + QByteArray::number(i + 1);
        const int index = sqlite3_bind_parameter_index(statement, name.constData());
        if (index == 0)
            throw StoreError(QStringLiteral("No parameter %1 in: %2")
                                 .arg(QString::fromLatin1(name), QString::fromUtf8(sqlite3_sql(statement))));
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
                if (!isValidMoment(value)) { // no date is no value, not an empty text
                    rc = sqlite3_bind_null(statement, index);
                    break;
                }
                const QByteArray text = storedText(value).toUtf8();
                rc = sqlite3_bind_text(statement, index, text.constData(), text.size(), SQLITE_TRANSIENT);
                break;
            }
            case QMetaType::QByteArray: {
                const QByteArray bytes = value.toByteArray();
                rc = sqlite3_bind_blob(statement, index, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
                break;
            }
            default: {
                const QByteArray text = value.toString().toUtf8();
                rc = sqlite3_bind_text(statement, index, text.constData(), text.size(), SQLITE_TRANSIENT);
                break;
            }
            }
        }
        if (rc != SQLITE_OK)
            fail(rc);
    }
}

void SqlCipherConnection::run(const QString& sql)
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

void SqlCipherConnection::forEach(const Sql& sql, const QVariantList& params,
                                  const std::function<bool(const QVariantList&)>& take)
{
    sqlite3_stmt* statement = prepare(sql.in(Dialect::SQLite));
    bindAll(statement, params);
    const int count = sqlite3_column_count(statement);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        QVariantList values;
        values.reserve(count);
        for (int c = 0; c < count; ++c)
            values.append(columnValue(statement, c));
        if (!take(values)) {
            rc = SQLITE_DONE;
            break;
        }
    }
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        fail(rc);
}

Rows SqlCipherConnection::query(const Sql& sql, const QVariantList& params)
{
    Rows rows;
    sqlite3_stmt* statement = prepare(sql.in(Dialect::SQLite));
    for (int c = 0; c < sqlite3_column_count(statement); ++c)
        rows.columns.append(QString::fromUtf8(sqlite3_column_name(statement, c)));
    forEach(sql, params, [&](const QVariantList& values) {
        rows.values.append(values);
        return true;
    });
    return rows;
}

qint64 SqlCipherConnection::execute(const Sql& sql, const QVariantList& params)
{
    // Inside an open transaction the statement joins it; otherwise it gets a transaction
    // of its own that takes the write lock first, so a lock conflict leaves nothing
    // half-done and the whole write can simply be tried again.
    const bool ownTransaction = sqlite3_get_autocommit(m_db) != 0;
    if (ownTransaction)
        run(QStringLiteral("BEGIN IMMEDIATE"));
    sqlite3_stmt* statement = nullptr;
    try {
        statement = prepare(sql.in(Dialect::SQLite));
        bindAll(statement, params);
    } catch (const StoreError&) {
        if (ownTransaction) // the caller's fault must not leave the write lock taken
            rollback();
        throw;
    }
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(rc);
    const qint64 changed = sqlite3_changes(m_db);
    if (ownTransaction)
        run(QStringLiteral("COMMIT"));
    return changed;
}

void SqlCipherConnection::begin(bool write)
{
    // A deferred transaction takes the shared lock at its first read and keeps it to the
    // end, so every read in it sees the same committed state.
    run(write ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
}

void SqlCipherConnection::commit()
{
    run(QStringLiteral("COMMIT"));
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
