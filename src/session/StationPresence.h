#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace aquilevel {

namespace store {
class Store;
} // namespace store

// Tells the lab what this station's copy of the program is doing: waiting at the login,
// playing a participant's session, or closed. Its row of datStation is written when that
// changes and refreshed at the holds' pace while the program runs, so that the console
// shows every station, also one nobody has logged in at. A write that cannot reach the
// database is left out, never shown to the participant: the next beat tries again, and a
// station that stays away reads as not responding. A crashed copy simply goes silent.
class StationPresence final : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshSeconds = 10;

    // `holder`: this run of the program, as its holds name it (and the store's engine,
    // which it is given to).
    StationPresence(store::Store& store, QString holder);
    ~StationPresence() override;

    // The login shows (again); no participant.
    void atLogin();
    // A participant's session goes on from the login.
    void inSession(const QString& subject, const QString& version);
    // The program ends normally: said once more, then no more refreshes.
    void close();

    // Writes what the station does now, as the timer does at every beat; false when it
    // could not be written (the store busy, the database away).
    bool refresh();
    // The refresh pace; kRefreshSeconds unless a test asks for another.
    // When the next refresh comes, in milliseconds after the last.
    int nextBeatMs() const { return m_timer.interval(); }
    void setRefreshInterval(int milliseconds)
    {
        m_interval = milliseconds;
        m_timer.setInterval(milliseconds);
    }
    bool announced() const { return !m_state.isEmpty(); }

signals:
    // A refresh has been written.
    void refreshed();

private:
    void say(const char* state, const QString& subject, const QString& version);

    store::Store& m_store;
    const QString m_holder;
    QString m_started;
    QString m_state;
    QString m_subject;
    QString m_version;
    QTimer m_timer;
    int m_interval = kRefreshSeconds * 1000;
    // After a failed word, the next beat comes this much later: a database that cannot be
    // reached would otherwise hold the login screen for its connection timeout every beat.
    static constexpr int kAwayMs = 60 * 1000;
};

} // namespace aquilevel
