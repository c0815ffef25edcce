#include "store/Store.h"

#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QTimer>


#include <QRegularExpression>

namespace aquilevel::store {

namespace {

constexpr int kSilentLockRetries = 10;
// A handle that is lost again and again means the engine itself is broken; after this
// many fresh starts in one access the failure is put to the person like any other.
constexpr int kLostHandleRestarts = 10;

// "select * from T ..." reads whole rows of one table, so its rows can be written back.
QString wholeRowTable(const QString& sql)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+([A-Za-z_][A-Za-z0-9_]*)(\s|;|$))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(sql);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

Store::Store(std::unique_ptr<Engine> engine, RetryQuestions& prompter, Pacer& pacer,
             RandomSource& random, GiveUp giveUp)
    : m_engine(std::move(engine)), m_prompter(prompter), m_pacer(pacer), m_random(random),
      m_giveUp(std::move(giveUp))
{
}

Store::~Store() = default;

std::unique_ptr<RecordSet> Store::OpenTable(const Query& source, bool readOnly,
                                            const QString& status)
{
    std::optional<Rows> rows;
    QString table;
    retry(
        [&](Connection& connection) {
            if (source.isTableName()) {
                if (readOnly) {
                    rows = connection.select(
                        Query(QStringLiteral("select * from \"%1\"").arg(source.text())), false);
                } else {
                    connection.columns(source.text()); // the table must exist
                    rows.reset();                      // read only if navigated
                    table = source.text();
                }
                return;
            }
            const QString writable = readOnly ? QString() : wholeRowTable(source.text());
            rows = connection.select(source, !writable.isEmpty());
            table = writable;
        },
        readOnly, source.text(), status);
    return std::make_unique<RecordSet>(*this, readOnly ? RecordSet::Kind::Snapshot
                                                       : RecordSet::Kind::Dynaset,
                                       source, status, std::move(rows), table);
}

void Store::CloseTable()
{
    m_engine->release();
}

void Store::transaction(const std::function<void(Connection&)>& work, bool readOnly,
                        const QString& status)
{
    // Released at the end like a record set, however the work ends.
    const auto release = qScopeGuard([this] { CloseTable(); });
    retry(
        [&](Connection& connection) {
            connection.begin(!readOnly);
            try {
                work(connection);
                connection.commit();
            } catch (...) {
                connection.rollback();
                throw;
            }
        },
        readOnly, QStringLiteral("(transaction)"), status);
}

void Store::retry(const std::function<void(Connection&)>& step, bool readOnly,
                  const QString& source, const QString& status)
{
    const QScopedValueRollback busy(m_depth, m_depth + 1);
    int retryCount = 0;
    int restarts = 0;
    for (;;) {
        try {
            Connection& connection = m_engine->open(readOnly);
            step(connection);
            return;
        } catch (const EngineError& error) {
            switch (error.kind()) {
            case ErrorClass::ConcurrentChange:
                continue;
            case ErrorClass::LostHandle:
                m_engine->discard();
                if (++restarts <= kLostHandleRestarts)
                    continue;
                restarts = 0;
                if (askFailureQuestion(error, status))
                    continue;
                break;
            case ErrorClass::LockConflict: {
                ++retryCount;
                if (retryCount > kSilentLockRetries) {
                    const QString title =
                        QStringLiteral("Error %1: %2").arg(error.number()).arg(status);
                    const QString text = error.description() + QStringLiteral("\r\n") + source +
                                         QStringLiteral("\r\nRetry? (No to quit)");
                    if (m_prompter.askRetry(title, text, true)) {
                        retryCount = 1;
                    } else {
                        if (askFailureQuestion(error, status))
                            continue; // at once, the count stays above the limit
                        break;
                    }
                }
                m_pacer.processEventsOnce();
                const qint64 w = static_cast<qint64>(m_random.next() * 3000 + 1000);
                m_pacer.waitMicroseconds(w * retryCount * retryCount);
                continue;
            }
            case ErrorClass::Other:
                if (askFailureQuestion(error, status))
                    continue;
                break;
            }
            abandon();
        }
    }
}

void Store::write(const std::function<void(Connection&)>& change, const QString& source,
                  const QString& status)
{
    if (!inGroup()) {
        retry(change, false, source, status);
        return;
    }
    retry(
        [&](Connection& connection) {
            joinGroup(connection);
            change(connection);
        },
        false, source, status);
    m_groupWrites.append(change);
    if (m_groupStatus.isEmpty())
        m_groupStatus = status;
}

void Store::joinGroup(Connection& connection)
{
    if (connection.inTransaction())
        return;
    // First write of the group, or its transaction was lost: start over with everything
    // the group has written so far. The rows a group changes by rowid were all written
    // before the group began, so writing its changes again reaches the same rows.
    connection.begin(true);
    for (const auto& earlier : std::as_const(m_groupWrites))
        earlier(connection);
}

void Store::commitGroup()
{
    if (m_groupWrites.isEmpty())
        return;
    retry(
        [&](Connection& connection) {
            joinGroup(connection);
            connection.commit();
        },
        false, QStringLiteral("(commit)"), m_groupStatus);
    m_groupWrites.clear();
    m_groupStatus.clear();
}

void Store::endGroups()
{
    commitGroup();
    m_groupBase = m_groupDepth;
}

void Store::dropGroup()
{
    const bool pending = !m_groupWrites.isEmpty();
    m_groupWrites.clear();
    m_groupStatus.clear();
    if (!pending)
        return;
    try {
        m_engine->open(false).rollback();
    } catch (const EngineError&) {
        m_engine->discard(); // a handle that cannot even roll back is not trusted again
    }
}

Store::Group::Group(Store& store) : m_store(store)
{
    ++m_store.m_groupDepth;
}

void Store::leaveGroup(bool keep)
{
    if (m_groupDepth == m_groupBase + 1) { // the outermost group still open
        if (keep)
            commitGroup();
        else
            dropGroup();
    }
    --m_groupDepth;
    m_groupBase = qMin(m_groupBase, m_groupDepth);
}

Store::Group::~Group()
{
    if (!m_done)
        m_store.leaveGroup(false);
}

void Store::Group::commit()
{
    if (m_done)
        return;
    m_store.leaveGroup(true); // a commit that throws leaves the group to its destructor
    m_done = true;
}

bool Store::askFailureQuestion(const EngineError& error, const QString& status)
{
    const QString text = QStringLiteral("Error %1: %2\r\nStatus was %3\r\nRetry?")
                             .arg(error.number())
                             .arg(error.description(), status);
    return m_prompter.askRetry(QStringLiteral("Problems opening table"), text, false);
}

void Store::abandon()
{
    // What the person gave up on is not kept half-done.
    dropGroup();
    if (m_giveUp)
        m_giveUp();
    throw StoreAborted();
}

void Store::whenIdle(QObject* context, std::function<void()> step, int pollMs)
{
    if (!isBusy()) {
        step();
        return;
    }
    QTimer::singleShot(pollMs, context, [this, context, step = std::move(step), pollMs]() mutable {
        whenIdle(context, std::move(step), pollMs);
    });
}

} // namespace aquilevel::store
