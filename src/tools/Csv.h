#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Comma-separated values as spreadsheets, R and Python read and write them: fields
// separated by commas, records by line ends, a field that holds a comma, a quote or a
// line break enclosed in quotes with its quotes doubled, UTF-8 text.
namespace aquilevel::tools::csv {

// One field as written: quoted only when it must be.
QString field(const QString& text);
// One record with its CRLF line end, as UTF-8 bytes.
QByteArray record(const QStringList& fields);

struct Record {
    int line = 0; // where the record starts, from 1
    QStringList fields;
};

// Something in the text that is not well-formed CSV.
struct Problem {
    int line = 0;
    int column = 0; // the field's position in its record, from 1
    QString message;
};

struct Document {
    QList<Record> records; // blank lines are left out
    QList<Problem> problems;
};

// Reads a whole file's bytes: a leading byte-order mark is skipped, and CRLF, LF and CR
// all end a record. Line breaks inside quoted fields stay as they are in the text.
Document parse(const QByteArray& bytes);

} // namespace aquilevel::tools::csv
