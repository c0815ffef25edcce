#pragma once

#include <QString>

#include <optional>

namespace aquilevel::store {
class Store;
}

namespace aquilevel {

// The experimenters' accounts (tblPasswords), which open the exit of a running session.

// The password of `user`; none when there is no such account or its row holds no
// password (an account that is not set up, which never opens the gate). The name is
// compared without regard to case.
std::optional<QString> AccountPassword(store::Store& store, const QString& user);

// Sets the password of every row of `user`, or adds the account when it has none.
// Returns the number of rows changed (0 for an added account).
int SetAccountPassword(store::Store& store, const QString& user, const QString& password);

} // namespace aquilevel
