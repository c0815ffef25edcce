#include "store/ServerSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

#include <cstdlib>

namespace aquilevel::store {

namespace {

const QString kConfName = QStringLiteral("server.conf");
const QString kVerifyFull = QStringLiteral("verify-full");

// The settings a line of server.conf and a parameter of a server address may both give.
// Any other is refused: one passed over silently (hostaddr, service) could have been
// meant to decide where the connection goes.
const std::pair<const char*, QString ServerSettings::*> kFields[] = {
    {"host", &ServerSettings::host},           {"port", &ServerSettings::port},
    {"user", &ServerSettings::user},           {"sslmode", &ServerSettings::sslmode},
    {"sslrootcert", &ServerSettings::sslrootcert}, {"sslcert", &ServerSettings::sslcert},
    {"sslkey", &ServerSettings::sslkey},       {"passfile", &ServerSettings::passfile}};

bool assign(ServerSettings& s, const QString& key, const QString& value)
{
    for (const auto& [name, field] : kFields)
        if (key == QLatin1String(name)) {
            s.*field = value;
            return true;
        }
    return false;
}

QString knownKeys()
{
    QStringList names;
    for (const auto& field : kFields)
        names << QLatin1String(field.first);
    return names.join(QStringLiteral(", "));
}

bool knownTlsMode(const QString& mode)
{
    static const QStringList modes = {QStringLiteral("disable"), QStringLiteral("allow"),   QStringLiteral("prefer"),
                                      QStringLiteral("require"), QStringLiteral("verify-ca"), kVerifyFull};
    return modes.contains(mode);
}

// The modes that check who the server is, not only that the line is encrypted.
bool verifiesServer(const QString& mode)
{
    return mode == kVerifyFull || mode == QLatin1String("verify-ca");
}

bool loopbackAddress(const QString& address)
{
    return address == QLatin1String("127.0.0.1") || address == QLatin1String("::1");
}

// An empty entry is libpq's default socket; '/' starts a socket folder, '@' an abstract
// socket. Strict on purpose: any other name or address may be another computer.
bool localHost(const QString& host)
{
    return host.isEmpty() || host.startsWith(QLatin1Char('/')) || host.startsWith(QLatin1Char('@')) ||
           host == QLatin1String("localhost") || loopbackAddress(host);
}

// The first host libpq may connect to that is not this computer, with where it comes
// from; empty when every one is local. libpq reads PGHOST when no host is given, and
// PGHOSTADDR always (the program gives no hostaddr), which then wins over the host.
QString remoteHost(const ServerSettings& s)
{
    const bool fromEnvironment = s.host.isEmpty();
    const QString hosts = fromEnvironment ? qEnvironmentVariable("PGHOST") : s.host;
    for (const QString& host : hosts.split(QLatin1Char(',')))
        if (!localHost(host))
            return fromEnvironment ? QStringLiteral("%1 (from PGHOST)").arg(host) : host;
    for (const QString& address : qEnvironmentVariable("PGHOSTADDR").split(QLatin1Char(',')))
        if (!address.isEmpty() && !loopbackAddress(address))
            return QStringLiteral("%1 (from PGHOSTADDR)").arg(address);
    return {};
}

void checkExists(const QString& path, const QString& what, const QString& where)
{
    if (!QFileInfo::exists(path))
        throw ServerSettingsError(QStringLiteral("%1 names the %2 %3, which does not exist.").arg(where, what, path));
}

// A password or key file others can read is refused: it would hand the station's access
// to anyone on the computer.
void checkPrivate(const QString& path, const QString& what, const QString& where)
{
    if (path.isEmpty())
        return;
    checkExists(path, what, where);
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (QFileInfo(path).permissions() & others)
        throw ServerSettingsError(
            QStringLiteral("%1 names the %2 %3, which others can read; make it private with: chmod 600 %3")
                .arg(where, what, path));
}

void checkClientCertificate(const ServerSettings& s, const QString& where)
{
    if (s.sslcert.isEmpty() && s.sslkey.isEmpty())
        return;
    if (s.sslcert.isEmpty() || s.sslkey.isEmpty())
        throw ServerSettingsError(QStringLiteral("%1 names only half of the station's certificate: give both "
                                                 "sslcert = PATH (the certificate) and sslkey = PATH (its key).")
                                      .arg(where));
    checkExists(s.sslcert, QStringLiteral("certificate"), where);
    checkPrivate(s.sslkey, QStringLiteral("key file"), where);
}

// A service file (PGSERVICE) could name a host, an address or a TLS mode that this
// program never sees. Rather than read it as libpq would, the station is asked to keep
// its server in server.conf.
void refuseService()
{
    if (!qEnvironmentVariableIsEmpty("PGSERVICE"))
        throw ServerSettingsError(QStringLiteral("The environment names a libpq service (PGSERVICE), whose settings "
                                                 "could lead to another server or a weaker TLS mode: unset PGSERVICE "
                                                 "and write the server's settings in server.conf."));
}

// The certificate the server's is checked against, named to libpq explicitly so that
// PGSSLROOTCERT cannot stand in for the lab's.
void settleRootCertificate(ServerSettings& s, const QString& where)
{
    if (!s.sslrootcert.isEmpty()) {
        checkExists(s.sslrootcert, QStringLiteral("root certificate"), where);
        return;
    }
    const QString own = QDir::home().filePath(QStringLiteral(".postgresql/root.crt"));
    if (!QFileInfo::exists(own))
        throw ServerSettingsError(
            QStringLiteral("%1: sslmode=%2 checks the server's certificate against the lab's root certificate, but "
                           "none is named and %3 does not exist. Write in server.conf: sslrootcert = PATH "
                           "(the lab's root certificate).")
                .arg(where, s.sslmode, own));
    s.sslrootcert = own;
}

// TLS with the server's certificate checked for every other computer, unless server.conf
// itself says otherwise.
void settleTls(ServerSettings& s, const QString& where)
{
    refuseService();
    if (!s.sslmode.isEmpty() && !knownTlsMode(s.sslmode))
        throw ServerSettingsError(QStringLiteral("%1: unknown sslmode \"%2\" (verify-full, verify-ca, require, "
                                                 "prefer, allow, disable).")
                                      .arg(where, s.sslmode));
    if (const QString remote = remoteHost(s); !remote.isEmpty()) {
        if (s.sslmode.isEmpty())
            s.sslmode = kVerifyFull;
        else if (s.sslmode != kVerifyFull && !s.insecureAllowed)
            // verify-ca checks the certificate's signer but not the name in it: any
            // certificate of the lab's (a station's own) would pass for the server.
            throw ServerSettingsError(QStringLiteral("%1 asks for sslmode=%2 to the server %3, another computer: the "
                                                     "connection must be encrypted and the server's certificate and "
                                                     "name checked (sslmode=verify-full), unless the lab writes "
                                                     "sslmode in server.conf.")
                                          .arg(where, s.sslmode, remote));
    }
    if (verifiesServer(s.sslmode))
        settleRootCertificate(s, where);
}

void requireDatabase(const ServerSettings& s, const QString& where)
{
    if (s.database.isEmpty())
        throw ServerSettingsError(QStringLiteral("%1 names no database (database = NAME).").arg(where));
}

ServerSettingsError passwordInAddress()
{
    return ServerSettingsError(QStringLiteral("A server address must not hold a password (it would show in the list "
                                              "of processes); put it in ~/.pgpass or a password file."));
}

// The checks a server.conf and a URL share, in the order a reader mends them.
void check(ServerSettings& s, const QString& where)
{
    requireDatabase(s, where);
    checkPrivate(s.passfile, QStringLiteral("password file"), where);
    checkClientCertificate(s, where);
    settleTls(s, where);
}

} // namespace

bool ServerSettings::isLocal() const
{
    return remoteHost(*this).isEmpty();
}

QList<QPair<QByteArray, QByteArray>> ServerSettings::connectionKeywords() const
{
    QList<QPair<QByteArray, QByteArray>> keywords;
    const auto add = [&](const char* key, const QString& value) {
        if (!value.isEmpty())
            keywords.append({QByteArray(key), value.toUtf8()});
    };
    add("host", host);
    add("port", port);
    add("dbname", database);
    add("user", user);
    add("sslmode", sslmode);
    add("sslrootcert", sslrootcert);
    add("sslcert", sslcert);
    add("sslkey", sslkey);
    // libpq would let GSSAPI's encryption stand in for the TLS asked for, with no
    // certificate checked.
    if (verifiesServer(sslmode) || sslmode == QLatin1String("require"))
        add("gssencmode", QStringLiteral("disable"));
    add("passfile", passfile);
    add("application_name", QStringLiteral("aquilevel"));
    // A server that does not answer is reported within seconds, not minutes.
    add("connect_timeout", QStringLiteral("5"));
    return keywords;
}

QString ServerSettings::describe() const
{
    QString where = host.isEmpty() ? qEnvironmentVariable("PGHOST") : host;
    if (where.isEmpty())
        where = QStringLiteral("local socket");
    if (!port.isEmpty())
        where += QLatin1Char(':') + port;
    return QStringLiteral("server %1/%2%3").arg(where, database, user.isEmpty() ? QString() : QStringLiteral(" as ") + user);
}

std::optional<ServerSettings> serverSettingsOf(const QString& dataFolder)
{
    const QString path = QDir(dataFolder).filePath(kConfName);
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw ServerSettingsError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    ServerSettings s;
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        QString line = QString::fromUtf8(file.readLine());
        if (const qsizetype hash = line.indexOf(QLatin1Char('#')); hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            throw ServerSettingsError(QStringLiteral("%1, line %2: expected \"key = value\".").arg(path).arg(lineNumber));
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("database") || key == QLatin1String("dbname"))
            s.database = value;
        else if (key == QLatin1String("password"))
            throw ServerSettingsError(QStringLiteral("%1, line %2: no password in server.conf; put it in a password file "
                                                     "readable only by its owner (passfile = PATH) or in ~/.pgpass.")
                                          .arg(path)
                                          .arg(lineNumber));
        else if (!assign(s, key, value))
            throw ServerSettingsError(QStringLiteral("%1, line %2: unknown setting \"%3\" (database, %4).")
                                          .arg(path)
                                          .arg(lineNumber)
                                          .arg(key, knownKeys()));
    }
    // The lab wrote the TLS mode here itself: a weak one is its decision.
    s.insecureAllowed = !s.sslmode.isEmpty();
    check(s, path);
    return s;
}

ServerSettings serverSettingsFromUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("postgresql") && url.scheme() != QLatin1String("postgres")))
        throw ServerSettingsError(
            QStringLiteral("\"%1\" is no server address; expected postgresql://USER@HOST:PORT/DATABASE")
                .arg(url.toDisplayString(QUrl::RemovePassword | QUrl::RemoveQuery)));
    if (!url.password().isEmpty())
        throw passwordInAddress();
    ServerSettings s;
    s.host = url.host();
    if (url.port() > 0)
        s.port = QString::number(url.port());
    s.user = url.userName();
    s.database = url.path().mid(1);
    const QString where = QStringLiteral("The server address");
    // ?host=/run/postgresql names a socket folder.
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password"))
            throw passwordInAddress();
        if (!assign(s, key, value))
            throw ServerSettingsError(QStringLiteral("%1 has an unknown parameter \"%2\" (%3).")
                                          .arg(where, key, knownKeys()));
    }
    check(s, where);
    return s;
}

std::optional<ServerSettings> chosenServer(const QString& dataFolder, const QString& commandLineUrl)
{
    if (!commandLineUrl.isEmpty())
        return serverSettingsFromUrl(commandLineUrl);
    if (const char* env = std::getenv("AQUILEVEL_SERVER"); env && *env)
        return serverSettingsFromUrl(QString::fromLocal8Bit(env));
    return serverSettingsOf(dataFolder);
}

} // namespace aquilevel::store
