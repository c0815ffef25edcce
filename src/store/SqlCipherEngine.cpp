#include "store/SqlCipherEngine.h"

#include "store/Schema.h"
#include "store/SqlCipherConnection.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace aquilevel::store {

ErrorClass classifySqliteCode(int resultCode)
{
    switch (resultCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL:
        return ErrorClass::LockConflict;
    case SQLITE_SCHEMA:
        return ErrorClass::ConcurrentChange;
    case SQLITE_MISUSE:
        return ErrorClass::LostHandle;
    default:
        return ErrorClass::Other;
    }
}

namespace {

int layoutVersion(SqlCipherConnection& connection)
{
    return connection.select(Query(QStringLiteral("PRAGMA user_version")), false)
        .values.value(0)
        .value(0)
        .toInt();
}

// A file of an older layout is brought up to date the first time it is opened. The
// write lock is taken before the version is read again, so of two copies of the program
// opening the same old file at once only the first upgrades it.
void upgradeLayout(SqlCipherConnection& connection)
{
    if (upgradeStatements(layoutVersion(connection)).isEmpty())
        return;
    connection.execute(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        for (const QString& statement : upgradeStatements(layoutVersion(connection)))
            connection.execute(statement);
        connection.execute(QStringLiteral("COMMIT"));
    } catch (...) {
        connection.rollback();
        throw;
    }
}

} // namespace

SqlCipherEngine::SqlCipherEngine(QString path, QByteArray key, int busyTimeoutMs)
    : m_path(std::move(path)), m_key(std::move(key)), m_busyTimeoutMs(busyTimeoutMs)
{
}

SqlCipherEngine::~SqlCipherEngine() = default;

Connection& SqlCipherEngine::open(bool /*readOnly*/)
{
    // Read-only accesses share the handle: a snapshot record set cannot write anyway.
    if (m_connection && m_connection->stillAt(m_path))
        return *m_connection;
    m_connection.reset();
    auto connection = SqlCipherConnection::open(m_path, m_key, false, m_busyTimeoutMs);
    upgradeLayout(*connection);
    m_connection = std::move(connection);
    return *m_connection;
}

void SqlCipherEngine::release()
{
    // The handle stays open for the next access; nothing is left in a transaction.
}

void SqlCipherEngine::discard()
{
    m_connection.reset();
}

void SqlCipherEngine::create(const QString& path, const QByteArray& key,
                             const QStringList& schemaStatements,
                             const std::function<void(Connection&)>& fill)
{
    if (QFileInfo::exists(path))
        throw EngineError(ErrorClass::Other, SQLITE_CANTOPEN,
                          QStringLiteral("%1 already exists").arg(path));
    const QString temporary = path + QStringLiteral(".new");
    QFile::remove(temporary);
    QFile::remove(temporary + QStringLiteral("-journal"));
    try {
        auto connection = SqlCipherConnection::open(temporary, key, true, kBusyTimeoutMs);
        connection->execute(QStringLiteral("BEGIN IMMEDIATE"));
        for (const QString& statement : schemaStatements)
            connection->execute(statement);
        if (fill)
            fill(*connection);
        connection->execute(QStringLiteral("COMMIT"));
        connection.reset();
    } catch (...) {
        QFile::remove(temporary);
        throw;
    }
    // link() refuses to replace a file that appeared meanwhile.
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(path);
    const int linked = ::link(from.constData(), to.constData());
    ::unlink(from.constData());
    if (linked != 0)
        throw EngineError(ErrorClass::Other, SQLITE_CANTOPEN,
                          QStringLiteral("Could not create %1").arg(path));
}

} // namespace aquilevel::store
