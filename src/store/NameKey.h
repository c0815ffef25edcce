#pragma once

#include <QString>

namespace aquilevel::store {

// The key a participant's or a version's name is matched by, on the file and on the
// server alike: the name without surrounding blanks, in Unicode case folding. Stored
// beside the name (SubjectKey, VersionKey) and compared exactly.
inline QString nameKey(const QString& name)
{
    return name.trimmed().toCaseFolded();
}

} // namespace aquilevel::store
