#pragma once

#include <QString>

namespace aquilevel::store {
class Store;
}

namespace aquilevel {

// The experimenters' accounts (tblPasswords), which open the exit of a running session.

// True when `typed` is the password of `user`; false when there is no such account or its
// row holds no password (an account that is not set up, which never opens the gate). The
// name is compared without regard to case, the password exactly.
bool AccountMatches(store::Store& store, const QString& user, const QString& typed);

// Sets the password of every row of `user` (stored as a hash), or adds the account when
// it has none. Returns the number of rows changed (0 for an added account).
int SetAccountPassword(store::Store& store, const QString& user, const QString& password);

} // namespace aquilevel
