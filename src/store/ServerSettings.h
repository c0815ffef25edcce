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
//   host = db.lab.example        (a name, an address, a folder with the Unix socket, or
//                                 several of them separated by commas, tried in turn)
//   port = 5432
//   database = aquilevel
//   user = station
//   sslrootcert = /etc/aquilevel/lab-root.crt   (the certificate the server's is checked against)
//   sslcert = /etc/aquilevel/station.crt        (a station's own certificate, if the
//   sslkey = /etc/aquilevel/station.key          server asks for one; the key private)
//   sslmode = verify-full
//   passfile = /home/station/.aquilevel-pass   (readable by its owner only)
//
// or given for one run as --server URL / AQUILEVEL_SERVER, e.g.
// postgresql://station@db.lab.example:5432/aquilevel?sslrootcert=/etc/aquilevel/lab-root.crt.
// A password never appears in either: it is in the password file, or in libpq's own
// (~/.pgpass).
//
// TLS is decided by every host libpq may use, the environment's PGHOST and PGHOSTADDR
// included: only a socket folder ('/...', '@...'), libpq's default socket, localhost,
// 127.0.0.1 and ::1 are this computer. Anything else gets sslmode verify-full (the
// server's certificate checked against sslrootcert, else ~/.postgresql/root.crt), and
// only sslmode written in server.conf may lower it; a URL or the environment never
// does. PGSERVICE is refused: its service file could name a server behind our back.
struct ServerSettings {
    QString host; // one host or a comma-separated list
    QString port;
    QString database;
    QString user;
    QString sslmode;
    QString sslrootcert;
    QString sslcert;
    QString sslkey;
    QString passfile;
    // A TLS mode below "verify-full" for another computer: only server.conf may say so.
    bool insecureAllowed = false;

    // The libpq connection keywords and values (the password file by name only).
    QList<QPair<QByteArray, QByteArray>> connectionKeywords() const;
    // For messages: "server HOST:PORT/DATABASE as USER" (HOST may be a list).
    QString describe() const;
    // True when every host libpq may use, PGHOST and PGHOSTADDR included, is this
    // computer (a socket, localhost, 127.0.0.1, ::1).
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
