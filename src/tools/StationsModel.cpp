#include "tools/StationsModel.h"

#include <QColor>
#include <QHash>

namespace aquilevel::tools {

void StationsModel::setParticipants(const QList<ParticipantProgress>& participants, const QDateTime& now,
                                    const QList<WaitingStation>& waiting)
{
    beginResetModel();
    m_rows = participants;
    m_participants = int(participants.size());
    m_now = now;
    m_states.clear();
    QHash<QString, Seen> seen;
    for (ParticipantProgress& p : m_rows) {
        p.holdRefreshed = aliveAt(QStringLiteral("hold\n%1\n%2").arg(p.version, p.subject), p.holdRefreshed, now, seen);
        m_states.append(stateOf(p, now));
    }
    for (WaitingStation w : waiting) {
        w.refreshed = aliveAt(QStringLiteral("station\n%1\n%2").arg(w.station, w.started.toString(Qt::ISODateWithMs)),
                              w.refreshed, now, seen);
        const QString state = stateOf(w, now);
        if (state.isEmpty())
            continue;
        ParticipantProgress station;
        station.station = w.station;
        m_rows.append(station);
        m_states.append(state);
    }
    m_seen = seen; // what is no longer read is forgotten
    endResetModel();
}

QDateTime StationsModel::aliveAt(const QString& key, const QDateTime& stamp, const QDateTime& now,
                                 QHash<QString, Seen>& seen) const
{
    if (!stamp.isValid())
        return stamp;
    const auto before = m_seen.constFind(key);
    Seen mark{stamp, stamp}; // first seen: the station's own word for it
    if (before != m_seen.constEnd())
        mark = before->stamp == stamp ? *before : Seen{stamp, now}; // it ran since the last reading
    seen.insert(key, mark);
    return mark.alive;
}

int StationsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int StationsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StationsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ParticipantProgress& p = m_rows.at(index.row());
    const QString& state = m_states.at(index.row());
    if (role == Qt::BackgroundRole)
        return colourOf(state);
    if (role == Qt::TextAlignmentRole && (index.column() == Period || index.column() == Money))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    if (isWaiting(index.row()) && index.column() != Station && index.column() != State)
        return {};
    switch (index.column()) {
    case Station:
        return p.station;
    case Participant: // a mark shown where the name is, so nobody pays a pilot by mistake
        return p.mark.isEmpty() ? p.subject : QStringLiteral("%1 (%2)").arg(p.subject, p.mark);
    case Version:
        return p.version;
    case Period:
        return p.maxTrial > 0 ? QStringLiteral("%1 of %2").arg(p.trial).arg(p.maxTrial) : QString::number(p.trial);
    case Money:
        return formatMoney(p.totBonus);
    case LastEvent:
        return p.lastActivity().isValid() ? formatAgo(p.lastActivity().secsTo(m_now)) + QStringLiteral(" ago")
                                          : QString();
    case State:
        return state;
    default:
        return {};
    }
}

QVariant StationsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[] = {"Station", "Participant", "Version", "Period", "Money", "Last event", "State"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

QColor StationsModel::colourOf(const QString& state)
{
    if (state == QLatin1String("playing"))
        return QColor(190, 240, 190);
    if (state == QLatin1String("idle"))
        return QColor(250, 240, 160);
    if (state == QLatin1String("idle (possibly crashed)"))
        return QColor(245, 150, 150);
    if (state == QLatin1String("left early"))
        return QColor(250, 200, 140);
    if (state == QLatin1String("waiting at the login"))
        return QColor(200, 225, 250);
    if (state == QLatin1String("not responding"))
        return QColor(240, 175, 175);
    return QColor(220, 220, 220); // finished
}

} // namespace aquilevel::tools
