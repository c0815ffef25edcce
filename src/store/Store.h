#pragma once

#include "store/Engine.h"
#include "store/EngineError.h"
#include "store/Pacer.h"
#include "store/RetryQuestions.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>


namespace aquilevel::store {

// The experiment store: every read and write of the experiment's database goes through
// it, each a step of the tables' homes run on the open connection. Failures are classified and retried as the lab expects:
// lock conflicts back off and ask after ten silent tries, concurrent changes retry at
// once, a lost handle starts the open over, anything else asks whether to retry.
// Declining ends the session through the giveUp action.
class Store final {
public:
    using GiveUp = std::function<void()>;

    Store(std::unique_ptr<Engine> engine, RetryQuestions& prompter, Pacer& pacer, RandomSource& random,
          GiveUp giveUp);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Runs one read under the retry policy and releases the database afterwards.
    // `source` names what is read (a table), for the retry question.
    void read(const std::function<void(Connection&)>& step, const QString& source, const QString& status);
    void CloseTable();

    // The engine behind the store.
    Engine& engine() { return *m_engine; }

    // True while an access is under way (the lock back-off processes window events,
    // and whatever runs then must not start another write).
    bool isBusy() const { return m_depth > 0; }

    // Runs `step` now, or, while an access is under way, once it has finished (checked
    // every `pollMs` on `context`'s thread): what window events start must never run
    // inside an access.
    void whenIdle(QObject* context, std::function<void()> step, int pollMs = 20);

    // Runs work inside one transaction of the engine, retried as a whole under the retry
    // policy. readOnly: every read in it sees the same committed state, even while other
    // copies write. Otherwise its writes are kept together at the end or, when work
    // throws, not at all. Record sets opened inside work use the same open database and
    // take part in the transaction (they see its uncommitted writes).
    void transaction(const std::function<void(Connection&)>& work, bool readOnly,
                     const QString& status);

    // Runs one retryable step under the retry policy. The step receives the open
    // connection; a lost handle reopens it and runs the step again.
    void retry(const std::function<void(Connection&)>& step, bool readOnly, const QString& source,
               const QString& status);

    // Writes one change under the retry policy. Inside a group (below) it joins the
    // group's transaction, and is kept to be run again should the transaction be lost:
    // it must capture its values, never references to what may be gone by then;
    // otherwise it is committed on its own before this returns, and then appends at most
    // one data row: rows that belong together are written in a group.
    // Either way it is stored exactly once: where a commit can succeed unheard (a
    // server), every row a write step appends carries the step's token, and a step whose
    // connection was lost is written again only when its first row is not there. (A step
    // that only changes rows sets them to the same values again.)
    void write(const std::function<void(Connection&)>& change, const QString& source,
               const QString& status);

    // A group keeps the writes of one step of the session (a handler of the trial screen)
    // together: they reach the file all at once when the group is committed, or not at
    // all, so a crash never leaves half a step behind. Reads inside a group see its
    // writes. The write lock is taken at the group's first write and held to its end, so
    // a group must not wait for a person. Groups nest; the outermost one commits.
    class Group {
    public:
        explicit Group(Store& store);
        ~Group(); // not committed: its writes are dropped
        Group(const Group&) = delete;
        Group& operator=(const Group&) = delete;
        void commit();

    private:
        Store& m_store;
        bool m_done = false;
    };
    // Commits the writes of the open groups so far and lets every later write of them
    // commit on its own: the session has come to something that waits for a person (its
    // end, with the questionnaire).
    void endGroups();
    bool inGroup() const { return m_groupDepth > m_groupBase; }

    // A check run in the transaction of every write before its change (a session's hold
    // of its participant); it refuses the write by throwing something other than an
    // EngineError, which no retry catches. None by default.
    void setWriteCheck(std::function<void(Connection&)> check) { m_writeCheck = std::move(check); }

private:
    bool askFailureQuestion(const EngineError& error, const QString& status);
    [[noreturn]] void abandon();
    void joinGroup(Connection& connection);
    QString nextToken();
    void commitGroup();
    void dropGroup();
    void leaveGroup(bool keep);

    std::unique_ptr<Engine> m_engine;
    RetryQuestions& m_prompter;
    Pacer& m_pacer;
    RandomSource& m_random;
    GiveUp m_giveUp;
    int m_depth = 0;
    int m_groupDepth = 0;
    int m_groupBase = 0; // groups at this depth or below were ended by endGroups()
    // The group's writes so far, to write them again when its transaction was lost (a
    // failed statement rolls it back; a lost handle takes it along) before it committed.
    QList<std::function<void(Connection&)>> m_groupWrites;
    QString m_groupStatus;
    // This run's write steps, as the rows they append are stamped: "run:step".
    const QString m_writer;
    qint64 m_steps = 0;
    bool m_groupBegun = false; // the group's transaction was begun (and may be open)
    QString m_groupToken; // the token of the group's open transaction
    std::optional<Connection::Appended> m_groupAppended;
    std::function<void(Connection&)> m_writeCheck;
};

// A file whose own pages are damaged, found before anything was written to it.
class DamagedDatabase : public StoreError {
public:
    using StoreError::StoreError;
};

// Refuses a damaged file before a session or a command reads or writes it: throws
// DamagedDatabase with a message that names the file, what was found and the command
// that lists the damage. Does nothing on a server, nor when the database cannot be
// opened at all (the first access says why, as ever).
void refuseDamage(Engine& engine, Sweep sweep);

} // namespace aquilevel::store
