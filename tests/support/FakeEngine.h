#pragma once

#include "store/Engine.h"
#include "store/EngineError.h"

#include <QMap>
#include <QStringList>

#include <functional>
#include <memory>

namespace aquilevel::test {

// A real engine (normally a TempDatabase's file) that a test watches and breaks. Every
// call is handed on to it and logged: "open ro", "open rw", "release", "discard",
// "create", "begin", "commit", "rollback", "query T" for a read of table T, and
// "insert T", "update T", "delete T" for a write (other statements: "execute SQL").
// Failures are scripted: at open, at the n-th write statement (before it reaches the
// file; an open transaction is rolled back with it, as the file does), or at commit,
// where a commit may reach the file and still fail: its answer is lost.
class FakeEngine final : public store::Engine {
public:
    using Thrower = std::function<void()>;

    explicit FakeEngine(std::unique_ptr<store::Engine> real);
    ~FakeEngine() override;

    QString location() const override { return m_real->location(); }
    store::Connection& open(bool readOnly) override;
    void release() override;
    void discard() override;
    void create(const std::function<void(store::Connection&)>& fill) override;
    bool holdsTables() override { return m_real->holdsTables(); }
    bool commitCanBeLost() const override { return commitsCanBeLost; }
    void setHolder(const QString& holder) override { m_real->setHolder(holder); }
    QStringList damage(store::Connection&, store::Sweep sweep = store::Sweep::Whole) override;

    // The next `times` opens fail.
    void failOpen(store::ErrorClass kind, int number, int times = 1);
    // The next `times` write statements fail, after those already scripted.
    void failWrite(store::ErrorClass kind, int number, int times = 1);
    // The n-th write statement from now (1: the next) runs `thrower` instead.
    void failWriteAt(int n, Thrower thrower);
    // The next `times` commits fail; with landed each is kept by the file first.
    void failCommit(store::ErrorClass kind, int number, int times = 1, bool landed = false);
    // The next commit is kept by the file and then reported as a lost handle.
    void loseCommitAnswer(int times = 1) { failCommit(store::ErrorClass::LostHandle, 91, times, true); }

    // How many entries of the log are "insert T" (or another entry).
    int count(const QString& entry) const { return int(log.count(entry)); }

    // What commitCanBeLost() answers; at first what the real engine answers.
    bool commitsCanBeLost = false;
    // When set, only the writes of this table are counted and can fail.
    QString countedTable;
    // Called each time writes reach the file: a write outside a transaction, or a commit.
    std::function<void()> onKept;

    QStringList log;
    QStringList executed;  // the text of every write statement tried
    QStringList committed; // the text of every write statement the file kept
    int writes = 0;        // write statements tried (of countedTable, when set)
    int commits = 0;       // commits the file kept

private:
    class Wrapped;
    friend class Wrapped;
    struct Failure {
        store::ErrorClass kind;
        int number;
        bool landed = false;
    };
    static void throwFailure(const Failure& failure);

    std::unique_ptr<store::Engine> m_real;
    std::unique_ptr<Wrapped> m_connection;
    QList<Failure> m_openFailures;
    QMap<int, Thrower> m_writeFailures; // by the number of the write, counted from 1
    QList<Failure> m_commitFailures;
};

} // namespace aquilevel::test
