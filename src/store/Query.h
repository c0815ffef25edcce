#pragma once

#include <QString>
#include <QVariantList>

namespace aquilevel::store {

// What a record set is opened on: the bare name of a table, or a SELECT text whose
// values (names, versions, periods) are bound to its "?" placeholders, never pasted in.
class Query {
public:
    Query(const char* tableOrSql) : Query(QString::fromUtf8(tableOrSql)) {}
    Query(QString tableOrSql, QVariantList params = {})
        : m_text(std::move(tableOrSql)), m_params(std::move(params)) {}

    const QString& text() const { return m_text; }
    const QVariantList& params() const { return m_params; }

    // A bare identifier names a table; anything else is an SQL text.
    bool isTableName() const;

private:
    QString m_text;
    QVariantList m_params;
};

} // namespace aquilevel::store
