#include "tools/ExportImport.h"
#include "tools/Printable.h"
#include "config/ControlCharacters.h"

#include "config/ConfigCheck.h"
#include "config/DesignCheck.h"
#include "store/EngineError.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/NameKey.h"
#include "store/PasswordHash.h"
#include "store/StationTables.h"
#include "store/Store.h"
#include "store/TableRows.h"
#include "store/Tables.h"
#include "tools/CheckCommand.h"
#include "tools/CommandArguments.h"
#include "tools/Csv.h"
#include "tools/TableCsv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <optional>

namespace aquilevel::tools {

namespace {

const QString kStatus = QStringLiteral("Importing configuration");

// The column whose value names the rows an import replaces as a whole.
QString keyColumn(const QString& table)
{
    if (table == QStringLiteral("tblSetup"))
        return QStringLiteral("Version");
    if (table == QStringLiteral("tblLabels") || table == QStringLiteral("tblInstructions"))
        return QStringLiteral("version");
    if (table == QStringLiteral("tblScenarios"))
        return QStringLiteral("Scenario");
    return QStringLiteral("username");
}

// Columns a file written before they existed lacks: they are imported as Null, which
// reads as their default.
bool mayBeMissing(const QString& table, const QString& column)
{
    static const QStringList later = {QStringLiteral("Language"), QStringLiteral("CurrencySymbol"),
                                      QStringLiteral("CurrencyWord"), QStringLiteral("CurrencyCents"),
                                      QStringLiteral("CurrencyDecimals")};
    return table == QStringLiteral("tblSetup") && later.contains(column, Qt::CaseInsensitive);
}

struct ImportRow {
    int line = 0;
    QVariantList values; // in table column order
};

struct ImportFile {
    QString table;
    QString fileName;
    QList<TableColumn> columns;
    QList<int> fieldOf; // for each table column, its field in the file
    int keyIndex = -1;  // the key column among the table columns
    QList<ImportRow> rows;

    // Where a column of the table is in the file, for messages.
    QString where(int line, int tableColumn) const
    {
        const int field = fieldOf.value(tableColumn, -1);
        const QString name = columns.value(tableColumn).name;
        if (field < 0)
            return QStringLiteral("%1, line %2, column %3").arg(fileName).arg(line).arg(name);
        return QStringLiteral("%1, line %2, column %3 (%4)").arg(fileName).arg(line).arg(field + 1).arg(name);
    }
    int columnIndex(const QString& name) const
    {
        for (int i = 0; i < columns.size(); ++i)
            if (columns.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }
    // The text form of a key, compared as the database finds names: by their folded key.
    static QString keyText(const QVariant& value) { return store::nameKey(value.toString()); }
    // The first line that holds a key, or 0.
    int lineOf(const QVariant& key) const
    {
        for (const ImportRow& row : rows)
            if (keyText(row.values.value(keyIndex)) == keyText(key))
                return row.line;
        return 0;
    }
};

struct Rejected {
    QStringList problems;
};

// A password the import cannot keep: a hash of another form than "$2a$" (crypt's "$2y$",
// "$2b$", "$6$", "$y$", ...), which would be hashed again and so make the hash text itself
// the password; or one longer than bcrypt reads (72 bytes), of which the rest would be
// ignored without a word.
QString passwordFormProblem(const ImportFile& file, const ImportRow& row)
{
    static const QRegularExpression otherHash(QStringLiteral("^[$][0-9a-z]{1,2}[$]"));
    const int column = file.columnIndex(QStringLiteral("password"));
    const QVariant password = row.values.value(column);
    if (store::isPasswordHash(password))
        return {};
    if (otherHash.match(password.toString()).hasMatch())
        return QStringLiteral("%1: a password hash is kept only in bcrypt's form \"$2a$\" (cost 4 to 31), which the "
                              "program verifies; give the password in plain text instead, it is hashed on the way in")
            .arg(file.where(row.line, column));
    if (password.toString().toUtf8().size() > 72)
        return QStringLiteral("%1: the password is longer than 72 bytes in UTF-8, of which bcrypt would ignore the rest")
            .arg(file.where(row.line, column));
    return {};
}

// Passwords in plain text are hashed on the way in; a value that already is a hash is
// kept as it is. An empty or blank one is kept too, for check to name.
void hashPasswords(ImportFile& file)
{
    const int column = file.columnIndex(QStringLiteral("password"));
    for (ImportRow& row : file.rows) {
        QVariant& password = row.values[column];
        if (!password.isNull() && !password.toString().trimmed().isEmpty() && !store::isPasswordHash(password))
            password = store::hashPassword(password.toString());
    }
}

// Reads one file against its table's columns; every problem found goes to problems.
ImportFile readFile(const QString& path, const QString& table, const QList<TableColumn>& columns,
                    QStringList& problems)
{
    ImportFile file;
    file.table = table;
    file.fileName = QFileInfo(path).fileName();
    file.columns = columns;
    file.keyIndex = file.columnIndex(keyColumn(table));
    const int problemsBefore = problems.size();

    QFile input(path);
    if (!input.open(QIODevice::ReadOnly)) {
        problems.append(QStringLiteral("%1: cannot be read: %2").arg(file.fileName, input.errorString()));
        return file;
    }
    const csv::Document document = csv::parse(input.readAll());
    if (document.records.isEmpty() && document.problems.isEmpty()) {
        problems.append(QStringLiteral("%1, line 1: the file is empty; it needs a header row with the column names")
                            .arg(file.fileName));
        return file;
    }

    QSet<int> brokenLines;
    for (const csv::Problem& p : document.problems) {
        problems.append(QStringLiteral("%1, line %2, column %3: %4").arg(file.fileName).arg(p.line).arg(p.column).arg(p.message));
        brokenLines.insert(p.line);
    }
    if (document.records.isEmpty())
        return file;

    // The header: every column of the table, once, in any order.
    const csv::Record& header = document.records.first();
    // Spreadsheets in many countries save "CSV" with semicolons between the fields (and a
    // decimal comma): one line with the fix rather than every column reported missing.
    if (header.fields.size() == 1 && header.fields.first().count(QLatin1Char(';')) > 0) {
        problems.append(QStringLiteral("%1: the fields are separated by semicolons, as spreadsheets save CSV where the "
                                       "decimal mark is a comma; save the file again with commas between the fields "
                                       "and points in the numbers (in LibreOffice: Save As, Text CSV, Edit filter "
                                       "settings, field delimiter \",\"), then import it again")
                            .arg(file.fileName));
        return file;
    }
    file.fieldOf = QList<int>(columns.size(), -1);
    for (int f = 0; f < header.fields.size(); ++f) {
        const QString name = header.fields.at(f).trimmed();
        const int c = file.columnIndex(name);
        const QString where = QStringLiteral("%1, line %2, column %3").arg(file.fileName).arg(header.line).arg(f + 1);
        if (c < 0) {
            QStringList known;
            for (const TableColumn& column : columns)
                known.append(column.name);
            problems.append(QStringLiteral("%1: unknown column \"%2\"; %3 has the columns %4")
                                .arg(where, name, table, known.join(QStringLiteral(", "))));
        } else if (file.fieldOf.at(c) >= 0) {
            problems.append(QStringLiteral("%1: column \"%2\" appears twice").arg(where, name));
        } else {
            file.fieldOf[c] = f;
        }
    }
    for (int c = 0; c < columns.size(); ++c)
        if (file.fieldOf.at(c) < 0 && !mayBeMissing(table, columns.at(c).name))
            problems.append(QStringLiteral("%1: this column is missing from the header row").arg(file.where(header.line, c)));
    if (problems.size() > problemsBefore)
        return file; // without a sound header the rows cannot be read

    const int width = header.fields.size();
    QHash<QString, int> uniqueKeys; // tblSetup and tblPasswords hold one row per key
    const bool oneRowPerKey = table == QStringLiteral("tblSetup") || table == QStringLiteral("tblPasswords");
    for (int r = 1; r < document.records.size(); ++r) {
        const csv::Record& record = document.records.at(r);
        if (brokenLines.contains(record.line))
            continue;
        if (record.fields.size() != width) {
            const int column = qMin(record.fields.size(), width) + 1;
            QString message = QStringLiteral("%1, line %2, column %3: the line has %4 fields where the header has %5")
                                  .arg(file.fileName).arg(record.line).arg(column).arg(record.fields.size()).arg(width);
            if (record.fields.size() > width)
                message += QStringLiteral(" (a number written with a decimal comma, such as 2,5, "
                                          "splits into two fields: write 2.5)");
            problems.append(message);
            continue;
        }
        ImportRow row;
        row.line = record.line;
        bool sound = true;
        for (int c = 0; c < columns.size(); ++c) {
            QString error;
            const QVariant value = file.fieldOf.at(c) < 0
                                       ? QVariant()
                                       : fromCsvText(record.fields.at(file.fieldOf.at(c)), columns.at(c).kind, error);
            // The file would keep it and a server would cut the text there.
            if (error.isEmpty() && value.typeId() == QMetaType::QString && value.toString().contains(QChar(0)))
                error = QStringLiteral("\"%1\" holds a NUL byte, which no text may hold").arg(printable(value.toString()));
            if (!error.isEmpty()) {
                problems.append(QStringLiteral("%1: %2").arg(file.where(record.line, c), error));
                sound = false;
            }
            row.values.append(value);
        }
        if (!sound)
            continue;
        const QVariant key = row.values.value(file.keyIndex);
        if (!key.isValid()) {
            problems.append(QStringLiteral("%1: must not be empty").arg(file.where(record.line, file.keyIndex)));
            continue;
        }
        // A version or account name with a tab or a line break could be imported but
        // never typed or started at the login.
        if (key.typeId() == QMetaType::QString && config::hasControlCharacters(key.toString())) {
            problems.append(QStringLiteral("%1: \"%2\" holds a control character (a tab, a line break); "
                                           "the login refuses such a name")
                                .arg(file.where(record.line, file.keyIndex), printable(key.toString())));
            continue;
        }
        if (const QString form = table == QStringLiteral("tblPasswords") ? passwordFormProblem(file, row) : QString();
            !form.isEmpty()) {
            problems.append(form);
            continue;
        }
        if (oneRowPerKey) {
            const QString text = ImportFile::keyText(key);
            if (uniqueKeys.contains(text)) {
                problems.append(QStringLiteral("%1: \"%2\" is already on line %3")
                                    .arg(file.where(record.line, file.keyIndex), key.toString())
                                    .arg(uniqueKeys.value(text)));
                continue;
            }
            uniqueKeys.insert(text, record.line);
        }
        file.rows.append(row);
    }
    return file;
}

// Where a problem the configuration check found lies in the imported files.
QString locate(const config::ConfigProblem& problem, const QList<ImportFile>& files,
               store::Connection& connection)
{
    const QString message = problem.standalone ? problem.message
                                               : QStringLiteral("version \"%1\": %2").arg(problem.version, problem.message);
    for (const ImportFile& file : files) {
        if (file.table != problem.table)
            continue;
        QVariant key = problem.version;
        if (file.table == QStringLiteral("tblScenarios")) {
            const std::optional<store::Row> setup = store::SetupTable::row(connection, problem.version);
            key = setup ? setup->value("ScenarioUsed") : QVariant();
        }
        const int line = key.isValid() ? file.lineOf(key) : 0;
        if (line == 0)
            break;
        const int column = file.columnIndex(problem.field);
        if (column < 0)
            return QStringLiteral("%1, line %2: %3").arg(file.fileName).arg(line).arg(message);
        return QStringLiteral("%1: %2").arg(file.where(line, column), message);
    }
    // The rows at fault were already in the database and are not replaced by this import.
    QString where = QStringLiteral("%1 in the database").arg(problem.table);
    if (!problem.field.isEmpty())
        where += QStringLiteral(", field %1").arg(problem.field);
    return where + QStringLiteral(": ") + message;
}

} // namespace

QStringList importTables(store::Store& store, const QString& folder, QString* summary)
{
    const QDir dir(folder);
    QStringList present;
    for (const QString& table : configTableNames())
        if (QFileInfo::exists(dir.filePath(table + QStringLiteral(".csv"))))
            present.append(table);
    if (present.isEmpty())
        throw ToolError(QStringLiteral("%1 holds none of tblSetup.csv, tblScenarios.csv, tblLabels.csv, "
                                       "tblInstructions.csv, tblPasswords.csv.")
                            .arg(QDir::toNativeSeparators(folder)));

    QStringList problems;
    QList<ImportFile> files;
    for (const QString& table : std::as_const(present))
        files.append(readFile(dir.filePath(table + QStringLiteral(".csv")), table, tableColumns(table), problems));
    if (!problems.isEmpty())
        return problems;
    // Before the transaction: hashing takes a quarter of a second an account.
    for (ImportFile& file : files)
        if (file.table == QStringLiteral("tblPasswords"))
            hashPasswords(file);

    QStringList report;
    try {
        store.transaction(
            [&](store::Connection& connection) {
                report.clear();
                QStringList versions; // every version whose configuration this import touches
                auto touch = [&](const QString& version) {
                    for (const QString& v : std::as_const(versions))
                        if (store::nameKey(v) == store::nameKey(version))
                            return;
                    versions.append(version);
                };
                for (const ImportFile& file : std::as_const(files)) {
                    QList<QVariant> keys;
                    QSet<QString> seen;
                    for (const ImportRow& row : file.rows) {
                        const QVariant key = row.values.at(file.keyIndex);
                        if (!seen.contains(ImportFile::keyText(key))) {
                            seen.insert(ImportFile::keyText(key));
                            keys.append(key);
                        }
                    }
                    const store::TableDef& table = *store::findTable(file.table);
                    for (const QVariant& key : std::as_const(keys)) {
                        if (file.table == QStringLiteral("tblPasswords"))
                            store::PasswordTable::remove(connection, key.toString());
                        else
                            store::removeVersionRows(connection, table, key);
                    }
                    QStringList names;
                    for (const TableColumn& column : file.columns)
                        names.append(column.name);
                    for (const ImportRow& row : file.rows)
                        store::appendRow(connection, table, names, row.values);
                    names.clear();
                    for (const QVariant& key : std::as_const(keys)) {
                        names.append(key.toString());
                        if (file.table == QStringLiteral("tblSetup") || file.table == QStringLiteral("tblLabels") ||
                            file.table == QStringLiteral("tblInstructions"))
                            touch(key.toString());
                        if (file.table == QStringLiteral("tblScenarios"))
                            for (const QString& user : store::SetupTable::versionsUsing(connection, key))
                                touch(user);
                    }
                    if (file.table == QStringLiteral("tblPasswords"))
                        names = {QString::number(keys.size())}; // account names stay off the screen
                    report.append(QStringLiteral("%1: %2 rows for %3 %4 (%5)")
                                      .arg(file.fileName)
                                      .arg(file.rows.size())
                                      .arg(keys.size())
                                      .arg(file.table == QStringLiteral("tblScenarios") ? QStringLiteral("scenario(s)")
                                           : file.table == QStringLiteral("tblPasswords") ? QStringLiteral("account(s)")
                                                                                           : QStringLiteral("version(s)"),
                                           file.table == QStringLiteral("tblPasswords") ? QStringLiteral("names not shown")
                                                                                         : names.join(QStringLiteral(", "))));
                    // A file from before these columns replaces what a version had in them.
                    QStringList absent;
                    for (int c = 0; c < file.columns.size(); ++c)
                        if (file.fieldOf.at(c) < 0)
                            absent.append(file.columns.at(c).name);
                    if (!absent.isEmpty())
                        report.append(QStringLiteral("%1 has no column %2: its versions take the default "
                                                     "(English, $, dollars, cents, 2 decimals)")
                                          .arg(file.fileName, absent.join(QStringLiteral(", "))));
                }
                // The check reads through the store, on this same open database, and so
                // judges the configuration as it will be once committed. The design
                // errors too, as `check` would report them the moment after.
                QStringList found;
                for (const QString& version : std::as_const(versions)) {
                    config::ConfigProblems problems = config::checkVersion(store, version);
                    if (problems.isEmpty())
                        problems = config::checkDesign(store, version);
                    for (const config::ConfigProblem& problem : std::as_const(problems))
                        found.append(locate(problem, files, connection));
                }
                if (!found.isEmpty())
                    throw Rejected{found};
                if (!versions.isEmpty())
                    report.append(QStringLiteral("Checked version(s): %1").arg(versions.join(QStringLiteral(", "))));
            },
            false, kStatus);
    } catch (const Rejected& rejected) {
        return rejected.problems;
    }
    // What check warns of without failing, such as the demo account's published password.
    if (std::any_of(files.cbegin(), files.cend(),
                    [](const ImportFile& file) { return file.table == QStringLiteral("tblPasswords"); }))
        report += accountWarnings(store);
    if (summary)
        *summary = report.join(QLatin1Char('\n'));
    return {};
}

namespace {

// Removes a version's configuration (its setup, its labels, its instruction pages, and its scenario when no
// other version plays it) in one transaction; with withData also every participant's
// rows of it. Returns what was done; throws ToolError for what must not be done.
QString removeVersion(store::Store& store, const QString& version, bool withData)
{
    QString done;
    store.transaction(
        [&](store::Connection& c) {
            const std::optional<store::Row> setup = store::SetupTable::row(c, version);
            if (!setup)
                throw ToolError(QStringLiteral("There is no version \"%1\"; nothing was removed.").arg(version));
            const QString name = setup->value("Version").toString();
            const QVariant scenario = setup->value("ScenarioUsed");
            const qint64 participants =
                store::EventTable::participants(c, name) + store::SubjectTable::countWithoutEvents(c, name);
            if (participants > 0 && !withData)
                throw ToolError(QStringLiteral("Version \"%1\" holds the rows of %2 participant(s); nothing was removed. "
                                               "Export them first, then add --with-data to remove them as well.")
                                    .arg(name)
                                    .arg(participants));
            const auto table = [](const char* name) -> const store::TableDef& {
                return *store::findTable(QString::fromLatin1(name));
            };
            store::removeVersionRows(c, table("tblSetup"), name);
            store::removeVersionRows(c, table("tblLabels"), name);
            store::removeVersionRows(c, table("tblInstructions"), name);
            const bool shared = !store::SetupTable::versionsUsing(c, scenario).isEmpty();
            if (!shared)
                store::removeVersionRows(c, table("tblScenarios"), scenario);
            if (withData) {
                for (const QString& data : store::tableNames(store::TableKind::Data))
                    store::removeVersionRows(c, *store::findTable(data), name);
                // A station's hold of a participant whose rows are gone holds nothing.
                for (const store::HoldRow& hold : store::HoldTable::all(c, name))
                    store::HoldTable::removeAny(c, hold.Subject, hold.Version);
            }
            done = QStringLiteral("Removed version \"%1\"%2%3.")
                       .arg(name, shared ? QStringLiteral(" (its scenario stays: another version plays it)") : QString(),
                            withData ? QStringLiteral(" and the rows of its %1 participant(s)").arg(participants) : QString());
        },
        false, QStringLiteral("Removing a version"));
    return done;
}

} // namespace

int runImport(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("import"),
                          QStringLiteral("Usage: aquilevel [--data DIR] import DIR\n"
                                         "       aquilevel [--data DIR] import --remove VERSION [--with-data]"),
                          context, CommandArguments::Help::WithOptions);
    QCommandLineParser& parser = args.parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads configuration from tblSetup.csv, tblScenarios.csv, tblLabels.csv,\n"
        "tblInstructions.csv and tblPasswords.csv in DIR (any of them; header row with the column names, UTF-8,\n"
        "numbers with a point, yes/no as 0 or 1) and replaces, all at once, the rows of each\n"
        "version, scenario and account they hold. A password in plain text is stored as a\n"
        "bcrypt hash; a \"$2a$\" hash is kept as it is. When a line cannot be read or a version\n"
        "fails the check (the login's rules and the design errors `check` reports), nothing is\n"
        "written and every problem is listed; check's warnings are printed and do not refuse."));
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The folder with the CSV files."));
    const QCommandLineOption remove(QStringLiteral("remove"),
                                    QStringLiteral("Remove version VERSION's configuration instead of importing; refused "
                                                   "while participants' rows of it exist."),
                                    QStringLiteral("VERSION"));
    const QCommandLineOption withData(QStringLiteral("with-data"),
                                      QStringLiteral("With --remove: remove the participants' rows of the version too."));
    parser.addOptions({remove, withData});
    const bool removing = arguments.contains(QStringLiteral("--remove")) ||
                          std::any_of(arguments.cbegin(), arguments.cend(),
                                      [](const QString& a) { return a.startsWith(QStringLiteral("--remove=")); });
    if (const auto status = args.parse(arguments, removing ? 0 : 1, QStringLiteral("DIR")))
        return *status;
    if (parser.isSet(remove)) {
        ToolStore tool(context.dataFolder);
        try {
            context.out << removeVersion(tool.store(), parser.value(remove).trimmed(), parser.isSet(withData)) << Qt::endl;
        } catch (const store::EngineError& error) {
            throw ToolError(error.description());
        }
        return 0;
    }
    if (parser.isSet(withData))
        return args.usageError(QStringLiteral("--with-data goes with --remove"));
    const QString folder = parser.positionalArguments().first();
    if (!QFileInfo(folder).isDir())
        throw ToolError(QStringLiteral("There is no folder %1.").arg(QDir::toNativeSeparators(folder)));
    try {
        ToolStore tool(context.dataFolder);
        QString summary;
        const QStringList problems = importTables(tool.store(), folder, &summary);
        if (!problems.isEmpty()) {
            for (const QString& problem : problems)
                context.err << problem << "\n";
            context.err << "Nothing was imported (" << problems.size() << " problem"
                        << (problems.size() == 1 ? "" : "s") << ")." << Qt::endl;
            return 1;
        }
        context.out << summary << "\nImported." << Qt::endl;
        return 0;
    } catch (const store::StoreError& error) {
        throw ToolError(error.message());
    } catch (const store::EngineError& error) {
        throw ToolError(error.description());
    }
}

} // namespace aquilevel::tools
