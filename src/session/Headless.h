#pragma once

#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "store/Engine.h"
#include "store/Pacer.h"

#include <QStringList>

#include <functional>

namespace aquilevel {

// The services of a session that runs with nobody at the screen: the experimenter's
// commands, the scripted participant and the benchmarks.

// Nobody answers: a failed access is not retried (No), a message is acknowledged, and
// every text is kept, its line breaks as blanks. `onAsk`, when given, sees each prompt
// first (a benchmark stops when anything is asked at all).
class UnattendedPrompter final : public Prompter {
public:
    explicit UnattendedPrompter(std::function<void(const Prompt&)> onAsk = {}) : m_onAsk(std::move(onAsk)) {}

    Answer ask(const Prompt& prompt) override
    {
        if (m_onAsk)
            m_onAsk(prompt);
        m_titles.append(prompt.title);
        m_messages.append(QString(prompt.text).replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
        return prompt.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }

    const QStringList& messages() const { return m_messages; }
    // The last prompt as "title: text"; empty when nothing was asked.
    QString last() const
    {
        return m_messages.isEmpty() ? QString() : m_titles.last() + QStringLiteral(": ") + m_messages.last();
    }

private:
    std::function<void(const Prompt&)> m_onAsk;
    QStringList m_titles;
    QStringList m_messages;
};

// The session's end unwinds to the handler that was running (SessionOver) instead of
// ending the process, so that the caller can go on: report, print figures.
class UnwindingProcessEnd final : public ProcessEnd {
public:
    [[noreturn]] void terminate(int exitCode) override
    {
        ended = true;
        code = exitCode;
        throw SessionOver(exitCode);
    }
    bool ended = false;
    int code = 0;
};

// A store behind which there is no database: any access is a programming error (a
// session that only lays out a screen).
class NoDatabase final : public store::Engine {
public:
    QString location() const override { return QStringLiteral("(no database)"); }
    store::Connection& open(bool) override
    {
        throw std::logic_error("this session has no database to read or write");
    }
    void release() override {}
    void discard() override {}
    void create(const std::function<void(store::Connection&)>&) override
    {
        throw std::logic_error("this session has no database to create");
    }
    bool holdsTables() override { return false; }
};

// Never waits and lets no window events through.
class IdlePacer final : public store::Pacer {
public:
    void processEventsOnce() override {}
    void waitMicroseconds(qint64) override {}
};

} // namespace aquilevel
