#include "store/PasswordHash.h"

#include "store/Engine.h"

#include <QRegularExpression>

#include <crypt.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace aquilevel::store {

namespace {

constexpr unsigned long kCost = 12;

// "$2a$", a cost both libraries accept, 22 characters of salt and 31 of hash. The
// server's function tests the same pattern.
const char* const kHashPattern = "^\\$2a\\$(0[4-9]|[12][0-9]|3[01])\\$[./A-Za-z0-9]{53}$";

// The same comparison time whatever the first differing byte.
bool sameBytes(const char* a, const QByteArray& b)
{
    const std::size_t length = std::strlen(a);
    if (length != std::size_t(b.size()))
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < length; ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

// crypt_rn of `typed` with `setting`; null when libxcrypt refuses the setting.
QByteArray cryptOf(const QString& typed, const QByteArray& setting)
{
    // struct crypt_data is some 32 kB: on the heap, and wiped with the typed text in it.
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    QByteArray phrase = typed.toUtf8();
    const char* result = ::crypt_rn(phrase.constData(), setting.constData(), data.get(), int(sizeof(crypt_data)));
    QByteArray hash;
    if (result && result[0] != '*')
        hash = QByteArray(result);
    phrase.fill('\0');
    std::memset(data.get(), 0, sizeof(crypt_data));
    return hash;
}

} // namespace

QString hashPassword(const QString& typed)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!::crypt_gensalt_rn("$2a$", kCost, nullptr, 0, setting, int(sizeof setting)))
        throw StoreError(QStringLiteral("No random salt for the password hash: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    const QByteArray hash = cryptOf(typed, QByteArray(setting));
    if (hash.isEmpty())
        throw StoreError(QStringLiteral("The password could not be hashed."));
    return QString::fromLatin1(hash);
}

bool isPasswordHash(const QVariant& stored)
{
    static const QRegularExpression pattern(QString::fromLatin1(kHashPattern));
    return !stored.isNull() && pattern.match(stored.toString()).hasMatch();
}

bool passwordMatches(const QVariant& stored, const QString& typed)
{
    if (stored.isNull())
        return false;
    if (!isPasswordHash(stored))
        return stored.toString() == typed;
    const QByteArray hash = stored.toString().toLatin1();
    const QByteArray computed = cryptOf(typed, hash);
    return !computed.isEmpty() && sameBytes(computed.constData(), hash);
}

void installPasswordCheck(Connection& c)
{
    // Schema names cannot be bound: they are read from the server and quoted. The tables
    // live in the schema they were created in; each extension's objects are named with
    // their own schema, wherever an administrator put the extension.
    c.execute(Sql("CREATE EXTENSION IF NOT EXISTS pgcrypto"));
    const QString tables = quotedName(c.value(Sql("SELECT current_schema()")).toString());
    const Sql extensionSchema("SELECT n.nspname FROM pg_extension e JOIN pg_namespace n ON n.oid = e.extnamespace "
                              "WHERE e.extname = $1");
    const QString pgcrypto = quotedName(c.value(extensionSchema, {QStringLiteral("pgcrypto")}).toString());
    const QString citext = quotedName(c.value(extensionSchema, {QStringLiteral("citext")}).toString());
    // SECURITY DEFINER: the station may call it without the right to read the table. The
    // arguments are the user name ($1) and the typed password ($2), bound by the caller. The
    // user's first row in the order written; a null password or no row is false. The
    // search path is fixed (pg_temp last), so a caller's objects are never picked up.
    c.execute(Sql(QStringLiteral(
        "CREATE OR REPLACE FUNCTION \"aquilevelPasswordMatches\"(text, text) RETURNS boolean "
        "LANGUAGE sql STABLE SECURITY DEFINER SET search_path = %1, pg_temp AS $body$ "
        "SELECT coalesce((SELECT CASE WHEN p.\"password\" ~ '%4' "
        "THEN %2.crypt($2, p.\"password\") = p.\"password\" ELSE p.\"password\" = $2 END "
        "FROM %1.\"tblPasswords\" p WHERE p.\"username\" OPERATOR(%3.=) $1::%3.citext "
        "ORDER BY p.\"rowid\" LIMIT 1), false) $body$")
                      .arg(tables, pgcrypto, citext, QString::fromLatin1(kHashPattern))));
    c.execute(Sql("REVOKE ALL ON FUNCTION \"aquilevelPasswordMatches\"(text, text) FROM PUBLIC"));
}

} // namespace aquilevel::store
