#pragma once

#include "store/Sql.h"

#include <QList>
#include <QStringList>

namespace aquilevel::store {

class Connection;

// Version of the layout of the experiment database, kept in the database itself.
// 1: the tables as the analyses know them. 2: every data row also carries EventTimeUtc
// and Station. 3: datSessionHold. 4: the folded name keys (SubjectKey, VersionKey) with
// the indexes every lookup needs, and WriteToken. 5: a hold names the server role and
// session that took it (HolderRole, HolderBackend); on a server, the stations' rules
// (StationRules). 6: a version's language and currency (tblSetup), and its own
// instruction pages (tblInstructions). 7: participants marked as pilots or excluded
// (datSubjectMark). 8: what each station's copy of the program is doing (datStation).
constexpr int kSchemaVersion = 8;

// The two columns the program fills in every row appended to a data table: the moment
// of the row in UTC (ISO 8601 with milliseconds, e.g. 2026-12-08T17:03:04.123Z) and the
// host name of the computer that wrote it.
inline constexpr auto kEventTimeColumn = "EventTimeUtc";
inline constexpr auto kStationColumn = "Station";

enum class ColumnType {
    Text,
    CaseText, // text an analysis compares without regard to letter case
    Integer,
    Real,
    Flag, // yes/no: 1 or 0 on the file, boolean on the server; no by default
    Date, // YYYY-MM-DD
    Time, // a time of day, HH:MM:SS
    Key,  // the folded name of another column (nameKey), never shown
    Token // the write step that appended the row (Store), never shown
};

struct ColumnDef {
    QString name;
    ColumnType type;
    QString keyOf; // for a Key: the column whose name it folds
    bool notNull = false;
};

struct IndexDef {
    QString name;
    QStringList columns;
};

enum class TableKind {
    Config,  // written by the experimenter (import), read by the sessions
    Data,    // appended by the sessions: what the analyses read
    Internal // the stations' own bookkeeping
};

struct TableDef {
    QString name;
    TableKind kind;
    QList<ColumnDef> columns;
    QStringList primaryKey;
    QList<IndexDef> indexes;
    // For a data table: the columns that tell one of a participant's rows from another
    // (an event by its EventID); two rows alike in them are one row stored twice.
    QStringList rowKey;

    // Every stored column, in table order.
    QStringList columnNames() const;
    // The columns a person sees (export, import, copy): all but the keys and tokens.
    QList<ColumnDef> shownColumns() const;
    const ColumnDef* column(const QString& name) const;
    // The column that holds a name's key, for "Subject" or "Version"; empty when none.
    QString keyColumnOf(const QString& column) const;
};

// Every table of an experiment database, configuration first, in the order a copy
// writes them.
const QList<TableDef>& allTables();
// A table of the list by its name in any letter case; null for none.
const TableDef* findTable(const QString& name);
// The names of the tables of one kind.
QStringList tableNames(TableKind kind);

// The type a column is made with, for a table made anew or a column added to one.
QString columnType(const ColumnDef& column, Dialect dialect);

// The statements that create every table and index of a new database.
QStringList createStatements(Dialect dialect);

// The statement that appends a row of `columns` to a table ($1 ... in column order).
QString insertStatement(const TableDef& table, const QStringList& columns);

} // namespace aquilevel::store
