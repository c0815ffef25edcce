#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <mutex>
#include <thread>

#include <sys/socket.h>

namespace aquilevel::test {

// Stands between a client and a Unix socket (a database server's), relaying bytes both
// ways on a thread of its own, so that a test can take the server away the ways a lab
// loses it: every connection ended without a word (a crash, an immediate stop, a cut
// cable), a connection ended as the client's next request goes out (a crash in the
// middle of a statement), nothing listening (a stopped server). It may also listen on a
// TCP port, standing in for a server on another computer.
class SocketRelay {
public:
    // Listens at folder()/NAME and relays each connection to TARGET.
    SocketRelay(const QString& target, const QString& name);
    // Listens on a free TCP port of an IPv4 address (port()) and relays to TARGET.
    struct Tcp {
        QByteArray address;
    };
    SocketRelay(const QString& target, Tcp at);
    ~SocketRelay();
    SocketRelay(const SocketRelay&) = delete;
    SocketRelay& operator=(const SocketRelay&) = delete;

    QString folder() const { return m_folder.path(); }
    int port() const;

    // Ends every relayed connection at once, after sending its client lastWords (what
    // a server says as it goes); new connections are relayed as before.
    void cut(const QByteArray& lastWords = {});
    // Ends every relayed connection when its client next sends anything, unsent.
    void cutAtNextRequest() { command('n'); }
    // Stops listening (connecting fails at once) or listens again.
    void listen(bool on) { command(on ? 'l' : 's'); }
    // Connections relayed so far.
    int accepted() const { return m_accepted; }

private:
    void start();
    void command(char c);
    void run();

    QTemporaryDir m_folder;
    QString m_target;
    QString m_path;
    sockaddr_storage m_address{}; // where it listens, the port once chosen
    int m_listener = -1;
    std::mutex m_lock;
    QByteArray m_lastWords; // guarded by m_lock
    int m_wake[2] = {-1, -1};
    int m_done[2] = {-1, -1};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

} // namespace aquilevel::test
