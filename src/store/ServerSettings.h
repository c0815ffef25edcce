#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <optional>
#include <stdexcept>

namespace aquilevel::store {

// Where a station finds the lab's database server. Written once per station in the
// data folder as server.conf, one "key = value" a line ('#' starts a comment):
//
//   host = db.lab.example        (a name, an address, or a folder with the Unix socket)
//   port = 5432
//   database = aquilevel
//   user = station
//   sslmode = verify-full        (TLS; required for any host but this computer)
//   passfile = /home/station/.aquilevel-pass   (readable by its owner only)
//
// or given for one run as --server URL / AQUILEVEL_SERVER, e.g.
// postgresql://station@db.lab.example:5432/aquilevel?sslmode=require. A password never
// appears in either: it is in the password file, or in libpq's own (~/.pgpass).
struct ServerSettings {
    QString host;
    QString port;
    QString database;
    QString user;
    QString sslmode;
    QString passfile;
    // A TLS mode below "require" for another computer: only server.conf may say so.
    bool insecureAllowed = false;

    // The libpq connection keywords and values (the password file by name only).
    QList<QPair<QByteArray, QByteArray>> connectionKeywords() const;
    // For messages: "server HOST:PORT/DATABASE as USER".
    QString describe() const;
    // True when the host is this computer (a socket folder, localhost, 127.0.0.1, ::1).
    bool isLocal() const;
};

// Thrown for a setting that cannot be used, with the reason and the fix.
class ServerSettingsError : public std::runtime_error {
public:
    explicit ServerSettingsError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// The settings of a data folder's server.conf, checked; none when there is no such file.
std::optional<ServerSettings> serverSettingsOf(const QString& dataFolder);
// A --server / AQUILEVEL_SERVER URL, checked.
ServerSettings serverSettingsFromUrl(const QString& url);

// The server a run uses: the URL given (command line first, then AQUILEVEL_SERVER),
// else the data folder's server.conf; none means the encrypted file.
std::optional<ServerSettings> chosenServer(const QString& dataFolder, const QString& commandLineUrl);

} // namespace aquilevel::store
