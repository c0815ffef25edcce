#pragma once


namespace aquilevel {

// Thrown by a process end that must leave the process running (tests, a scripted
// participant). Handlers entered from the event loop catch it at their boundary and
// stop the session there, as if the program had ended. It is no std::exception, so a
// handler that reports failures never takes the end of a session for one.
class SessionOver {
public:
    explicit SessionOver(int code) : exitCode(code) {}
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
