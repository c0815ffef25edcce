#pragma once

#include <stdexcept>

namespace aquilevel {

// Thrown by a process end that must leave the process running (tests, a scripted
// participant). Handlers entered from the event loop catch it at their boundary and
// stop the session there, as if the program had ended.
class SessionOver : public std::runtime_error {
public:
    explicit SessionOver(int code) : std::runtime_error("session over"), exitCode(code) {}
    int exitCode;
};

// The way the program ends. The real one terminates the process at once, without
// running any window's close handlers; tests put in one that throws instead.
class ProcessEnd {
public:
    virtual ~ProcessEnd() = default;
    [[noreturn]] virtual void terminate(int exitCode) = 0;
};

class ImmediateProcessEnd final : public ProcessEnd {
public:
    [[noreturn]] void terminate(int exitCode) override;
};

} // namespace aquilevel
