#pragma once

#include "session/Prompter.h"

namespace aquilevel {

// Asks with modal message boxes; the windows' timers keep running meanwhile.
class MessageBoxPrompter final : public Prompter {
public:
    Answer ask(const Prompt& prompt) override;
};

} // namespace aquilevel
