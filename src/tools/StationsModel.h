#pragma once

#include "tools/Progress.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>

namespace aquilevel::tools {

// The participants a lab is running, one row each, for the console's live table: where
// each sits, how far they are, what they earned so far and the state a lab acts on,
// coloured so that a glance from the back of the room reads it. After them the stations
// waiting at the login, with nobody logged in.
class StationsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Station, Participant, Version, Period, Money, LastEvent, State, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Replaces the rows with a new reading taken at `now` (this computer's clock). A
    // station's refresh stamp is written by its own clock, which may be off; once a stamp
    // is seen to change, the station counts as alive at the reading that saw it, so a
    // station whose clock is behind is not taken for a crashed one, and a crashed one is
    // still seen to stand still.
    void setParticipants(const QList<ParticipantProgress>& participants, const QDateTime& now,
                         const QList<WaitingStation>& waiting = {});
    // A waiting station's row has a participant with only its station.
    bool isWaiting(int row) const { return row >= m_participants; }
    const ParticipantProgress& participant(int row) const { return m_rows.at(row); }
    const QString& state(int row) const { return m_states.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The ground colour of a state: green playing, yellow idle, red possibly crashed,
    // orange left early, grey finished; light blue waiting at the login, a paler red not
    // responding.
    static QColor colourOf(const QString& state);

private:
    struct Seen {
        QDateTime stamp; // the refresh stamp last read
        QDateTime alive; // when the station was last known to run, by this clock
    };
    QDateTime aliveAt(const QString& key, const QDateTime& stamp, const QDateTime& now,
                      QHash<QString, Seen>& seen) const;

    QHash<QString, Seen> m_seen;
    QList<ParticipantProgress> m_rows;
    QStringList m_states;
    int m_participants = 0;
    QDateTime m_now;
};

} // namespace aquilevel::tools
