#pragma once

#include "store/Engine.h"
#include "store/EngineError.h"

#include <QHash>
#include <QStringList>

namespace aquilevel::test {

// An engine whose failures a test scripts. Every call is logged ("open", "release",
// "discard", "columns T", "select SQL", "insert T", "update T"). Queued failures are
// thrown by open() (the steps of opening) or by writes, in order.
class FakeEngine final : public store::Engine {
public:
    struct Failure {
        store::ErrorClass kind;
        int number;
    };

    class FakeConnection final : public store::Connection {
    public:
        explicit FakeConnection(FakeEngine& engine) : m_engine(engine) {}
        QStringList columns(const QString& table) override;
        store::Rows select(const store::Query& query, bool withRowIds) override;
        void insert(const QString& table, const store::FieldValues& values) override;
        void update(const QString& table, qint64 rowId, const store::FieldValues& values) override;
        // A transaction's rows are dropped from `inserted` when it is rolled back or a
        // write in it fails, as in the file.
        void begin(bool) override;
        void commit() override { m_inTransaction = false; }
        void rollback() override;
        bool inTransaction() const override { return m_inTransaction; }

    private:
        void write(const QString& what);
        FakeEngine& m_engine;
        bool m_inTransaction = false;
        qsizetype m_kept = 0;
    };

    FakeEngine();

    QString location() const override { return QStringLiteral("fake"); }
    store::Connection& open(bool readOnly) override;
    void release() override { log.append(QStringLiteral("release")); }
    void discard() override { log.append(QStringLiteral("discard")); }

    // Queue `times` failures of one kind for open(), or for writes.
    void failOpen(store::ErrorClass kind, int number, int times = 1);
    void failWrite(store::ErrorClass kind, int number, int times = 1);

    QStringList log;
    QStringList tableColumns = {QStringLiteral("Subject"), QStringLiteral("Version"),
                                QStringLiteral("Trial")};
    store::Rows selectResult;
    QList<store::FieldValues> inserted;

private:
    void throwNext(QList<Failure>& queue);

    FakeConnection m_connection;
    QList<Failure> m_openFailures;
    QList<Failure> m_writeFailures;
};

} // namespace aquilevel::test
