#include "session/Registrations.h"

#include "store/DataTables.h"
#include "store/Store.h"

namespace aquilevel {

QString RegisteredName(store::Store& store, const QString& version, const QString& typed)
{
    QString registered;
    store.read([&](store::Connection& c) { registered = store::SubjectTable::registeredName(c, version, typed); },
               QStringLiteral("datSubject"), QStringLiteral("Check New User"));
    return registered;
}

void AddRegistration(store::Store& store, const Registration& row)
{
    store::SubjectRow stored;
    stored.Subject = row.Subject;
    stored.Version = row.Version;
    stored.Condition = row.Condition;
    stored.Major = row.Major;
    stored.Gender = row.Gender;
    stored.Age = row.Age;
    stored.Date = row.at.date();
    stored.Time = row.at.time().toString(QStringLiteral("HH:mm:ss"));
    store.write([stored](store::Connection& c) { store::SubjectTable::append(c, stored); }, QStringLiteral("datSubject"),
                QStringLiteral("Recording demographics"));
}

} // namespace aquilevel
