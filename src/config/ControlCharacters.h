#pragma once

#include <QString>

namespace aquilevel::config {

// Tabs, line breaks, escape sequences: nothing a name or a version may hold, and nothing
// a command may print raw to a terminal.
inline bool isControlCharacter(QChar c)
{
    return c.category() == QChar::Other_Control;
}

inline bool hasControlCharacters(const QString& text)
{
    for (const QChar c : text)
        if (isControlCharacter(c))
            return true;
    return false;
}

} // namespace aquilevel::config
