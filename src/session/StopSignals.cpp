#include "session/StopSignals.h"

#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace aquilevel {

namespace {

int g_pipe[2] = {-1, -1};
// Every signal whose default is to end the program, other than a fault of the program
// itself (SIGSEGV, SIGABRT, ...) and SIGKILL, which nothing can catch: each is a request
// to end, and on the trial screen that goes through the experimenter's gate.
constexpr int kSignals[] = {SIGTERM, SIGHUP,    SIGINT,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                            SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,   SIGPWR,  SIGSTKFLT};
// A pipe whose reader has gone is no request to end: the write fails instead.
constexpr int kIgnored[] = {SIGPIPE};

void onSignal(int number)
{
    const char byte = char(number);
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onRequest, QObject* parent)
    : QObject(parent), m_onRequest(std::move(onRequest))
{
    if (g_pipe[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
            return;
        for (const int fd : g_pipe)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
    }
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(g_pipe[1], &byte, 1) == 1 && m_onRequest)
            m_onRequest(int(byte));
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
    for (const int number : kIgnored)
        std::signal(number, SIG_IGN);
}

StopSignals::~StopSignals()
{
    for (const int number : kSignals)
        std::signal(number, SIG_DFL);
    for (const int number : kIgnored)
        std::signal(number, SIG_DFL);
}

} // namespace aquilevel
