#include "tools/ExportImport.h"

#include "store/EngineError.h"
#include "store/Store.h"
#include "tools/CommandArguments.h"
#include "tools/Csv.h"
#include "tools/TableCsv.h"

#include <QDir>
#include <QSaveFile>
#include <QTextStream>

namespace aquilevel::tools {

namespace {

const QString kStatus = QStringLiteral("Exporting data");

struct TableRows {
    QString table;
    QList<TableColumn> columns;
    QList<QVariantList> values;
};

bool hasColumn(const QList<TableColumn>& columns, const QString& name)
{
    for (const TableColumn& c : columns)
        if (c.name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// The rows of one table that the filters let through, in the order they were written.
TableRows readTable(store::Connection& connection, const QString& table, const ExportOptions& options)
{
    TableRows result{table, tableColumns(connection, table), {}};
    if (result.columns.isEmpty())
        throw ToolError(QStringLiteral("The database has no table %1.").arg(table));
    QStringList conditions;
    QVariantList values;
    const bool isConfig = configTableNames().contains(table);
    if (!options.version.isEmpty()) {
        if (table == QStringLiteral("tblScenarios")) {
            // Scenarios belong to a version through the scenario its setup uses.
            conditions.append(QStringLiteral("Scenario IN (SELECT ScenarioUsed FROM tblSetup "
                                             "WHERE Version = ? COLLATE NOCASE)"));
            values.append(options.version);
        } else if (hasColumn(result.columns, QStringLiteral("Version"))) {
            conditions.append(QStringLiteral("Version = ? COLLATE NOCASE"));
            values.append(options.version);
        }
    }
    if (!options.subject.isEmpty() && !isConfig && hasColumn(result.columns, QStringLiteral("Subject"))) {
        conditions.append(QStringLiteral("Subject = ? COLLATE NOCASE"));
        values.append(options.subject);
    }
    QString sql = QStringLiteral("SELECT * FROM \"%1\"").arg(table);
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY rowid");
    const store::Rows rows = connection.select(store::Query(sql, values), false);
    result.values = rows.values;
    return result;
}

QByteArray csvOf(const TableRows& rows)
{
    QStringList header;
    for (const TableColumn& c : rows.columns)
        header.append(c.name);
    QByteArray bytes = csv::record(header);
    for (const QVariantList& row : rows.values) {
        QStringList fields;
        for (int i = 0; i < rows.columns.size(); ++i)
            fields.append(csvText(row.value(i), rows.columns.at(i).kind));
        bytes += csv::record(fields);
    }
    return bytes;
}

QString writeFile(const QDir& dir, const QString& table, const QByteArray& bytes)
{
    const QString path = dir.filePath(table + QStringLiteral(".csv"));
    QSaveFile file(path); // written under a temporary name, renamed into place on commit
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw ToolError(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    return path;
}

// "data", "config", "all" or table names, separated by commas, in any letter case.
QStringList chosenTables(const QString& list)
{
    QStringList chosen;
    auto add = [&](const QString& table) {
        if (!chosen.contains(table))
            chosen.append(table);
    };
    QStringList known = dataTableNames() + configTableNames();
    for (QString word : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        word = word.trimmed();
        if (word.compare(QStringLiteral("data"), Qt::CaseInsensitive) == 0) {
            for (const QString& t : dataTableNames())
                add(t);
        } else if (word.compare(QStringLiteral("config"), Qt::CaseInsensitive) == 0) {
            // Experimenter passwords leave the encrypted file only when named.
            for (const QString& t : configTableNames())
                if (t != QStringLiteral("tblPasswords"))
                    add(t);
        } else if (word.compare(QStringLiteral("all"), Qt::CaseInsensitive) == 0) {
            for (const QString& t : dataTableNames() + configTableNames())
                if (t != QStringLiteral("tblPasswords"))
                    add(t);
        } else {
            bool found = false;
            for (const QString& t : std::as_const(known)) {
                if (t.compare(word, Qt::CaseInsensitive) == 0) {
                    add(t);
                    found = true;
                }
            }
            if (!found)
                return {word}; // reported by the caller
        }
    }
    return chosen;
}

} // namespace

const QStringList& dataTableNames()
{
    static const QStringList names = {QStringLiteral("datSubject"), QStringLiteral("datExperimentTrials"),
                                      QStringLiteral("datTrialSummary"), QStringLiteral("datUserTimesSummary"),
                                      QStringLiteral("datQuestionnaire")};
    return names;
}

const QStringList& configTableNames()
{
    static const QStringList names = {QStringLiteral("tblSetup"), QStringLiteral("tblScenarios"),
                                      QStringLiteral("tblLabels"), QStringLiteral("tblPasswords")};
    return names;
}

QStringList exportTables(store::Store& store, const QString& folder, const ExportOptions& options)
{
    QList<TableRows> tables;
    store.transaction(
        [&](store::Connection& connection) {
            tables.clear(); // a retried transaction starts over
            for (const QString& table : options.tables)
                tables.append(readTable(connection, table, options));
        },
        true, kStatus);
    store.CloseTable();

    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        throw ToolError(QStringLiteral("Could not create the folder %1.").arg(folder));
    QStringList written;
    for (const TableRows& rows : std::as_const(tables))
        written.append(writeFile(dir, rows.table, csvOf(rows)));
    return written;
}

int runExport(const QStringList& arguments, const ToolContext& context)
{
    const QString usage = QStringLiteral("Usage: aquilevel [--data DIR] export DIR [--version V] [--subject S] [--tables LIST]");
    CommandArguments args(QStringLiteral("export"), usage, context, CommandArguments::Help::WithOptions);
    QCommandLineParser& parser = args.parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes tables of the experiment database as CSV files (UTF-8, header row, CRLF line\n"
        "ends) named TABLE.csv into DIR, all read at one moment even while sessions run.\n"
        "Dates are YYYY-MM-DD, times HH:MM:SS, yes/no 0 or 1, numbers with a point."));
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The folder to write into (created if missing)."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Only this version."), QStringLiteral("V"));
    const QCommandLineOption subject(QStringLiteral("subject"), QStringLiteral("Only this participant (data tables)."), QStringLiteral("S"));
    const QCommandLineOption tables(
        QStringLiteral("tables"),
        QStringLiteral("Comma-separated: data (the default: datSubject, datExperimentTrials, "
                       "datTrialSummary, datUserTimesSummary, datQuestionnaire), config (tblSetup, "
                       "tblScenarios, tblLabels), all (both), or table names. tblPasswords holds the "
                       "experimenters' passwords in plain text and is written only when named."),
        QStringLiteral("LIST"), QStringLiteral("data"));
    parser.addOptions({version, subject, tables});
    if (const auto status = args.parse(arguments, 1, QStringLiteral("DIR")))
        return *status;
    ExportOptions options;
    options.version = parser.value(version).trimmed();
    options.subject = parser.value(subject).trimmed();
    options.tables = chosenTables(parser.value(tables));
    if (options.tables.size() == 1 && !(dataTableNames() + configTableNames()).contains(options.tables.first()))
        return args.usageError(QStringLiteral("unknown table \"%1\" in --tables").arg(options.tables.first()));
    if (options.tables.isEmpty()) {
        context.err << "--tables names no table.\n" << usage << Qt::endl;
        return 2;
    }
    try {
        ToolStore tool(context.dataFolder);
        const QStringList written = exportTables(tool.store(), parser.positionalArguments().first(), options);
        for (const QString& path : written)
            context.out << "Wrote " << QDir::toNativeSeparators(path) << "\n";
        if (options.tables.contains(QStringLiteral("tblPasswords")))
            context.err << "Note: tblPasswords.csv holds the experimenters' passwords in plain text.\n";
        context.out << Qt::flush;
        context.err << Qt::flush;
        return 0;
    } catch (const store::StoreError& error) {
        throw ToolError(error.message());
    } catch (const store::EngineError& error) {
        throw ToolError(error.description());
    }
}

} // namespace aquilevel::tools
