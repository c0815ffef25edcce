#pragma once

#include "store/Engine.h"
#include "store/NameKey.h"
#include "store/StationRules.h"
#include "store/StationTables.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>
#include <stdexcept>

namespace aquilevel {

namespace store {
class Store;
} // namespace store

// Refuses a session's write once another station holds its participant.
class HoldLost : public std::runtime_error {
public:
    explicit HoldLost(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// While a participant plays a version on one station, no other copy of the program may
// play the same participant and version: two copies appending one participant's rows
// would clash on the event numbers. The hold is a row of datSessionHold, taken in one
// write transaction (of two copies pressing Start at once only one wins), refreshed at a
// steady pace while the session runs and deleted at its end. A copy that crashed stops
// refreshing; after kStaleSeconds without a refresh its hold may be taken over. Every
// write of the session checks the hold in its transaction: a copy whose hold was taken
// over writes nothing more for the participant.
class StationHold final : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshSeconds = 10;
    static constexpr int kStaleSeconds = store::kHoldStaleSeconds;
    static constexpr auto kTable = "datSessionHold";

    // `lastEvent` tells the session's newest EventID (0 for none).
    explicit StationHold(store::Store& store, std::function<qint32()> lastEvent = {});
    ~StationHold() override;

    // Takes the hold of a participant of a version for this copy (a hold of another name
    // is given up first). Returns the message for the person at the screen when another
    // copy holds it; nothing was changed then.
    std::optional<QString> take(const QString& subject, const QString& version);

    // Gives the hold up; a failure to reach the database is left to the staleness rule.
    void release();

    bool held() const { return !m_key.isEmpty(); }
    // This run of the program, as its holds (and its presence) name it.
    const QString& holder() const { return m_holder; }
    bool isLost() const { return m_lost; }

    // The refresh pace; kRefreshSeconds unless a measurement asks for another.
    void setRefreshInterval(int milliseconds) { m_timer.setInterval(milliseconds); }
    // How long a hold on the file must be seen standing still before it is taken over;
    // kStaleSeconds unless a test asks for less.
    void setStaleLimit(int milliseconds) { m_staleLimit = milliseconds; }

    // Ends every station's hold of a participant of a version at once, from outside any
    // session (the experimenter's command). Returns the stations that held it.
    static QStringList releaseFromOutside(store::Store& store, const QString& subject, const QString& version);

    // The key names are matched by: letter case ignored in every script.
    static QString keyOf(const QString& subject) { return store::nameKey(subject.trimmed()); }

    // Where each copy on this computer that holds a participant keeps its mark: a file
    // named after its holder, naming it and the boot it runs in, locked while it runs.
    static QString runFolder();

signals:
    // A refresh has been written.
    void refreshed();
    // Another station holds the participant now; emitted once, with the message for the
    // experimenter.
    void lost(const QString& message);

private:
    void refresh();
    void checkStillHeld(store::Connection& c);
    void loseHold();
    QString lostMessage() const;
    bool silentTooLong(const store::HoldRow& hold);
    void markRun();
    void dropMark();
    store::HoldRow ownRow(const QString& version, const QString& subject) const;
    qint32 lastEvent() const { return m_lastEvent ? m_lastEvent() : 0; }

    // Another station's hold as first seen standing still, by this copy's monotonic clock.
    struct Sighting {
        QString holder;
        QString refreshed;
        QElapsedTimer since;
    };

    store::Store& m_store;
    const std::function<qint32()> m_lastEvent;
    const QString m_holder; // this run of the program
    QString m_key;
    QString m_version;
    QString m_subject;
    QTimer m_timer;
    int m_staleLimit = kStaleSeconds * 1000;
    QHash<QString, Sighting> m_sightings;
    bool m_lost = false;
    int m_runMark = -1;
};

} // namespace aquilevel
