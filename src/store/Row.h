#pragma once

#include "store/EngineError.h"

#include <QStringList>
#include <QVariant>

#include <memory>

namespace aquilevel::store {

// Rows read at once into memory.
struct Rows {
    QStringList columns;
    QList<QVariantList> values;
};

// One stored row as it reads, for values a caller checks field by field (the
// configuration an experimenter wrote, a participant's saved state): a value is looked
// up by its column's name, in any letter case.
class Row {
public:
    Row() = default;
    Row(QStringList columns, QVariantList values)
        : m_columns(std::make_shared<const QStringList>(std::move(columns))), m_values(std::move(values)) {}
    Row(std::shared_ptr<const QStringList> columns, QVariantList values)
        : m_columns(std::move(columns)), m_values(std::move(values)) {}

    bool has(const QString& column) const { return indexOf(column) >= 0; }
    // Throws StoreError for a column the row does not have.
    QVariant value(const QString& column) const
    {
        const int at = indexOf(column);
        if (at < 0)
            throw StoreError(QStringLiteral("Item %1 not found").arg(column));
        return m_values.value(at);
    }
    QVariant value(const char* column) const { return value(QString::fromLatin1(column)); }
    const QVariantList& values() const { return m_values; }
    QStringList columns() const { return m_columns ? *m_columns : QStringList(); }

private:
    int indexOf(const QString& column) const
    {
        if (!m_columns)
            return -1;
        const int exact = int(m_columns->indexOf(column));
        if (exact >= 0)
            return exact;
        for (int i = 0; i < m_columns->size(); ++i)
            if (m_columns->at(i).compare(column, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }

    std::shared_ptr<const QStringList> m_columns;
    QVariantList m_values;
};

// Every row of a result as a Row.
inline QList<Row> rowsOf(const Rows& rows)
{
    const auto columns = std::make_shared<const QStringList>(rows.columns);
    QList<Row> result;
    result.reserve(rows.values.size());
    for (const QVariantList& values : rows.values)
        result.append(Row(columns, values));
    return result;
}

} // namespace aquilevel::store
