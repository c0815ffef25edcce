#pragma once

#include <QtGlobal>

namespace aquilevel::store {

// How the lock back-off lets the screen breathe and waits; replaced in tests so that
// the sequence of waits can be checked without sleeping.
class Pacer {
public:
    virtual ~Pacer() = default;
    virtual void processEventsOnce() = 0;
    virtual void waitMicroseconds(qint64 us) = 0;
};

// The program's random generator, uniform in [0, 1).
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual double next() = 0;
};

class RealPacer final : public Pacer {
public:
    void processEventsOnce() override;
    void waitMicroseconds(qint64 us) override;
};

} // namespace aquilevel::store
