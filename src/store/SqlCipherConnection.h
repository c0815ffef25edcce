#pragma once

#include "store/Engine.h"

#define SQLITE_HAS_CODEC 1
#include <sqlcipher/sqlite3.h>

#include <QHash>

#include <memory>

namespace aquilevel::store {

// One open, keyed SQLCipher handle with its prepared statements.
class SqlCipherConnection final : public Connection {
public:
    // Opens and keys the file; with create the file may be new. Throws EngineError.
    static std::unique_ptr<SqlCipherConnection> open(const QString& path, const QByteArray& key,
                                                     bool create, int busyTimeoutMs);
    ~SqlCipherConnection() override;

    // True while the file at path is still the file this handle was opened on.
    bool stillAt(const QString& path) const;

    Dialect dialect() const override { return Dialect::SQLite; }
    Rows query(const Sql& sql, const QVariantList& params = {}) override;
    void forEach(const Sql& sql, const QVariantList& params,
                 const std::function<bool(const QVariantList&)>& take) override;
    qint64 execute(const Sql& sql, const QVariantList& params = {}) override;
    void begin(bool write) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;

    // Runs a statement without parameters or results (schema, transactions).
    void run(const QString& sql);

private:
    explicit SqlCipherConnection(sqlite3* db);

    sqlite3_stmt* prepare(const QString& sql);
    void bindAll(sqlite3_stmt* statement, const QVariantList& values);
    [[noreturn]] void fail(int resultCode);

    sqlite3* m_db;
    QHash<QString, sqlite3_stmt*> m_statements;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace aquilevel::store
