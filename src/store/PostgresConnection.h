#pragma once

#include "store/Engine.h"

#include <QHash>

#include <memory>

struct pg_conn;
struct pg_result;

namespace aquilevel::store {

struct ServerSettings;

// One session on the lab's PostgreSQL server. Values travel as text and the server gives
// them their column's type, so what is written reads back as it does from the file
// (yes/no as 1 and 0, dates and times of day as text, numbers to the last bit).
class PostgresConnection final : public Connection {
public:
    // Connects; throws EngineError (a server that cannot be reached is a lock conflict:
    // the store backs off and asks, as for another copy's lock).
    static std::unique_ptr<PostgresConnection> open(const ServerSettings& settings, int lockTimeoutMs);
    ~PostgresConnection() override;

    // False once the server has gone away under this session.
    bool usable() const;

    Dialect dialect() const override { return Dialect::Postgres; }
    Rows query(const Sql& sql, const QVariantList& params = {}) override;
    void forEach(const Sql& sql, const QVariantList& params,
                 const std::function<bool(const QVariantList&)>& take) override;
    using Connection::execute;
    qint64 execute(const Sql& sql, const QVariantList& params = {}) override;
    void begin(bool write) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;

    // Runs a statement in the server's own dialect, without parameters.
    void execute(const QString& sql);

private:
    explicit PostgresConnection(pg_conn* connection);

    // Runs a statement; the result belongs to the caller. Throws EngineError.
    pg_result* run(const QString& sql, const QVariantList& values);
    [[noreturn]] void fail(pg_result* result);

    pg_conn* m_connection;
    // Each of the program's statements is prepared once per session.
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
