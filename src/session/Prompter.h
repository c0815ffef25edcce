#pragma once

#include "store/RetryQuestions.h"

#include <QString>

namespace aquilevel {

// Every message box and question of the program goes through a Prompter, so that
// tests can script the answers and the store can ask without knowing about widgets.
class Prompter : public store::RetryQuestions {
public:
    enum class Icon { None, Question, Exclamation, Information, Critical };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    struct Prompt {
        QString title;
        QString text;
        Icon icon = Icon::None;
        Buttons buttons = Buttons::Ok;
    };

    virtual ~Prompter() = default;
    virtual Answer ask(const Prompt& prompt) = 0;

    void inform(const QString& title, const QString& text, Icon icon = Icon::None)
    {
        ask({title, text, icon, Buttons::Ok});
    }
    bool confirm(const QString& title, const QString& text, Icon icon = Icon::None)
    {
        return ask({title, text, icon, Buttons::YesNo}) == Answer::Yes;
    }
    bool askRetry(const QString& title, const QString& text, bool questionIcon) override
    {
        return confirm(title, text, questionIcon ? Icon::Question : Icon::None);
    }
};

// Title of every message box that has no title of its own.
inline const QString kProgramTitle = QStringLiteral("Aquilevel");

} // namespace aquilevel
