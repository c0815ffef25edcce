#pragma once

#include "store/Row.h"

// A stored row's values as the analyses take them: Null as none.
namespace aquilevel::tools {

inline double number(const store::Row& row, const char* column)
{
    const QVariant v = row.value(column);
    return v.isNull() ? 0.0 : v.toDouble();
}

// A yes/no column: Null is no.
inline bool flag(const store::Row& row, const char* column)
{
    const QVariant v = row.value(column);
    return !v.isNull() && v.toBool();
}

} // namespace aquilevel::tools
