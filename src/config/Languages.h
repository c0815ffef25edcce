#pragma once

#include <QStringList>

namespace aquilevel::config {

// The participant languages the program has texts for, as the codes tblSetup's Language
// holds ("en", "de"). English is also what an empty Language means.
QStringList knownLanguages();

} // namespace aquilevel::config
