#include "store/SqlCipherEngine.h"

#include "store/Layout.h"
#include "store/Tables.h"
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

// A file of an older layout is brought up to date the first time it is opened. The
// write lock is taken before the version is read again, so of two copies of the program
// opening the same old file at once only the first upgrades it.
void upgradeFile(SqlCipherConnection& connection)
{
    const int version = layoutVersion(connection);
    if (version < 1 || version >= kSchemaVersion)
        return;
    connection.begin(true);
    try {
        upgradeLayout(connection, layoutVersion(connection));
        connection.commit();
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
    upgradeFile(*connection);
    if (layoutVersion(*connection) >= kSchemaVersion)
        fillMissingKeys(*connection);
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

void SqlCipherEngine::create(const std::function<void(Connection&)>& fill)
{
    const QString& path = m_path;
    if (QFileInfo::exists(path))
        throw StoreError(QStringLiteral("%1 already exists; nothing was changed.").arg(path));
    const QString temporary = path + QStringLiteral(".new");
    QFile::remove(temporary);
    QFile::remove(temporary + QStringLiteral("-journal"));
    try {
        auto connection = SqlCipherConnection::open(temporary, m_key, true, m_busyTimeoutMs);
        connection->begin(true);
        createLayout(*connection);
        if (fill)
            fill(*connection);
        connection->commit();
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
        throw EngineError(ErrorClass::Other, SQLITE_CANTOPEN, QStringLiteral("Could not create %1").arg(path));
}

bool SqlCipherEngine::holdsTables()
{
    if (!QFileInfo::exists(m_path))
        return false;
    return layoutVersion(open(true)) > 0;
}

QStringList SqlCipherEngine::damage(Connection& connection, Sweep sweep)
{
    QStringList found;
    try {
        if (sweep != Sweep::Whole) {
            // Each statement is a read of its own. The schema and the small tables whole;
            // of a data table every page in steps of rows (the last column read, so that
            // a row's overflow pages are too) and each index whole, a small fraction of
            // its table; or, for a session, only the paths to their newest and oldest
            // entries, where rows are appended and looked up.
            connection.query(Sql("SELECT * FROM sqlite_master"));
            for (const TableDef& table : allTables()) {
                const QString name = quotedName(table.name);
                if (table.kind != TableKind::Data) {
                    connection.query(Sql(QStringLiteral("SELECT * FROM %1").arg(name)));
                    continue;
                }
                if (sweep == Sweep::SessionPages) {
                    connection.query(Sql(QStringLiteral("SELECT * FROM %1 ORDER BY rowid DESC LIMIT 1").arg(name)));
                    for (const IndexDef& index : table.indexes)
                        for (const char* end : {"max", "min"})
                            connection.query(Sql(QStringLiteral("SELECT %1(%2) FROM %3")
                                                     .arg(QLatin1String(end), quotedName(index.columns.first()), name)));
                    continue;
                }
                const Sql step(QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid > $1 ORDER BY rowid LIMIT 5000")
                                   .arg(quotedName(table.columnNames().last()), name));
                for (QVariant after = qint64(-1);;) {
                    const Rows rows = connection.query(step, {after});
                    if (rows.values.size() < 5000)
                        break;
                    after = rows.values.last().value(0);
                }
                for (const IndexDef& index : table.indexes)
                    connection.query(Sql(QStringLiteral("SELECT count(%1) FROM %2 INDEXED BY %3")
                                             .arg(quotedName(index.columns.first()), name, quotedName(index.name))));
            }
            return found;
        }
        for (const QVariantList& row : connection.query(Sql("PRAGMA quick_check(5)")).values) {
            const QString verdict = row.value(0).toString();
            if (verdict == QLatin1String("ok"))
                continue;
            for (const QString& line : verdict.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                found.append(line.trimmed());
        }
    } catch (const EngineError& error) {
        // A page that fails its authentication stops the read (and leaves the handle
        // failing until it is opened again). Anything else (a lock, a share that does not
        // answer, a layout changed meanwhile) says nothing about the pages.
        if (error.number() != SQLITE_CORRUPT && error.number() != SQLITE_NOTADB)
            throw;
        found.append(error.description());
    }
    return found;
}

} // namespace aquilevel::store
