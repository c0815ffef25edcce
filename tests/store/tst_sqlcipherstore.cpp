// The store on a real encrypted SQLCipher file: encryption, the table layout and its
// upgrade, the tables' homes, bound parameters, letter case, and how the engine's
// failures are classified and retried (a wrong password, a replaced file, another
// connection's lock).

#include "config/ExperimentSetup.h"
#include "session/Prompter.h"
#include "store/ConfigTables.h"
#include "store/DataLocation.h"
#include "store/DataTables.h"
#include "store/PasswordHash.h"
#include "store/SqlCipherConnection.h"
#include "store/SqlCipherEngine.h"
#include "store/StationTables.h"
#include "store/Store.h"
#include "store/TableRows.h"
#include "store/Tables.h"
#include "support/Fakes.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDatabase.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace aquilevel;
using namespace aquilevel::store;
using aquilevel::test::TempDatabase;

namespace {

// A store on one engine, with scripted questions and a recorded give-up.
struct Rig {
    explicit Rig(std::unique_ptr<Engine> engine) : random({0.5})
    {
        store = std::make_unique<Store>(std::move(engine), prompter, pacer, random,
                                        [this] { ++giveUps; });
    }
    test::ScriptedPrompter prompter;
    test::RecordingPacer pacer;
    test::FixedRandom random;
    int giveUps = 0;
    std::unique_ptr<Store> store;
};

std::unique_ptr<SqlCipherConnection> rawConnection(const TempDatabase& db)
{
    return SqlCipherConnection::open(db.path(), databasePassword(), false, 2000);
}

// Reads a query of the test's own ($1 parameters) on a connection of its own, behind the
// store's back.
Rows readRaw(const TempDatabase& db, const QString& sql, const QVariantList& params = {})
{
    return rawConnection(db)->query(Sql(sql), params);
}

int countRaw(const TempDatabase& db, const QString& table)
{
    return readRaw(db, QStringLiteral("SELECT count(*) FROM %1").arg(table)).values.value(0).value(0).toInt();
}

// A table's columns as the file has them, in table order.
QStringList columnsOf(const TempDatabase& db, const QString& table)
{
    return readRaw(db, QStringLiteral("SELECT * FROM %1 WHERE 0").arg(quotedName(table))).columns;
}

void appendEvent(Connection& c, const QString& subject, qint32 eventId)
{
    EventRow row;
    row.Subject = subject;
    row.Version = QStringLiteral("v1");
    row.eventType = QStringLiteral("Submit Clicked");
    row.EventID = eventId;
    EventTable::append(c, row);
}

QStringList words(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The event log's columns, in the order every analysis expects them.
const QStringList kEventLogColumns = words(
    "Subject Version eventType EventID Trial Date Time CurrentCost TotCost UserInFlow "
    "UserOutFlow EnvInFlow EnvOutFlow BackOrder ForwardDischarge TotalBackOrder "
    "TotalForwardDischarge AmountInTank GoalAmount SimulationTime BaseMoney UserInflowTP "
    "UserOutflowTP AfterEveryNTrials IsUserInFlow IsUserOutFlow IsEnvInFlow IsEnvOutFlow "
    "graphicalMode BonusAmount CurrentBonus TotBonus LowerBoundFromGoal UpperBoundFromGoal "
    "ExperimentTimeForInstructions MaxNumberOfAScenarioType IsTimeDriven IsBonusOnTimeGap "
    "TimeBetweenEnvTries deltaTmeBetweenEnvUsr");

} // namespace

class TestSqlCipherStore : public QObject {
    Q_OBJECT

    // A database that the tests only read: deriving a key costs tens of milliseconds,
    // so the layout checks and the look-ups share one file.
    std::unique_ptr<TempDatabase> m_shared;

private slots:
    void initTestCase()
    {
        m_shared = std::make_unique<TempDatabase>();
        m_shared->exec(QStringLiteral("INSERT INTO tblPasswords (username, password) VALUES ($1, $2), ($3, $4)"),
                       {QStringLiteral("admin"), QStringLiteral("secret"), QStringLiteral("o'brien"),
                        QStringLiteral("shamrock")});
    }

    // --- the file ---

    void fileIsEncryptedAndOpensWithTheKeyInTheStockShell()
    {
        TempDatabase db(TempDatabase::Content::Demo);
        QFile file(db.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(16);
        QCOMPARE(head.size(), 16);
        QVERIFY(head != QByteArray("SQLite format 3\0", 16));
        file.seek(0);
        const QByteArray all = file.readAll();
        QVERIFY(!all.contains("CREATE TABLE"));
        QVERIFY(!all.contains("datExperimentTrials"));

        const int versions = readRaw(db, QStringLiteral("select count(*) from tblSetup"))
                                 .values.value(0).value(0).toInt();
        QVERIFY(versions > 0);

        const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlcipher"));
        if (shell.isEmpty())
            QSKIP("the sqlcipher shell is not installed");
        auto runShell = [&](const QByteArray& script, QByteArray* out) {
            QProcess process;
            process.start(shell, {db.path()});
            process.write(script);
            process.closeWriteChannel();
            if (!process.waitForFinished(20000))
                return -1;
            *out = process.readAllStandardOutput().trimmed();
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QByteArray out;
        QCOMPARE(runShell("PRAGMA key = 'KwPz_*R*_t';\nselect count(*) from tblSetup;\n", &out), 0);
        QCOMPARE(out, QByteArray::number(versions));

        QVERIFY(runShell("select count(*) from tblSetup;\n", &out) != 0);
        QVERIFY(out.isEmpty());
        QVERIFY(runShell("PRAGMA key = 'kwpz_*r*_t';\nselect count(*) from tblSetup;\n", &out) != 0);
        QVERIFY(out.isEmpty());
    }

    // --- the table layout ---

    void eventLogHasItsFortyColumnsInOrder()
    {
        QCOMPARE(kEventLogColumns.size(), 40);
        // After them only the two columns the program fills for analyses, the two hidden
        // keys its look-ups use and the hidden token of the write step that appended the row.
        QCOMPARE(columnsOf(*m_shared, QStringLiteral("datExperimentTrials")),
                 kEventLogColumns + words("EventTimeUtc Station SubjectKey VersionKey WriteToken"));
    }

    void everyTableHasItsColumnsSpelledExactly_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("columns");
        QTest::newRow("tblSetup") << "tblSetup" << words(
            "Version MaxTrial BaseMoney numMarks InitialAmountInTank GoalLinePoisition "
            "InitialBackOrder InitialForwardDischarge inFlowTPAfter outFlowTPAfter simTimeForTP "
            "AfterEveryNTrials ScenarioUsed CostUnderFlowPerAmount CostOverFlowPerAmount "
            "BonusAmount YUnits graphicalMode userDelay envDelay RHEIGHT RWIDTH "
            "UpperBoundFromGoal LowerBoundFromGoal ExperimentTimeForInstructions "
            "MaxNumberOfAScenarioType IsTimeDriven IsBonusOnTimeGap ShowBackOrder "
            "ShowDischargeOrder ShowTimePeriods deltaTmeBetweenEnvUsr TimeBetweenEnvTries "
            "UsrMv EnvMv Language CurrencySymbol CurrencyWord CurrencyCents CurrencyDecimals");
        QTest::newRow("tblScenarios") << "tblScenarios"
                                      << words("Scenario Trial inFlowRateEnviron outFlowRateEnviron");
        QTest::newRow("tblLabels") << "tblLabels" << words("version LabelNumber LabelName");
        QTest::newRow("tblInstructions") << "tblInstructions" << words("version PageNumber PageText");
        QTest::newRow("tblPasswords") << "tblPasswords" << words("username password");
        QTest::newRow("datSubject") << "datSubject"
                                    << words("Subject Version Condition Major Gender Age Date Time");
        QTest::newRow("datExperimentTrials") << "datExperimentTrials" << kEventLogColumns;
        QTest::newRow("datTrialSummary") << "datTrialSummary" << words(
            "Subject Version Trial Date startTime endTime UserInFlow UserOutFlow EnvInFlow "
            "EnvOutFlow GoalAmount SimulationTime BaseMoney UserInflowTP UserOutflowTP "
            "IsUserInFlow IsUserOutFlow IsEnvInFlow IsEnvOutFlow graphicalMode TotBonus "
            "LowerBoundFromGoal UpperBoundFromGoal AmountInTank CurrentBonus CurrentCost TotCost "
            "BackOrder ForwardDischarge TotalBackOrder TotalForwardDischarge");
        QTest::newRow("datUserTimesSummary")
            << "datUserTimesSummary" << words("Subject Version Trial Date SubmitClickTime");
        QTest::newRow("datQuestionnaire")
            << "datQuestionnaire" << words("Subject Version QuestionNumber QuestionAnswer");
        QTest::newRow("datSubjectMark") << "datSubjectMark" << words("Subject Version Mark Reason EventTimeUtc Station");
    }

    void everyTableHasItsColumnsSpelledExactly()
    {
        QFETCH(QString, table);
        QFETCH(QStringList, columns);
        QStringList actual = columnsOf(*m_shared, table);
        // Every name the program and the analyses use, with its exact letters; further
        // columns (a key, say) would be harmless.
        for (const QString& column : columns)
            QVERIFY2(actual.contains(column, Qt::CaseSensitive),
                     qPrintable(table + QStringLiteral(" lacks ") + column +
                                QStringLiteral("; has ") + actual.join(QLatin1Char(' '))));
        QCOMPARE(actual.removeDuplicates(), qsizetype(0));
    }

    void flagColumnsDefaultToFalseAndYesIsStoredAsOne_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("flags");
        QTest::newRow("datExperimentTrials") << "datExperimentTrials" << words(
            "IsUserInFlow IsUserOutFlow IsEnvInFlow IsEnvOutFlow graphicalMode IsTimeDriven "
            "IsBonusOnTimeGap");
        QTest::newRow("datTrialSummary") << "datTrialSummary" << words(
            "IsUserInFlow IsUserOutFlow IsEnvInFlow IsEnvOutFlow graphicalMode");
        QTest::newRow("tblSetup") << "tblSetup" << words(
            "graphicalMode IsTimeDriven IsBonusOnTimeGap ShowBackOrder ShowDischargeOrder "
            "ShowTimePeriods");
    }

    void flagColumnsDefaultToFalseAndYesIsStoredAsOne()
    {
        QFETCH(QString, table);
        QFETCH(QStringList, flags);
        TempDatabase db;
        Rig rig(db.engine());
        const QString keyColumn = table == QStringLiteral("tblSetup") ? QStringLiteral("Version")
                                                                       : QStringLiteral("Subject");
        // One row with no flag given, one with the first set to 1 and the second to true.
        for (const QVariantMap& row : {QVariantMap{{keyColumn, QStringLiteral("unset")}},
                                       QVariantMap{{keyColumn, QStringLiteral("set")}, {flags.at(0), 1},
                                                   {flags.at(1), true}}})
            rig.store->write([&](Connection& c) { test::appendTo(c, table, row); }, table,
                             QStringLiteral("Recording data"));

        const QString sql = QStringLiteral("SELECT %1 FROM %2 WHERE %3 = $1")
                                .arg(flags.join(QLatin1Char(',')), table, keyColumn);
        const QVariantList unset = readRaw(db, sql, {QStringLiteral("unset")}).values.value(0);
        const QVariantList set = readRaw(db, sql, {QStringLiteral("set")}).values.value(0);
        QCOMPARE(unset.size(), flags.size());
        for (int i = 0; i < flags.size(); ++i) {
            QVERIFY2(!unset.at(i).isNull(), qPrintable(flags.at(i)));
            QCOMPARE(unset.at(i).typeId(), QMetaType::LongLong);
            QCOMPARE(unset.at(i).toLongLong(), qint64(0));
            QCOMPARE(set.at(i).toLongLong(), qint64(i < 2 ? 1 : 0));
        }
        QCOMPARE(set.at(1).typeId(), QMetaType::LongLong); // true is stored as the integer 1
    }

    // --- the tables' homes ---

    void appendedRowIsVisibleToAnotherConnectionWhenTheWriteReturns()
    {
        TempDatabase db;
        Rig rig(db.engine());
        for (int i = 1; i <= 2; ++i) {
            SubjectRow row;
            row.Subject = QStringLiteral("p%1").arg(i);
            row.Version = QStringLiteral("v1");
            row.Age = 20.5 + i;
            row.Date = QDate(2026, 3, 4);
            QCOMPARE(countRaw(db, QStringLiteral("datSubject")), i - 1); // not before
            rig.store->write([&](Connection& c) { SubjectTable::append(c, row); }, QStringLiteral("datSubject"),
                             QStringLiteral("Recording demographics"));
            QCOMPARE(countRaw(db, QStringLiteral("datSubject")), i); // at once after
        }

        const Rows rows = readRaw(db, QStringLiteral("SELECT Subject, Age, Date FROM datSubject ORDER BY rowid"));
        QCOMPARE(rows.values.size(), 2);
        QCOMPARE(rows.values.at(1).at(0).toString(), QStringLiteral("p2"));
        QCOMPARE(rows.values.at(1).at(1).toDouble(), 22.5);
        QCOMPARE(rows.values.at(1).at(2).toString(), QStringLiteral("2026-03-04"));
    }

    void everyAccessSeesWhatOthersHaveCommitted()
    {
        // The store keeps its handle between accesses; that must not hide other copies' rows.
        TempDatabase db;
        Rig rig(db.engine());
        for (int expected = 0; expected < 3; ++expected) {
            qsizetype found = -1;
            rig.store->read([&](Connection& c) { found = SubjectTable::registrations(c, QStringLiteral("v1")).size(); },
                            QStringLiteral("datSubject"), QStringLiteral("Check New User"));
            QCOMPARE(found, qsizetype(expected));
            db.append(QStringLiteral("datSubject"), {{QStringLiteral("Subject"), QStringLiteral("other%1").arg(expected)},
                                                     {QStringLiteral("Version"), QStringLiteral("v1")}});
        }
    }

    void columnNamesIgnoreLetterCaseAndUnknownNamesAreRefused()
    {
        TempDatabase db;
        Rig rig(db.engine());
        rig.store->write(
            [](Connection& c) {
                test::appendTo(c, QStringLiteral("datQuestionnaire"),
                               {{QStringLiteral("subject"), QStringLiteral("p01")},
                                {QStringLiteral("VERSION"), QStringLiteral("v1")},
                                {QStringLiteral("questionanswer"), QStringLiteral("two\r\nlines")}});
                appendEvent(c, QStringLiteral("p01"), 1);
            },
            QStringLiteral("datQuestionnaire"), QStringLiteral("Recording Questionnaire"));
        QCOMPARE(readRaw(db, QStringLiteral("SELECT QuestionAnswer, SubjectKey FROM datQuestionnaire")).values,
                 (QList<QVariantList>{{QStringLiteral("two\r\nlines"), QStringLiteral("p01")}}));
        QVERIFY_THROWS_EXCEPTION(std::exception, test::appendTo(*rawConnection(db), QStringLiteral("datQuestionnaire"),
                                                                {{QStringLiteral("Answer"), QStringLiteral("x")}}));

        std::optional<Row> newest;
        rig.store->read([&](Connection& c) { newest = EventTable::newest(c, QStringLiteral("p01"), QStringLiteral("v1")); },
                        QStringLiteral("datExperimentTrials"), QStringLiteral("Getting last trial"));
        QVERIFY(newest.has_value());
        QCOMPARE(newest->value("EVENTID").toInt(), 1);
        QCOMPARE(newest->value("subject").toString(), QStringLiteral("p01"));
        QVERIFY_THROWS_EXCEPTION(StoreError, newest->value("EventIDs"));
        QCOMPARE(countRaw(db, QStringLiteral("datQuestionnaire")), 1);
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    // --- bound parameters and letter case ---

    void craftedNamesAreValuesNotSql_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("always true") << "x' OR '1'='1";
        QTest::newRow("union") << "' UNION SELECT password FROM tblPasswords --";
        QTest::newRow("comment") << "admin' --";
        QTest::newRow("stacked") << "x'; DELETE FROM tblPasswords; --";
    }

    void craftedNamesAreValuesNotSql()
    {
        QFETCH(QString, name);
        const TempDatabase& db = *m_shared;
        Rig rig(db.engine());
        auto lookUp = [&](const QString& user) {
            std::optional<QVariant> found;
            rig.store->read([&](Connection& c) { found = PasswordTable::password(c, user); },
                            QStringLiteral("tblPasswords"), QStringLiteral("Checking password"));
            return found.value_or(QVariant(QStringLiteral("(none)")));
        };
        QCOMPARE(lookUp(name), QVariant(QStringLiteral("(none)")));
        QCOMPARE(lookUp(QStringLiteral("o'brien")), QVariant(QStringLiteral("shamrock")));
        QCOMPARE(lookUp(QStringLiteral("admin")), QVariant(QStringLiteral("secret")));
        QCOMPARE(countRaw(db, QStringLiteral("tblPasswords")), 2);
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    void versionsAndUserNamesMatchWhateverTheirLetterCase()
    {
        TempDatabase db;
        test::insertSetup(db, test::soundSetupRow(QStringLiteral("Demo continuous")));
        test::insertSetup(db, test::soundSetupRow(QStringLiteral("Demo discrete")));
        test::insertLabels(db, QStringLiteral("Demo continuous"), 3);
        db.append(QStringLiteral("tblPasswords"), {{QStringLiteral("username"), QStringLiteral("Admin")},
                                                   {QStringLiteral("password"), QStringLiteral("Secret")}});
        db.append(QStringLiteral("datSubject"), {{QStringLiteral("Subject"), QStringLiteral("Anna")},
                                                 {QStringLiteral("Version"), QStringLiteral("Demo continuous")}});
        Rig rig(db.engine());
        const QString version = QStringLiteral("demo CONTINUOUS");
        rig.store->read(
            [&](Connection& c) {
                QCOMPARE(SetupTable::row(c, version)->value("Version"), QVariant(QStringLiteral("Demo continuous")));
                QCOMPARE(LabelTable::captions(c, version),
                         (QVariantList{QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30")}));
                const QList<Row> registered = SubjectTable::registrations(c, version);
                QCOMPARE(registered.size(), 1);
                QCOMPARE(registered.first().value("Subject"), QVariant(QStringLiteral("Anna")));
                // The password itself is data: it comes back exactly as stored.
                QCOMPARE(PasswordTable::password(c, QStringLiteral("ADMIN")), std::optional<QVariant>(QStringLiteral("Secret")));
                QVERIFY(PasswordTable::matches(c, QStringLiteral("ADMIN"), QStringLiteral("Secret")));
                QVERIFY(!PasswordTable::matches(c, QStringLiteral("ADMIN"), QStringLiteral("secret")));
                // Letter case is ignored, but not the letters themselves.
                QVERIFY(!SetupTable::row(c, QStringLiteral("Demo continous")).has_value());
            },
            QStringLiteral("tblSetup"), QStringLiteral("Loading configuration setup"));
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    // --- failures of the engine ---

    void wrongPasswordIsAFailureNotALockConflict_data()
    {
        // What stands at the database's path, and what the message says of it.
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("said");
        QTest::newRow("the file with another password") << false << QByteArray() << "is not an experiment database";
        QTest::newRow("a text file") << true << QByteArray(4096, 'x') << "is not an experiment database";
        QTest::newRow("an empty file") << true << QByteArray() << "is empty (0 bytes)";
    }

    void wrongPasswordIsAFailureNotALockConflict()
    {
        QFETCH(bool, replaced);
        QFETCH(QByteArray, content);
        QFETCH(QString, said);
        TempDatabase db;
        QByteArray key = QByteArrayLiteral("KwPz_*R*_T");
        if (replaced) {
            QFile file(db.path());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
            file.close();
            key = databasePassword();
        }
        Rig rig(std::make_unique<SqlCipherEngine>(db.path(), key, 0));
        rig.prompter.queueYes(); // retrying does not help
        rig.prompter.queueNo();
        QVERIFY_THROWS_EXCEPTION(StoreAborted,
                                 rig.store->read([](Connection& c) { SetupTable::versions(c); },
                                                 QStringLiteral("tblSetup"), QStringLiteral("Loading versions")));
        QCOMPARE(rig.prompter.prompts().size(), 2);
        for (const auto& p : rig.prompter.prompts()) {
            QCOMPARE(p.title, QStringLiteral("Problems opening table"));
            QCOMPARE(p.icon, Prompter::Icon::None);
            QVERIFY2(p.text.startsWith(QStringLiteral("Error 26: ")) && p.text.contains(said), qPrintable(p.text));
            QVERIFY2(p.text.endsWith(QStringLiteral("\r\nStatus was Loading versions\r\nRetry?")),
                     qPrintable(p.text));
        }
        QVERIFY(rig.pacer.log.isEmpty());
        QCOMPARE(rig.giveUps, 1);
    }

    void fileReplacedBehindTheProgramsBackIsReopened()
    {
        TempDatabase db;
        db.append(QStringLiteral("tblPasswords"), {{QStringLiteral("username"), QStringLiteral("before")},
                                                   {QStringLiteral("password"), QStringLiteral("1")}});
        Rig rig(db.engine());
        auto users = [&] {
            QStringList names;
            rig.store->read(
                [&](Connection& c) {
                    for (const PasswordTable::Account& account : PasswordTable::accounts(c))
                        names.append(account.username);
                },
                QStringLiteral("tblPasswords"), QStringLiteral("Checking password"));
            return names;
        };
        QCOMPARE(users(), QStringList{QStringLiteral("before")});

        // The store still holds its handle on the old file while it is replaced.
        QVERIFY(QFile::remove(db.path()));
        db.engine()->create([](Connection& c) {
            test::appendTo(c, QStringLiteral("tblPasswords"), {{QStringLiteral("username"), QStringLiteral("after")},
                                                               {QStringLiteral("password"), QStringLiteral("2")}});
        });
        QCOMPARE(users(), QStringList{QStringLiteral("after")});

        // A write lands in the new file as well.
        const QString hash = hashPassword(QStringLiteral("written-password"));
        rig.store->write([&](Connection& c) { PasswordTable::setPassword(c, QStringLiteral("written"), hash); },
                         QStringLiteral("tblPasswords"), QStringLiteral("Recording data"));
        QCOMPARE(countRaw(db, QStringLiteral("tblPasswords")), 2);
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    void vanishedFileIsReportedAndNotRecreated()
    {
        TempDatabase db;
        Rig rig(db.engine());
        rig.store->read([](Connection& c) { SetupTable::versions(c); }, QStringLiteral("tblSetup"),
                        QStringLiteral("Loading versions"));

        QVERIFY(QFile::remove(db.path()));
        rig.prompter.queueNo();
        QVERIFY_THROWS_EXCEPTION(StoreAborted,
                                 rig.store->write([](Connection& c) { appendEvent(c, QStringLiteral("p"), 1); },
                                                  QStringLiteral("datExperimentTrials"), QStringLiteral("Recording data")));
        QCOMPARE(rig.prompter.titles(), QStringList{QStringLiteral("Problems opening table")});
        QVERIFY2(rig.prompter.prompts().first().text.startsWith(QStringLiteral("Error 14: ")),
                 qPrintable(rig.prompter.prompts().first().text));
        QVERIFY(!QFile::exists(db.path()));
    }

    void anotherConnectionsLockIsBackedOffUntilReleased_data()
    {
        QTest::addColumn<QString>("blockerStart");
        QTest::addColumn<bool>("write");
        // An exclusive lock keeps even readers out; a reserved one only other writers.
        QTest::newRow("exclusive, read") << "BEGIN EXCLUSIVE" << false;
        QTest::newRow("exclusive, write") << "BEGIN EXCLUSIVE" << true;
        QTest::newRow("immediate, write") << "BEGIN IMMEDIATE" << true;
    }

    void anotherConnectionsLockIsBackedOffUntilReleased()
    {
        QFETCH(QString, blockerStart);
        QFETCH(bool, write);
        TempDatabase db;
        Rig rig(db.engine(0));
        // A first access, so that the store's handle is already open, as in a session.
        rig.store->read([](Connection& c) { SetupTable::versions(c); }, QStringLiteral("tblSetup"),
                        QStringLiteral("Loading versions"));

        auto blocker = rawConnection(db);
        blocker->run(blockerStart);
        appendEvent(*blocker, QStringLiteral("blocker"), 1);
        rig.pacer.atWait = 3;
        rig.pacer.action = [&] { blocker->run(QStringLiteral("COMMIT")); };

        if (write) {
            rig.store->write([](Connection& c) { appendEvent(c, QStringLiteral("store"), 1); },
                             QStringLiteral("datExperimentTrials"), QStringLiteral("Recording data"));
        } else {
            bool seen = false;
            rig.store->read([&](Connection& c) { seen = EventTable::any(c, QStringLiteral("blocker"), QStringLiteral("v1")); },
                            QStringLiteral("datExperimentTrials"), QStringLiteral("Getting last trial"));
            // The read waited for the commit, so it sees the blocker's row.
            QVERIFY(seen);
        }

        QVERIFY(rig.prompter.prompts().isEmpty());
        QCOMPARE(rig.pacer.log, (QStringList{"events", "wait 2500", "events", "wait 10000",
                                             "events", "wait 22500"}));
        const Rows rows = readRaw(db, QStringLiteral("SELECT Subject FROM datExperimentTrials ORDER BY rowid"));
        QVariantList subjects;
        for (const auto& row : rows.values)
            subjects.append(row.at(0));
        QCOMPARE(subjects, write ? (QVariantList{QStringLiteral("blocker"), QStringLiteral("store")})
                                 : QVariantList{QStringLiteral("blocker")});
    }

    void lockHeldPastTenTriesAsksTheOverLimitQuestion()
    {
        TempDatabase db;
        Rig rig(db.engine(0));
        auto blocker = rawConnection(db);
        blocker->run(QStringLiteral("BEGIN EXCLUSIVE"));
        rig.prompter.queueNo(2);
        QVERIFY_THROWS_EXCEPTION(StoreAborted,
                                 rig.store->read([](Connection& c) { SubjectTable::registrations(c, QStringLiteral("v1")); },
                                                 QStringLiteral("datSubject"), QStringLiteral("Check New User")));
        const auto& prompts = rig.prompter.prompts();
        QCOMPARE(prompts.size(), 2);
        QCOMPARE(prompts.at(0).title, QStringLiteral("Error 5: Check New User"));
        QCOMPARE(prompts.at(0).icon, Prompter::Icon::Question);
        QVERIFY2(prompts.at(0).text.endsWith(
                     QStringLiteral("\r\ndatSubject\r\nRetry? (No to quit)")),
                 qPrintable(prompts.at(0).text));
        QCOMPARE(prompts.at(1).title, QStringLiteral("Problems opening table"));
        QVERIFY(prompts.at(1).text.startsWith(QStringLiteral("Error 5: ")));
        QCOMPARE(rig.pacer.waits.size(), 10);
        QCOMPARE(rig.giveUps, 1);
        blocker->run(QStringLiteral("ROLLBACK"));
    }

    // --- a file of an older layout ---

    void aFileOfAnOlderLayoutIsUpgradedWhenOpened_data()
    {
        QTest::addColumn<int>("layout");
        QTest::newRow("before the name keys") << 3;
        QTest::newRow("before the marks") << 6;
        QTest::newRow("before the stations' presences") << 7;
    }

    void aFileOfAnOlderLayoutIsUpgradedWhenOpened()
    {
        QFETCH(int, layout);
        QTemporaryDir folder;
        const QString path = databasePath(folder.path());
        {
            auto old = SqlCipherConnection::open(path, databasePassword(), true, 2000);
            for (const QString& statement : test::olderLayout(layout))
                old->run(statement);
            old->execute(Sql("INSERT INTO tblSetup (Version, MaxTrial) VALUES ('Demo', 5)"));
            old->execute(Sql("INSERT INTO datSubject (Subject, Version) VALUES ($1, 'Demo')"), {QStringLiteral("\u00c9mile")});
            // The second event written twice, as a lost answer once made an older copy do.
            for (int eventId : {1, 2, 2})
                old->execute(Sql("INSERT INTO datExperimentTrials (Subject, Version, EventID) VALUES ($1, 'Demo', $2)"),
                             {QStringLiteral("\u00c9mile"), eventId});
        }
        Rig rig(std::make_unique<SqlCipherEngine>(path, databasePassword()));
        QString registered;
        std::optional<Row> newest;
        QList<DoubledRows> doubled;
        rig.store->read(
            [&](Connection& c) {
                registered = SubjectTable::registeredName(c, QStringLiteral("demo"), QStringLiteral("\u00e9mile"));
                newest = EventTable::newest(c, QStringLiteral("\u00c9MILE"), QStringLiteral("DEMO"));
                doubled.clear();
                for (const QString& table : tableNames(TableKind::Data))
                    doubledRowsOf(c, *findTable(table), QString(), 10, doubled);
            },
            QStringLiteral("datSubject"), QStringLiteral("Check New User"));
        QCOMPARE(registered, QStringLiteral("\u00c9mile"));
        QVERIFY(newest.has_value());
        QCOMPARE(newest->value("EventID").toInt(), 2);
        QCOMPARE(doubled.size(), 1);
        QCOMPARE(doubled.first().table, QStringLiteral("datExperimentTrials"));
        QCOMPARE(doubled.first().subject, QStringLiteral("\u00c9mile"));
        QCOMPARE(doubled.first().what, QStringLiteral("EventID 2"));
        QCOMPARE(doubled.first().copies, qint64(2));

        // Upgraded once, keys filled, and the doubles reported, not removed.
        auto raw = SqlCipherConnection::open(path, databasePassword(), false, 2000);
        QCOMPARE(raw->value(Sql("PRAGMA user_version")).toInt(), kSchemaVersion);
        QCOMPARE(raw->query(Sql("SELECT SubjectKey, VersionKey, EventID FROM datExperimentTrials ORDER BY rowid")).values,
                 (QList<QVariantList>{{QStringLiteral("\u00e9mile"), QStringLiteral("demo"), qint64(1)},
                                      {QStringLiteral("\u00e9mile"), QStringLiteral("demo"), qint64(2)},
                                      {QStringLiteral("\u00e9mile"), QStringLiteral("demo"), qint64(2)}}));
        QVERIFY(rig.prompter.prompts().isEmpty());

        // The version keeps its row; its language and currency, Null, read as English and
        // dollars, and it has no pages of its own.
        const std::optional<Row> setup = SetupTable::row(*raw, QStringLiteral("demo"));
        QVERIFY(setup.has_value());
        QCOMPARE(setup->value("MaxTrial").toInt(), 5);
        config::ConfigProblems problems;
        const config::ExperimentSetup read = config::readSetupRow(*setup, QStringLiteral("Demo"), problems);
        QCOMPARE(read.MaxTrial, 5);
        QCOMPARE(QStringList({read.Language, read.CurrencySymbol, read.CurrencyWord, read.CurrencyCents}),
                 QStringList({QString(), QStringLiteral("$"), QStringLiteral("dollars"), QStringLiteral("cents")}));
        QCOMPARE(read.CurrencyDecimals, 2);
        QVERIFY(InstructionTable::pages(*raw, QStringLiteral("Demo")).isEmpty());

        // Nobody is marked, and a mark can be written.
        QVERIFY(MarkTable::marks(*raw).isEmpty());
        MarkTable::append(*raw, {QStringLiteral("\u00e9mile"), QStringLiteral("demo"), QStringLiteral("pilot"), {}});
        QCOMPARE(MarkTable::mark(*raw, QStringLiteral("\u00c9mile"), QStringLiteral("Demo")), QStringLiteral("pilot"));

        // No station has said anything yet; the first one's word is kept.
        QVERIFY(PresenceTable::all(*raw).isEmpty());
        PresenceTable::announce(*raw, {QStringLiteral("1:a:b"), QStringLiteral("lab-1"), QStringLiteral("login"), {}, {},
                                       QStringLiteral("2026-03-04T10:00:00.000Z"), QStringLiteral("2026-03-04T10:00:00.000Z")});
        QCOMPARE(PresenceTable::all(*raw).size(), 1);
    }

    // --- classification of the engine's result codes ---

    void resultCodesMapOntoTheFourClasses_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("expected");
        const int lock = int(ErrorClass::LockConflict);
        const int change = int(ErrorClass::ConcurrentChange);
        const int lost = int(ErrorClass::LostHandle);
        const int other = int(ErrorClass::Other);
        QTest::newRow("BUSY") << SQLITE_BUSY << lock;
        QTest::newRow("BUSY_SNAPSHOT") << SQLITE_BUSY_SNAPSHOT << lock;
        QTest::newRow("BUSY_RECOVERY") << SQLITE_BUSY_RECOVERY << lock;
        QTest::newRow("LOCKED") << SQLITE_LOCKED << lock;
        QTest::newRow("LOCKED_SHAREDCACHE") << SQLITE_LOCKED_SHAREDCACHE << lock;
        QTest::newRow("SCHEMA") << SQLITE_SCHEMA << change;
        QTest::newRow("MISUSE") << SQLITE_MISUSE << lost;
        QTest::newRow("CANTOPEN") << SQLITE_CANTOPEN << other;
        QTest::newRow("NOTADB") << SQLITE_NOTADB << other;
        QTest::newRow("CONSTRAINT") << SQLITE_CONSTRAINT << other;
        QTest::newRow("CONSTRAINT_NOTNULL") << SQLITE_CONSTRAINT_NOTNULL << other;
        QTest::newRow("ERROR") << SQLITE_ERROR << other;
        QTest::newRow("READONLY") << SQLITE_READONLY << other;
        QTest::newRow("IOERR") << SQLITE_IOERR << other;
        QTest::newRow("FULL") << SQLITE_FULL << other;
        QTest::newRow("CORRUPT") << SQLITE_CORRUPT << other;
    }

    void resultCodesMapOntoTheFourClasses()
    {
        QFETCH(int, code);
        QFETCH(int, expected);
        QCOMPARE(int(classifySqliteCode(code)), expected);
    }

    void engineErrorsCarryThePrimaryCode()
    {
        // A broken rule of the file (a NOT NULL key) is an ordinary failure with SQLite's
        // primary number, and the failed statement leaves no transaction behind.
        TempDatabase db;
        auto connection = rawConnection(db);
        try {
            test::appendTo(*connection, QStringLiteral("tblSetup"), {{QStringLiteral("MaxTrial"), 5}});
            QFAIL("a row without a version was accepted");
        } catch (const EngineError& error) {
            QCOMPARE(error.kind(), ErrorClass::Other);
            QCOMPARE(error.number(), SQLITE_CONSTRAINT);
        }
        QVERIFY(!connection->inTransaction());
        test::appendTo(*connection, QStringLiteral("tblSetup"), {{QStringLiteral("Version"), QStringLiteral("v")}});
        QCOMPARE(countRaw(db, QStringLiteral("tblSetup")), 1);
    }
};

QTEST_GUILESS_MAIN(TestSqlCipherStore)
#include "tst_sqlcipherstore.moc"
