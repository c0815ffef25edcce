#pragma once

#include <QString>
#include <QVariant>

namespace aquilevel::store {

class Connection;

// The experimenters' passwords are kept as bcrypt hashes ("$2a$", cost 12) made with
// libxcrypt, Debian's maintained libcrypt: a slow salted hash whose setting (cost and
// salt) travels with it, so that a station can hash a typed password again without
// reading the stored one. "$2a$" rather than "$2b$": the form every bcrypt reader knows,
// PostgreSQL's pgcrypto included.

// A new hash of `typed`, with a fresh random salt; about a quarter of a second of work.
// Throws StoreError when the system gives no random bytes.
QString hashPassword(const QString& typed);

// True for a value in the form hashPassword writes. Any other value of tblPasswords is
// the plain text an older program stored.
bool isPasswordHash(const QVariant& stored);

// The setting (cost and salt) of a stored hash; null for plain text.
QVariant settingOf(const QVariant& stored);

// What a station offers the server for comparison with the stored value: `typed`
// hashed with the stored hash's setting, or without a setting (an account still in
// plain text, or none) "sha256:" and the SHA-256 of `typed` in hex. Never `typed`.
QString offeredPassword(const QVariant& setting, const QString& typed);

// True when `typed` is the password `stored` holds: a hash is verified, plain text is
// compared exactly and case-sensitively, as it always was. Null never matches.
bool passwordMatches(const QVariant& stored, const QString& typed);

// Makes the server's "aquilevelPasswordSetting"(user) and
// "aquilevelPasswordMatches"(user, offered), with which a station checks a password
// without reading the stored one, and without the typed text ever reaching the server
// or its log (see PasswordTable::matches). Only for the server; runs in the caller's
// transaction.
void installPasswordCheck(Connection& connection);

} // namespace aquilevel::store
