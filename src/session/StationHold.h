#pragma once

#include "store/Engine.h"
#include "store/NameKey.h"
#include "store/StationRules.h"
#include "store/StationTables.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <optional>

namespace aquilevel {

namespace store {
class Store;
} // namespace store

// While a participant plays a version on one station, no other copy of the program may
// play the same participant and version: two copies appending one participant's rows
// would clash on the event numbers. The hold is a row of datSessionHold, taken in one
// write transaction (of two copies pressing Start at once only one wins), refreshed at a
// steady pace while the session runs and deleted at its end. A copy that crashed stops
// refreshing; after kStaleSeconds without a refresh its hold may be taken over.
class StationHold final : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshSeconds = 10;
    static constexpr int kStaleSeconds = store::kHoldStaleSeconds;
    static constexpr auto kTable = "datSessionHold";

    explicit StationHold(store::Store& store);
    ~StationHold() override;

    // Takes the hold of a participant of a version for this copy (a hold of another name
    // is given up first). Returns the message for the person at the screen when another
    // copy holds it; nothing was changed then.
    std::optional<QString> take(const QString& subject, const QString& version);

    // Gives the hold up; a failure to reach the database is left to the staleness rule.
    void release();

    bool held() const { return !m_key.isEmpty(); }

    // The refresh pace; kRefreshSeconds unless a measurement asks for another.
    void setRefreshInterval(int milliseconds) { m_timer.setInterval(milliseconds); }

    // Ends every station's hold of a participant of a version at once, from outside any
    // session (the experimenter's command). Returns the stations that held it.
    static QStringList releaseFromOutside(store::Store& store, const QString& subject, const QString& version);

    // The key names are matched by: letter case ignored in every script.
    static QString keyOf(const QString& subject) { return store::nameKey(subject.trimmed()); }

signals:
    // A refresh has been written.
    void refreshed();

private:
    void refresh();
    store::HoldRow ownRow(const QString& version, const QString& subject) const;

    store::Store& m_store;
    const QString m_holder; // this run of the program
    QString m_key;
    QString m_version;
    QString m_subject;
    QTimer m_timer;
};

} // namespace aquilevel
