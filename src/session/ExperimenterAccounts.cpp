#include "session/ExperimenterAccounts.h"

#include "store/Query.h"
#include "store/Store.h"

namespace aquilevel {

namespace {

// The user name is bound, never pasted into the text, so a name with quotes or SQL in
// it is only ever compared as a name. The column compares without regard to case.
const QString kAccountQuery = QStringLiteral("select * from tblPasswords where username=?");

} // namespace

std::optional<QString> AccountPassword(store::Store& store, const QString& user)
{
    auto rs = store.OpenTable(store::Query(kAccountQuery, {user}), true, QStringLiteral("Checking password"));
    const QVariant stored = rs->isEOF() ? QVariant() : rs->field(QStringLiteral("password"));
    rs->close();
    if (stored.isNull())
        return std::nullopt;
    return stored.toString();
}

int SetAccountPassword(store::Store& store, const QString& user, const QString& password)
{
    // Every row of the user is changed: the gate reads the first one it finds, and a
    // duplicate left with an old password would keep that password working somewhere.
    auto rs = store.OpenTable(store::Query(kAccountQuery, {user}), false, QStringLiteral("Changing an experimenter's password"));
    int changed = 0;
    if (rs->isEOF()) {
        rs->addNew();
        rs->setField(QStringLiteral("username"), user);
        rs->setField(QStringLiteral("password"), password);
        rs->update();
    } else {
        for (; !rs->isEOF(); rs->moveNext()) {
            rs->edit();
            rs->setField(QStringLiteral("password"), password);
            rs->update();
            ++changed;
        }
    }
    rs->close();
    return changed;
}

} // namespace aquilevel
