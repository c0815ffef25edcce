#include "store/Query.h"

#include <QRegularExpression>

namespace aquilevel::store {

bool Query::isTableName() const
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return identifier.match(m_text).hasMatch();
}

} // namespace aquilevel::store
