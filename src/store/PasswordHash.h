#pragma once

#include <QString>
#include <QVariant>

namespace aquilevel::store {

class Connection;

// The experimenters' passwords are kept as bcrypt hashes ("$2a$", cost 12). bcrypt is
// the one slow salted format both engines verify natively: libxcrypt (Debian's
// maintained libcrypt) on the station for the file, pgcrypto's crypt() inside the
// server, which reads "$2a$" but not "$2b$".

// A new hash of `typed`, with a fresh random salt; about a quarter of a second of work.
// Throws StoreError when the system gives no random bytes.
QString hashPassword(const QString& typed);

// True for a value in the form hashPassword writes. Any other value of tblPasswords is
// the plain text an older program stored.
bool isPasswordHash(const QVariant& stored);

// True when `typed` is the password `stored` holds: a hash is verified, plain text is
// compared exactly and case-sensitively, as it always was. Null never matches.
bool passwordMatches(const QVariant& stored, const QString& typed);

// Makes the server's "aquilevelPasswordMatches"(user, typed), which compares inside the
// server so that a station never reads the stored passwords (see PasswordTable::matches).
// Only for the server; runs in the caller's transaction.
void installPasswordCheck(Connection& connection);

} // namespace aquilevel::store
