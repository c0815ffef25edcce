#include "store/Pacer.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

namespace aquilevel::store {

void RealPacer::processEventsOnce()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void RealPacer::waitMicroseconds(qint64 us)
{
    // A plain sleep: window events do not run during the wait.
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

} // namespace aquilevel::store
