// The export writes tables as CSV that analysis tools read back exactly, from one moment
// of the data; the import replaces configuration all at once or not at all, and names
// the file, line and column of every mistake.

#include "store/EngineError.h"
#include "store/PasswordHash.h"
#include "store/Store.h"
#include "store/Tables.h"
#include "support/FakeEngine.h"
#include "support/Fakes.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDatabase.h"
#include "support/ToolRun.h"
#include "tools/Csv.h"
#include "tools/ExportImport.h"
#include "tools/TableCsv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace aquilevel;
using aquilevel::test::TempDatabase;

namespace {

using Result = test::ToolResult;

Result run(tools::ToolMain command, const QString& dataFolder, const QStringList& arguments)
{
    return test::runTool(command, dataFolder, arguments);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Every file of a folder with its bytes, to compare two exports.
QMap<QString, QByteArray> folderBytes(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files))
        files.insert(name, readAll(QDir(folder).filePath(name)));
    return files;
}

QList<QStringList> records(const QByteArray& bytes)
{
    const tools::csv::Document document = tools::csv::parse(bytes);
    QList<QStringList> rows;
    for (const auto& r : document.records)
        rows.append(r.fields);
    return rows;
}

// The value of a column in a parsed file's data row.
QString value(const QList<QStringList>& rows, int row, const QString& column)
{
    return rows.value(row).value(rows.value(0).indexOf(column));
}

// A whole export: every table, the passwords too.
QMap<QString, QByteArray> fullExport(const QString& dataFolder)
{
    QTemporaryDir out;
    const Result r = run(tools::runExport, dataFolder,
                         {out.path(), QStringLiteral("--tables"), QStringLiteral("all,tblPasswords")});
    if (r.status != 0)
        qWarning() << r.err;
    return folderBytes(out.path());
}

struct LoggedStore {
    explicit LoggedStore(const TempDatabase& db)
    {
        auto owned = std::make_unique<test::FakeEngine>(db.engine());
        engine = owned.get();
        store = std::make_unique<store::Store>(std::move(owned), prompter, pacer, random, [] {});
    }
    test::ScriptedPrompter prompter;
    test::RecordingPacer pacer;
    test::FixedRandom random;
    test::FakeEngine* engine = nullptr;
    std::unique_ptr<store::Store> store;
};

} // namespace

class TestExportImport : public QObject {
    Q_OBJECT

private:
    // One demo database with known data rows, shared by the export tests.
    std::unique_ptr<TempDatabase> m_data;
    const QString m_answer = QStringLiteral("Too fast, I said \"stop\"\r\nthen waited\nÄrger");

private slots:
    void initTestCase()
    {
        m_data = std::make_unique<TempDatabase>(TempDatabase::Content::Demo);
        const TempDatabase& db = *m_data;
        const QString anna = QStringLiteral("anna");
        const QString continuous = QStringLiteral("Demo continuous");
        db.append(QStringLiteral("datSubject"),
                  {{"Subject", anna}, {"Version", continuous}, {"Condition", QStringLiteral("continuous")},
                   {"Major", QStringLiteral("Biology")}, {"Gender", QStringLiteral("F")}, {"Age", 23.5},
                   {"Date", QStringLiteral("2026-03-04")}, {"Time", QStringLiteral("09:05:07")}});
        db.append(QStringLiteral("datSubject"),
                  {{"Subject", QStringLiteral("Ben")}, {"Version", QStringLiteral("Demo discrete")},
                   {"Condition", QStringLiteral("discrete")}, {"Age", 30}, {"Date", QStringLiteral("2026-03-05")},
                   {"Time", QStringLiteral("14:00:00")}});
        db.append(QStringLiteral("datQuestionnaire"),
                  {{"Subject", anna}, {"Version", continuous}, {"QuestionNumber", 1}, {"QuestionAnswer", m_answer}});
        db.append(QStringLiteral("datQuestionnaire"),
                  {{"Subject", QStringLiteral("Ben")}, {"Version", QStringLiteral("Demo discrete")},
                   {"QuestionNumber", 1}, {"QuestionAnswer", QStringLiteral("plain")}});
        db.append(QStringLiteral("datExperimentTrials"),
                  {{"Subject", anna}, {"Version", continuous}, {"eventType", QStringLiteral("Submit Clicked")},
                   {"EventID", 3}, {"Trial", 1}, {"Date", QStringLiteral("2026-03-04")},
                   {"Time", QStringLiteral("09:06:00")}, {"CurrentCost", 0.1}, {"TotCost", 1e-7},
                   {"AmountInTank", 1.0 / 3.0}, {"IsUserInFlow", 1}, {"IsUserOutFlow", QVariant()}});
        db.append(QStringLiteral("datTrialSummary"),
                  {{"Subject", anna}, {"Version", continuous}, {"Trial", 1}, {"Date", QStringLiteral("2026-03-04")},
                   {"startTime", QStringLiteral("09:06:00")}, {"endTime", QStringLiteral("09:06:09")},
                   {"IsEnvInFlow", 0}});
        // A pilot, left out unless asked for; Ben's exclusion was taken back.
        const QString pete = QStringLiteral("Pete");
        db.append(QStringLiteral("datSubject"), {{"Subject", pete}, {"Version", continuous}});
        db.append(QStringLiteral("datExperimentTrials"), {{"Subject", pete}, {"Version", continuous}, {"EventID", 1}});
        for (const auto& [who, mark] : {std::pair{pete, "pilot"}, {QStringLiteral("ben"), "excluded"}, {QStringLiteral("Ben"), ""}})
            db.append(QStringLiteral("datSubjectMark"), {{"Subject", who}, {"Version", who == pete ? continuous
                                                                                              : QStringLiteral("Demo discrete")},
                                                         {"Mark", QString::fromLatin1(mark)}});
    }

    void exportWritesRfc4180WithExactValues()
    {
        QTemporaryDir out;
        const QString folder = out.filePath(QStringLiteral("new/sub")); // created on the way
        const Result r = run(tools::runExport, m_data->folder(), {folder});
        QCOMPARE(r.status, 0);
        QStringList written = QDir(folder).entryList(QDir::Files);
        written.sort();
        QCOMPARE(written, QStringList({QStringLiteral("datExperimentTrials.csv"), QStringLiteral("datQuestionnaire.csv"),
                                       QStringLiteral("datSubject.csv"), QStringLiteral("datSubjectMark.csv"),
                                       QStringLiteral("datTrialSummary.csv"), QStringLiteral("datUserTimesSummary.csv")}));
        // The pilot is left out, and the export says so; the marks are written whole.
        QVERIFY2(r.err.contains(QStringLiteral("Left out 1 marked participant(s) (1 pilot(s)); --include-pilots")),
                 qPrintable(r.err));
        QCOMPARE(records(readAll(QDir(folder).filePath(QStringLiteral("datSubjectMark.csv")))).size(), 4);

        // The answer with a comma, quotes and line breaks is quoted, quotes doubled, bytes UTF-8.
        const QByteArray questionnaire = readAll(QDir(folder).filePath(QStringLiteral("datQuestionnaire.csv")));
        QVERIFY(questionnaire.startsWith("Subject,Version,QuestionNumber,QuestionAnswer"));
        QVERIFY(questionnaire.contains(
            "anna,Demo continuous,1,\"Too fast, I said \"\"stop\"\"\r\nthen waited\nÄrger\""));
        QVERIFY(questionnaire.contains("\r\nBen,Demo discrete,1,plain"));
        QVERIFY(questionnaire.endsWith("\r\n"));
        QVERIFY(!questionnaire.startsWith("\xEF\xBB\xBF"));
        const auto qRows = records(questionnaire);
        QCOMPARE(value(qRows, 1, QStringLiteral("QuestionAnswer")), m_answer);

        // Header: the table's own columns in table order but the hidden keys and the write
        // step; every line ends CRLF.
        QStringList columns;
        for (const QVariantMap& column : m_data->rows(QStringLiteral("PRAGMA table_info(\"datExperimentTrials\")")))
            columns.append(column.value(QStringLiteral("name")).toString());
        QVERIFY(columns.removeAll(QStringLiteral("SubjectKey")) == 1 && columns.removeAll(QStringLiteral("VersionKey")) == 1
                && columns.removeAll(QStringLiteral("WriteToken")) == 1);
        QStringList shown;
        for (const store::ColumnDef& column : store::findTable(QStringLiteral("datExperimentTrials"))->shownColumns())
            shown.append(column.name);
        QCOMPARE(columns, shown);
        QVERIFY(columns.size() >= 40);
        const QByteArray trials = readAll(QDir(folder).filePath(QStringLiteral("datExperimentTrials.csv")));
        QVERIFY(trials.startsWith((columns.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8()));
        QCOMPARE(trials.count("\n"), trials.count("\r\n"));

        const auto tRows = records(trials);
        QCOMPARE(tRows.size(), 2);
        QCOMPARE(value(tRows, 1, QStringLiteral("Date")), QStringLiteral("2026-03-04"));
        QCOMPARE(value(tRows, 1, QStringLiteral("Time")), QStringLiteral("09:06:00"));
        QCOMPARE(value(tRows, 1, QStringLiteral("CurrentCost")), QStringLiteral("0.1"));
        QCOMPARE(value(tRows, 1, QStringLiteral("CurrentCost")).toDouble(), 0.1);
        QCOMPARE(value(tRows, 1, QStringLiteral("TotCost")).toDouble(), 1e-7);
        QCOMPARE(value(tRows, 1, QStringLiteral("AmountInTank")).toDouble(), 1.0 / 3.0); // exact, not 0.333333
        QCOMPARE(value(tRows, 1, QStringLiteral("EventID")), QStringLiteral("3"));
        QCOMPARE(value(tRows, 1, QStringLiteral("IsUserInFlow")), QStringLiteral("1"));
        QCOMPARE(value(tRows, 1, QStringLiteral("IsUserOutFlow")), QString()); // Null stays empty
        QCOMPARE(value(tRows, 1, QStringLiteral("Subject")), QStringLiteral("anna"));

        const auto sRows = records(readAll(QDir(folder).filePath(QStringLiteral("datTrialSummary.csv"))));
        QCOMPARE(value(sRows, 1, QStringLiteral("startTime")), QStringLiteral("09:06:00"));
        QCOMPARE(value(sRows, 1, QStringLiteral("endTime")), QStringLiteral("09:06:09"));
        QCOMPARE(value(sRows, 1, QStringLiteral("IsEnvInFlow")), QStringLiteral("0"));
        const auto pRows = records(readAll(QDir(folder).filePath(QStringLiteral("datSubject.csv"))));
        QCOMPARE(value(pRows, 1, QStringLiteral("Age")), QStringLiteral("23.5"));
        QCOMPARE(value(pRows, 2, QStringLiteral("Age")), QStringLiteral("30"));

        // An empty table still gets its header; no temporary file is left behind.
        const QByteArray times = readAll(QDir(folder).filePath(QStringLiteral("datUserTimesSummary.csv")));
        QVERIFY(times.startsWith("Subject,Version,Trial,Date,SubmitClickTime"));
        QCOMPARE(times.count("\r\n"), 1);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 6);

        // Taken in when asked for.
        QTemporaryDir all;
        QCOMPARE(run(tools::runExport, m_data->folder(),
                     {all.path(), QStringLiteral("--include-pilots"), QStringLiteral("--codebook")})
                     .status,
                 0);
        const auto withPilot = records(readAll(all.filePath(QStringLiteral("datExperimentTrials.csv"))));
        QCOMPARE(withPilot.size(), 3);
        QCOMPARE(value(withPilot, 2, QStringLiteral("Subject")), QStringLiteral("Pete"));
        QCOMPARE(records(readAll(all.filePath(QStringLiteral("datSubject.csv")))).size(), 4);
        // The codebook beside them, as built into the program.
        QVERIFY(readAll(all.filePath(QStringLiteral("codebook.md"))).contains("datSubjectMark"));

        // Progress is told table by table, up to all of them.
        tools::ToolStore tool(m_data->folder());
        QList<std::pair<int, int>> told;
        tools::ExportOptions options;
        options.tables = tools::dataTableNames();
        options.progress = [&](int done, int total) { told.append({done, total}); };
        QTemporaryDir counted;
        tools::exportTables(tool.store(), counted.path(), options);
        const int tables = int(tools::dataTableNames().size());
        QCOMPARE(told.size(), tables);
        for (int i = 0; i < tables; ++i)
            QCOMPARE(told.at(i), std::make_pair(i + 1, tables));
    }

    void exportFiltersByVersionSubjectAndTables()
    {
        QTemporaryDir out;
        // Letter case does not matter; a quote in a filter value is a value, not SQL.
        Result r = run(tools::runExport, m_data->folder(),
                       {out.path(), QStringLiteral("--version"), QStringLiteral("demo CONTINUOUS"),
                        QStringLiteral("--tables"), QStringLiteral("datSubject,config")});
        QCOMPARE(r.status, 0);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 5); // no passwords with "config"
        auto subjects = records(readAll(out.filePath(QStringLiteral("datSubject.csv"))));
        QCOMPARE(subjects.size(), 2);
        QCOMPARE(value(subjects, 1, QStringLiteral("Subject")), QStringLiteral("anna"));
        auto setup = records(readAll(out.filePath(QStringLiteral("tblSetup.csv"))));
        QCOMPARE(setup.size(), 2);
        QCOMPARE(value(setup, 1, QStringLiteral("Version")), QStringLiteral("Demo continuous"));
        const auto labels = records(readAll(out.filePath(QStringLiteral("tblLabels.csv"))));
        QCOMPARE(labels.size(), 11);
        for (int i = 1; i < labels.size(); ++i)
            QCOMPARE(value(labels, i, QStringLiteral("version")), QStringLiteral("Demo continuous"));
        const auto pages = records(readAll(out.filePath(QStringLiteral("tblInstructions.csv"))));
        QCOMPARE(pages.size(), 3);
        QCOMPARE(value(pages, 2, QStringLiteral("version")), QStringLiteral("Demo continuous"));
        const auto scenarios = records(readAll(out.filePath(QStringLiteral("tblScenarios.csv"))));
        QVERIFY(scenarios.size() > 2);
        for (int i = 1; i < scenarios.size(); ++i)
            QCOMPARE(value(scenarios, i, QStringLiteral("Scenario")), QStringLiteral("1"));

        QTemporaryDir second;
        r = run(tools::runExport, m_data->folder(),
                {second.path(), QStringLiteral("--subject"), QStringLiteral("BEN")});
        QCOMPARE(r.status, 0);
        subjects = records(readAll(second.filePath(QStringLiteral("datSubject.csv"))));
        QCOMPARE(subjects.size(), 2);
        QCOMPARE(value(subjects, 1, QStringLiteral("Subject")), QStringLiteral("Ben"));
        QCOMPARE(records(readAll(second.filePath(QStringLiteral("datExperimentTrials.csv")))).size(), 1);

        // A filter that matches nothing (here one that would match everything if it were
        // pasted into the SQL) is an error, and no empty files are written.
        QTemporaryDir third;
        r = run(tools::runExport, m_data->folder(),
                {third.path(), QStringLiteral("--version"), QStringLiteral("x' OR '1'='1")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("nothing was written")), qPrintable(r.err));
        QVERIFY(QDir(third.path()).entryList(QDir::Files).isEmpty());

        // The passwords only by name.
        QTemporaryDir fourth;
        r = run(tools::runExport, m_data->folder(), {fourth.path(), QStringLiteral("--tables"), QStringLiteral("tblpasswords")});
        QCOMPARE(r.status, 0);
        QCOMPARE(QDir(fourth.path()).entryList(QDir::Files), QStringList{QStringLiteral("tblPasswords.csv")});
        QVERIFY(r.err.contains(QStringLiteral("plain text")));
    }

    void exportUsageErrors()
    {
        QTemporaryDir out;
        Result r = run(tools::runExport, m_data->folder(), {out.path(), QStringLiteral("--tables"), QStringLiteral("datNothing")});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains(QStringLiteral("datNothing")));
        r = run(tools::runExport, m_data->folder(), {});
        QCOMPARE(r.status, 2);
        r = run(tools::runExport, m_data->folder(), {out.path(), QStringLiteral("--bogus")});
        QCOMPARE(r.status, 2);
        r = run(tools::runExport, m_data->folder(), {QStringLiteral("--help")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains(QStringLiteral("--subject")));
        // A file that cannot take its place (here a folder of its name): no file of the
        // export is left behind, beside the folder either, and an earlier export's file
        // and the experimenter's own stay as they were; a later export replaces only its own.
        QVERIFY(QDir(out.path()).mkdir(QStringLiteral("datTrialSummary.csv")));
        for (const char* name : {"datSubject.csv", "notes.txt"}) {
            QFile earlier(QDir(out.path()).filePath(QLatin1String(name)));
            QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
        }
        const QDir beside = QFileInfo(out.path()).dir();
        // Only what this export could have left there: other tests share the folder.
        const auto strays = [&] { return beside.entryList({QStringLiteral(".*.export-*")}, QDir::AllEntries | QDir::Hidden); };
        const QStringList besideBefore = strays();
        r = run(tools::runExport, m_data->folder(), {out.path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("nothing was written")), qPrintable(r.err));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("datSubject.csv"), QStringLiteral("notes.txt")}));
        QCOMPARE(readAll(QDir(out.path()).filePath(QStringLiteral("datSubject.csv"))), QByteArray("earlier"));
        QCOMPARE(strays(), besideBefore);
        QVERIFY(QDir(out.path()).rmdir(QStringLiteral("datTrialSummary.csv")));
        QCOMPARE(run(tools::runExport, m_data->folder(), {out.path()}).status, 0);
        QVERIFY(readAll(QDir(out.path()).filePath(QStringLiteral("datSubject.csv"))).startsWith("Subject,"));
        QCOMPARE(readAll(QDir(out.path()).filePath(QStringLiteral("notes.txt"))), QByteArray("earlier"));
        for (const char* name : {"datSubject.csv", "datExperimentTrials.csv", "datTrialSummary.csv",
                                 "datUserTimesSummary.csv", "datQuestionnaire.csv", "datSubjectMark.csv"})
            QVERIFY(QFile::remove(QDir(out.path()).filePath(QLatin1String(name))));
        QVERIFY(QFile::remove(QDir(out.path()).filePath(QStringLiteral("notes.txt"))));
        QTemporaryDir empty;
        r = run(tools::runExport, empty.path(), {out.path()});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(QStringLiteral("no experiment database")));
        QVERIFY(QDir(out.path()).entryList(QDir::Files).isEmpty());
    }

    // The export reads in short transactions, so a session writing meanwhile is never
    // held up; what it writes after the export began is left out.
    void exportNeverHoldsUpASession()
    {
        TempDatabase db(TempDatabase::Content::Demo);
        db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4500) "
                               "INSERT INTO datUserTimesSummary (Subject, Version, Trial, SubjectKey, VersionKey) "
                               "SELECT 'many', 'Demo discrete', i, 'many', 'demo discrete' FROM n"));
        LoggedStore logged(db);
        bool writeRefused = false;
        // After the first transaction that read rows: another copy writes.
        bool written = false;
        logged.engine->onKept = [&] {
            if (written || !logged.engine->log.contains(QStringLiteral("query datUserTimesSummary")))
                return;
            written = true;
            try {
                db.append(QStringLiteral("datUserTimesSummary"),
                          {{QStringLiteral("Subject"), QStringLiteral("late")},
                           {QStringLiteral("Version"), QStringLiteral("Demo discrete")}});
            } catch (const store::EngineError&) {
                writeRefused = true;
            }
        };
        QTemporaryDir out;
        tools::ExportOptions options;
        options.tables = {QStringLiteral("datUserTimesSummary")};
        tools::exportTables(*logged.store, out.path(), options);
        QVERIFY(written);
        QVERIFY(!writeRefused);
        // 2000 rows a transaction: at least three of them for 4500 rows.
        QVERIFY2(logged.engine->count(QStringLiteral("commit")) >= 3, qPrintable(logged.engine->log.join(QLatin1Char(','))));
        const QList<QByteArray> lines = readAll(out.filePath(QStringLiteral("datUserTimesSummary.csv"))).split('\n');
        QCOMPARE(lines.size(), 4500 + 2); // header, rows, the last line end
        QVERIFY(lines.at(4500).contains(",4500,"));
        QVERIFY(!lines.join().contains("late"));
        QCOMPARE(db.column(QStringLiteral("select count(*) from datUserTimesSummary where Subject = 'late'")).value(0).toInt(), 1);
    }

    // The round trip: the demo configuration, exported, imported into an empty file and
    // exported again, gives the same bytes.
    void roundTripGivesTheSameBytes()
    {
        QTemporaryDir first;
        const QStringList tables = {QStringLiteral("--tables"), QStringLiteral("config,tblPasswords")};
        QCOMPARE(run(tools::runExport, m_data->folder(), QStringList{first.path()} + tables).status, 0);
        TempDatabase fresh(TempDatabase::Content::Empty);
        const Result imported = run(tools::runImport, fresh.folder(), {first.path()});
        QCOMPARE(imported.err, QString());
        QCOMPARE(imported.status, 0);
        QVERIFY(imported.out.contains(QStringLiteral("Demo time-gap bonus")));
        // check's warnings are printed, and do not refuse.
        QVERIFY2(imported.out.contains(QStringLiteral("Warning: the demo experimenter account")), qPrintable(imported.out));
        QTemporaryDir second;
        QCOMPARE(run(tools::runExport, fresh.folder(), QStringList{second.path()} + tables).status, 0);
        const auto before = folderBytes(first.path());
        QCOMPARE(before.size(), 5);
        QVERIFY(before.contains(QStringLiteral("tblInstructions.csv"))); // pages of several lines, with quotes
        QCOMPARE(folderBytes(second.path()), before);

        // Importing again replaces the versions' rows rather than adding to them.
        QCOMPARE(run(tools::runImport, fresh.folder(), {first.path()}).status, 0);
        QTemporaryDir third;
        QCOMPARE(run(tools::runExport, fresh.folder(), QStringList{third.path()} + tables).status, 0);
        QCOMPARE(folderBytes(third.path()), before);

        // A tblSetup.csv written before the language and currency columns imports, its
        // versions in the default currency.
        QTemporaryDir older;
        QByteArray bytes;
        for (QStringList row : records(before.value(QStringLiteral("tblSetup.csv")))) {
            QCOMPARE(row.at(row.size() - 5), row.first() == QStringLiteral("Version") ? QStringLiteral("Language") : QStringLiteral("en"));
            bytes += tools::csv::record(row.mid(0, row.size() - 5));
        }
        writeFile(older.filePath(QStringLiteral("tblSetup.csv")), bytes);
        const Result old = run(tools::runImport, fresh.folder(), {older.path()});
        QVERIFY2(old.status == 0, qPrintable(old.err));
        QVERIFY2(old.out.contains(QStringLiteral("has no column Language, CurrencySymbol")), qPrintable(old.out));
        QCOMPARE(fresh.column(QStringLiteral("select count(*) from tblSetup where Language is null and CurrencySymbol is null "
                                             "and CurrencyDecimals is null")).value(0).toInt(), 4);

        // A password in plain text is hashed on the way in (the demo's hash above was
        // kept); a hash of another form, or a password longer than bcrypt reads, is refused.
        QTemporaryDir accounts;
        const QString file = accounts.filePath(QStringLiteral("tblPasswords.csv"));
        writeFile(file, "username,password\r\nlab,harbour lights\r\nphp,"
                        "$2y$10$abcdefghijklmnopqrstuuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ01\r\nunix,$6$salt$hash\r\n"
                        "long," + QByteArray(73, 'x') + "\r\n");
        Result r = run(tools::runImport, fresh.folder(), {accounts.path()});
        QCOMPARE(r.status, 1);
        for (const char* line : {"line 3, column 2 (password): a password hash is kept only in bcrypt's form",
                                 "line 4, column 2 (password): a password hash", "line 5, column 2 (password): the "
                                 "password is longer than 72 bytes"})
            QVERIFY2(r.err.contains(QLatin1String(line)), qPrintable(r.err));
        writeFile(file, "username,password\r\nlab,harbour lights\r\n");
        r = run(tools::runImport, fresh.folder(), {accounts.path()});
        QCOMPARE(r.status, 0);
        const QVariantList stored =
            fresh.column(QStringLiteral("select password from tblPasswords where username = 'lab'"));
        QCOMPARE(stored.size(), 1);
        QVERIFY(store::isPasswordHash(stored.first()));
        QVERIFY(store::passwordMatches(stored.first(), QStringLiteral("harbour lights")));
    }

    // A version's rows are replaced as a whole, other versions stay; and the import is
    // one write transaction.
    void importReplacesOnlyTheVersionsItHolds()
    {
        TempDatabase db(TempDatabase::Content::Demo);
        QTemporaryDir in;
        const QString labelsHeader = QStringLiteral("version,LabelNumber,LabelName\r\n");
        QByteArray labels = labelsHeader.toUtf8();
        for (int mark = 1; mark <= 10; ++mark)
            labels += QStringLiteral("demo DISCRETE,%1,%2 gal\r\n").arg(mark).arg(mark * 10).toUtf8();
        writeFile(in.filePath(QStringLiteral("tblLabels.csv")), labels);
        LoggedStore logged(db);
        QString summary;
        const QStringList problems = tools::importTables(*logged.store, in.path(), &summary);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        // One write transaction: on the connection opened for writing, one begin, every
        // write of the import before its one commit, nothing rolled back. The columns come
        // from the program's own list of tables, so no transaction of its own reads them.
        const QStringList& log = logged.engine->log;
        const QString shownLog = log.join(QLatin1Char(','));
        QVERIFY2(log.size() > 2 && log.at(0) == QStringLiteral("open rw") && log.at(1) == QStringLiteral("begin"),
                 qPrintable(shownLog));
        QCOMPARE(log.count(QStringLiteral("begin")), 1);
        QCOMPARE(log.count(QStringLiteral("commit")), 1);
        QVERIFY2(!log.contains(QStringLiteral("rollback")), qPrintable(shownLog));
        const qsizetype commitAt = log.indexOf(QStringLiteral("commit"));
        int writes = 0;
        for (qsizetype i = 0; i < log.size(); ++i) {
            const QString& entry = log.at(i);
            if (entry.startsWith(QStringLiteral("insert ")) || entry.startsWith(QStringLiteral("update "))
                || entry.startsWith(QStringLiteral("delete ")) || entry.startsWith(QStringLiteral("execute "))) {
                ++writes;
                QVERIFY2(i > 1 && i < commitAt, qPrintable(shownLog));
            }
        }
        QCOMPARE(log.count(QStringLiteral("insert tblLabels")), 10);
        QVERIFY(writes > 10);
        QCOMPARE(db.column(QStringLiteral("select count(*) from tblLabels where version = 'Demo discrete'")).value(0).toInt(), 10);
        QCOMPARE(db.column(QStringLiteral("select LabelName from tblLabels where version = 'Demo discrete' order by rowid")).value(0).toString(),
                 QStringLiteral("10 gal"));
        QCOMPARE(db.column(QStringLiteral("select count(*) from tblLabels")).value(0).toInt(), 40);
        QVERIFY(summary.contains(QStringLiteral("Checked version(s): demo DISCRETE")));
    }

    // Whatever is wrong, the file is left as it was, and every problem is named with
    // file, line and column.
    void brokenImportLeavesTheFileUntouched()
    {
        TempDatabase db(TempDatabase::Content::Demo);
        const auto before = fullExport(db.folder());
        QVERIFY(before.size() == 11);
        QTemporaryDir source;
        QCOMPARE(run(tools::runExport, db.folder(), {source.path(), QStringLiteral("--tables"), QStringLiteral("config")}).status, 0);
        const QByteArray setup = readAll(source.filePath(QStringLiteral("tblSetup.csv")));
        const QList<QStringList> rows = records(setup);
        const int afterEvery = rows.first().indexOf(QStringLiteral("AfterEveryNTrials"));
        const int maxTrial = rows.first().indexOf(QStringLiteral("MaxTrial"));
        const int baseMoney = rows.first().indexOf(QStringLiteral("BaseMoney"));
        const int goal = rows.first().indexOf(QStringLiteral("GoalLinePoisition"));

        // 1. Every line reads, but one version fails the check: nothing is written.
        {
            QTemporaryDir in;
            QList<QStringList> changed = rows;
            changed[1][maxTrial] = QStringLiteral("99");     // would change a sound version
            changed[2][afterEvery] = QStringLiteral("0");    // breaks another
            changed[3][baseMoney] = QStringLiteral("-2");    // the login lets these two through, check does not
            changed[4][goal] = QStringLiteral("5000");
            QByteArray bytes;
            for (const QStringList& r : changed)
                bytes += tools::csv::record(r);
            writeFile(in.filePath(QStringLiteral("tblSetup.csv")), bytes);
            const Result r = run(tools::runImport, db.folder(), {in.path()});
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.contains(QStringLiteral("tblSetup.csv, line 3, column %1 (AfterEveryNTrials)").arg(afterEvery + 1)), qPrintable(r.err));
            QVERIFY2(r.err.contains(QStringLiteral("tblSetup.csv, line 4, column %1 (BaseMoney): version \"%2\": BaseMoney of -2 "
                                                   "is negative").arg(baseMoney + 1).arg(rows[3][0])), qPrintable(r.err));
            QVERIFY2(r.err.contains(QStringLiteral("tblSetup.csv, line 5, column %1 (GoalLinePoisition)").arg(goal + 1)),
                     qPrintable(r.err));
            QVERIFY(r.err.contains(QStringLiteral("Nothing was imported")));
            QCOMPARE(fullExport(db.folder()), before);
        }
        // 2. A good file beside a file with a line that does not read.
        {
            QTemporaryDir in;
            writeFile(in.filePath(QStringLiteral("tblSetup.csv")), setup);
            writeFile(in.filePath(QStringLiteral("tblScenarios.csv")),
                      "Scenario,Trial,inFlowRateEnviron,outFlowRateEnviron\r\n1,0,2,1\r\n1,1,two,1\r\n");
            const Result r = run(tools::runImport, db.folder(), {in.path()});
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.contains(QStringLiteral("tblScenarios.csv, line 3, column 3 (inFlowRateEnviron): \"two\" is not a number")), qPrintable(r.err));
            QCOMPARE(fullExport(db.folder()), before);
        }
    }

    void typicalMistakesAreNamedWithFileLineAndColumn_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("expected");
        const QByteArray header = "Scenario,Trial,inFlowRateEnviron,outFlowRateEnviron\r\n";
        QTest::newRow("missing column") << QByteArray("Scenario,Trial,inFlowRateEnviron\r\n1,0,2\r\n")
                                        << "tblScenarios.csv, line 1, column outFlowRateEnviron: this column is missing";
        QTest::newRow("text for a number") << header + "1,0,2,1\r\n1,x1,2,1\r\n"
                                           << "tblScenarios.csv, line 3, column 2 (Trial): \"x1\" is not a whole number";
        QTest::newRow("decimal comma, quoted") << header + "1,0,\"2,5\",1\r\n"
                                               << "tblScenarios.csv, line 2, column 3 (inFlowRateEnviron): \"2,5\" uses a comma as decimal separator";
        QTest::newRow("decimal comma, bare") << header + "1,0,2,5,1\r\n"
                                             << "tblScenarios.csv, line 2, column 5: the line has 5 fields where the header has 4 (a number written with a decimal comma";
        QTest::newRow("unknown column") << QByteArray("Scenario,Trial,inFlowRateEnviron,outFlowRateEnviron,Colour\r\n1,0,2,1,red\r\n")
                                        << "tblScenarios.csv, line 1, column 5: unknown column \"Colour\"";
        QTest::newRow("too few fields") << header + "1,0,2,1\r\n\r\n1,1,2\r\n"
                                        << "tblScenarios.csv, line 4, column 4: the line has 3 fields where the header has 4";
        QTest::newRow("stray quote") << header + "1,0,2\"5,1\r\n"
                                     << "tblScenarios.csv, line 2, column 3: a quote inside a field";
        QTest::newRow("unclosed quote") << header + "1,0,\"2,1\r\n"
                                        << "tblScenarios.csv, line 2, column 3: a quoted field is not closed";
        QTest::newRow("empty key") << header + ",0,2,1\r\n" << "tblScenarios.csv, line 2, column 1 (Scenario): must not be empty";
        QTest::newRow("empty file") << QByteArray("\xEF\xBB\xBF") << "tblScenarios.csv, line 1: the file is empty";
        QTest::newRow("semicolons") << QByteArray("Scenario;Trial;inFlowRateEnviron;outFlowRateEnviron\r\n1;0;2,5;1\r\n")
                                    << "tblScenarios.csv: the fields are separated by semicolons";
        QTest::newRow("tab in a version") << QByteArray("version,LabelNumber,LabelName\r\n\"Pilot\tA\",1,10\r\n")
                                          << "tblLabels.csv, line 2, column 1 (version): \"Pilot\\x09A\" holds a control character";
        QTest::newRow("NUL in a label") << QByteArray("version,LabelNumber,LabelName\r\nPilot,1,\"1") + '\0' + "0\"\r\n"
                                        << "tblLabels.csv, line 2, column 3 (LabelName): \"1\\x000\" holds a NUL byte";
    }

    void typicalMistakesAreNamedWithFileLineAndColumn()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, expected);
        QTemporaryDir in;
        writeFile(in.filePath(csv.startsWith("version,") ? QStringLiteral("tblLabels.csv") : QStringLiteral("tblScenarios.csv")),
                  csv);
        const QByteArray before = m_data->column(QStringLiteral("select group_concat(Scenario || ':' || Trial || ':' || inFlowRateEnviron) from tblScenarios")).value(0).toByteArray();
        const Result r = run(tools::runImport, m_data->folder(), {in.path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(expected), qPrintable(r.err));
        QVERIFY2(!r.err.contains(QStringLiteral("missing")) || expected.contains(QStringLiteral("missing")), qPrintable(r.err));
        QCOMPARE(m_data->column(QStringLiteral("select group_concat(Scenario || ':' || Trial || ':' || inFlowRateEnviron) from tblScenarios")).value(0).toByteArray(), before);
    }

    // A version removed: refused while it has participants' rows, then with them.
    void removeAVersion()
    {
        TempDatabase db(TempDatabase::Content::Demo);
        db.append(QStringLiteral("datExperimentTrials"), {{QStringLiteral("Subject"), QStringLiteral("p1")},
                                                          {QStringLiteral("Version"), QStringLiteral("Demo discrete")},
                                                          {QStringLiteral("EventID"), 1}});
        const auto count = [&](const QString& sql) { return db.column(sql).value(0).toInt(); };
        const int versions = count(QStringLiteral("select count(*) from tblSetup"));
        const int scenarios = count(QStringLiteral("select count(*) from tblScenarios"));

        Result r = run(tools::runImport, db.folder(), {QStringLiteral("--remove"), QStringLiteral("demo DISCRETE")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("holds the rows of 1 participant")), qPrintable(r.err));
        QCOMPARE(count(QStringLiteral("select count(*) from tblSetup")), versions);

        r = run(tools::runImport, db.folder(),
                {QStringLiteral("--remove"), QStringLiteral("Demo discrete"), QStringLiteral("--with-data")});
        QCOMPARE(r.status, 0);
        QCOMPARE(count(QStringLiteral("select count(*) from tblSetup")), versions - 1);
        QCOMPARE(count(QStringLiteral("select count(*) from tblLabels where version = 'Demo discrete'")), 0);
        QCOMPARE(count(QStringLiteral("select count(*) from tblInstructions where version = 'Demo discrete'")), 0);
        QCOMPARE(count(QStringLiteral("select count(*) from datExperimentTrials")), 0);
        // Its scenario goes only when no other version plays it.
        const bool shared = r.out.contains(QStringLiteral("scenario stays"));
        QCOMPARE(count(QStringLiteral("select count(*) from tblScenarios")) == scenarios, shared);

        r = run(tools::runImport, db.folder(), {QStringLiteral("--remove"), QStringLiteral("Nope")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(QStringLiteral("There is no version")));
        QCOMPARE(run(tools::runImport, db.folder(), {QStringLiteral("--with-data")}).status, 2);
    }

    // Yes/no as spreadsheets and people write it.
    void yesNoSpellings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value");
        for (const char* yes : {"1", "yes", "Y", "TRUE", "true", "-1"})
            QTest::newRow(yes) << QString::fromLatin1(yes) << QVariant(qint64(1));
        for (const char* no : {"0", "No", "n", "FALSE"})
            QTest::newRow(no) << QString::fromLatin1(no) << QVariant(qint64(0));
        QTest::newRow("neither") << QStringLiteral("maybe") << QVariant();
    }

    void yesNoSpellings()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, value);
        QString error;
        QCOMPARE(tools::fromCsvText(text, tools::ColumnKind::Boolean, error), value);
        QCOMPARE(error.isEmpty(), value.isValid());
    }

    // A byte-order mark, LF or CRLF line ends, columns in another order, a missing last
    // line end: all read.
    void importAcceptsBomLineEndsAndColumnOrder()
    {
        TempDatabase db(TempDatabase::Content::Demo);
        QTemporaryDir in;
        QByteArray bytes = "\xEF\xBB\xBFTrial,Scenario,outFlowRateEnviron,inFlowRateEnviron\n";
        for (int period = 0; period <= 21; ++period)
            bytes += QStringLiteral("%1,2,0.1,1e-7%2").arg(period).arg(period % 2 ? QStringLiteral("\r\n") : QStringLiteral("\n")).toUtf8();
        bytes.chop(1); // no line end after the last line
        writeFile(in.filePath(QStringLiteral("tblScenarios.csv")), bytes);
        const Result r = run(tools::runImport, db.folder(), {in.path()});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(db.column(QStringLiteral("select count(*) from tblScenarios where Scenario = 2")).value(0).toInt(), 22);
        QCOMPARE(db.column(QStringLiteral("select inFlowRateEnviron from tblScenarios where Scenario = 2 and Trial = 21")).value(0).toDouble(), 1e-7);
        QCOMPARE(db.column(QStringLiteral("select outFlowRateEnviron from tblScenarios where Scenario = 2 and Trial = 0")).value(0).toDouble(), 0.1);
        QVERIFY(r.out.contains(QStringLiteral("Demo time-driven")));
    }

    void importUsageAndTheRealProgram()
    {
        Result r = run(tools::runImport, m_data->folder(), {QStringLiteral("--help")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains(QStringLiteral("tblSetup.csv")));
        QCOMPARE(run(tools::runImport, m_data->folder(), {}).status, 2);
        QTemporaryDir empty;
        r = run(tools::runImport, m_data->folder(), {empty.path()});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(QStringLiteral("holds none of")));

        // Through the program itself: the status and messages reach the shell.
        QTemporaryDir in;
        writeFile(in.filePath(QStringLiteral("tblPasswords.csv")), "username,password\r\nsomeone,x\r\nSOMEONE,y\r\n");
        r = test::runProgram({QStringLiteral("--data"), m_data->folder(), QStringLiteral("import"), in.path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("tblPasswords.csv, line 3, column 1 (username): \"SOMEONE\" is already on line 2")), qPrintable(r.err));
        QTemporaryDir out;
        r = test::runProgram({QStringLiteral("--data"), m_data->folder(), QStringLiteral("export"), out.path(),
                              QStringLiteral("--subject"), QStringLiteral("anna")});
        QCOMPARE(r.status, 0);
        QCOMPARE(records(readAll(out.filePath(QStringLiteral("datQuestionnaire.csv")))).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestExportImport)
#include "tst_exportimport.moc"
