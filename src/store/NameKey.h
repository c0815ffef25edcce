#pragma once

#include <QString>

namespace aquilevel::store {

// The key a participant's or a version's name is matched by, on the file and on the
// server alike: the name in Unicode case folding (blanks count: "Ver " is another
// version than "Ver", as it always was). Stored beside the name (SubjectKey,
// VersionKey) and compared exactly.
inline QString nameKey(const QString& name)
{
    return name.toCaseFolded();
}

} // namespace aquilevel::store
