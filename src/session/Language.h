#pragma once

#include <QString>

namespace aquilevel {

// Shows the screens created from now on in the language `code` ("en", "de"; empty is
// English): installs the program's translation, embedded in the program, and Qt's own
// for the standard buttons (Yes, No, OK, Cancel), and makes the language's number forms
// the default. English removes them again. False, with nothing changed, for a code that
// is not shipped.
bool useLanguage(const QString& code);

// The message refusing an unknown code, naming the known ones.
QString unknownLanguageMessage(const QString& code);

} // namespace aquilevel
