#pragma once

#include "session/Prompter.h"

#include <QList>

namespace aquilevel::test {

// Answers questions from a queue and remembers every prompt it was shown. A Yes/No
// question with no answer queued is answered No and counted as unexpected.
class ScriptedPrompter final : public Prompter {
public:
    Answer ask(const Prompt& prompt) override;

    void queue(Answer answer) { m_answers.append(answer); }
    void queueYes(int times = 1) { for (int i = 0; i < times; ++i) queue(Answer::Yes); }
    void queueNo(int times = 1) { for (int i = 0; i < times; ++i) queue(Answer::No); }

    const QList<Prompt>& prompts() const { return m_prompts; }
    QStringList titles() const;
    int unexpected() const { return m_unexpected; }
    int pending() const { return m_answers.size(); }
    void clear() { m_prompts.clear(); m_answers.clear(); m_unexpected = 0; }

private:
    QList<Answer> m_answers;
    QList<Prompt> m_prompts;
    int m_unexpected = 0;
};

} // namespace aquilevel::test
