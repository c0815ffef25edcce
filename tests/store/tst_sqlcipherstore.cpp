// The store on a real encrypted SQLCipher file: encryption, the table layout, record
// sets, bound parameters, letter case, and how the engine's failures are classified and
// retried (a wrong password, a replaced file, another connection's lock).

#include "session/Prompter.h"
#include "store/DataLocation.h"
#include "store/Schema.h"
#include "store/SqlCipherConnection.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"
#include "support/Fakes.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDatabase.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
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

// Reads a query on a connection of its own, behind the store's back.
Rows readRaw(const TempDatabase& db, const QString& sql, const QVariantList& params = {})
{
    return rawConnection(db)->select(Query(sql, params), false);
}

// The values of one column of a record set, walked from the first record.
QVariantList walk(RecordSet& rs, const QString& field)
{
    QVariantList values;
    if (rs.isEOF())
        return values;
    for (rs.moveFirst(); !rs.isEOF(); rs.moveNext())
        values.append(rs.field(field));
    return values;
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
        m_shared->exec(QStringLiteral("insert into tblPasswords (username, password) values (?,?), (?,?)"),
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
        // After them only the two columns the program fills for analyses.
        QCOMPARE(rawConnection(*m_shared)->columns(QStringLiteral("datExperimentTrials")),
                 kEventLogColumns + QStringList({QStringLiteral("EventTimeUtc"), QStringLiteral("Station")}));
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
            "UsrMv EnvMv");
        QTest::newRow("tblScenarios") << "tblScenarios"
                                      << words("Scenario Trial inFlowRateEnviron outFlowRateEnviron");
        QTest::newRow("tblLabels") << "tblLabels" << words("version LabelNumber LabelName");
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
    }

    void everyTableHasItsColumnsSpelledExactly()
    {
        QFETCH(QString, table);
        QFETCH(QStringList, columns);
        QStringList actual = rawConnection(*m_shared)->columns(table);
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
        // One row with no flag assigned, one with the first set to 1 and the second to true.
        auto rs = rig.store->OpenTable(table, false, QStringLiteral("Recording data"));
        rs->addNew();
        rs->setField(keyColumn, QStringLiteral("unset"));
        rs->update();
        rs->addNew();
        rs->setField(keyColumn, QStringLiteral("set"));
        rs->setField(flags.at(0), 1);
        rs->setField(flags.at(1), true);
        rs->update();
        rs->close();
        rig.store->CloseTable();

        const QString sql = QStringLiteral("select %1 from %2 where %3=?")
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

    // --- record sets ---

    void snapshotsCannotBeChanged()
    {
        TempDatabase db;
        db.exec(QStringLiteral("insert into datSubject (Subject, Version) values (?,?)"),
                {QStringLiteral("p01"), QStringLiteral("v1")});
        Rig rig(db.engine());
        const QList<Query> sources = {
            Query(QStringLiteral("datSubject")),
            Query(QStringLiteral("select * from datSubject where Version=?"), {QStringLiteral("v1")})};
        for (const Query& source : sources) {
            auto rs = rig.store->OpenTable(source, true, QStringLiteral("Check New User"));
            QVERIFY(!rs->isUpdatable());
            QCOMPARE(rs->recordCount(), 1);
            QVERIFY_THROWS_EXCEPTION(StoreError, rs->addNew());
            QVERIFY_THROWS_EXCEPTION(StoreError, rs->edit());
            QVERIFY_THROWS_EXCEPTION(StoreError, rs->setField(QStringLiteral("Major"), "x"));
            QVERIFY_THROWS_EXCEPTION(StoreError, rs->update());
            rs->close();
            rig.store->CloseTable();
        }
        QCOMPARE(readRaw(db, QStringLiteral("select count(*) from datSubject")).values.value(0).value(0).toInt(), 1);
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    void appendedRowIsVisibleToAnotherConnectionWhenUpdateReturns()
    {
        TempDatabase db;
        Rig rig(db.engine());
        auto rs = rig.store->OpenTable(QStringLiteral("datSubject"), false,
                                       QStringLiteral("Recording demographics"));
        QVERIFY(rs->isUpdatable());
        const QString count = QStringLiteral("select count(*) from datSubject");
        for (int i = 1; i <= 2; ++i) {
            rs->addNew();
            rs->setField(QStringLiteral("Subject"), QStringLiteral("p%1").arg(i));
            rs->setField(QStringLiteral("Version"), QStringLiteral("v1"));
            rs->setField(QStringLiteral("Age"), 20.5 + i);
            rs->setField(QStringLiteral("Date"), QDate(2026, 3, 4));
            QCOMPARE(readRaw(db, count).values.value(0).value(0).toInt(), i - 1); // not before
            rs->update();
            QCOMPARE(readRaw(db, count).values.value(0).value(0).toInt(), i); // at once after
        }
        rs->close();
        rig.store->CloseTable();

        const Rows rows = readRaw(db, QStringLiteral("select Subject, Age, Date from datSubject order by rowid"));
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
        const Query source(QStringLiteral("select * from datSubject where Version=?"),
                           {QStringLiteral("v1")});
        for (int expected = 0; expected < 3; ++expected) {
            auto rs = rig.store->OpenTable(source, true, QStringLiteral("Check New User"));
            QCOMPARE(rs->recordCount(), expected);
            rs->close();
            rig.store->CloseTable();
            db.exec(QStringLiteral("insert into datSubject (Subject, Version) values (?,?)"),
                    {QStringLiteral("other%1").arg(expected), QStringLiteral("v1")});
        }
    }

    void dynasetOnAQueryEditsTheRowItSelected()
    {
        TempDatabase db;
        for (int trial = 1; trial <= 3; ++trial)
            db.exec(QStringLiteral("insert into datTrialSummary (Subject, Version, Trial, AmountInTank) "
                                   "values (?,?,?,?)"),
                    {QStringLiteral("p01"), QStringLiteral("v1"), trial, 1.0});
        db.exec(QStringLiteral("insert into datTrialSummary (Subject, Version, Trial, AmountInTank) "
                               "values (?,?,?,?)"),
                {QStringLiteral("p02"), QStringLiteral("v1"), 2, 1.0});

        Rig rig(db.engine());
        const Query source(
            QStringLiteral("select * from datTrialSummary where Version=? and Subject=? and Trial=?"),
            {QStringLiteral("v1"), QStringLiteral("p01"), 2});
        auto rs = rig.store->OpenTable(source, false, QStringLiteral("Recording Amount"));
        QVERIFY(rs->isUpdatable());
        QVERIFY(!rs->isEOF());
        QCOMPARE(rs->recordCount(), 1);
        rs->edit();
        rs->setField(QStringLiteral("AmountInTank"), 12.5);
        rs->setField(QStringLiteral("TotBonus"), 5.5);
        rs->update();
        QCOMPARE(rs->field(QStringLiteral("AmountInTank")).toDouble(), 12.5);
        rs->close();
        rig.store->CloseTable();

        const Rows rows = readRaw(
            db, QStringLiteral("select Subject, Trial, AmountInTank, TotBonus from datTrialSummary order by rowid"));
        QCOMPARE(rows.values.size(), 4);
        for (const QVariantList& row : rows.values) {
            const bool target = row.at(0) == QStringLiteral("p01") && row.at(1).toInt() == 2;
            QCOMPARE(row.at(2).toDouble(), target ? 12.5 : 1.0);
            QCOMPARE(row.at(3).isNull(), !target);
        }
    }

    void fieldNamesIgnoreLetterCaseAndUnknownNamesAreRefused()
    {
        TempDatabase db;
        db.exec(QStringLiteral("insert into datTrialSummary (Subject, Version, Trial, AmountInTank) "
                               "values (?,?,?,?)"),
                {QStringLiteral("p01"), QStringLiteral("v1"), 1, 3.0});
        Rig rig(db.engine());
        auto rs = rig.store->OpenTable(
            Query(QStringLiteral("select * from datTrialSummary where Version=?"), {QStringLiteral("v1")}),
            false, QStringLiteral("Recording Amount"));
        QCOMPARE(rs->field(QStringLiteral("AMOUNTINTANK")).toDouble(), 3.0);
        QCOMPARE(rs->field(QStringLiteral("subject")).toString(), QStringLiteral("p01"));
        QVERIFY_THROWS_EXCEPTION(StoreError, rs->field(QStringLiteral("AmountInTanks")));

        rs->edit();
        rs->setField(QStringLiteral("amountintank"), 4.0);
        QVERIFY_THROWS_EXCEPTION(StoreError, rs->setField(QStringLiteral("NoSuchField"), 1));
        rs->update();
        rs->close();
        rig.store->CloseTable();
        QCOMPARE(readRaw(db, QStringLiteral("select AmountInTank from datTrialSummary"))
                     .values.value(0).value(0).toDouble(),
                 4.0);

        auto appender = rig.store->OpenTable(QStringLiteral("datQuestionnaire"), false,
                                             QStringLiteral("Recording Questionnaire"));
        appender->addNew();
        QVERIFY_THROWS_EXCEPTION(StoreError, appender->setField(QStringLiteral("Answer"), "x"));
        appender->setField(QStringLiteral("questionanswer"), QStringLiteral("two\r\nlines"));
        appender->update();
        appender->close();
        rig.store->CloseTable();
        QCOMPARE(readRaw(db, QStringLiteral("select QuestionAnswer from datQuestionnaire"))
                     .values.value(0).value(0).toString(),
                 QStringLiteral("two\r\nlines"));
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
        const QString sql = QStringLiteral("Select password from tblPasswords where username=?");
        auto lookUp = [&](const QString& user) {
            auto rs = rig.store->OpenTable(Query(sql, {user}), true, QStringLiteral("Checking password"));
            const QVariantList found = walk(*rs, QStringLiteral("password"));
            rs->close();
            rig.store->CloseTable();
            return found;
        };
        QCOMPARE(lookUp(name), QVariantList());
        QCOMPARE(lookUp(QStringLiteral("o'brien")), QVariantList{QStringLiteral("shamrock")});
        QCOMPARE(lookUp(QStringLiteral("admin")), QVariantList{QStringLiteral("secret")});
        QCOMPARE(readRaw(db, QStringLiteral("select count(*) from tblPasswords")).values.value(0).value(0).toInt(), 2);
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    void versionsAndUserNamesMatchWhateverTheirLetterCase()
    {
        TempDatabase db;
        test::insertSetup(db, test::soundSetupRow(QStringLiteral("Demo continuous")));
        test::insertSetup(db, test::soundSetupRow(QStringLiteral("Demo discrete")));
        test::insertLabels(db, QStringLiteral("Demo continuous"), 3);
        db.exec(QStringLiteral("insert into tblPasswords (username, password) values (?,?)"),
                {QStringLiteral("Admin"), QStringLiteral("Secret")});
        db.exec(QStringLiteral("insert into datSubject (Subject, Version) values (?,?)"),
                {QStringLiteral("Anna"), QStringLiteral("Demo continuous")});
        Rig rig(db.engine());
        auto read = [&](const Query& source, const QString& field) {
            auto rs = rig.store->OpenTable(source, true, QStringLiteral("Loading configuration setup"));
            const QVariantList values = walk(*rs, field);
            rs->close();
            rig.store->CloseTable();
            return values;
        };
        const QString version = QStringLiteral("demo CONTINUOUS");
        QCOMPARE(read(Query(QStringLiteral("Select * from tblSetup where version=?"), {version}),
                      QStringLiteral("Version")),
                 QVariantList{QStringLiteral("Demo continuous")});
        QCOMPARE(read(Query(QStringLiteral("Select LabelName from tblLabels where version=? order by LabelNumber"),
                            {version}),
                      QStringLiteral("LabelName")),
                 (QVariantList{QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30")}));
        QCOMPARE(read(Query(QStringLiteral("select * from datSubject where Version=?"), {version}),
                      QStringLiteral("Subject")),
                 QVariantList{QStringLiteral("Anna")});
        // The password itself is data: it comes back exactly as stored.
        QCOMPARE(read(Query(QStringLiteral("Select password from tblPasswords where username=?"),
                            {QStringLiteral("ADMIN")}),
                      QStringLiteral("password")),
                 QVariantList{QStringLiteral("Secret")});
        // Letter case is ignored, but not the letters themselves.
        QCOMPARE(read(Query(QStringLiteral("Select * from tblSetup where version=?"),
                            {QStringLiteral("Demo continuous ")}),
                      QStringLiteral("Version")),
                 QVariantList());
    }

    // --- failures of the engine ---

    void wrongPasswordIsAFailureNotALockConflict()
    {
        TempDatabase db;
        Rig rig(std::make_unique<SqlCipherEngine>(db.path(), QByteArrayLiteral("KwPz_*R*_T"), 0));
        rig.prompter.queueYes(); // retrying does not help
        rig.prompter.queueNo();
        QVERIFY_THROWS_EXCEPTION(StoreAborted,
                                 rig.store->OpenTable(QStringLiteral("select Version from tblSetup order by version"),
                                                      true, QStringLiteral("Loading versions")));
        QCOMPARE(rig.prompter.prompts().size(), 2);
        for (const auto& p : rig.prompter.prompts()) {
            QCOMPARE(p.title, QStringLiteral("Problems opening table"));
            QCOMPARE(p.icon, Prompter::Icon::None);
            QVERIFY2(p.text.startsWith(QStringLiteral("Error 26: ")), qPrintable(p.text));
            QVERIFY2(p.text.endsWith(QStringLiteral("\r\nStatus was Loading versions\r\nRetry?")),
                     qPrintable(p.text));
        }
        QVERIFY(rig.pacer.log.isEmpty());
        QCOMPARE(rig.giveUps, 1);
    }

    void fileReplacedBehindTheProgramsBackIsReopened()
    {
        TempDatabase db;
        db.exec(QStringLiteral("insert into tblPasswords (username, password) values (?,?)"),
                {QStringLiteral("before"), QStringLiteral("1")});
        Rig rig(db.engine());
        auto users = [&] {
            auto rs = rig.store->OpenTable(QStringLiteral("select username from tblPasswords"), true,
                                           QStringLiteral("Checking password"));
            const QVariantList values = walk(*rs, QStringLiteral("username"));
            rs->close();
            rig.store->CloseTable();
            return values;
        };
        QCOMPARE(users(), QVariantList{QStringLiteral("before")});

        // The store still holds its handle on the old file while it is replaced.
        QVERIFY(QFile::remove(db.path()));
        SqlCipherEngine::create(db.path(), databasePassword(), schemaStatements(), [](Connection& c) {
            c.insert(QStringLiteral("tblPasswords"), {{QStringLiteral("username"), QStringLiteral("after")},
                                                      {QStringLiteral("password"), QStringLiteral("2")}});
        });
        QCOMPARE(users(), QVariantList{QStringLiteral("after")});

        // A write lands in the new file as well.
        auto rs = rig.store->OpenTable(QStringLiteral("tblPasswords"), false, QStringLiteral("Recording data"));
        rs->addNew();
        rs->setField(QStringLiteral("username"), QStringLiteral("written"));
        rs->update();
        rs->close();
        rig.store->CloseTable();
        QCOMPARE(readRaw(db, QStringLiteral("select count(*) from tblPasswords")).values.value(0).value(0).toInt(), 2);
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    void vanishedFileIsReportedAndNotRecreated()
    {
        TempDatabase db;
        Rig rig(db.engine());
        auto rs = rig.store->OpenTable(QStringLiteral("select * from tblSetup"), true,
                                       QStringLiteral("Loading versions"));
        rs->close();
        rig.store->CloseTable();

        QVERIFY(QFile::remove(db.path()));
        rig.prompter.queueNo();
        QVERIFY_THROWS_EXCEPTION(StoreAborted,
                                 rig.store->OpenTable(QStringLiteral("datExperimentTrials"), false,
                                                      QStringLiteral("Recording data")));
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
        rig.store->OpenTable(QStringLiteral("datExperimentTrials"), false, QStringLiteral("Recording data"))
            ->close();
        rig.store->CloseTable();

        auto blocker = rawConnection(db);
        blocker->execute(blockerStart);
        blocker->insert(QStringLiteral("datExperimentTrials"),
                        {{QStringLiteral("Subject"), QStringLiteral("blocker")}});
        rig.pacer.atWait = 3;
        rig.pacer.action = [&] { blocker->execute(QStringLiteral("COMMIT")); };

        if (write) {
            auto rs = rig.store->OpenTable(QStringLiteral("datExperimentTrials"), false,
                                           QStringLiteral("Recording data"));
            rs->addNew();
            rs->setField(QStringLiteral("Subject"), QStringLiteral("store"));
            rs->update();
            rs->close();
        } else {
            auto rs = rig.store->OpenTable(QStringLiteral("select Subject from datExperimentTrials"),
                                           true, QStringLiteral("Getting last trial"));
            // The read waited for the commit, so it sees the blocker's row.
            QCOMPARE(walk(*rs, QStringLiteral("Subject")), QVariantList{QStringLiteral("blocker")});
            rs->close();
        }
        rig.store->CloseTable();

        QVERIFY(rig.prompter.prompts().isEmpty());
        QCOMPARE(rig.pacer.log, (QStringList{"events", "wait 2500", "events", "wait 10000",
                                             "events", "wait 22500"}));
        const Rows rows = readRaw(db, QStringLiteral("select Subject from datExperimentTrials order by rowid"));
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
        blocker->execute(QStringLiteral("BEGIN EXCLUSIVE"));
        rig.prompter.queueNo(2);
        QVERIFY_THROWS_EXCEPTION(StoreAborted,
                                 rig.store->OpenTable(Query(QStringLiteral("select * from datSubject where Version=?"),
                                                            {QStringLiteral("v1")}),
                                                      true, QStringLiteral("Check New User")));
        const auto& prompts = rig.prompter.prompts();
        QCOMPARE(prompts.size(), 2);
        QCOMPARE(prompts.at(0).title, QStringLiteral("Error 5: Check New User"));
        QCOMPARE(prompts.at(0).icon, Prompter::Icon::Question);
        QVERIFY2(prompts.at(0).text.endsWith(
                     QStringLiteral("\r\nselect * from datSubject where Version=?\r\nRetry? (No to quit)")),
                 qPrintable(prompts.at(0).text));
        QCOMPARE(prompts.at(1).title, QStringLiteral("Problems opening table"));
        QVERIFY(prompts.at(1).text.startsWith(QStringLiteral("Error 5: ")));
        QCOMPARE(rig.pacer.waits.size(), 10);
        QCOMPARE(rig.giveUps, 1);
        blocker->execute(QStringLiteral("ROLLBACK"));
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
            connection->insert(QStringLiteral("tblSetup"), {{QStringLiteral("MaxTrial"), 5}});
            QFAIL("a row without a version was accepted");
        } catch (const EngineError& error) {
            QCOMPARE(error.kind(), ErrorClass::Other);
            QCOMPARE(error.number(), SQLITE_CONSTRAINT);
        }
        connection->insert(QStringLiteral("tblSetup"), {{QStringLiteral("Version"), QStringLiteral("v")}});
        QCOMPARE(readRaw(db, QStringLiteral("select count(*) from tblSetup")).values.value(0).value(0).toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSqlCipherStore)
#include "tst_sqlcipherstore.moc"
