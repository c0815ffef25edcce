#include "tools/ExportImport.h"

#include "store/EngineError.h"
#include "store/Store.h"
#include "tools/CommandArguments.h"
#include "tools/Csv.h"
#include "tools/TableCsv.h"

#include <QDir>
#include <QMap>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <functional>

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

// Rows read per transaction: a reader holds the file's shared lock while it reads, and
// the sessions cannot commit meanwhile, so no read may take long.
constexpr int kChunkRows = 2000;

// A table as the export found it at its start: its columns and its newest row.
struct TableStart {
    QString table;
    QList<TableColumn> columns;
    qint64 lastRow = 0;
};

// Reads one chunk of rows (with their rowids) in whatever transaction the caller chose.
using ChunkReader = std::function<store::Rows(const store::Query&)>;

// The rows of one table that the filters let through, in the order they were written,
// up to the table's newest row when the export began, chunk by chunk.
TableRows readTable(const TableStart& start, const ExportOptions& options, const ChunkReader& read)
{
    const QString& table = start.table;
    TableRows result{table, start.columns, {}};
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
    conditions.append(QStringLiteral("rowid > ? AND rowid <= ?"));
    const QString sql = QStringLiteral("SELECT * FROM \"%1\" WHERE %2 ORDER BY rowid LIMIT %3")
                            .arg(table, conditions.join(QStringLiteral(" AND ")))
                            .arg(kChunkRows);
    for (qint64 after = 0;;) {
        const store::Rows chunk = read(store::Query(sql, values + QVariantList{after, start.lastRow}));
        result.values += chunk.values;
        if (chunk.rowIds.size() < kChunkRows)
            return result;
        after = chunk.rowIds.last();
    }
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
    // Rows appended after the export began are left out, so every file ends where its
    // table stood at that moment (a summary row completed since shows its completion).
    // The configuration, small and replaced as a whole by an import, is read in the first
    // transaction, all at one moment; the data tables then in short ones, so that a
    // session writing meanwhile is never held up.
    QList<TableStart> starts;
    QMap<QString, TableRows> configuration;
    store.transaction(
        [&](store::Connection& connection) {
            starts.clear(); // a retried transaction starts over
            configuration.clear();
            for (const QString& table : options.tables) {
                TableStart start{table, tableColumns(connection, table), 0};
                if (start.columns.isEmpty())
                    throw ToolError(QStringLiteral("The database has no table %1.").arg(table));
                start.lastRow = connection
                                    .select(store::Query(QStringLiteral("SELECT max(rowid) FROM \"%1\"").arg(table)), false)
                                    .values.value(0)
                                    .value(0)
                                    .toLongLong();
                starts.append(start);
                if (configTableNames().contains(table))
                    configuration.insert(table, readTable(start, options, [&](const store::Query& q) {
                                             return connection.select(q, true);
                                         }));
            }
        },
        true, kStatus);
    const ChunkReader inItsOwnTransaction = [&](const store::Query& q) {
        store::Rows rows;
        store.transaction([&](store::Connection& connection) { rows = connection.select(q, true); }, true, kStatus);
        return rows;
    };
    QList<TableRows> tables;
    for (const TableStart& start : std::as_const(starts))
        tables.append(configuration.contains(start.table) ? configuration.value(start.table)
                                                          : readTable(start, options, inItsOwnTransaction));

    // A filter that matches nothing is most often a misspelt name: say so rather than
    // write files with a header only.
    const bool filtered = !options.version.isEmpty() || !options.subject.isEmpty();
    if (filtered && std::all_of(tables.cbegin(), tables.cend(), [](const TableRows& t) { return t.values.isEmpty(); })) {
        QStringList asked;
        if (!options.version.isEmpty())
            asked.append(QStringLiteral("version \"%1\"").arg(options.version));
        if (!options.subject.isEmpty())
            asked.append(QStringLiteral("participant \"%1\"").arg(options.subject));
        throw ToolError(QStringLiteral("No rows of %1 in %2; nothing was written.")
                            .arg(asked.join(QStringLiteral(" and ")), QStringLiteral("the tables asked for")));
    }

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
        "ends) named TABLE.csv into DIR, each table as it stood when the export began, read in\n"
        "short steps so that running sessions are never held up.\n"
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
