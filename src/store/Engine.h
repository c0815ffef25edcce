#pragma once

#include "store/EngineError.h"
#include "store/Row.h"
#include "store/Sql.h"

#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace aquilevel::store {

// One open database of an engine. Every method may throw EngineError. Statements bind
// every value to their $n parameters; no value is ever pasted into an SQL text.
class Connection {
public:
    virtual ~Connection() = default;
    virtual Dialect dialect() const = 0;
    // Runs a query and returns its rows.
    virtual Rows query(const Sql& sql, const QVariantList& params = {}) = 0;
    // Runs a query and hands its rows to `take` one at a time, without holding them all;
    // `take` returns false to stop early.
    virtual void forEach(const Sql& sql, const QVariantList& params,
                         const std::function<bool(const QVariantList&)>& take) = 0;
    // Runs a statement that changes rows and returns how many it changed. Outside a
    // transaction it is committed on its own before this returns.
    virtual qint64 execute(const Sql& sql, const QVariantList& params = {}) = 0;
    // One transaction over several statements. A read transaction sees one committed
    // state of the data from its first read to its end; a write transaction takes the
    // write lock at once, and the writes in it are kept together at commit or not at all.
    virtual void begin(bool write) = 0;
    virtual void commit() = 0;
    // Ends an open transaction without keeping its writes; does nothing when none is open.
    virtual void rollback() = 0;
    // True while a transaction begun here is open (a failed statement may have ended it).
    virtual bool inTransaction() const = 0;

    // The first value of the first row of a query; invalid when there is no row.
    QVariant value(const Sql& sql, const QVariantList& params = {})
    {
        return query(sql, params).values.value(0).value(0);
    }

    // The write step the store is running where a commit can succeed unheard: every data
    // row appended meanwhile carries it, and the first such row is noted, so that after a
    // lost connection the store can look for it before it writes the step again.
    struct Appended {
        QString table;
        QVariantList keys; // SubjectKey, VersionKey
    };
    void setWriteToken(const QString& token)
    {
        m_writeToken = token;
        m_appended.reset();
    }
    const QString& writeToken() const { return m_writeToken; }
    void noteAppended(const QString& table, const QVariantList& keys)
    {
        if (!m_appended)
            m_appended = Appended{table, keys};
    }
    const std::optional<Appended>& appended() const { return m_appended; }

private:
    QString m_writeToken;
    std::optional<Appended> m_appended;
};

// How a search for damaged pages reads a database:
// - Whole: SQLite's quick_check of every page and of how they hang together, in one read
//   that holds the writers off for as long (a second on a lab's years of history);
// - EveryPage: every page of every table and index, in short reads that a session's
//   write never waits behind for long, finding a page that fails to read;
// - SessionPages: what a session reads and writes (the schema, the configuration, the
//   holds, and each data table's and index's newest and oldest pages, where rows are
//   appended), which costs next to nothing however long the history.
enum class Sweep { Whole, EveryPage, SessionPages };

// A database engine behind the store: the encrypted file, or the lab's server.
class Engine {
public:
    virtual ~Engine() = default;
    // Where the data lives, for messages.
    virtual QString location() const = 0;
    // Opens the database (or hands back a still-valid open one). May throw EngineError.
    virtual Connection& open(bool readOnly) = 0;
    // The caller is done with the database until its next open.
    virtual void release() = 0;
    // The handle is no longer trustworthy: drop it, so the next open starts afresh.
    virtual void discard() = 0;

    // Creates the database with every table, filled by `fill`, in one transaction: all
    // of it or nothing; an existing database (a file, a server database that holds the
    // tables) is never touched. Throws EngineError, or StoreError for one that exists.
    virtual void create(const std::function<void(Connection&)>& fill) = 0;
    // True when the database exists and holds the experiment's tables.
    virtual bool holdsTables() = 0;
    // True when a commit can succeed without the program hearing of it (a connection to
    // a server that breaks at that moment); the store then stamps every appended row with
    // its write step, so that it can ask afterwards whether the step landed.
    virtual bool commitCanBeLost() const { return false; }
    // The holder text of this run's station holds (StationHold), for an engine whose
    // server checks that a station writes only for the participants it holds.
    virtual void setHolder(const QString&) {}
    // Damage to the database's own pages that the engine can find, one line each (none
    // on a server, whose pages are the server's own business).
    virtual QStringList damage(Connection&, Sweep = Sweep::Whole) { return {}; }
};

// The engine of a file path or a server URL (postgresql://...), for the commands that
// name their database themselves (copy). Throws ServerSettingsError for a bad URL.
std::unique_ptr<Engine> engineAt(const QString& fileOrUrl);
bool isServerUrl(const QString& fileOrUrl);

} // namespace aquilevel::store
