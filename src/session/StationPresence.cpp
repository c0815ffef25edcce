#include "session/StationPresence.h"

#include "store/Engine.h"
#include "store/StationTables.h"
#include "store/Store.h"

#include <QDateTime>
#include <QSysInfo>

#include <algorithm>

namespace aquilevel {

StationPresence::StationPresence(store::Store& store, QString holder) : m_store(store), m_holder(std::move(holder))
{
    m_store.engine().setHolder(m_holder); // a server writes the row of the holder a session names
    m_timer.setInterval(kRefreshSeconds * 1000);
    connect(&m_timer, &QTimer::timeout, this, [this] { refresh(); });
}

StationPresence::~StationPresence()
{
    close(); // the program ends without it; a session object that goes away says so
}

void StationPresence::atLogin()
{
    say(store::PresenceTable::kAtLogin, {}, {});
}

void StationPresence::inSession(const QString& subject, const QString& version)
{
    say(store::PresenceTable::kInSession, subject, version);
}

void StationPresence::close()
{
    if (!announced() || m_state == QLatin1String(store::PresenceTable::kClosed))
        return;
    say(store::PresenceTable::kClosed, {}, {});
    m_timer.stop();
}

void StationPresence::say(const char* state, const QString& subject, const QString& version)
{
    m_state = QString::fromLatin1(state);
    m_subject = subject;
    m_version = version;
    if (m_started.isEmpty())
        m_started = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    refresh();
    m_timer.start(); // the next beat a full interval after this word
}

bool StationPresence::refresh()
{
    // As the hold's refresh: never inside another access or a step's open transaction,
    // and never through the retry policy, which would ask the person at the screen.
    if (!announced() || m_store.isBusy())
        return false;
    store::Engine& engine = m_store.engine();
    try {
        store::Connection& c = engine.open(false);
        if (c.inTransaction())
            return false;
        const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        c.begin(true);
        try {
            store::PresenceTable::announce(c, {m_holder, QSysInfo::machineHostName(), m_state, m_subject, m_version,
                                               m_started, now});
            c.commit();
        } catch (...) {
            c.rollback();
            throw;
        }
        engine.release();
    } catch (const store::EngineError& error) {
        // A database that cannot be reached: a minute to the next try. A lock held by
        // another station is only tried again at the next beat, well within the time
        // after which a silent station is taken for a stopped one.
        if (error.kind() == store::ErrorClass::LostHandle) {
            engine.discard();
            m_timer.setInterval(std::max(m_interval, kAwayMs));
        }
        return false;
    } catch (const std::exception&) {
        return false; // a database of an older layout, not yet upgraded: nothing to say
    }
    m_timer.setInterval(m_interval);
    emit refreshed();
    return true;
}

} // namespace aquilevel
