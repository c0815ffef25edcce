#include "session/StationHold.h"

#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/Store.h"

#include <QDateTime>
#include <QSysInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>

#include <signal.h>
#include <unistd.h>

namespace aquilevel {

namespace {

const QString kStatus = QStringLiteral("Holding the participant");

QString nowText()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QDateTime utc(const QVariant& value)
{
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(value.toString(), Qt::ISODate);
    return time;
}

// This computer, beyond its host name (lab computers cloned from one image may share
// that): its machine id when the system has one.
QString machineId()
{
    static const QString id = QString::fromLatin1(QSysInfo::machineUniqueId().toHex());
    return id;
}

// A holder names its process and computer: "pid:machine:unique". A copy on this computer
// whose process is gone (killed, crashed) holds nothing, whatever its last refresh.
bool deadOnThisStation(const QString& station, const QString& holder)
{
    bool ok = false;
    const qint64 pid = holder.section(QLatin1Char(':'), 0, 0).toLongLong(&ok);
    if (!ok || pid <= 0 || station != QSysInfo::machineHostName() || machineId().isEmpty() ||
        holder.section(QLatin1Char(':'), 1, 1) != machineId())
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

StationHold::StationHold(store::Store& store)
    : m_store(store),
      m_holder(QStringLiteral("%1:%2:%3")
                   .arg(::getpid())
                   .arg(machineId(), QUuid::createUuid().toString(QUuid::WithoutBraces)))
{
    m_store.engine().setHolder(m_holder);
    m_timer.setInterval(kRefreshSeconds * 1000);
    connect(&m_timer, &QTimer::timeout, this, [this] { refresh(); });
}

StationHold::~StationHold()
{
    release(); // the program ends without it; a session object that goes away gives it up
}

std::optional<QString> StationHold::take(const QString& typed, const QString& version)
{
    const QString subject = typed.trimmed(); // a hold is of the name as the login took it
    const QString key = keyOf(subject);
    if (held() && (key != m_key || store::nameKey(version) != store::nameKey(m_version)))
        release();
    std::optional<QString> refusal;
    m_store.transaction(
        [&](store::Connection& c) {
            refusal.reset();
            const std::optional<store::HoldRow> hold = store::HoldTable::find(c, subject, version);
            const bool gone = hold && deadOnThisStation(hold->Station, hold->Holder);
            const std::optional<store::HoldRow> other = store::HoldTable::take(c, ownRow(version, subject), gone);
            if (!other)
                return;
            // When it last wrote: its newest event row, else the moment it took the hold.
            const QDateTime now = QDateTime::currentDateTimeUtc();
            QDateTime last = store::EventTable::lastWritten(c, other->Subject, version);
            if (!last.isValid())
                last = utc(other->TakenUtc);
            refusal = QStringLiteral("Participant %1 is playing version %2 on station %3 "
                                     "(last event %4 s ago).")
                          .arg(other->Subject, version, other->Station)
                          .arg(last.isValid() ? qMax<qint64>(0, last.secsTo(now)) : 0);
        },
        false, kStatus);
    if (refusal)
        return refusal;
    m_key = key;
    m_version = version;
    m_subject = subject;
    m_timer.start();
    return std::nullopt;
}

store::HoldRow StationHold::ownRow(const QString& version, const QString& subject) const
{
    const QString stamp = nowText();
    return {subject, version, QSysInfo::machineHostName(), m_holder, stamp, stamp};
}

void StationHold::refresh()
{
    // Never inside another access or a step's open transaction, and never through the
    // retry policy: a refresh that cannot be written now is written at the next beat.
    if (!held() || m_store.isBusy())
        return;
    store::Engine& engine = m_store.engine();
    try {
        store::Connection& c = engine.open(false);
        if (c.inTransaction())
            return;
        bool mine = false;
        c.begin(true);
        try {
            mine = store::HoldTable::refresh(c, ownRow(m_version, m_subject));
            c.commit();
        } catch (...) {
            c.rollback();
            throw;
        }
        engine.release();
        if (!mine) {
            // Another copy took the participant over while this one could not refresh:
            // its hold is left alone.
            m_timer.stop();
            std::fprintf(stderr, "Another station now holds participant %s of version %s.\n",
                         qPrintable(m_subject), qPrintable(m_version));
            return;
        }
        emit refreshed();
    } catch (const store::EngineError& error) {
        if (error.kind() == store::ErrorClass::LostHandle)
            engine.discard();
    } catch (const std::exception&) {
        // An engine without the table: nothing to refresh.
    }
}

void StationHold::release()
{
    if (!held())
        return;
    m_timer.stop();
    store::Engine& engine = m_store.engine();
    try {
        store::HoldTable::remove(engine.open(false), m_subject, m_version, m_holder);
        engine.release();
    } catch (const std::exception&) {
        // Left to go stale.
    }
    m_key.clear();
    m_version.clear();
    m_subject.clear();
}

QStringList StationHold::releaseFromOutside(store::Store& store, const QString& subject, const QString& version)
{
    QStringList stations;
    store.transaction(
        [&](store::Connection& c) {
            stations.clear();
            if (const std::optional<store::HoldRow> hold = store::HoldTable::find(c, subject.trimmed(), version))
                stations.append(hold->Station);
            store::HoldTable::removeAny(c, subject.trimmed(), version);
        },
        false, QStringLiteral("Releasing a hold"));
    return stations;
}

} // namespace aquilevel
