#pragma once

#include "session/Headless.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace aquilevel::bench {

// Nobody answers questions while a figure is measured: a question voids the run, apart
// from the one message (if any) the measured run ends with. For UnattendedPrompter.
inline std::function<void(const Prompter::Prompt&)> questionVoidsTheRun(const char* program,
                                                                         QString expectedMessage = {})
{
    return [program, expectedMessage](const Prompter::Prompt& prompt) {
        if (!expectedMessage.isEmpty() && prompt.text.startsWith(expectedMessage))
            return;
        std::fprintf(stderr, "%s: asked [%s] %s\n", program, qPrintable(prompt.title), qPrintable(prompt.text));
        std::exit(2);
    };
}

} // namespace aquilevel::bench
