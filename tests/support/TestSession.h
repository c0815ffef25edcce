#pragma once

#include "session/Session.h"
#include "support/Fakes.h"
#include "support/ScriptedPrompter.h"

#include <memory>

namespace aquilevel::test {

// A session wired to fakes: scripted questions, a fixed clock, a recorded back-off and
// a process end that throws ProcessEnded.
struct TestSession {
    explicit TestSession(std::unique_ptr<store::Engine> engine)
        : session({prompter, clock, processEnd, pacer}, std::move(engine)) {}

    ScriptedPrompter prompter;
    FixedClock clock;
    ThrowingProcessEnd processEnd;
    RecordingPacer pacer;
    Session session;
};

} // namespace aquilevel::test
