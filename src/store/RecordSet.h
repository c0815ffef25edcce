#pragma once

#include "store/Engine.h"

#include <QString>
#include <QVariant>

#include <optional>

namespace aquilevel::store {

class Store;

// The rows of one OpenTable, released with the database when closed or destroyed. A snapshot is read once and cannot be changed; a dynaset
// can append rows (addNew ... update) and, when it reads whole rows of one table, edit
// them (edit ... update). update() stores the row for good before it returns.
// Field names are matched without regard to letter case.
class RecordSet final {
public:
    enum class Kind { Snapshot, Dynaset };

    RecordSet(Store& store, Kind kind, Query source, QString status, std::optional<Rows> rows,
              QString table);

    Kind kind() const { return m_kind; }
    bool isUpdatable() const { return m_kind == Kind::Dynaset; }

    bool isEOF();
    void moveFirst();
    void moveNext();
    int recordCount();
    QVariant field(const QString& name);
    QStringList fieldNames();

    void addNew();
    void edit();
    void setField(const QString& name, const QVariant& value);
    void update();
    // Ends the record set and releases the database (CloseTable); going out of scope
    // does the same, also when an exception leaves the caller.
    void close();
    ~RecordSet();
    RecordSet(const RecordSet&) = delete;
    RecordSet& operator=(const RecordSet&) = delete;

private:
    void ensureRows();
    void ensureOpen() const;
    int columnIndex(const QString& name);
    QString tableColumn(const QString& name);
    void stampNewRow();

    enum class EditMode { None, Adding, Editing };

    Store& m_store;
    Kind m_kind;
    Query m_source;
    QString m_status;
    std::optional<Rows> m_rows; // loaded on first navigation for a dynaset over a table
    QString m_table;            // the table written by a dynaset; empty when not writable
    QStringList m_tableColumns;
    int m_current = 0;
    EditMode m_mode = EditMode::None;
    FieldValues m_pending;
    bool m_closed = false;
    bool m_released = false;
};

} // namespace aquilevel::store
