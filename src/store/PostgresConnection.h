#pragma once

#include "store/Engine.h"
#include "store/PostgresDialect.h"

#include <QHash>

#include <memory>

struct pg_conn;
struct pg_result;

namespace aquilevel::store {

struct ServerSettings;

// One session on the lab's PostgreSQL server. Statements arrive in the program's
// dialect and are translated; values travel as text and the server gives them their
// column's type, so what is written reads back as it does from the file (yes/no as 1
// and 0, dates and times of day as text).
class PostgresConnection final : public Connection {
public:
    // Connects; throws EngineError (a server that cannot be reached is a lock conflict:
    // the store backs off and asks, as for another copy's lock).
    static std::unique_ptr<PostgresConnection> open(const ServerSettings& settings, const PostgresDialect& dialect,
                                                    int lockTimeoutMs);
    ~PostgresConnection() override;

    // False once the server has gone away under this session.
    bool usable() const;

    QStringList columns(const QString& table) override;
    Rows select(const Query& query, bool withRowIds) override;
    void insert(const QString& table, const FieldValues& values) override;
    void update(const QString& table, qint64 rowId, const FieldValues& values) override;
    void remove(const QString& table, const QString& condition, const QVariantList& values) override;
    void begin(bool write) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;

    // Runs a statement in the server's own dialect, without parameters.
    void execute(const QString& sql);

private:
    PostgresConnection(pg_conn* connection, const PostgresDialect& dialect);

    // Runs a translated statement; the result belongs to the caller. Throws EngineError.
    pg_result* run(const QString& sql, const QVariantList& values);
    [[noreturn]] void fail(pg_result* result);
    void write(const QString& sql, const QVariantList& values, int expectedRows = -1);

    pg_conn* m_connection;
    const PostgresDialect& m_dialect;
    // Each of the program's statements is translated and prepared once per session.
    struct Prepared {
        QByteArray name;
        int parameters = 0;
    };
    QHash<QString, Prepared> m_prepared;
    int m_statementNumber = 0;
};

// Maps a PostgreSQL SQLSTATE (and whether the session is still up) onto the store's
// four failure classes.
ErrorClass classifySqlState(const QByteArray& sqlState, bool connectionLost);

} // namespace aquilevel::store
