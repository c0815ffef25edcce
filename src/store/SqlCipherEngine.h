#pragma once

#include "store/Engine.h"
#include "store/EngineError.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace aquilevel::store {

class SqlCipherConnection;

// The engine for one password-protected SQLCipher file, shared by every copy of the
// program that opens it. Deriving the key costs tens of milliseconds, so the opened
// handle is kept between accesses: every statement still runs in its own transaction,
// sees what other copies have committed, and is on disk when it returns. The handle is
// reopened when the file at the path is no longer the one it was opened on.
class SqlCipherEngine final : public Engine {
public:
    // How long the engine itself waits for another copy's lock before it reports a
    // lock conflict to the store.
    static constexpr int kBusyTimeoutMs = 2000;

    SqlCipherEngine(QString path, QByteArray key, int busyTimeoutMs = kBusyTimeoutMs);
    ~SqlCipherEngine() override;

    QString location() const override { return m_path; }
    Connection& open(bool readOnly) override;
    void release() override;
    void discard() override;

    // A new file at the path, filled by fill, in one go: the file appears complete or
    // not at all, and an existing file is never replaced.
    void create(const std::function<void(Connection&)>& fill) override;
    bool holdsTables() override;
    // SQLite's quick_check, or a read of every page or of those a session touches; a page
    // whose authentication fails counts as damage.
    QStringList damage(Connection& connection, Sweep sweep = Sweep::Whole) override;

private:
    QString m_path;
    QByteArray m_key;
    int m_busyTimeoutMs;
    std::unique_ptr<SqlCipherConnection> m_connection;
};

// Maps a SQLite result code onto the store's four failure classes.
ErrorClass classifySqliteCode(int resultCode);

} // namespace aquilevel::store
