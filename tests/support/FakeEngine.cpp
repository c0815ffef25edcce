#include "support/FakeEngine.h"

#include <QRegularExpression>

namespace aquilevel::test {

namespace {

// "insert T", "update T", "delete T" for a statement that writes table T.
QString writeEntry(const QString& sql)
{
    static const QRegularExpression write(
        QStringLiteral("^\\s*(INSERT\\s+INTO|UPDATE|DELETE\\s+FROM)\\s+\"?(\\w+)\"?"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = write.match(sql);
    if (!match.hasMatch())
        return QStringLiteral("execute ") + sql;
    return match.captured(1).section(QLatin1Char(' '), 0, 0).toLower() + QLatin1Char(' ') + match.captured(2);
}

QString readEntry(const QString& sql)
{
    static const QRegularExpression from(QStringLiteral("\\bFROM\\s+\"?(\\w+)\"?"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = from.match(sql);
    return QStringLiteral("query ") + (match.hasMatch() ? match.captured(1) : sql);
}

} // namespace

class FakeEngine::Wrapped final : public store::Connection {
public:
    explicit Wrapped(FakeEngine& engine) : m_engine(engine) {}

    store::Connection* inner = nullptr;
    QStringList pending; // written in the open transaction, not yet kept

    store::Dialect dialect() const override { return inner->dialect(); }
    store::Rows query(const store::Sql& sql, const QVariantList& params) override
    {
        m_engine.log.append(readEntry(sql.in(dialect())));
        return inner->query(sql, params);
    }
    void forEach(const store::Sql& sql, const QVariantList& params,
                 const std::function<bool(const QVariantList&)>& take) override
    {
        m_engine.log.append(readEntry(sql.in(dialect())));
        inner->forEach(sql, params, take);
    }
    qint64 execute(const store::Sql& sql, const QVariantList& params) override
    {
        const QString text = sql.in(dialect());
        const QString entry = writeEntry(text);
        m_engine.log.append(entry);
        m_engine.executed.append(text);
        const bool counted = m_engine.countedTable.isEmpty() ||
                             entry.section(QLatin1Char(' '), 1) == m_engine.countedTable;
        if (counted) {
            const int n = ++m_engine.writes;
            if (const Thrower thrower = m_engine.m_writeFailures.take(n)) {
                rollback(); // a failed statement ends the file's transaction
                thrower();
            }
        }
        const qint64 changed = inner->execute(sql, params);
        if (inner->inTransaction()) {
            pending.append(text);
        } else {
            m_engine.committed.append(text);
            if (m_engine.onKept)
                m_engine.onKept();
        }
        return changed;
    }
    void begin(bool write) override
    {
        m_engine.log.append(QStringLiteral("begin"));
        inner->begin(write);
        pending.clear();
    }
    void commit() override
    {
        m_engine.log.append(QStringLiteral("commit"));
        if (!m_engine.m_commitFailures.isEmpty()) {
            const Failure failure = m_engine.m_commitFailures.takeFirst();
            if (failure.landed)
                keep();
            else
                rollback();
            throwFailure(failure);
        }
        keep();
    }
    void rollback() override
    {
        if (inner && inner->inTransaction())
            m_engine.log.append(QStringLiteral("rollback"));
        if (inner)
            inner->rollback();
        pending.clear();
    }
    bool inTransaction() const override { return inner && inner->inTransaction(); }

private:
    void keep()
    {
        inner->commit();
        ++m_engine.commits;
        m_engine.committed.append(pending);
        pending.clear();
        if (m_engine.onKept)
            m_engine.onKept();
    }

    FakeEngine& m_engine;
};

FakeEngine::FakeEngine(std::unique_ptr<store::Engine> real)
    : commitsCanBeLost(real->commitCanBeLost()), m_real(std::move(real)),
      m_connection(std::make_unique<Wrapped>(*this))
{
}

FakeEngine::~FakeEngine() = default;

store::Connection& FakeEngine::open(bool readOnly)
{
    log.append(readOnly ? QStringLiteral("open ro") : QStringLiteral("open rw"));
    if (!m_openFailures.isEmpty())
        throwFailure(m_openFailures.takeFirst());
    m_connection->inner = &m_real->open(readOnly);
    return *m_connection;
}

void FakeEngine::release()
{
    log.append(QStringLiteral("release"));
    m_real->release();
}

void FakeEngine::discard()
{
    log.append(QStringLiteral("discard"));
    m_connection->inner = nullptr;
    m_connection->pending.clear();
    m_real->discard();
}

void FakeEngine::create(const std::function<void(store::Connection&)>& fill)
{
    log.append(QStringLiteral("create"));
    m_real->create(fill);
}

QStringList FakeEngine::damage(store::Connection&, store::Sweep sweep)
{
    return m_connection->inner ? m_real->damage(*m_connection->inner, sweep) : QStringList();
}

void FakeEngine::failOpen(store::ErrorClass kind, int number, int times)
{
    for (int i = 0; i < times; ++i)
        m_openFailures.append({kind, number});
}

void FakeEngine::failWrite(store::ErrorClass kind, int number, int times)
{
    const int after = m_writeFailures.isEmpty() ? writes : qMax(writes, m_writeFailures.lastKey());
    for (int i = 1; i <= times; ++i)
        m_writeFailures.insert(after + i, [kind, number] { throwFailure({kind, number}); });
}

void FakeEngine::failWriteAt(int n, Thrower thrower)
{
    m_writeFailures.insert(writes + n, std::move(thrower));
}

void FakeEngine::failCommit(store::ErrorClass kind, int number, int times, bool landed)
{
    for (int i = 0; i < times; ++i)
        m_commitFailures.append({kind, number, landed});
}

void FakeEngine::throwFailure(const Failure& failure)
{
    throw store::EngineError(failure.kind, failure.number,
                             QStringLiteral("scripted failure %1").arg(failure.number));
}

} // namespace aquilevel::test
