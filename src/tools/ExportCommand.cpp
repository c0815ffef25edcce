#include "tools/ExportImport.h"

#include "store/EngineError.h"
#include "store/Store.h"
#include "store/TableRows.h"
#include "store/Tables.h"
#include "tools/AnalysisCsv.h"
#include "tools/CommandArguments.h"
#include "tools/Csv.h"
#include "tools/TableCsv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace aquilevel::tools {

namespace {

const QString kStatus = QStringLiteral("Exporting data");

// Rows read per transaction: a reader holds the file's shared lock while it reads, and
// the sessions cannot commit meanwhile, so no read may take long.
constexpr int kChunkRows = 2000;

// One table's file as the export writes it: in a folder of its own beside the target
// until every table has been read and written, so that a failed or empty export (a full
// disk included) leaves nothing behind.
struct TableFile {
    const store::TableDef* table = nullptr;
    QList<TableColumn> columns;
    qint64 lastRow = 0; // the table's newest row when the export began
    qint64 matched = 0;
    std::unique_ptr<QFile> file;
    QString placedAt; // where the file goes once complete, for messages
    // For a data table whose marked participants are left out: where its names stand.
    int subjectAt = -1;
    int versionAt = -1;
};


// A write that fails is most often a full disk.
ToolError notWritten(const TableFile& out)
{
    return ToolError(QStringLiteral("Could not write %1 (is the disk full?): %2; nothing was written.")
                         .arg(QDir::toNativeSeparators(out.placedAt), out.file->errorString()));
}

QByteArray csvRow(const QList<TableColumn>& columns, const QVariantList& row)
{
    QStringList fields;
    fields.reserve(columns.size());
    for (int i = 0; i < columns.size(); ++i)
        fields.append(csvText(row.value(i), columns.at(i).kind));
    return csv::record(fields);
}

const QByteArray kByteOrderMark("\xEF\xBB\xBF");

void append(TableFile& out, const QByteArray& bytes)
{
    if (out.file->write(bytes) != bytes.size())
        throw notWritten(out);
}

// One chunk of a table's rows after `after`, as CSV; the number of rows goes to `rows`.
// Read into memory first, so that a retried transaction does not write a chunk twice.
// Rows of participants in `leftOut` are read, for the chunk to end where it ends, but not
// written; `read` counts every row read.
qint64 readChunk(store::Connection& c, const TableFile& out, const store::TableFilter& filter, qint64 after,
                 QByteArray& bytes, int& rows, const LeftOut* leftOut = nullptr, int* read = nullptr)
{
    bytes.clear();
    rows = 0;
    if (read)
        *read = 0;
    return store::readRows(c, *out.table, filter, after, out.lastRow, kChunkRows, [&](const QVariantList& row) {
        if (read)
            ++*read;
        if (out.subjectAt >= 0 && leftOut && leftOut->contains(row.value(out.subjectAt), row.value(out.versionAt)))
            return;
        bytes += csvRow(out.columns, row);
        ++rows;
    });
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
    static const QStringList names = store::tableNames(store::TableKind::Data);
    return names;
}

const QStringList& configTableNames()
{
    static const QStringList names = store::tableNames(store::TableKind::Config);
    return names;
}

// The process's file creation mask, read without setting it (which would change it for
// every thread meanwhile).
static mode_t fileCreationMask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
    return 022;
}

QStringList exportTables(store::Store& store, const QString& folder, const ExportOptions& options, LeftOut* leftOut)
{
    const QString target = QDir(folder).absolutePath(); // without a trailing separator
    const QDir parent = QFileInfo(target).dir();
    if (!parent.mkpath(QStringLiteral(".")))
        throw ToolError(QStringLiteral("Could not create the folder %1.").arg(parent.path()));
    // Beside the target, on the same disk, so that the files are moved into place, not
    // copied there.
    QTemporaryDir staging(parent.filePath(QStringLiteral(".%1.export-XXXXXX").arg(QFileInfo(target).fileName())));
    if (!staging.isValid())
        throw ToolError(QStringLiteral("Could not write into %1: %2; nothing was written.")
                            .arg(parent.path(), staging.errorString()));
    const QDir dir(staging.path());
    std::vector<TableFile> files;
    for (const QString& table : options.tables) {
        TableFile out;
        out.table = store::findTable(table);
        out.columns = tableColumns(table);
        if (!out.table || out.columns.isEmpty())
            throw ToolError(QStringLiteral("The database has no table %1.").arg(table));
        const QString path = dir.filePath(out.table->name + QStringLiteral(".csv"));
        out.file = std::make_unique<QFile>(path);
        out.placedAt = QDir(target).filePath(out.table->name + QStringLiteral(".csv"));
        if (!out.file->open(QIODevice::WriteOnly))
            throw ToolError(QStringLiteral("Could not write %1: %2; nothing was written.").arg(path, out.file->errorString()));
        if (out.table->kind == store::TableKind::Data && out.table->name != QLatin1String("datSubjectMark"))
            for (int i = 0; i < out.columns.size(); ++i) {
                if (out.columns.at(i).name == QLatin1String("Subject"))
                    out.subjectAt = i;
                else if (out.columns.at(i).name == QLatin1String("Version"))
                    out.versionAt = i;
            }
        QStringList header;
        for (const TableColumn& c : std::as_const(out.columns))
            header.append(c.name);
        if (options.byteOrderMark)
            append(out, kByteOrderMark);
        append(out, csv::record(header));
        files.push_back(std::move(out));
    }
    const store::TableFilter filter{options.version, options.subject};

    // Rows appended after the export began are left out, so every file ends where its
    // table stood at that moment (a summary row completed since shows its completion).
    // The configuration, small and replaced as a whole by an import, is read in the first
    // transaction, all at one moment; the data tables then in short ones, so that a
    // session writing meanwhile is never held up.
    QList<QByteArray> configuration;
    QList<qint64> configurationRows;
    // The participants marked when the export began are left out of every data table.
    LeftOut left;
    left.includePilots = options.includePilots;
    left.includeExcluded = options.includeExcluded;
    qint64 eventsAtStart = 0; // where the event log ended, for the analysis files
    store.transaction(
        [&](store::Connection& c) {
            configuration.clear(); // a retried transaction starts over
            configurationRows.clear();
            left.read(c, options.version, options.subject);
            if (options.analysis)
                eventsAtStart = store::lastRowPosition(c, *store::findTable(QStringLiteral("datExperimentTrials")));
            for (TableFile& out : files) {
                out.lastRow = store::lastRowPosition(c, *out.table);
                QByteArray all;
                qint64 count = 0;
                if (out.table->kind == store::TableKind::Config) {
                    QByteArray bytes;
                    int rows = 0;
                    for (qint64 after = 0;;) {
                        after = readChunk(c, out, filter, after, bytes, rows);
                        all += bytes;
                        count += rows;
                        if (rows < kChunkRows)
                            break;
                    }
                }
                configuration.append(all);
                configurationRows.append(count);
            }
        },
        true, kStatus);
    // The analysis files, when asked for, are one more step.
    const int steps = int(files.size()) + (options.analysis ? 1 : 0);
    const auto tell = [&](size_t done) {
        if (options.progress)
            options.progress(int(done), steps);
    };
    for (size_t i = 0; i < files.size(); ++i) {
        TableFile& out = files[i];
        if (out.table->kind == store::TableKind::Config) {
            append(out, configuration.at(qsizetype(i)));
            out.matched = configurationRows.at(qsizetype(i));
            tell(i + 1);
            continue;
        }
        QByteArray bytes;
        int rows = 0;
        for (qint64 after = 0;;) {
            int read = 0;
            store.transaction(
                [&](store::Connection& c) { after = readChunk(c, out, filter, after, bytes, rows, &left, &read); }, true,
                kStatus);
            append(out, bytes);
            out.matched += rows;
            if (read < kChunkRows)
                break;
            tell(i); // between the steps of a long table too, so that a window stays alive
        }
        tell(i + 1);
    }

    // A filter that matches nothing is most often a misspelt name: say so rather than
    // write files with a header only.
    const bool filtered = !options.version.isEmpty() || !options.subject.isEmpty();
    if (filtered && std::all_of(files.cbegin(), files.cend(), [](const TableFile& t) { return t.matched == 0; })) {
        files.clear(); // never placed: the staging folder goes with them
        QStringList asked;
        if (!options.version.isEmpty())
            asked.append(QStringLiteral("version \"%1\"").arg(options.version));
        if (!options.subject.isEmpty())
            asked.append(QStringLiteral("participant \"%1\"").arg(options.subject));
        throw ToolError(QStringLiteral("No rows of %1 in %2; nothing was written.%3")
                            .arg(asked.join(QStringLiteral(" and ")), QStringLiteral("the tables asked for"),
                                 left.total() > 0 ? QLatin1Char(' ') + left.note() : QString()));
    }
    if (leftOut)
        *leftOut = left;

    // All of it or none: every file is written out in full before the first one takes
    // its place (a full disk shows here). A new folder takes its place whole; into an
    // existing one the files move one by one, the ones they replace set aside until all
    // are in place, and put back should one fail. Other files in it stay as they are.
    for (TableFile& out : files) {
        // On the disk before it replaces anything: a power cut after the move must not
        // leave an empty file where the last good one was.
        if (!out.file->flush() || ::fsync(out.file->handle()) != 0)
            throw notWritten(out);
        out.file->close();
        if (out.file->error() != QFileDevice::NoError)
            throw notWritten(out);
    }
    QStringList written;
    for (const TableFile& out : files)
        written.append(out.placedAt);
    // A file beside the tables, on the disk before anything takes its place.
    const auto besides = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
            ::fsync(file.handle()) != 0)
            throw ToolError(QStringLiteral("Could not write %1; nothing was written.").arg(file.fileName()));
        written.append(QDir(target).filePath(name));
    };
    if (options.analysis) {
        AnalysisOptions asked;
        asked.version = options.version;
        asked.subject = options.subject;
        asked.theta = options.theta;
        asked.includePilots = options.includePilots;
        asked.includeExcluded = options.includeExcluded;
        // As the tables stood when the export began: the same marks, no later event.
        asked.marks = &left;
        asked.eventsThrough = eventsAtStart;
        // The participants count as one more step, in parts, so that a window stays alive.
        asked.progress = [&](int done, int total) {
            if (options.progress && total > 0)
                options.progress(int(files.size()) * total + done, steps * total);
        };
        const QList<ParticipantAnalysis> analysed = analyseParticipants(store, asked);
        const QByteArray mark = options.byteOrderMark ? kByteOrderMark : QByteArray();
        besides(QStringLiteral("periods.csv"), mark + periodsCsv(analysed));
        besides(QStringLiteral("participants.csv"), mark + participantsCsv(analysed));
    }
    if (options.codebook) {
        QFile codebook(QStringLiteral(":/docs/codebook.md"));
        if (!codebook.open(QIODevice::ReadOnly))
            throw ToolError(QStringLiteral("Could not read the codebook; nothing was written."));
        besides(QStringLiteral("codebook.md"), codebook.readAll());
    }
    if (!QFileInfo::exists(target)) {
        // A folder of the user's, as one made by hand, not the private one of its making.
        const mode_t mask = fileCreationMask();
        ::chmod(QFile::encodeName(staging.path()).constData(), 0777 & ~mask);
        if (!QDir().rename(staging.path(), target))
            throw ToolError(QStringLiteral("Could not create the folder %1; nothing was written.").arg(target));
        staging.setAutoRemove(false);
        return written;
    }
    QStringList placed;
    QStringList setAside;
    const auto undo = [&] {
        for (const QString& path : std::as_const(placed))
            QFile::remove(path);
        for (const QString& path : std::as_const(setAside))
            QFile::rename(dir.filePath(QFileInfo(path).fileName() + QStringLiteral(".old")), path);
    };
    for (const QString& path : std::as_const(written)) {
        const QString fresh = dir.filePath(QFileInfo(path).fileName());
        if (QFileInfo::exists(path)) {
            if (!QFileInfo(path).isFile() || !QFile::rename(path, fresh + QStringLiteral(".old"))) {
                undo();
                throw ToolError(QStringLiteral("Could not replace %1; nothing was written.").arg(path));
            }
            setAside.append(path);
        }
        if (!QFile::rename(fresh, path)) {
            undo();
            throw ToolError(QStringLiteral("Could not write %1; nothing was written.").arg(path));
        }
        placed.append(path);
    }
    return written;
}

int runExport(const QStringList& arguments, const ToolContext& context)
{
    const QString usage = QStringLiteral("Usage: aquilevel [--data DIR] export DIR [--version V] [--subject S] [--tables LIST]\n"
                                         "                 [--include-pilots] [--include-excluded] [--codebook]\n"
                                         "                 [--analysis [--theta T]] [--bom]");
    CommandArguments args(QStringLiteral("export"), usage, context, CommandArguments::Help::WithOptions);
    QCommandLineParser& parser = args.parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes tables of the experiment database as CSV files (UTF-8, header row, CRLF line\n"
        "ends) named TABLE.csv into DIR, each table as it stood when the export began, read in\n"
        "short steps so that running sessions are never held up.\n"
        "Dates are YYYY-MM-DD, times HH:MM:SS, yes/no 0 or 1, numbers with a point.\n"
        "Participants marked as pilots or excluded (datSubjectMark, see aquilevel mark) are left\n"
        "out of the data tables, and the export says how many, unless the options below take\n"
        "them in; datSubjectMark itself is written whole."));
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The folder to write into (created if missing)."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Only this version."), QStringLiteral("V"));
    const QCommandLineOption subject(QStringLiteral("subject"), QStringLiteral("Only this participant (data tables)."), QStringLiteral("S"));
    const QCommandLineOption tables(
        QStringLiteral("tables"),
        QStringLiteral("Comma-separated: data (the default: datSubject, datExperimentTrials, "
                       "datTrialSummary, datUserTimesSummary, datQuestionnaire, datSubjectMark), config (tblSetup, "
                       "tblScenarios, tblLabels, tblInstructions), all (both), or table names. tblPasswords holds the "
                       "experimenters' password hashes and is written only when named."),
        QStringLiteral("LIST"), QStringLiteral("data"));
    const QCommandLineOption pilots(QStringLiteral("include-pilots"), QStringLiteral("Take in participants marked as pilots."));
    const QCommandLineOption excluded(QStringLiteral("include-excluded"),
                                      QStringLiteral("Take in participants marked as excluded."));
    const QCommandLineOption codebook(QStringLiteral("codebook"),
                                      QStringLiteral("Also write codebook.md, what every table and column holds."));
    const QCommandLineOption analysis(
        QStringLiteral("analysis"),
        QStringLiteral("Also write periods.csv (a row per participant and period: amounts, flows, orders typed, "
                       "delivered and on their way, cost, bonus, decision time) and participants.csv (a row per "
                       "participant: registration, questionnaire, periods in the band, the fitted decision rule; "
                       "see aquilevel analyze)."));
    const QCommandLineOption theta(QStringLiteral("theta"),
                                   QStringLiteral("With --analysis: fix the expectation's smoothing weight (0 to 1)."),
                                   QStringLiteral("T"));
    const QCommandLineOption bom(QStringLiteral("bom"),
                                 QStringLiteral("Start every CSV file with a byte-order mark, for spreadsheets that "
                                                "read UTF-8 only with one."));
    parser.addOptions({version, subject, tables, pilots, excluded, codebook, analysis, theta, bom});
    if (const auto status = args.parse(arguments, 1, QStringLiteral("DIR")))
        return *status;
    ExportOptions options;
    options.version = parser.value(version).trimmed();
    options.subject = parser.value(subject).trimmed();
    options.tables = chosenTables(parser.value(tables));
    options.includePilots = parser.isSet(pilots);
    options.includeExcluded = parser.isSet(excluded);
    options.codebook = parser.isSet(codebook);
    options.analysis = parser.isSet(analysis);
    options.byteOrderMark = parser.isSet(bom);
    if (parser.isSet(theta)) {
        bool ok = false;
        const double t = parser.value(theta).trimmed().toDouble(&ok);
        if (!options.analysis)
            return args.usageError(QStringLiteral("--theta goes with --analysis"));
        if (!ok || !(t >= 0 && t <= 1))
            return args.usageError(QStringLiteral("--theta takes a number from 0 to 1, not \"%1\"").arg(parser.value(theta)));
        options.theta = t;
    }
    if (options.tables.size() == 1 && !(dataTableNames() + configTableNames()).contains(options.tables.first()))
        return args.usageError(QStringLiteral("unknown table \"%1\" in --tables").arg(options.tables.first()));
    if (options.tables.isEmpty()) {
        context.err << "--tables names no table.\n" << usage << Qt::endl;
        return 2;
    }
    try {
        ToolStore tool(context.dataFolder);
        LeftOut leftOut;
        const QStringList written = exportTables(tool.store(), parser.positionalArguments().first(), options, &leftOut);
        for (const QString& path : written)
            context.out << "Wrote " << QDir::toNativeSeparators(path) << "\n";
        // Only where data rows were written: the configuration names no participant.
        const bool withData = std::any_of(options.tables.cbegin(), options.tables.cend(),
                                          [](const QString& t) { return dataTableNames().contains(t); });
        if (withData && leftOut.total() > 0)
            context.err << leftOut.note() << "\n";
        if (options.tables.contains(QStringLiteral("tblPasswords")))
            context.err << "Note: tblPasswords.csv holds the experimenters' password hashes (and any password still "
                           "in plain text).\n";
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
