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

// Records the back-off instead of sleeping. Each entry is "events" or "wait <us>".
class RecordingPacer final : public store::Pacer {
public:
    void processEventsOnce() override { log.append(QStringLiteral("events")); }
    void waitMicroseconds(qint64 us) override
    {
        log.append(QStringLiteral("wait %1").arg(us));
        waits.append(us);
    }
    QStringList log;
    QList<qint64> waits;
};

// A back-off that lets a test act while the store waits for a lock, and counts how often.
class ActingPacer final : public store::Pacer {
public:
    void processEventsOnce() override
    {
        ++calls;
        if (act)
            act();
    }
    void waitMicroseconds(qint64) override {}
    std::function<void()> act;
    int calls = 0;
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
