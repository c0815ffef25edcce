#include "session/ExperimenterAccounts.h"

#include "store/ConfigTables.h"
#include "store/Store.h"

namespace aquilevel {

// The user name is bound, never pasted into the text, so a name with quotes or SQL in it
// is only ever compared as a name.
std::optional<QString> AccountPassword(store::Store& store, const QString& user)
{
    std::optional<QVariant> stored;
    store.read([&](store::Connection& c) { stored = store::PasswordTable::password(c, user); },
               QStringLiteral("tblPasswords"), QStringLiteral("Checking password"));
    if (!stored || stored->isNull())
        return std::nullopt;
    return stored->toString();
}

int SetAccountPassword(store::Store& store, const QString& user, const QString& password)
{
    qint64 changed = 0;
    store.write([&](store::Connection& c) { changed = store::PasswordTable::setPassword(c, user, password); },
                QStringLiteral("tblPasswords"), QStringLiteral("Changing an experimenter's password"));
    return int(changed);
}

} // namespace aquilevel
