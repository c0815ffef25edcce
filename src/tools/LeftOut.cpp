#include "tools/LeftOut.h"

#include "store/DataTables.h"
#include "store/NameKey.h"

#include <QStringList>

namespace aquilevel::tools {

namespace {

QString participantKey(const QString& subject, const QString& version)
{
    return store::nameKey(version) + QChar(0x1f) + store::nameKey(subject);
}

} // namespace

bool LeftOut::contains(const QVariant& subject, const QVariant& version) const
{
    return !keys.isEmpty() && keys.contains(participantKey(subject.toString(), version.toString()));
}

void LeftOut::read(store::Connection& c, const QString& version, const QString& subject)
{
    keys.clear(); // a retried read starts over
    pilots = excluded = 0;
    for (const store::MarkTable::Marked& m : store::MarkTable::marks(c, version)) {
        const bool pilot = m.mark == QLatin1String(store::MarkRow::kPilot);
        if ((pilot && includePilots) || (!pilot && includeExcluded))
            continue;
        if (!subject.isEmpty() && store::nameKey(m.subject) != store::nameKey(subject))
            continue;
        keys.insert(participantKey(m.subject, m.version));
        ++(pilot ? pilots : excluded);
    }
}

QString LeftOut::note() const
{
    if (total() == 0)
        return {};
    QStringList kinds;
    if (pilots > 0)
        kinds << QStringLiteral("%1 pilot(s)").arg(pilots);
    if (excluded > 0)
        kinds << QStringLiteral("%1 excluded").arg(excluded);
    return QStringLiteral("Left out %1 marked participant(s) (%2); --include-pilots and --include-excluded take them in.")
        .arg(total())
        .arg(kinds.join(QStringLiteral(", ")));
}

} // namespace aquilevel::tools
