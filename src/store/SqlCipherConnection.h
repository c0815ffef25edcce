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

    QStringList columns(const QString& table) override;
    Rows select(const Query& query, bool withRowIds) override;
    void insert(const QString& table, const FieldValues& values) override;
    void update(const QString& table, qint64 rowId, const FieldValues& values) override;
    void remove(const QString& table, const QString& condition, const QVariantList& values) override;
    void begin(bool write) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;

    // Runs a statement without parameters or results (schema, transactions).
    void execute(const QString& sql);

private:
    explicit SqlCipherConnection(sqlite3* db);

    sqlite3_stmt* prepare(const QString& sql);
    void bindAll(sqlite3_stmt* statement, const QVariantList& values);
    [[noreturn]] void fail(int resultCode);
    void write(const QString& sql, const QVariantList& values);

    sqlite3* m_db;
    QHash<QString, sqlite3_stmt*> m_statements;
    QHash<QString, QStringList> m_columns;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace aquilevel::store
