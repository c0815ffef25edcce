#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace aquilevel {

// The operating system's requests to end the program (SIGTERM, SIGHUP, SIGINT, SIGQUIT,
// SIGUSR1, SIGALRM and every other signal that would end it but a fault or SIGKILL)
// reach the event loop as calls of `onRequest` with the signal's number, never inside
// the signal handler itself: the handler only writes the number into a pipe. SIGPIPE is
// ignored.
class StopSignals final : public QObject {
public:
    explicit StopSignals(std::function<void(int)> onRequest, QObject* parent = nullptr);
    ~StopSignals() override; // the default handlers again

private:
    std::function<void(int)> m_onRequest;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace aquilevel
