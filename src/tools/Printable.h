#pragma once

#include "config/ControlCharacters.h"

#include <QString>

namespace aquilevel::tools {

// A text from the database as a command may print it to a terminal: control characters
// (an escape sequence stored in a name, a line break) are shown as \xNN, never sent raw.
inline QString printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (config::isControlCharacter(c))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace aquilevel::tools
