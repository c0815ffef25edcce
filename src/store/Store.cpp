#include "store/Store.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QTimer>


#include "store/TableRows.h"

#include <QUuid>

namespace aquilevel::store {

namespace {

constexpr int kSilentLockRetries = 10;
// A handle that is lost again and again means the engine itself is broken; after this
// many fresh starts in one access the failure is put to the person like any other.
constexpr int kLostHandleRestarts = 10;

} // namespace

Store::Store(std::unique_ptr<Engine> engine, RetryQuestions& prompter, Pacer& pacer,
             RandomSource& random, GiveUp giveUp)
    : m_engine(std::move(engine)), m_prompter(prompter), m_pacer(pacer), m_random(random),
      m_giveUp(std::move(giveUp)), m_writer(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

Store::~Store() = default;

void Store::read(const std::function<void(Connection&)>& step, const QString& source, const QString& status)
{
    const auto release = qScopeGuard([this] { CloseTable(); });
    retry(step, true, source, status);
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
                        QCoreApplication::translate("Store", "Error %1: %2").arg(error.number()).arg(status);
                    const QString text = error.description() + QStringLiteral("\r\n") + source +
                                         QStringLiteral("\r\n") +
                                         QCoreApplication::translate("Store", "Retry? (No to quit)");
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

QString Store::nextToken()
{
    return m_writer + QLatin1Char(':') + QString::number(++m_steps);
}

void Store::write(const std::function<void(Connection&)>& change, const QString& source,
                  const QString& status)
{
    if (!inGroup()) {
        if (!m_engine->commitCanBeLost()) {
            if (!m_writeCheck) {
                retry(change, false, source, status);
                return;
            }
            retry(
                [&](Connection& connection) {
                    // The check and the change in one transaction: nobody takes the
                    // participant over between them.
                    const bool own = !connection.inTransaction();
                    if (own)
                        connection.begin(true);
                    try {
                        m_writeCheck(connection);
                        change(connection);
                        if (own)
                            connection.commit();
                    } catch (...) {
                        if (own)
                            connection.rollback();
                        throw;
                    }
                },
                false, source, status);
            return;
        }
        const QString token = nextToken();
        std::optional<Connection::Appended> appended;
        bool tried = false;
        retry(
            [&](Connection& connection) {
                // An earlier try may have been committed just before its connection went.
                if (std::exchange(tried, true) && appended &&
                    stepLanded(connection, appended->table, appended->keys, token))
                    return;
                if (m_writeCheck)
                    m_writeCheck(connection);
                connection.setWriteToken(token);
                const auto note = qScopeGuard([&] {
                    if (connection.appended())
                        appended = connection.appended();
                    connection.setWriteToken({});
                });
                change(connection);
            },
            false, source, status);
        return;
    }
    retry(
        [&](Connection& connection) {
            joinGroup(connection);
            const auto note = qScopeGuard([&] {
                if (!m_groupAppended && connection.appended())
                    m_groupAppended = connection.appended();
            });
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
    // the group has written so far. The rows a group changes were all written before the
    // group began, so writing its changes again reaches the same rows.
    connection.begin(true);
    m_groupBegun = true;
    if (m_engine->commitCanBeLost()) {
        m_groupToken = nextToken();
        m_groupAppended.reset();
        connection.setWriteToken(m_groupToken);
    }
    if (m_writeCheck) // on the file the group keeps the write lock from here to its commit
        m_writeCheck(connection);
    for (const auto& earlier : std::as_const(m_groupWrites))
        earlier(connection);
    if (connection.appended())
        m_groupAppended = connection.appended();
}

void Store::commitGroup()
{
    if (m_groupWrites.isEmpty())
        return;
    retry(
        [&](Connection& connection) {
            // The commit's answer may have been lost after the server kept it.
            if (!connection.inTransaction() && m_groupAppended &&
                stepLanded(connection, m_groupAppended->table, m_groupAppended->keys, m_groupToken))
                return;
            joinGroup(connection);
            connection.commit();
            connection.setWriteToken({});
        },
        false, QStringLiteral("(commit)"), m_groupStatus);
    m_groupWrites.clear();
    m_groupStatus.clear();
    m_groupAppended.reset();
    m_groupBegun = false;
}

void Store::endGroups()
{
    commitGroup();
    m_groupBase = m_groupDepth;
}

void Store::dropGroup()
{
    const bool begun = std::exchange(m_groupBegun, false) || !m_groupWrites.isEmpty();
    m_groupWrites.clear();
    m_groupStatus.clear();
    m_groupAppended.reset();
    if (!begun)
        return;
    try {
        // Also when the group's first write failed after its transaction began.
        Connection& connection = m_engine->open(false);
        connection.rollback();
        connection.setWriteToken({});
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
    const QString text = QCoreApplication::translate("Store", "Error %1: %2\r\nStatus was %3\r\nRetry?")
                             .arg(error.number())
                             .arg(error.description(), status);
    return m_prompter.askRetry(QCoreApplication::translate("Store", "Problems opening table"), text, false);
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

void refuseDamage(Engine& engine, Sweep sweep)
{
    QStringList found;
    try {
        Connection& connection = engine.open(true);
        found = engine.damage(connection, sweep);
        engine.release();
    } catch (const EngineError&) {
        engine.discard(); // the first access says what is wrong, as ever
        return;
    }
    if (found.isEmpty())
        return;
    engine.discard();
    throw DamagedDatabase(QStringLiteral("The experiment database %1 is damaged (%2), so nothing is read from or "
                                         "written to it. See what is damaged with: aquilevel check")
                              .arg(engine.location(), found.first()));
}

} // namespace aquilevel::store
