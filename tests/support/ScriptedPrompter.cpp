#include "support/ScriptedPrompter.h"

#include <QStringList>

namespace aquilevel::test {

Prompter::Answer ScriptedPrompter::ask(const Prompt& prompt)
{
    m_prompts.append(prompt);
    if (prompt.buttons == Buttons::Ok)
        return Answer::Ok;
    if (m_answers.isEmpty()) {
        ++m_unexpected;
        return Answer::No;
    }
    return m_answers.takeFirst();
}

QStringList ScriptedPrompter::titles() const
{
    QStringList result;
    for (const Prompt& p : m_prompts)
        result.append(p.title);
    return result;
}

} // namespace aquilevel::test
