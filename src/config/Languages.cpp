#include "config/Languages.h"

namespace aquilevel::config {

QStringList knownLanguages()
{
    return {QStringLiteral("en"), QStringLiteral("de")};
}

} // namespace aquilevel::config
