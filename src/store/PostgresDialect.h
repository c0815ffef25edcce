#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace aquilevel::store {

// The program writes its SQL in SQLite's dialect; a PostgreSQL server takes it through
// this translation. The server's tables carry the schema's exact names (quoted, since
// PostgreSQL folds unquoted names to lower case), each with an extra identity column
// "rowid" that keeps the order rows were written in, as SQLite's rowid does. Texts the
// program compares without regard to letter case are citext columns.
class PostgresDialect {
public:
    // Learns the tables and columns from the schema's CREATE TABLE statements.
    explicit PostgresDialect(const QStringList& schemaStatements);

    // One of the program's statements in PostgreSQL's dialect: "?" placeholders become
    // $1, $2, ...; a name of the schema, quoted or not and in any letter case, becomes
    // its quoted exact spelling (the columns of the tables the statement names first);
    // "COLLATE NOCASE" goes (the columns compare that way by themselves); PRAGMA
    // table_info("T") becomes a query with the same columns. String literals are left
    // as they are. `parameters` receives the number of placeholders.
    QString translate(const QString& sql, int* parameters = nullptr) const;

    // The schema's statements for a new server database: the same tables and columns
    // in PostgreSQL's types (yes/no columns boolean, false by default), the indexes,
    // and the layout's version.
    QStringList createStatements(int schemaVersion) const;

    // The columns of a table in table order, exactly spelt; empty for an unknown one.
    QStringList columns(const QString& table) const;
    // A table's exact spelling, or the name unchanged when the schema does not know it.
    QString tableName(const QString& name) const;
    // True for a schema column that holds yes/no.
    bool isFlag(const QString& table, const QString& column) const;

    // The table that records the layout's version on a server.
    static constexpr auto kVersionTable = "aquilevelSchema";

private:
    struct Column {
        QString name;
        QString sqliteDefinition; // the rest of its definition in the schema
    };
    struct Table {
        QString name;
        QList<Column> columns;
        QStringList constraints; // e.g. PRIMARY KEY (a, b)
    };
    QList<Table> m_tables;
    QStringList m_indexes; // CREATE INDEX statements as the schema writes them
    QHash<QString, int> m_tableByLower;
};

// Quotes an identifier for PostgreSQL.
QString pgQuoted(const QString& identifier);

} // namespace aquilevel::store
