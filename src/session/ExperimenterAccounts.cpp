#include "session/ExperimenterAccounts.h"

#include "store/ConfigTables.h"
#include "store/PasswordHash.h"
#include "store/Store.h"

namespace aquilevel {

// The user name is bound, never pasted into the text, so a name with quotes or SQL in it
// is only ever compared as a name.
bool AccountMatches(store::Store& store, const QString& user, const QString& typed)
{
    bool matches = false;
    store.read([&](store::Connection& c) { matches = store::PasswordTable::matches(c, user, typed); },
               QStringLiteral("tblPasswords"), QStringLiteral("Checking password"));
    return matches;
}

int SetAccountPassword(store::Store& store, const QString& user, const QString& password)
{
    // Hashed before the write, which then holds the lock only for the update.
    const QString hash = store::hashPassword(password);
    qint64 changed = 0;
    store.write([&](store::Connection& c) { changed = store::PasswordTable::setPassword(c, user, hash); },
                QStringLiteral("tblPasswords"), QStringLiteral("Changing an experimenter's password"));
    return int(changed);
}

} // namespace aquilevel
