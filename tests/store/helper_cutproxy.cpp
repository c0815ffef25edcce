// A proxy between the program and a PostgreSQL server that can cut a connection right
// after the server has committed a write, before the program hears of it: the case of a
// network cut or a server crash between COMMIT and its answer.
//
//   helper_cutproxy SOCKET [--cut N] [--count FILE] [--verbose]
//
// It listens on 127.0.0.1 on a port of the system's choice, prints "port P" as its first
// line, and forwards every connection to the server's Unix socket SOCKET
// (DIR/.s.PGSQL.PORT) and back. It reads the server's answers message by message (a type
// byte and a four-byte big-endian length that counts itself) and counts committed
// writes: a ReadyForQuery with transaction status 'I' (idle, outside a transaction) that
// ends an answer in which a CommandComplete tagged COMMIT, INSERT, UPDATE or DELETE came
// before it. Counted over all connections, the first is 1.
//
//   --cut N       at the N-th committed write, drop that answer (from its CommandComplete
//                 on, so the client never sees it) and close both sides of the connection.
//                 Once only: later connections (the client's reconnection) are forwarded
//                 as they are. 0 (the default) never cuts.
//   --count FILE  after every committed write, FILE holds the count so far (written
//                 anew and renamed into place, so a reader never sees half of it).
//   --verbose     log every connection and every committed write to standard error.
//
// The stream is read as messages only when it is not encrypted: clients connect with
// sslmode=disable (and gssencmode=disable). A client that asks for TLS or GSS encryption
// anyway is answered by the server with a single byte; a refusal ('N') is understood and
// the startup goes on in the clear, an acceptance makes the proxy forward that
// connection blindly, without counting, and say so.
//
// It runs until it is ended with SIGTERM or SIGINT.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kSslRequest = 80877103;
constexpr uint32_t kGssEncRequest = 80877104;
constexpr uint32_t kCancelRequest = 80877102;
// Reading from one side stops while this much waits to be written to the other.
constexpr size_t kMaxQueued = 4 * 1024 * 1024;

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

uint32_t bigEndian32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

bool setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool isWriteTag(const std::string& tag)
{
    for (const char* word : {"COMMIT", "INSERT", "UPDATE", "DELETE"}) {
        const size_t n = std::strlen(word);
        if (tag.compare(0, n, word) == 0 && (tag.size() == n || tag[n] == ' '))
            return true;
    }
    return false;
}

struct Options {
    std::string socketPath;
    long cutAt = 0;
    std::string countFile;
    bool verbose = false;
};

struct State {
    Options options;
    long committed = 0;
    bool cutDone = false;
    long connections = 0;
};

void writeCount(const State& state)
{
    if (state.options.countFile.empty())
        return;
    const std::string tmp = state.options.countFile + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "cutproxy: cannot write %s: %s\n", tmp.c_str(), std::strerror(errno));
        return;
    }
    std::fprintf(f, "%ld\n", state.committed);
    std::fclose(f);
    if (std::rename(tmp.c_str(), state.options.countFile.c_str()) != 0)
        std::fprintf(stderr, "cutproxy: cannot rename %s: %s\n", tmp.c_str(), std::strerror(errno));
}

// One client connection and its connection to the server.
class Link {
public:
    Link(State& state, int client, int server, long number)
        : m_state(state), m_client(client), m_server(server), m_number(number)
    {
    }
    ~Link() { closeBoth(); }

    bool closed() const { return m_client < 0 && m_server < 0; }

    void fill(std::vector<pollfd>& fds) const
    {
        if (closed())
            return;
        fds.push_back({m_client, short((m_clientEof || m_toServer.size() > kMaxQueued ? 0 : POLLIN) |
                                       (m_toClient.empty() ? 0 : POLLOUT)),
                       0});
        fds.push_back({m_server, short((m_serverEof || m_toClient.size() > kMaxQueued ? 0 : POLLIN) |
                                       (m_toServer.empty() ? 0 : POLLOUT)),
                       0});
    }

    void handle(short clientEvents, short serverEvents)
    {
        if (closed())
            return;
        if (clientEvents & (POLLIN | POLLHUP | POLLERR))
            readFrom(true);
        if (!closed() && (serverEvents & (POLLIN | POLLHUP | POLLERR)))
            readFrom(false);
        if (!closed() && (clientEvents & POLLOUT))
            flush(m_client, m_toClient);
        if (!closed() && (serverEvents & POLLOUT))
            flush(m_server, m_toServer);
        // A side that has ended: what is still queued for the other side goes, then both close.
        if (!closed() && ((m_clientEof && m_toServer.empty()) || (m_serverEof && m_toClient.empty())))
            closeBoth();
    }

private:
    enum class ServerMode { Waiting, ExpectByte, Messages, Blind };

    void log(const char* format, const std::string& detail = {}) const
    {
        std::fprintf(stderr, "cutproxy: connection %ld: ", m_number);
        std::fprintf(stderr, format, detail.c_str());
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    void closeBoth()
    {
        if (m_client >= 0)
            ::close(m_client);
        if (m_server >= 0)
            ::close(m_server);
        m_client = m_server = -1;
        m_toClient.clear();
        m_toServer.clear();
    }

    void flush(int fd, std::string& queue)
    {
        while (!queue.empty()) {
            const ssize_t n = ::send(fd, queue.data(), queue.size(), MSG_NOSIGNAL);
            if (n > 0) {
                queue.erase(0, size_t(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            // The other side is gone: so is this connection.
            if (m_state.options.verbose)
                log("%s", std::string("write failed: ") + std::strerror(errno));
            closeBoth();
            return;
        }
    }

    void readFrom(bool fromClient)
    {
        char buffer[65536];
        const int fd = fromClient ? m_client : m_server;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            if (m_state.options.verbose)
                log("%s", std::string(fromClient ? "client" : "server") + " read failed: " + std::strerror(errno));
            (fromClient ? m_clientEof : m_serverEof) = true;
            return;
        }
        if (n == 0) {
            if (m_state.options.verbose)
                log("%s", std::string(fromClient ? "client" : "server") + " closed");
            (fromClient ? m_clientEof : m_serverEof) = true;
            if (!fromClient) {
                // What was held or incomplete goes as it is: the client learns of the end itself.
                m_toClient += m_held;
                m_toClient += m_fromServer;
                m_held.clear();
                m_holding = false;
            }
            m_fromServer.clear();
            return;
        }
        if (fromClient) {
            m_toServer.append(buffer, size_t(n));
            if (m_clientStartup)
                readClient(buffer, size_t(n));
            flush(m_server, m_toServer);
        } else {
            readServer(buffer, size_t(n));
            if (!closed())
                flush(m_client, m_toClient);
        }
    }

    // The client's first packets have no type byte: a length and a request code.
    void readClient(const char* data, size_t size)
    {
        m_fromClient.append(data, size);
        while (m_clientStartup && m_fromClient.size() >= 8) {
            const auto* p = reinterpret_cast<const unsigned char*>(m_fromClient.data());
            const uint32_t length = bigEndian32(p);
            const uint32_t code = bigEndian32(p + 4);
            if (length < 8 || m_fromClient.size() < length)
                return;
            m_fromClient.erase(0, length);
            if (code == kSslRequest || code == kGssEncRequest) {
                // The server answers with a single byte, then the client goes on.
                m_serverMode = ServerMode::ExpectByte;
            } else if (code == kCancelRequest) {
                // No answer; the server closes the connection.
                m_clientStartup = false;
            } else {
                // The startup message: the server answers with messages from now on.
                m_clientStartup = false;
                m_serverMode = ServerMode::Messages;
            }
        }
        if (!m_clientStartup)
            m_fromClient.clear();
    }

    void readServer(const char* data, size_t size)
    {
        size_t offset = 0;
        if (m_serverMode == ServerMode::ExpectByte && size > 0) {
            const char answer = data[0];
            if (answer == 'N') {
                m_serverMode = ServerMode::Waiting; // the client's next packet says what follows
                m_toClient.push_back(answer);
                offset = 1;
            } else if (answer == 'S' || answer == 'G') {
                log("%s", std::string("the client chose ") + (answer == 'S' ? "TLS" : "GSS encryption") +
                              ": forwarded without counting (connect with sslmode=disable and gssencmode=disable)");
                m_serverMode = ServerMode::Blind;
            } else {
                m_serverMode = ServerMode::Messages; // an error message instead of the byte
            }
        }
        if (m_serverMode != ServerMode::Messages) {
            m_toClient.append(data + offset, size - offset);
            return;
        }
        m_fromServer.append(data + offset, size - offset);
        size_t at = 0;
        while (m_fromServer.size() - at >= 5) {
            const auto* p = reinterpret_cast<const unsigned char*>(m_fromServer.data() + at);
            const uint32_t length = bigEndian32(p + 1);
            if (length < 4) {
                log("%s", "a message with a length below 4: forwarded without counting from here");
                m_serverMode = ServerMode::Blind;
                break;
            }
            if (m_fromServer.size() - at < size_t(length) + 1)
                break;
            const std::string message = m_fromServer.substr(at, size_t(length) + 1);
            at += size_t(length) + 1;
            if (!onMessage(message))
                return; // cut: the connection is closed, nothing more goes anywhere
        }
        m_fromServer.erase(0, at);
        if (m_serverMode == ServerMode::Blind) {
            m_toClient += m_fromServer;
            m_fromServer.clear();
        }
    }

    // Returns false when the connection was cut.
    bool onMessage(const std::string& message)
    {
        const char type = message[0];
        const std::string body = message.substr(5);
        switch (type) {
        case 'C': {
            const std::string tag(body.c_str()); // up to its terminating zero byte
            if (isWriteTag(tag)) {
                m_holding = true;
                m_writeTag = tag;
            }
            break;
        }
        case 'E':
            // An error after an INSERT, UPDATE or DELETE of one answer undoes it (the
            // statements of one simple query share a transaction); after a COMMIT it does not.
            if (m_holding && m_writeTag.compare(0, 6, "COMMIT") != 0)
                m_writeTag = "(undone) " + m_writeTag;
            break;
        case 'G':
        case 'W':
            // COPY from the client: the server waits for data before it is ready again.
            m_toClient += m_held;
            m_held.clear();
            m_holding = false;
            break;
        case 'Z': {
            const char status = body.empty() ? '?' : body[0];
            const bool committed = m_holding && status == 'I' && isWriteTag(m_writeTag);
            m_holding = false;
            if (committed) {
                ++m_state.committed;
                writeCount(m_state);
                if (m_state.options.verbose)
                    log("%s", "committed write " + std::to_string(m_state.committed) + ": " + m_writeTag);
                if (!m_state.cutDone && m_state.options.cutAt > 0 && m_state.committed == m_state.options.cutAt) {
                    m_state.cutDone = true;
                    log("%s", "cut at committed write " + std::to_string(m_state.committed) + " (" + m_writeTag +
                                  "): its answer dropped, both sides closed");
                    m_held.clear();
                    closeBoth();
                    return false;
                }
            }
            m_toClient += m_held;
            m_held.clear();
            m_toClient += message;
            return true;
        }
        default:
            break;
        }
        (m_holding ? m_held : m_toClient) += message;
        return true;
    }

    State& m_state;
    int m_client;
    int m_server;
    long m_number;
    bool m_clientEof = false;
    bool m_serverEof = false;
    bool m_clientStartup = true;
    ServerMode m_serverMode = ServerMode::Waiting;
    std::string m_fromClient; // startup packets not yet whole
    std::string m_fromServer; // a message not yet whole
    std::string m_held;       // an answer from its write's CommandComplete on
    bool m_holding = false;
    std::string m_writeTag;
    std::string m_toClient;
    std::string m_toServer;
};

int connectToServer(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        ::close(fd);
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int usage()
{
    std::fprintf(stderr, "usage: helper_cutproxy SOCKET [--cut N] [--count FILE] [--verbose]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    State state;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cut" && i + 1 < argc) {
            char* end = nullptr;
            state.options.cutAt = std::strtol(argv[++i], &end, 10);
            if (!end || *end || state.options.cutAt < 0)
                return usage();
        } else if (arg == "--count" && i + 1 < argc) {
            state.options.countFile = argv[++i];
        } else if (arg == "--verbose") {
            state.options.verbose = true;
        } else if (!arg.empty() && arg[0] != '-' && state.options.socketPath.empty()) {
            state.options.socketPath = arg;
        } else {
            return usage();
        }
    }
    if (state.options.socketPath.empty())
        return usage();

    struct sigaction action{};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !setNonBlocking(listener)) {
        std::fprintf(stderr, "cutproxy: cannot listen on 127.0.0.1: %s\n", std::strerror(errno));
        return 1;
    }
    writeCount(state);
    std::printf("port %d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    std::vector<std::unique_ptr<Link>> links;
    while (!g_stop) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (const auto& link : links)
            link->fill(fds);
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "cutproxy: poll: %s\n", std::strerror(errno));
            return 1;
        }
        size_t at = 1;
        for (const auto& link : links) {
            if (link->closed())
                continue;
            link->handle(fds[at].revents, fds[at + 1].revents);
            at += 2;
        }
        std::erase_if(links, [](const std::unique_ptr<Link>& link) { return link->closed(); });
        if (fds[0].revents & POLLIN) {
            for (;;) {
                const int client = ::accept(listener, nullptr, nullptr);
                if (client < 0)
                    break;
                const long number = ++state.connections;
                const int server = connectToServer(state.options.socketPath);
                if (server < 0) {
                    // As a server that is down: the client's connection is refused at once.
                    if (state.options.verbose)
                        std::fprintf(stderr, "cutproxy: connection %ld: cannot reach %s: %s\n", number,
                                     state.options.socketPath.c_str(), std::strerror(errno));
                    ::close(client);
                    continue;
                }
                setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
                setNonBlocking(client);
                setNonBlocking(server);
                if (state.options.verbose)
                    std::fprintf(stderr, "cutproxy: connection %ld: opened\n", number);
                links.push_back(std::make_unique<Link>(state, client, server, number));
            }
        }
    }
    links.clear();
    ::close(listener);
    return 0;
}
