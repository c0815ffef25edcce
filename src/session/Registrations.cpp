#include "session/Registrations.h"

#include "session/Clock.h"
#include "session/Session.h"
#include "store/DataTables.h"
#include "store/Store.h"

namespace aquilevel {

std::optional<KnownName> FindParticipant(store::Store& store, const QString& version, const QString& typed)
{
    std::optional<KnownName> known;
    store.read(
        [&](store::Connection& c) {
            known.reset();
            if (const QString registered = store::SubjectTable::registeredName(c, version, typed); !registered.isNull())
                known = KnownName{registered, true};
            else if (const QString inRows = store::SubjectTable::nameInRows(c, version, typed); !inRows.isNull())
                known = KnownName{inRows, false};
        },
        QStringLiteral("datSubject"), QStringLiteral("Check New User"));
    return known;
}

void RecordParticipant(Session& session, const QString& version, const Demographics& about)
{
    SessionState& s = session.state;
    s.Condition = s.setup.condition();
    const QDateTime now = session.clock().now();
    store::SubjectRow stored;
    stored.Subject = s.Subject;
    stored.Version = version;
    stored.Condition = s.Condition;
    stored.Major = about.Major;
    stored.Gender = about.Gender;
    stored.Age = about.Age;
    stored.Date = now.date();
    stored.Time = now.time().toString(QStringLiteral("HH:mm:ss"));
    session.store().write([stored](store::Connection& c) { store::SubjectTable::append(c, stored); },
                          QStringLiteral("datSubject"), QStringLiteral("Recording demographics"));
}

} // namespace aquilevel
