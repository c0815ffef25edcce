#include "support/FakeEngine.h"

namespace aquilevel::test {

FakeEngine::FakeEngine() : m_connection(*this) {}

store::Connection& FakeEngine::open(bool readOnly)
{
    log.append(readOnly ? QStringLiteral("open ro") : QStringLiteral("open rw"));
    throwNext(m_openFailures);
    return m_connection;
}

void FakeEngine::failOpen(store::ErrorClass kind, int number, int times)
{
    for (int i = 0; i < times; ++i)
        m_openFailures.append({kind, number});
}

void FakeEngine::failWrite(store::ErrorClass kind, int number, int times)
{
    for (int i = 0; i < times; ++i)
        m_writeFailures.append({kind, number});
}

void FakeEngine::throwNext(QList<Failure>& queue)
{
    if (queue.isEmpty())
        return;
    const Failure failure = queue.takeFirst();
    throw store::EngineError(failure.kind, failure.number,
                             QStringLiteral("scripted failure %1").arg(failure.number));
}

QStringList FakeEngine::FakeConnection::columns(const QString& table)
{
    m_engine.log.append(QStringLiteral("columns ") + table);
    return m_engine.tableColumns;
}

store::Rows FakeEngine::FakeConnection::select(const store::Query& query, bool withRowIds)
{
    m_engine.log.append(QStringLiteral("select ") + query.text());
    store::Rows rows = m_engine.selectResult;
    if (withRowIds)
        for (int i = 0; i < rows.values.size(); ++i)
            rows.rowIds.append(i + 1);
    return rows;
}

void FakeEngine::FakeConnection::write(const QString& what)
{
    m_engine.log.append(what);
    try {
        m_engine.throwNext(m_engine.m_writeFailures);
    } catch (...) {
        rollback();
        throw;
    }
}

void FakeEngine::FakeConnection::insert(const QString& table, const store::FieldValues& values)
{
    write(QStringLiteral("insert ") + table);
    m_engine.inserted.append(values);
}

void FakeEngine::FakeConnection::update(const QString& table, qint64, const store::FieldValues&)
{
    write(QStringLiteral("update ") + table);
}

void FakeEngine::FakeConnection::begin(bool)
{
    m_inTransaction = true;
    m_kept = m_engine.inserted.size();
}

void FakeEngine::FakeConnection::rollback()
{
    if (m_inTransaction)
        m_engine.inserted.resize(m_kept);
    m_inTransaction = false;
}

} // namespace aquilevel::test
