#pragma once

#include "session/Clock.h"
#include "session/ProcessEnd.h"
#include "store/Pacer.h"

#include <QList>
#include <QString>

#include <functional>
#include <stdexcept>

namespace aquilevel::test {

// Thrown where the real program would have ended.
struct ProcessEnded : SessionOver {
    using SessionOver::SessionOver;
};

class ThrowingProcessEnd final : public ProcessEnd {
public:
    [[noreturn]] void terminate(int exitCode) override
    {
        ++calls;
        throw ProcessEnded(exitCode);
    }
    int calls = 0;
};

// Records the back-off instead of sleeping. Each entry is "events" or "wait <us>". It
// can run an action at the n-th wait, so that a test lets another connection finish at a
// chosen moment of the back-off.
class RecordingPacer final : public store::Pacer {
public:
    void processEventsOnce() override { log.append(QStringLiteral("events")); }
    void waitMicroseconds(qint64 us) override
    {
        log.append(QStringLiteral("wait %1").arg(us));
        waits.append(us);
        if (waits.size() == atWait && action)
            action();
    }
    QStringList log;
    QList<qint64> waits;
    int atWait = 0;
    std::function<void()> action;
};

// The program's own back-off (window events let through, real sleeps), counted; a test
// may replace either step to act or watch inside a back-off.
class ProbePacer final : public store::Pacer {
public:
    void processEventsOnce() override
    {
        ++backOffs;
        if (onEvents)
            onEvents();
        else
            m_real.processEventsOnce();
    }
    void waitMicroseconds(qint64 us) override
    {
        ++waits;
        if (onWait)
            onWait(us);
        else
            m_real.waitMicroseconds(us);
    }
    std::function<void()> onEvents;
    std::function<void(qint64)> onWait;
    int backOffs = 0;
    int waits = 0;

private:
    store::RealPacer m_real;
};

// Hands out a fixed sequence of numbers in [0, 1), repeating the last one.
class FixedRandom final : public store::RandomSource {
public:
    explicit FixedRandom(QList<double> values = {0.0}) : m_values(std::move(values)) {}
    double next() override { return m_values.size() > 1 ? m_values.takeFirst() : m_values.first(); }

private:
    QList<double> m_values;
};

class FixedClock final : public Clock {
public:
    explicit FixedClock(QDateTime at = QDateTime(QDate(2026, 3, 4), QTime(10, 0, 5)))
        : time(std::move(at)) {}
    QDateTime now() const override { return time; }
    QDateTime time;
};

} // namespace aquilevel::test
