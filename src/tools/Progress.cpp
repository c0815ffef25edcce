#include "tools/Progress.h"

#include "tools/Printable.h"

#include "config/ExperimentSetup.h"
#include "session/StationHold.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/NameKey.h"
#include "store/StationTables.h"
#include "store/Store.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace aquilevel::tools {

namespace {

const QString kStatus = QStringLiteral("Reading progress");
const QString kAfterCost = QStringLiteral("After Cost Calculation");

// Names and versions are one when their keys are, as the database finds them.
QString keyOf(const QString& version, const QString& subject)
{
    return store::nameKey(version) + QChar(0x1f) + store::nameKey(subject);
}

// Date (YYYY-MM-DD) and Time (HH:MM:SS) columns as one local moment.
QDateTime momentOf(const QVariant& date, const QVariant& time)
{
    const QDate d = QDate::fromString(date.toString().left(10), Qt::ISODate);
    const QTime t = QTime::fromString(time.toString().trimmed(), QStringLiteral("HH:mm:ss"));
    if (!d.isValid() || !t.isValid())
        return {};
    return QDateTime(d, t);
}

struct SetupFacts {
    QString version;
    int maxTrial = 0;
    double baseMoney = 0;
    qint64 longestStageMs = 0;
    QString currencySymbol;
};

// A timed stage of a period in ms: the flows' delays and animations, and in time-driven
// play the environment's clock.
qint64 longestStage(const auto& field)
{
    qint64 longest = 0;
    for (const char* stage : {"envDelay", "EnvMv", "userDelay", "UsrMv"})
        longest = std::max(longest, field(QString::fromLatin1(stage)).toLongLong());
    const QVariant timeDriven = field(QStringLiteral("IsTimeDriven"));
    if (timeDriven.toBool() || timeDriven.toInt() != 0)
        longest = std::max(longest, qint64(field(QStringLiteral("TimeBetweenEnvTries")).toDouble()));
    return longest;
}

const QStringList eventColumns = {QStringLiteral("Subject"),   QStringLiteral("Version"),
                                  QStringLiteral("eventType"), QStringLiteral("Trial"),
                                  QStringLiteral("Date"),      QStringLiteral("Time"),
                                  QStringLiteral("BaseMoney"), QStringLiteral("TotBonus"),
                                  QStringLiteral("Station")};

struct RawReading {
    QList<SetupFacts> setups;
    QList<store::Row> registrations; // Subject, Version, Date, Time
    QList<store::Row> newest; // Subject, Version, eventType, Trial, Date, Time, BaseMoney, TotBonus, Station
    QList<store::Row> oldest; // Subject, Version, Date, Time
    QList<store::HoldRow> holds;
    QList<store::MarkTable::Marked> marks;
    QList<store::PresenceRow> presences;
};

RawReading readRaw(store::Connection& connection, const QString& version, const QDateTime& since, bool presences)
{
    RawReading raw;
    for (const store::Row& row : store::SetupTable::rows(connection, version.isEmpty() ? QString() : version)) {
        const auto field = [&](const QString& name) { return row.value(name); };
        config::ConfigProblems unread; // the check's business; the symbol reads as "$" then
        raw.setups.append({row.value("Version").toString(), row.value("MaxTrial").toInt(),
                           row.value("BaseMoney").toDouble(), longestStage(field),
                           config::readSetupRow(row, row.value("Version").toString(), unread).CurrencySymbol});
    }
    raw.registrations = store::SubjectTable::registrations(connection, version, since);
    // The newest event row of each participant, found by the database through the
    // participants' index rather than by reading the whole log.
    if (since.isValid())
        raw.newest = store::EventTable::newestOfEach(connection, eventColumns, version, since);
    raw.holds = store::HoldTable::all(connection, version);
    raw.marks = store::MarkTable::marks(connection, version);
    if (presences)
        raw.presences = store::PresenceTable::all(connection);
    return raw;
}

const QStringList firstColumns = {QStringLiteral("Subject"), QStringLiteral("Version"), QStringLiteral("Date"),
                                  QStringLiteral("Time")};

// Everyone's newest and oldest row, a few hundred participants a read, so that a lab's
// whole history never holds the stations' writes up.
void readEveryNewest(store::Store& store, const QString& version, RawReading& raw)
{
    QString after;
    do {
        store.transaction(
            [&](store::Connection& c) {
                QString next = after; // a retried read starts from the same place
                QList<store::Row> rows = store::EventTable::newestOfNext(c, eventColumns, version, next, 500);
                QList<store::Row> first;
                if (!next.isEmpty())
                    first = store::EventTable::oldestOfRange(c, firstColumns, version, after, next);
                raw.newest += rows;
                raw.oldest += first;
                after = next;
            },
            true, kStatus);
    } while (!after.isEmpty());
}

// How long a station at the login that stopped refreshing stays in view.
constexpr qint64 kNotRespondingShownSeconds = 15 * 60;

QDateTime stamp(const QString& text)
{
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

// The newest run of each computer (the rows come oldest start first) that waits at the
// login, unless a participant held on that computer since the run started shows it: the
// station has taken a name and asks whether to go on with it.
QList<WaitingStation> waitingStations(const QList<store::PresenceRow>& presences,
                                      const QList<ParticipantProgress>& participants)
{
    QHash<QString, store::PresenceRow> newest;
    QStringList order;
    for (const store::PresenceRow& row : presences) {
        if (!newest.contains(row.Station))
            order.append(row.Station);
        newest.insert(row.Station, row);
    }
    QList<WaitingStation> waiting;
    for (const QString& station : std::as_const(order)) {
        const store::PresenceRow& row = newest.value(station);
        const WaitingStation w{row.Station, stamp(row.StartedUtc), stamp(row.RefreshedUtc)};
        const auto holdsOne = [&](const ParticipantProgress& p) {
            return p.held && p.station == w.station && w.started.isValid() && p.holdRefreshed >= w.started;
        };
        if (row.State == QLatin1String(store::PresenceTable::kAtLogin) &&
            std::none_of(participants.cbegin(), participants.cend(), holdsOne))
            waiting.append(w);
    }
    std::sort(waiting.begin(), waiting.end(), [](const WaitingStation& a, const WaitingStation& b) {
        return QString::compare(a.station, b.station, Qt::CaseInsensitive) < 0;
    });
    return waiting;
}

} // namespace

QList<ParticipantProgress> readProgress(store::Store& store, const QString& version, bool* versionFound,
                                        const QDateTime& since, QList<WaitingStation>* waiting)
{
    RawReading raw;
    store.transaction(
        [&](store::Connection& connection) { raw = readRaw(connection, version, since, waiting != nullptr); }, true,
        kStatus);
    if (!since.isValid())
        readEveryNewest(store, version, raw);

    QHash<QString, SetupFacts> setups;
    for (const SetupFacts& facts : std::as_const(raw.setups))
        setups.insert(store::nameKey(facts.version), facts);
    if (versionFound)
        *versionFound = !version.isEmpty() && setups.contains(store::nameKey(version));

    QHash<QString, ParticipantProgress> byKey;
    const auto entry = [&](const QString& v, const QString& subject) -> ParticipantProgress& {
        const QString key = keyOf(v, subject);
        auto it = byKey.find(key);
        if (it == byKey.end()) {
            ParticipantProgress p;
            p.version = v;
            p.subject = subject;
            const auto setup = setups.constFind(store::nameKey(v));
            if (setup != setups.constEnd()) {
                p.versionKnown = true;
                p.version = setup->version;
                p.maxTrial = setup->maxTrial;
                p.baseMoney = setup->baseMoney;
                p.totBonus = setup->baseMoney;
                p.longestStageMs = setup->longestStageMs;
                p.currencySymbol = setup->currencySymbol;
            }
            it = byKey.insert(key, p);
        }
        return *it;
    };

    // The registrations; the first one of a name counts.
    for (const store::Row& row : std::as_const(raw.registrations)) {
        const QDateTime at = momentOf(row.value("Date"), row.value("Time"));
        // Without the event rows of the hour before, only those registered in it are shown.
        if (since.isValid() && (!at.isValid() || at < since.toLocalTime()))
            continue;
        ParticipantProgress& p = entry(row.value("Version").toString(), row.value("Subject").toString());
        if (!p.registeredAt.isValid())
            p.registeredAt = at;
    }
    // Rows come in the order written: of two with the same EventID the later one wins.
    for (const store::Row& row : std::as_const(raw.newest)) {
        const QVariantList& v = row.values();
        ParticipantProgress& p = entry(v.at(1).toString(), v.at(0).toString());
        p.hasEvents = true;
        p.lastEvent = v.at(2).toString();
        p.trial = v.at(3).toInt();
        p.lastEventAt = momentOf(v.at(4), v.at(5));
        if (!v.at(6).isNull())
            p.baseMoney = v.at(6).toDouble();
        p.totBonus = v.at(7).isNull() ? p.baseMoney : v.at(7).toDouble();
        p.station = v.at(8).toString();
    }
    for (const store::Row& row : std::as_const(raw.oldest)) {
        const QVariantList& v = row.values();
        entry(v.at(1).toString(), v.at(0).toString()).firstEventAt = momentOf(v.at(2), v.at(3));
    }

    // A hold names the participant by the key of the name; a held name without rows yet
    // is only being logged in and is left out.
    for (const store::HoldRow& hold : std::as_const(raw.holds)) {
        const auto it = byKey.find(keyOf(hold.Version, hold.Subject));
        if (it == byKey.end())
            continue;
        it->held = true;
        if (!hold.Station.isEmpty())
            it->station = hold.Station; // where the session runs now
        it->holdRefreshed = QDateTime::fromString(hold.RefreshedUtc, Qt::ISODateWithMs);
    }

    for (const store::MarkTable::Marked& marked : std::as_const(raw.marks)) {
        const auto it = byKey.find(keyOf(marked.version, marked.subject));
        if (it != byKey.end()) {
            it->mark = marked.mark;
            it->markReason = marked.reason;
        }
    }

    QList<ParticipantProgress> result;
    result.reserve(byKey.size());
    for (ParticipantProgress& p : byKey) {
        p.finished = p.hasEvents && p.versionKnown && p.maxTrial > 0 && p.trial >= p.maxTrial &&
                     p.lastEvent == kAfterCost;
        result.append(p);
    }
    std::sort(result.begin(), result.end(), [](const ParticipantProgress& a, const ParticipantProgress& b) {
        const int byVersion = QString::compare(a.version, b.version, Qt::CaseInsensitive);
        if (byVersion != 0)
            return byVersion < 0;
        return QString::compare(a.subject, b.subject, Qt::CaseInsensitive) < 0;
    });
    if (waiting)
        *waiting = waitingStations(raw.presences, result);
    return result;
}

QString stateOf(const WaitingStation& w, const QDateTime& now)
{
    const qint64 silent = w.refreshed.isValid() ? w.refreshed.secsTo(now) : kNotRespondingShownSeconds + 1;
    if (silent > kNotRespondingShownSeconds)
        return {};
    if (silent > StationHold::kStaleSeconds)
        return QStringLiteral("not responding");
    return QStringLiteral("waiting at the login");
}

QString stateOf(const ParticipantProgress& p, const QDateTime& now)
{
    if (p.finished)
        return QStringLiteral("finished");
    if (!p.held)
        return QStringLiteral("left early");
    // A second more than the stage, for the store's write at its end.
    const QDateTime at = p.lastActivity();
    if (!at.isValid() || at.msecsTo(now) <= p.longestStageMs + 1000)
        return QStringLiteral("playing");
    // A running station refreshes its hold every few seconds, also while nobody acts.
    if (!p.holdRefreshed.isValid() || p.holdRefreshed.secsTo(now) > StationHold::kStaleSeconds)
        return QStringLiteral("idle (possibly crashed)");
    return QStringLiteral("idle");
}

QString formatMoney(double value)
{
    return formatCents(toCents(value)); // as sums count it, so that lines add up to them
}

QString formatCents(qint64 cents)
{
    const qint64 whole = std::abs(cents);
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 ? QStringLiteral("-") : QString())
        .arg(whole / 100)
        .arg(whole % 100, 2, 10, QLatin1Char('0'));
}

qint64 roundUpCents(double amount, qint64 unitCents)
{
    // Millionths hold every amount a session pays exactly, and their division is exact.
    const qint64 millionths = std::llround(amount * 1e6);
    const qint64 unit = std::max<qint64>(unitCents, 1) * 10000;
    const qint64 units = millionths >= 0 ? (millionths + unit - 1) / unit : -(-millionths / unit);
    return units * (unit / 10000);
}

QString formatAgo(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0; // a station whose clock runs a little ahead
    if (seconds < 60)
        return QStringLiteral("%1s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1m %2s").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1h %2m").arg(seconds / 3600).arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'));
}

QString alignedTable(const QStringList& header, const QList<QStringList>& stored, const QList<bool>& rightAligned)
{
    // Names come from the database: nothing in them reaches the terminal raw.
    QList<QStringList> rows;
    for (const QStringList& row : stored) {
        QStringList cells;
        for (const QString& cell : row)
            cells.append(printable(cell));
        rows.append(cells);
    }
    QList<int> widths;
    for (const QString& cell : header)
        widths.append(cell.size());
    for (const QStringList& row : rows)
        for (int c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], int(row.at(c).size()));

    const auto line = [&](const QStringList& cells) {
        QString text;
        for (int c = 0; c < widths.size(); ++c) {
            const QString cell = cells.value(c);
            const bool right = rightAligned.value(c, false);
            if (c > 0)
                text += QStringLiteral("  ");
            text += right ? cell.rightJustified(widths[c]) : cell.leftJustified(widths[c]);
        }
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        return text + QLatin1Char('\n');
    };

    QString text = line(header);
    QStringList rules;
    for (int width : widths)
        rules.append(QString(width, QLatin1Char('-')));
    text += line(rules);
    for (const QStringList& row : rows)
        text += line(row);
    return text;
}

} // namespace aquilevel::tools
