#include "store/RecordSet.h"

#include <utility>

#include "store/EngineError.h"
#include "store/Schema.h"
#include "store/Store.h"

#include <QDateTime>
#include <QSysInfo>

namespace aquilevel::store {

RecordSet::RecordSet(Store& store, Kind kind, Query source, QString status,
                     std::optional<Rows> rows, QString table)
    : m_store(store), m_kind(kind), m_source(std::move(source)), m_status(std::move(status)),
      m_rows(std::move(rows)), m_table(std::move(table))
{
}

void RecordSet::ensureOpen() const
{
    if (m_closed)
        throw StoreError(QStringLiteral("The record set on %1 is closed").arg(m_source.text()));
}

void RecordSet::ensureRows()
{
    ensureOpen();
    if (m_rows)
        return;
    // A dynaset over a whole table reads its rows only when someone walks them:
    // appending an event must not read the whole event log first.
    const QString sql = QStringLiteral("select * from \"%1\"").arg(m_table);
    m_store.retry([&](Connection& c) { m_rows = c.select(Query(sql), true); }, false,
                  m_source.text(), m_status);
    m_current = 0;
}

bool RecordSet::isEOF()
{
    ensureRows();
    return m_current >= m_rows->values.size();
}

void RecordSet::moveFirst()
{
    ensureRows();
    if (m_rows->values.isEmpty())
        throw StoreError(QStringLiteral("No current record in %1").arg(m_source.text()));
    m_current = 0;
}

void RecordSet::moveNext()
{
    if (isEOF())
        throw StoreError(QStringLiteral("No current record in %1").arg(m_source.text()));
    ++m_current;
}

int RecordSet::recordCount()
{
    ensureRows();
    return m_rows->values.size();
}

int RecordSet::columnIndex(const QString& name)
{
    ensureRows();
    const int index = m_rows->columns.indexOf(name, 0);
    if (index >= 0)
        return index;
    for (int i = 0; i < m_rows->columns.size(); ++i)
        if (m_rows->columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    throw StoreError(QStringLiteral("Item %1 not found in %2").arg(name, m_source.text()));
}

QVariant RecordSet::field(const QString& name)
{
    const int column = columnIndex(name);
    if (isEOF())
        throw StoreError(QStringLiteral("No current record in %1").arg(m_source.text()));
    return m_rows->values.at(m_current).at(column);
}

QStringList RecordSet::fieldNames()
{
    ensureRows();
    return m_rows->columns;
}

void RecordSet::addNew()
{
    ensureOpen();
    if (!isUpdatable() || m_table.isEmpty())
        throw StoreError(QStringLiteral("The record set on %1 is not updatable").arg(m_source.text()));
    m_pending.clear();
    m_mode = EditMode::Adding;
}

void RecordSet::edit()
{
    ensureOpen();
    if (!isUpdatable() || m_table.isEmpty())
        throw StoreError(QStringLiteral("The record set on %1 is not updatable").arg(m_source.text()));
    if (isEOF())
        throw StoreError(QStringLiteral("No current record in %1").arg(m_source.text()));
    m_pending.clear();
    m_mode = EditMode::Editing;
}

QString RecordSet::tableColumn(const QString& name)
{
    if (m_tableColumns.isEmpty()) {
        m_store.retry([&](Connection& c) { m_tableColumns = c.columns(m_table); }, false,
                      m_source.text(), m_status);
    }
    for (const QString& column : std::as_const(m_tableColumns))
        if (column.compare(name, Qt::CaseInsensitive) == 0)
            return column;
    throw StoreError(QStringLiteral("Item %1 not found in %2").arg(name, m_table));
}

void RecordSet::setField(const QString& name, const QVariant& value)
{
    ensureOpen();
    if (m_mode == EditMode::None)
        throw StoreError(
            QStringLiteral("Update or CancelUpdate without AddNew or Edit on %1").arg(m_table));
    const QString column = tableColumn(name);
    for (auto& pending : m_pending) {
        if (pending.first == column) {
            pending.second = value;
            return;
        }
    }
    m_pending.append({column, value});
}

void RecordSet::stampNewRow()
{
    if (m_tableColumns.isEmpty()) {
        m_store.retry([&](Connection& c) { m_tableColumns = c.columns(m_table); }, false,
                      m_source.text(), m_status);
    }
    auto stamp = [&](const char* name, const QVariant& value) {
        const QString wanted = QLatin1String(name);
        QString column;
        for (const QString& c : std::as_const(m_tableColumns))
            if (c.compare(wanted, Qt::CaseInsensitive) == 0)
                column = c;
        if (column.isEmpty())
            return;
        for (const auto& pending : std::as_const(m_pending))
            if (pending.first == column)
                return; // the caller's own value stands
        m_pending.append({column, value});
    };
    stamp(kEventTimeColumn, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    stamp(kStationColumn, QSysInfo::machineHostName());
}

void RecordSet::update()
{
    ensureOpen();
    if (m_mode == EditMode::None)
        throw StoreError(
            QStringLiteral("Update or CancelUpdate without AddNew or Edit on %1").arg(m_table));
    if (m_mode == EditMode::Adding) {
        // Rows of the data tables say when and where they were written.
        stampNewRow();
        m_store.write([table = m_table, values = m_pending](Connection& c) { c.insert(table, values); },
                      m_source.text(), m_status);
    } else {
        const qint64 rowId = m_rows->rowIds.at(m_current);
        m_store.write([table = m_table, rowId, values = m_pending](Connection& c) {
            c.update(table, rowId, values);
        }, m_source.text(), m_status);
        QVariantList& row = (*m_rows).values[m_current];
        for (const auto& [column, value] : std::as_const(m_pending)) {
            const int index = columnIndex(column);
            row[index] = value;
        }
    }
    m_pending.clear();
    m_mode = EditMode::None;
}

void RecordSet::close()
{
    m_closed = true;
    m_pending.clear();
    m_mode = EditMode::None;
    if (!std::exchange(m_released, true))
        m_store.CloseTable();
}

RecordSet::~RecordSet()
{
    try {
        close();
    } catch (...) {
        // Nothing is pending once a row is updated; a failed release leaves the handle to
        // the next access.
    }
}

} // namespace aquilevel::store
