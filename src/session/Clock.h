#pragma once

#include <QDateTime>

namespace aquilevel {

// The wall clock, replaceable in tests (bonus rules and summaries depend on the time of day).
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace aquilevel
