#pragma once

#include "store/Engine.h"
#include "store/ServerSettings.h"

#include <functional>
#include <memory>

namespace aquilevel::store {

class PostgresConnection;

// The lab's database server as the store's engine: every station keeps one session
// open and every statement commits on its own or in the store's transactions, as on
// the file. A session the server has dropped is opened again at the next access.
class PostgresEngine final : public Engine {
public:
    // How long a statement waits for another station's lock before it reports a lock
    // conflict to the store (the file's busy timeout).
    static constexpr int kLockTimeoutMs = 2000;

    explicit PostgresEngine(ServerSettings settings, int lockTimeoutMs = kLockTimeoutMs);
    ~PostgresEngine() override;

    QString location() const override { return m_settings.describe(); }
    Connection& open(bool readOnly) override;
    void release() override {}
    void discard() override;

    // The tables in an empty server database, filled by fill, in one transaction: all of
    // it or nothing. A database that already holds any of the tables is never touched.
    void create(const std::function<void(Connection&)>& fill) override;
    bool holdsTables() override;
    bool commitCanBeLost() const override { return true; }
    void setHolder(const QString& holder) override;

    // Creates (when missing) a login role that may do only what a station does
    // (StationRules): read the configuration but not the passwords, append the rows of
    // the participants it holds, complete their summary rows and keep its own holds.
    // Its password is set by the server's administrator (psql's \password). Throws
    // EngineError, or ServerSettingsError for a name that is no plain identifier.
    static void createStationRole(const ServerSettings& settings, const QString& role);

private:
    void upgradeServer(PostgresConnection& connection);
    void nameHolder();

    ServerSettings m_settings;
    int m_lockTimeoutMs;
    std::unique_ptr<PostgresConnection> m_connection;
    bool m_layoutChecked = false;
    QString m_holder;
};

} // namespace aquilevel::store
