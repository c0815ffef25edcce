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

bool weakTls(const QString& mode)
{
    return mode == QLatin1String("disable") || mode == QLatin1String("allow") || mode == QLatin1String("prefer");
}

// A password file others can read is refused: it would hand the station's access to
// anyone on the computer.
void checkPassfile(const QString& path, const QString& where)
{
    if (path.isEmpty())
        return;
    const QFileInfo info(path);
    if (!info.exists())
        throw ServerSettingsError(QStringLiteral("The password file %1 named in %2 does not exist.").arg(path, where));
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (info.permissions() & others)
        throw ServerSettingsError(
            QStringLiteral("The password file %1 named in %2 can be read by others; make it private with: chmod 600 %1")
                .arg(path, where));
}

// TLS for every other computer, unless server.conf itself says otherwise.
void settleTls(ServerSettings& s, const QString& where)
{
    if (s.isLocal())
        return;
    if (s.sslmode.isEmpty()) {
        s.sslmode = QStringLiteral("require");
        return;
    }
    if (weakTls(s.sslmode) && !s.insecureAllowed)
        throw ServerSettingsError(QStringLiteral("%1 asks for sslmode=%2 to the server %3, another computer: the "
                                                 "connection must be encrypted (sslmode=require or verify-full), "
                                                 "unless the lab writes sslmode in server.conf.")
                                      .arg(where, s.sslmode, s.host));
}

void requireDatabase(const ServerSettings& s, const QString& where)
{
    if (s.database.isEmpty())
        throw ServerSettingsError(QStringLiteral("%1 names no database (database = NAME).").arg(where));
}

} // namespace

bool ServerSettings::isLocal() const
{
    return host.isEmpty() || host.startsWith(QLatin1Char('/')) || host == QLatin1String("localhost") ||
           host == QLatin1String("127.0.0.1") || host == QLatin1String("::1");
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
    add("passfile", passfile);
    add("application_name", QStringLiteral("aquilevel"));
    // A server that does not answer is reported within seconds, not minutes.
    add("connect_timeout", QStringLiteral("5"));
    return keywords;
}

QString ServerSettings::describe() const
{
    QString where = host.isEmpty() ? QStringLiteral("local socket") : host;
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
        if (key == QLatin1String("host"))
            s.host = value;
        else if (key == QLatin1String("port"))
            s.port = value;
        else if (key == QLatin1String("database") || key == QLatin1String("dbname"))
            s.database = value;
        else if (key == QLatin1String("user"))
            s.user = value;
        else if (key == QLatin1String("sslmode"))
            s.sslmode = value;
        else if (key == QLatin1String("passfile"))
            s.passfile = value;
        else if (key == QLatin1String("password"))
            throw ServerSettingsError(QStringLiteral("%1, line %2: no password in server.conf; put it in a password file "
                                                     "readable only by its owner (passfile = PATH) or in ~/.pgpass.")
                                          .arg(path)
                                          .arg(lineNumber));
        else
            throw ServerSettingsError(QStringLiteral("%1, line %2: unknown setting \"%3\" (host, port, database, user, "
                                                     "sslmode, passfile).")
                                          .arg(path)
                                          .arg(lineNumber)
                                          .arg(key));
    }
    // The lab wrote the TLS mode here itself: a weak one is its decision.
    s.insecureAllowed = !s.sslmode.isEmpty();
    requireDatabase(s, path);
    checkPassfile(s.passfile, path);
    settleTls(s, path);
    return s;
}

ServerSettings serverSettingsFromUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("postgresql") && url.scheme() != QLatin1String("postgres")))
        throw ServerSettingsError(
            QStringLiteral("\"%1\" is no server address; expected postgresql://USER@HOST:PORT/DATABASE").arg(url.toDisplayString(QUrl::RemovePassword)));
    if (!url.password().isEmpty())
        throw ServerSettingsError(QStringLiteral("A server address must not hold a password (it would show in the list "
                                                 "of processes); put it in ~/.pgpass or a password file."));
    ServerSettings s;
    s.host = url.host();
    if (url.port() > 0)
        s.port = QString::number(url.port());
    s.user = url.userName();
    s.database = url.path().mid(1);
    const QUrlQuery query(url);
    s.sslmode = query.queryItemValue(QStringLiteral("sslmode"));
    s.passfile = query.queryItemValue(QStringLiteral("passfile"));
    if (const QString socket = query.queryItemValue(QStringLiteral("host")); !socket.isEmpty())
        s.host = socket; // postgresql:///db?host=/run/postgresql: a socket folder
    if (const QString port = query.queryItemValue(QStringLiteral("port")); !port.isEmpty())
        s.port = port;
    if (const QString user = query.queryItemValue(QStringLiteral("user")); !user.isEmpty())
        s.user = user;
    requireDatabase(s, QStringLiteral("The server address"));
    checkPassfile(s.passfile, QStringLiteral("the server address"));
    settleTls(s, QStringLiteral("The server address"));
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
