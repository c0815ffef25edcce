#include "support/SocketRelay.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace aquilevel::test {

namespace {

sockaddr_storage address(const QString& path)
{
    sockaddr_storage storage{};
    auto& a = reinterpret_cast<sockaddr_un&>(storage);
    a.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    if (bytes.size() >= int(sizeof a.sun_path))
        throw std::runtime_error("socket path too long");
    std::memcpy(a.sun_path, bytes.constData(), bytes.size());
    return storage;
}

sockaddr_storage tcpAddress(const QByteArray& ip)
{
    sockaddr_storage storage{};
    auto& a = reinterpret_cast<sockaddr_in&>(storage);
    a.sin_family = AF_INET;
    if (::inet_pton(AF_INET, ip.constData(), &a.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address");
    return storage;
}

// Listens at a, and fills in the port the system chose for a TCP address of port 0.
int listenAt(sockaddr_storage& a)
{
    socklen_t length = a.ss_family == AF_UNIX ? sizeof(sockaddr_un) : sizeof(sockaddr_in);
    if (a.ss_family == AF_UNIX)
        ::unlink(reinterpret_cast<const sockaddr_un&>(a).sun_path);
    const int fd = ::socket(a.ss_family, SOCK_STREAM, 0);
    const int on = 1;
    if (fd >= 0 && a.ss_family == AF_INET) // listening again on the same port at once
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&a), length) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        throw std::runtime_error("cannot listen on the relay's socket");
    return fd;
}

int connectTo(const QString& path)
{
    const sockaddr_storage a = address(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(sockaddr_un)) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

struct Pair {
    int client;
    int server;
};

bool pass(int from, int to)
{
    char buffer[16384];
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    for (ssize_t sent = 0; sent < n;) {
        const ssize_t w = ::send(to, buffer + sent, size_t(n - sent), MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        sent += w;
    }
    return true;
}

} // namespace

SocketRelay::SocketRelay(const QString& target, const QString& name)
    : m_target(target), m_path(m_folder.filePath(name)), m_address(address(m_path))
{
    start();
}

SocketRelay::SocketRelay(const QString& target, Tcp at) : m_target(target), m_address(tcpAddress(at.address))
{
    start();
}

int SocketRelay::port() const
{
    return m_address.ss_family == AF_INET ? ntohs(reinterpret_cast<const sockaddr_in&>(m_address).sin_port) : 0;
}

void SocketRelay::start()
{
    if (::pipe(m_wake) != 0 || ::pipe(m_done) != 0)
        throw std::runtime_error("pipe");
    m_listener = listenAt(m_address);
    m_thread = std::thread([this] { run(); });
}

SocketRelay::~SocketRelay()
{
    command('q');
    m_thread.join();
    for (int fd : {m_wake[0], m_wake[1], m_done[0], m_done[1]})
        ::close(fd);
}

void SocketRelay::cut(const QByteArray& lastWords)
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_lastWords = lastWords;
    }
    command('c');
}

void SocketRelay::command(char c)
{
    if (::write(m_wake[1], &c, 1) != 1)
        throw std::runtime_error("relay command");
    // Done when the relay thread has carried it out.
    char done = 0;
    while (::read(m_done[0], &done, 1) < 0 && errno == EINTR) {
    }
}

void SocketRelay::run()
{
    std::vector<Pair> pairs;
    bool cutAtRequest = false;
    const auto drop = [&](size_t i) {
        ::close(pairs[i].client);
        ::close(pairs[i].server);
        pairs.erase(pairs.begin() + long(i));
    };
    for (;;) {
        std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listener, short(m_listener >= 0 ? POLLIN : 0), 0}};
        for (const Pair& p : pairs) {
            fds.push_back({p.client, POLLIN, 0});
            fds.push_back({p.server, POLLIN, 0});
        }
        if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0)
            continue;
        if (fds[0].revents) {
            char c = 0;
            if (::read(m_wake[0], &c, 1) == 1) {
                if (c == 'c' || c == 'q') {
                    QByteArray words;
                    {
                        const std::lock_guard<std::mutex> hold(m_lock);
                        words.swap(m_lastWords);
                    }
                    while (!pairs.empty()) {
                        if (!words.isEmpty())
                            ::send(pairs.back().client, words.constData(), size_t(words.size()), MSG_NOSIGNAL);
                        drop(pairs.size() - 1);
                    }
                } else if (c == 'n') {
                    cutAtRequest = true;
                } else if (c == 's' && m_listener >= 0) {
                    ::close(m_listener);
                    if (!m_path.isEmpty())
                        ::unlink(m_path.toLocal8Bit().constData());
                    m_listener = -1;
                } else if (c == 'l' && m_listener < 0) {
                    m_listener = listenAt(m_address);
                }
                if (c == 'q') {
                    if (m_listener >= 0)
                        ::close(m_listener);
                    ::write(m_done[1], &c, 1);
                    return;
                }
                ::write(m_done[1], &c, 1);
            }
            continue; // the sets of descriptors may have changed
        }
        if (m_listener >= 0 && (fds[1].revents & POLLIN)) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client >= 0) {
                const int server = connectTo(m_target);
                if (server < 0) {
                    ::close(client);
                } else {
                    pairs.push_back({client, server});
                    ++m_accepted;
                }
            }
            continue;
        }
        for (size_t i = pairs.size(); i-- > 0;) {
            const pollfd& c = fds[2 + 2 * i];
            const pollfd& s = fds[3 + 2 * i];
            bool alive = true;
            if (c.revents) {
                if (cutAtRequest) {
                    while (!pairs.empty())
                        drop(pairs.size() - 1);
                    cutAtRequest = false;
                    break;
                }
                alive = pass(c.fd, s.fd);
            }
            if (alive && s.revents)
                alive = pass(s.fd, c.fd);
            if (!alive)
                drop(i);
        }
    }
}

} // namespace aquilevel::test
