#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace aquilevel::tools {

// How the values of a column are written to and read from CSV, by its declared type.
enum class ColumnKind { Text, Integer, Real, Boolean, Date, Time };

struct TableColumn {
    QString name;
    ColumnKind kind = ColumnKind::Text;
};

// The columns of a table a person sees, in table order, with their kinds; empty for a
// table the experiment does not have. A text column named "Time" holds a time of day.
QList<TableColumn> tableColumns(const QString& table);

// A stored value as CSV text: Null as an empty field, dates YYYY-MM-DD, times of day
// HH:MM:SS, yes/no as 1 (exactly 1 stored) or 0, numbers with a point and as many digits
// as it takes to read the same number back.
QString csvText(const QVariant& value, ColumnKind kind);

// Reads CSV text for a column: an empty field is Null (an invalid QVariant). When the
// text does not fit the column, sets error to what is wrong.
QVariant fromCsvText(const QString& text, ColumnKind kind, QString& error);

} // namespace aquilevel::tools
