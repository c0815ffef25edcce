#include "store/PasswordHash.h"

#include "store/Engine.h"

#include <QCryptographicHash>
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
// "$2a$", the cost and the salt: what crypt_rn needs to hash a typed password again.
constexpr int kSettingLength = 29;

// Without backslashes, which a server session could read otherwise
// (standard_conforming_strings).
const char* const kHashPattern = "^[$]2a[$](0[4-9]|[12][0-9]|3[01])[$][./A-Za-z0-9]{53}$";

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

QVariant settingOf(const QVariant& stored)
{
    if (!isPasswordHash(stored))
        return {};
    return stored.toString().left(kSettingLength);
}

QString offeredPassword(const QVariant& setting, const QString& typed)
{
    if (setting.isNull())
        return QStringLiteral("sha256:") +
               QString::fromLatin1(QCryptographicHash::hash(typed.toUtf8(), QCryptographicHash::Sha256).toHex());
    return QString::fromLatin1(cryptOf(typed, setting.toString().toLatin1()));
}

bool passwordMatches(const QVariant& stored, const QString& typed)
{
    if (stored.isNull() || stored.toString().isEmpty())
        return false;
    const QString offered = isPasswordHash(stored) ? offeredPassword(settingOf(stored), typed) : typed;
    return !offered.isEmpty() && sameBytes(offered.toUtf8().constData(), stored.toString().toUtf8());
}

void installPasswordCheck(Connection& c)
{
    // Schema names cannot be bound: they are read from the server and quoted. The tables
    // live in the schema they were created in; citext's operator is named with its own
    // schema, wherever an administrator put the extension. SECURITY DEFINER: a station may
    // call them without the right to read the table; the search path is fixed (pg_temp
    // last), so a caller's objects are never picked up. Both look at the user's first row
    // in the order written.
    const QString tables = quotedName(c.value(Sql("SELECT current_schema()")).toString());
    const QString citext = quotedName(c.value(Sql("SELECT n.nspname FROM pg_extension e JOIN pg_namespace n ON "
                                                  "n.oid = e.extnamespace WHERE e.extname = 'citext'"))
                                          .toString());
    const QString firstRow = QStringLiteral("FROM %1.\"tblPasswords\" p WHERE p.\"username\" OPERATOR(%2.=) "
                                            "$1::%2.citext ORDER BY p.\"rowid\" LIMIT 1")
                                 .arg(tables, citext);
    const QString head = QStringLiteral("CREATE OR REPLACE FUNCTION %1 RETURNS %2 LANGUAGE sql STABLE SECURITY DEFINER "
                                        "SET search_path = %3, pg_temp AS $body$ %4 $body$");
    // The hash's setting (cost and salt), which is no secret; null for plain text.
    c.execute(Sql(head.arg(QStringLiteral("\"aquilevelPasswordSetting\"(text)"), QStringLiteral("text"), tables,
                           QStringLiteral("SELECT CASE WHEN p.\"password\" OPERATOR(pg_catalog.~) '%1' THEN "
                                          "pg_catalog.left(p.\"password\", %2) END %3")
                               .arg(QString::fromLatin1(kHashPattern))
                               .arg(kSettingLength)
                               .arg(firstRow))));
    // The stored value against what the station offers: the typed text hashed with that
    // setting, or for an account still in plain text its SHA-256 (so that the typed text
    // itself never travels). An empty or null password, or no row, is false.
    c.execute(Sql(head.arg(QStringLiteral("\"aquilevelPasswordMatches\"(text, text)"), QStringLiteral("boolean"),
                           tables,
                           QStringLiteral("SELECT coalesce((SELECT p.\"password\" <> '' AND CASE WHEN p.\"password\" "
                                          "OPERATOR(pg_catalog.~) '%1' THEN p.\"password\" = $2 ELSE 'sha256:' || "
                                          "pg_catalog.encode(pg_catalog.sha256(pg_catalog.convert_to(p.\"password\", "
                                          "'UTF8')), 'hex') = $2 END %2), false)")
                               .arg(QString::fromLatin1(kHashPattern), firstRow))));
}

} // namespace aquilevel::store
