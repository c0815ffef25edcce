#pragma once

#include "session/Prompter.h"

#include <QString>

#include <cstdio>
#include <cstdlib>

namespace aquilevel::bench {

// Nobody answers questions while a figure is measured: a question voids the run, apart
// from the one message (if any) the measured run ends with.
class FailingPrompter final : public Prompter {
public:
    explicit FailingPrompter(const char* program, QString expectedMessage = {})
        : m_program(program), m_expected(std::move(expectedMessage))
    {
    }

    Answer ask(const Prompt& prompt) override
    {
        if (!m_expected.isEmpty() && prompt.text.startsWith(m_expected))
            return Answer::Ok;
        std::fprintf(stderr, "%s: asked [%s] %s\n", m_program, qPrintable(prompt.title), qPrintable(prompt.text));
        std::exit(2);
    }

private:
    const char* m_program;
    QString m_expected;
};

} // namespace aquilevel::bench
