#include "session/StationHold.h"

#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/Store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>

#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
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

// A holder is "pid:machine:token", the token made anew at each start; a server shows
// another's without the token. Its mark is "pid_machine_token.run" in the run folder.
QString markPattern(const QString& holder)
{
    static const QRegularExpression part(QStringLiteral("^[0-9A-Za-z-]*$"));
    const QStringList parts = holder.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3 || parts.first().isEmpty())
        return {};
    for (const QString& p : parts)
        if (!part.match(p).hasMatch()) // never a path of another's making
            return {};
    return parts.at(0) + QLatin1Char('_') + parts.at(1) + QLatin1Char('_') +
           (parts.size() == 3 ? parts.at(2) : QStringLiteral("*")) + QStringLiteral(".run");
}

// This start of the computer: a mark from before a restart, or one that came with a
// copied disk image, tells nothing about a run here.
QByteArray bootId()
{
    static const QByteArray id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }();
    return id;
}

// A mark names its holder and the boot it ran in.
QByteArray markText(const QString& holder)
{
    return holder.toUtf8() + '\n' + bootId() + '\n';
}

// A mark as read: whom it names, the boot it was written in, and whether its run still
// holds its lock.
struct Mark {
    QByteArray holder;
    QByteArray boot;
    bool running = false;
    bool found = false;
};

Mark readMark(const QString& path)
{
    Mark mark;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return mark;
    char buffer[512];
    const ssize_t size = ::read(fd, buffer, sizeof buffer);
    const QList<QByteArray> lines = QByteArray(buffer, size > 0 ? int(size) : 0).split('\n');
    mark.holder = lines.value(0);
    mark.boot = lines.value(1);
    mark.running = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    mark.found = true;
    ::close(fd);
    return mark;
}

// Whether `mark` is of a run of this boot that has ended, and of `holder` (or, `holder`
// being a server's "pid:machine", of a holder it shows).
bool endedRunOf(const Mark& mark, const QString& holder)
{
    const QByteArray named = holder.toUtf8();
    return mark.found && !mark.running && !bootId().isEmpty() && mark.boot == bootId() &&
           (mark.holder == named || mark.holder.startsWith(named + ':'));
}

// The marks of a holder that ran on this computer and has ended: found here, of this
// boot, and none of them locked. A holder without such a mark here ran elsewhere
// (another computer, or one cloned from the same disk image) and is judged by its
// refreshes alone.
QStringList endedMarks(const QString& station, const QString& holder)
{
    const QString pattern = markPattern(holder);
    if (pattern.isEmpty() || station != QSysInfo::machineHostName())
        return {};
    const QDir folder(StationHold::runFolder());
    QStringList marks;
    for (const QString& name : folder.entryList({pattern}, QDir::Files)) {
        const QString path = folder.filePath(name);
        if (!endedRunOf(readMark(path), holder))
            return {};
        marks.append(path);
    }
    return marks;
}

} // namespace

StationHold::StationHold(store::Store& store, std::function<qint32()> lastEvent)
    : m_store(store), m_lastEvent(std::move(lastEvent)),
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

QString StationHold::runFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/aquilevel/runs");
}

void StationHold::markRun()
{
    if (m_runMark >= 0 || !QDir().mkpath(runFolder()))
        return; // without a mark a restart here waits out the stale time like anyone else
    const QDir folder(runFolder());
    // Marks left by runs before this boot (a power cut) or that came with the disk
    // image: nobody here can hold their lock any more.
    for (const QString& name : folder.entryList({QStringLiteral("*.run")}, QDir::Files)) {
        const Mark mark = readMark(folder.filePath(name));
        if (mark.found && !mark.running && mark.boot != bootId())
            QFile::remove(folder.filePath(name));
    }
    const QByteArray path = QFile::encodeName(folder.filePath(markPattern(m_holder)));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const QByteArray text = markText(m_holder);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::write(fd, text.constData(), size_t(text.size())) != text.size()) {
        ::close(fd);
        ::unlink(path.constData());
        return;
    }
    m_runMark = fd;
}

void StationHold::dropMark()
{
    if (m_runMark < 0)
        return;
    QFile::remove(runFolder() + QLatin1Char('/') + markPattern(m_holder));
    ::close(m_runMark);
    m_runMark = -1;
}

std::optional<QString> StationHold::take(const QString& typed, const QString& version)
{
    const QString subject = typed.trimmed(); // a hold is of the name as the login took it
    const QString key = keyOf(subject);
    if (held() && (key != m_key || store::nameKey(version) != store::nameKey(m_version)))
        release();
    markRun();
    std::optional<QString> refusal;
    QStringList ended;
    m_store.transaction(
        [&](store::Connection& c) {
            refusal.reset();
            const std::optional<store::HoldRow> hold = store::HoldTable::find(c, subject, version);
            ended = hold ? endedMarks(hold->Station, hold->Holder) : QStringList();
            const bool silent = hold && silentTooLong(*hold);
            const std::optional<store::HoldRow> other =
                store::HoldTable::take(c, ownRow(version, subject), !ended.isEmpty(), silent);
            if (!other)
                return;
            // When it last wrote: its newest event row, else the moment it took the hold.
            const QDateTime now = QDateTime::currentDateTimeUtc();
            QDateTime last = store::EventTable::lastWritten(c, other->Subject, version);
            if (!last.isValid())
                last = utc(other->TakenUtc);
            refusal = tr("Participant %1 is playing version %2 on station %3 "
                         "(last event %4 s ago). Should that station have stopped, Start "
                         "takes the participant over once it has been silent for %5 s.")
                          .arg(other->Subject, version, other->Station)
                          .arg(last.isValid() ? qMax<qint64>(0, last.secsTo(now)) : 0)
                          .arg(kStaleSeconds);
        },
        false, kStatus);
    if (refusal)
        return refusal;
    for (const QString& mark : std::as_const(ended))
        QFile::remove(mark);
    m_key = key;
    m_version = version;
    m_subject = subject;
    m_lost = false;
    m_store.setWriteCheck([this](store::Connection& c) { checkStillHeld(c); });
    m_timer.start();
    return std::nullopt;
}

bool StationHold::silentTooLong(const store::HoldRow& hold)
{
    Sighting& seen = m_sightings[keyOf(hold.Subject) + QLatin1Char('\n') + store::nameKey(hold.Version)];
    if (!seen.since.isValid() || seen.holder != hold.Holder || seen.refreshed != hold.RefreshedUtc) {
        seen.holder = hold.Holder;
        seen.refreshed = hold.RefreshedUtc;
        seen.since.start();
        return false;
    }
    return seen.since.elapsed() >= m_staleLimit;
}

void StationHold::checkStillHeld(store::Connection& c)
{
    if (!m_lost && store::HoldTable::keep(c, ownRow(m_version, m_subject), lastEvent()))
        return;
    loseHold();
    throw HoldLost(lostMessage());
}

QString StationHold::lostMessage() const
{
    return tr("Another station now holds participant %1 of version %2. This station has stopped "
              "and stores nothing more for the participant; the session can be continued at "
              "that station.")
        .arg(m_subject, m_version);
}

void StationHold::loseHold()
{
    if (m_lost)
        return;
    m_lost = true;
    m_timer.stop();
    std::fprintf(stderr, "%s\n", qPrintable(lostMessage()));
    emit lost(lostMessage());
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
    if (!held() || m_lost || m_store.isBusy())
        return;
    store::Engine& engine = m_store.engine();
    try {
        store::Connection& c = engine.open(false);
        if (c.inTransaction())
            return;
        bool mine = false;
        c.begin(true);
        try {
            mine = store::HoldTable::refresh(c, ownRow(m_version, m_subject), lastEvent());
            c.commit();
        } catch (...) {
            c.rollback();
            throw;
        }
        engine.release();
        if (!mine) {
            // Another copy took the participant over while this one could not refresh:
            // its hold is left alone.
            loseHold();
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
    m_store.setWriteCheck({});
    store::Engine& engine = m_store.engine();
    try {
        if (!m_lost)
            store::HoldTable::remove(engine.open(false), m_subject, m_version, m_holder);
        engine.release();
    } catch (const std::exception&) {
        // Left to go stale.
    }
    m_lost = false;
    dropMark(); // the process may end right after, without running destructors
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
