#pragma once

#include "store/Tables.h"

#include <QVariantList>

#include <functional>

namespace aquilevel::store {

class Connection;

// Whole tables as a person sees them (every column but the keys), for the commands that
// move them: export, import, copy, check. Rows come in the order they were written.

// The rows a filter lets through: of one version (a scenario through the setup that
// uses it) and of one participant, each matched by its key; empty means all.
struct TableFilter {
    QString version;
    QString subject;
};

// Appends one row given by its shown columns; the keys follow from the names, and a
// data row without EventTimeUtc and Station is stamped with now and this computer.
void appendRow(Connection& c, const TableDef& table, const QStringList& columns, const QVariantList& values);

// True when the row noted by a write step (Connection::appended) is stored with the
// step's token: the step was committed.
bool stepLanded(Connection& c, const QString& table, const QVariantList& keys, const QString& token);

// The newest row's position in the order of writing; 0 for an empty table.
qint64 lastRowPosition(Connection& c, const TableDef& table);

// Hands the rows after position `after` and up to `last` that the filter lets through
// to `take`, at most `limit` of them, with the shown columns in table order. Returns the
// position of the last row handed, or `after` when there was none.
qint64 readRows(Connection& c, const TableDef& table, const TableFilter& filter, qint64 after, qint64 last,
                int limit, const std::function<void(const QVariantList&)>& take);

// Deletes the rows of one version (a scenario by its number); returns how many.
qint64 removeVersionRows(Connection& c, const TableDef& table, const QVariant& versionOrScenario);

// Fills the keys of rows written before the table had them.
void fillNameKeys(Connection& c, const TableDef& table);

// Throws EngineError when the table is missing or cannot be read.
void probeTable(Connection& c, const TableDef& table);

// A participant's row stored more than once: rows alike in the table's row key.
struct DoubledRows {
    QString table;
    QString subject;
    QString version;
    QString what; // "EventID 5", "the registration"
    qint64 copies = 0;
};
// The doubled rows of one data table among the next `participants` participants whose
// keys follow `after` (empty: from the first), added to `found`. Returns the last key
// looked at, empty when the table is done: a caller reads a large table in short steps.
QString doubledRowsOf(Connection& c, const TableDef& table, const QString& after, int participants,
                      QList<DoubledRows>& found);

} // namespace aquilevel::store
