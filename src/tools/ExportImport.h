#pragma once

#include "tools/LeftOut.h"
#include "tools/ToolCommand.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

// The tables the export writes without being asked, and those it writes on request.
const QStringList& dataTableNames();
const QStringList& configTableNames(); // tblSetup, tblScenarios, tblLabels, tblInstructions, tblPasswords

struct ExportOptions {
    QString version; // empty: every version
    QString subject; // empty: every participant
    QStringList tables; // table names as the database has them
    // Participants marked as pilots or excluded (datSubjectMark) are left out of the data
    // tables unless these take them in; the marks themselves are written whole.
    bool includePilots = false;
    bool includeExcluded = false;
    // Writes codebook.md, what every table and column holds, beside the tables.
    bool codebook = false;
    // Writes periods.csv and participants.csv (the fitted decision rule included) beside
    // the tables; the expectation's smoothing weight fixed when given, else fitted.
    bool analysis = false;
    std::optional<double> theta;
    // Starts every CSV file with a byte-order mark, for spreadsheets that take UTF-8 only
    // with one.
    bool byteOrderMark = false;
    // Told after each table is read, and between the steps of a long one: how many of
    // how many tables are done.
    std::function<void(int done, int total)> progress;
};

// Reads the chosen tables in one read transaction, so that they show one moment of the
// data even while sessions write, and writes TABLE.csv for each into folder (created if
// missing); each file appears under its name only when complete. Returns the paths
// written, and in `leftOut` the marked participants whose rows were left out. Throws
// ToolError.
QStringList exportTables(store::Store& store, const QString& folder, const ExportOptions& options,
                         LeftOut* leftOut = nullptr);

// Reads TABLE.csv of the configuration tables found in folder and replaces, in one
// transaction, the rows of every version (tblSetup, tblLabels, tblInstructions), scenario (tblScenarios)
// and account (tblPasswords) they hold. Nothing is written when any row cannot be read or
// any version touched fails the configuration check; the returned list then names every
// problem ("FILE, line L, column C (NAME): ...") and is empty on success. Throws ToolError
// when the folder holds none of the files.
QStringList importTables(store::Store& store, const QString& folder, QString* summary = nullptr);

int runExport(const QStringList& arguments, const ToolContext& context);
int runImport(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
