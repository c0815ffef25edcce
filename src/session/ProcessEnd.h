#pragma once

namespace aquilevel {

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
