#include "session/Registrations.h"

#include "store/Query.h"
#include "store/Store.h"

namespace aquilevel {

QString RegisteredName(store::Store& store, const QString& version, const QString& typed)
{
    auto rs = store.OpenTable(store::Query(QStringLiteral("select * from datSubject where Version=?"), {version}),
                              true, QStringLiteral("Check New User"));
    QString registered;
    for (; !rs->isEOF() && registered.isNull(); rs->moveNext()) {
        const QString name = rs->field(QStringLiteral("Subject")).toString();
        if (name.compare(typed, Qt::CaseInsensitive) == 0)
            registered = name;
    }
    rs->close();
    return registered;
}

void AddRegistration(store::Store& store, const Registration& row)
{
    auto rs = store.OpenTable("datSubject", false, QStringLiteral("Recording demographics"));
    rs->addNew();
    rs->setField(QStringLiteral("Subject"), row.Subject);
    rs->setField(QStringLiteral("Version"), row.Version);
    rs->setField(QStringLiteral("Condition"), row.Condition);
    rs->setField(QStringLiteral("Major"), row.Major);
    rs->setField(QStringLiteral("Gender"), row.Gender);
    rs->setField(QStringLiteral("Age"), row.Age);
    rs->setField(QStringLiteral("Date"), row.at.date());
    rs->setField(QStringLiteral("Time"), row.at.time().toString(QStringLiteral("HH:mm:ss")));
    rs->update();
    rs->close();
}

} // namespace aquilevel
