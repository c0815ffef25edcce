#pragma once

#include <QString>

namespace aquilevel::store {

// How the store asks the person at the screen whether to retry a failed access: a Yes/No
// question, with the question-mark icon or without any. The session's message boxes
// implement it; a command without a person refuses.
class RetryQuestions {
public:
    virtual ~RetryQuestions() = default;
    virtual bool askRetry(const QString& title, const QString& text, bool questionIcon) = 0;
};

} // namespace aquilevel::store
