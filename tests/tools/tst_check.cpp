// The check command: every version of the database is judged by the login's own rules,
// and every problem of every version is listed.

#include "config/ConfigCheck.h"
#include "config/DemoConfig.h"
#include "store/PasswordHash.h"
#include "store/DataLocation.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"
#include "tools/CheckCommand.h"
#include "support/TempDatabase.h"
#include "support/ToolRun.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace aquilevel;
using aquilevel::test::TempDatabase;

namespace {

using Result = test::ToolResult;

Result check(const QString& folder, const QStringList& arguments)
{
    return test::runTool(tools::runCheck, folder, arguments);
}

// The real program, for what happens outside the command function.
Result runBinary(const QString& folder, const QStringList& arguments)
{
    return test::runProgram(QStringList{QStringLiteral("--data"), folder, QStringLiteral("check")} + arguments);
}

} // namespace

class TestCheck : public QObject {
    Q_OBJECT

private:
    // Four versions: one sound, one with three broken rules in tblSetup, one whose labels
    // and scenario are missing, one whose MaxTrial cannot be read as a number.
    std::unique_ptr<TempDatabase> m_broken;

private slots:
    void initTestCase()
    {
        m_broken = std::make_unique<TempDatabase>();
        const TempDatabase& db = *m_broken;
        test::insertScenario(db, 7, 0, 11);
        db.append(QStringLiteral("tblPasswords"), {{QStringLiteral("username"), QStringLiteral("lab")},
                                                   {QStringLiteral("password"), store::hashPassword(QStringLiteral("Xq-2027-lab"))}});

        test::insertSetup(db, test::soundSetupRow(QStringLiteral("Good")));
        test::insertLabels(db, QStringLiteral("Good"), 5);

        QVariantMap setup = test::soundSetupRow(QStringLiteral("Setup"));
        setup[QStringLiteral("AfterEveryNTrials")] = 0;
        setup[QStringLiteral("userDelay")] = 0;
        setup[QStringLiteral("RHEIGHT")] = -1.0;
        test::insertSetup(db, setup);
        test::insertLabels(db, QStringLiteral("Setup"), 5);

        QVariantMap tables = test::soundSetupRow(QStringLiteral("Tables"));
        tables[QStringLiteral("ScenarioUsed")] = 8;
        test::insertSetup(db, tables);
        test::insertLabels(db, QStringLiteral("Tables"), 2);

        QVariantMap unreadable = test::soundSetupRow(QStringLiteral("Unreadable"));
        unreadable[QStringLiteral("MaxTrial")] = QStringLiteral("ten");
        test::insertSetup(db, unreadable);
        test::insertLabels(db, QStringLiteral("Unreadable"), 5);
    }

    void theDemoDatabasePasses()
    {
        TempDatabase demo(TempDatabase::Content::Demo);
        const int versions = demo.column(QStringLiteral("select count(*) from tblSetup")).value(0).toInt();
        QVERIFY(versions > 1);
        const Result result = check(demo.folder(), {});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.lines().value(0), QStringLiteral("%1 versions checked, all sound.").arg(versions));
        // The demo account's published password is a warning that does not fail the check.
        QCOMPARE(result.lines().size(), 2);
        QVERIFY(result.lines().at(1).startsWith(QStringLiteral("Warning: the demo experimenter account")));
        QCOMPARE(result.err, QString());

        // Accounts an older program stored in plain text keep working and are named, the
        // demo's among them; none of it fails the check.
        demo.exec(QStringLiteral("update tblPasswords set password = $1"), {config::kDemoPassword});
        demo.append(QStringLiteral("tblPasswords"), {{QStringLiteral("username"), QStringLiteral("Lab")},
                                                     {QStringLiteral("password"), QStringLiteral("harbour lights")}});
        const Result older = check(demo.folder(), {});
        QCOMPARE(older.status, 0);
        const QStringList lines = older.lines();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(1), QStringLiteral("Warning: the password of the experimenter account \"experimenter\" is "
                                             "stored in plain text; set it again with: aquilevel passwd experimenter "
                                             "(which stores it hashed)"));
        QVERIFY(lines.at(2).startsWith(QStringLiteral("Warning: the password of the experimenter account \"Lab\"")));
        QVERIFY(lines.at(3).startsWith(QStringLiteral("Warning: the demo experimenter account")));
    }

    // Design errors a session would play through: each one version of its own.
    void designErrorsAreListed_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("goal above the scale") << "GoalLinePoisition" << QVariant(60.0)
                                              << "field GoalLinePoisition: the goal of 60 lies outside the tank's scale, 0 to 50";
        QTest::newRow("starting amount above it") << "InitialAmountInTank" << QVariant(55.0)
                                                  << "the starting amount of 55 lies outside";
        QTest::newRow("negative starting amount") << "InitialAmountInTank" << QVariant(-5.0)
                                                  << "field InitialAmountInTank: InitialAmountInTank of -5 is negative";
        QTest::newRow("negative money") << "CostOverFlowPerAmount" << QVariant(-0.5) << "CostOverFlowPerAmount of -0.5 is negative";
        QTest::newRow("negative band") << "LowerBoundFromGoal" << QVariant(-2.0) << "LowerBoundFromGoal of -2 is negative";
        QTest::newRow("huge money") << "BaseMoney" << QVariant(1e308) << "is implausibly large (more than";
        QTest::newRow("negative environment rate") << "rates" << QVariant(-3.0)
                                                   << "field outFlowRateEnviron: scenario 7, period 2: the rate of -3 is negative";
        QTest::newRow("band edge above it") << "UpperBoundFromGoal" << QVariant(25.0) << "the band's upper edge";
        QTest::newRow("scenario short of the periods") << "ScenarioUsed" << QVariant(9)
                                                       << "scenario 9 has no row for periods 5, 6, 7, 8, 9, 10 of the 10";
        QTest::newRow("labels that do not increase") << "labels" << QVariant() << "is not above the one below it (20)";
        QTest::newRow("unknown placeholder") << "pages" << QVariant(QStringLiteral("Goal {GoalLinePosition}, {MaxTrial} periods"))
                                             << "tblInstructions, version \"Design\", field PageText: page 2 of 2: "
                                                "{GoalLinePosition} is no placeholder the program knows";
    }

    void designErrorsAreListed()
    {
        QFETCH(QString, field);
        QFETCH(QVariant, value);
        QFETCH(QString, expected);
        TempDatabase db;
        test::insertScenario(db, 7, 0, 11);
        test::insertScenario(db, 9, 0, 4);
        QVariantMap setup = test::soundSetupRow(QStringLiteral("Design"));
        if (field == QLatin1String("labels")) {
            for (const char* caption : {"10", "20", "15", "40", "50"})
                db.append(QStringLiteral("tblLabels"), {{QStringLiteral("version"), QStringLiteral("Design")},
                                                        {QStringLiteral("LabelNumber"), 1},
                                                        {QStringLiteral("LabelName"), QString::fromLatin1(caption)}});
        } else if (field == QLatin1String("pages")) {
            for (const QVariant& text : {QVariant(QStringLiteral("{Version}: {CurrencyWord}")), value})
                db.append(QStringLiteral("tblInstructions"), {{QStringLiteral("version"), QStringLiteral("Design")},
                                                              {QStringLiteral("PageNumber"), 1},
                                                              {QStringLiteral("PageText"), text}});
            test::insertLabels(db, QStringLiteral("Design"), 5);
        } else if (field == QLatin1String("rates")) {
            db.exec(QStringLiteral("update \"tblScenarios\" set \"outFlowRateEnviron\" = $1 where \"Scenario\" = 7 and \"Trial\" = 2"), {value});
            test::insertLabels(db, QStringLiteral("Design"), 5);
        } else {
            setup[field] = value;
            test::insertLabels(db, QStringLiteral("Design"), 5);
        }
        test::insertSetup(db, setup);
        const Result result = check(db.folder(), {});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.out.contains(expected), qPrintable(result.out));
    }

    // What no version's rules see: the accounts and the file itself.
    void theAccountsAndTheFileAreChecked_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty password") << "update tblPasswords set password = ' '"
                                        << "user \"experimenter\", field password: the password is empty";
        QTest::newRow("no account") << "delete from tblPasswords" << "there is no experimenter account";
        QTest::newRow("missing data table") << "drop table datQuestionnaire"
                                            << "datQuestionnaire: the data table cannot be read";
        QTest::newRow("damaged index page") << "index" << "The file is damaged: ";
        QTest::newRow("a row stored twice") << "double"
                                            << "datExperimentTrials, participant \"\u00c9mile\" of version \"Demo discrete\": "
                                               "EventID 3 stored 2 times";
        QTest::newRow("names alike but for letter case") << "twins"
                                                         << "datSubject, version \"Demo discrete\": \"\u00c9mile\" and "
                                                            "\"\u00e9mile\" differ in letter case only";
    }

    void theAccountsAndTheFileAreChecked()
    {
        QFETCH(QString, damage);
        QFETCH(QString, expected);
        TempDatabase db(TempDatabase::Content::Demo);
        if (damage == QLatin1String("index")) {
            // Garbles the middle of an index's root page, which the versions' rules never read.
            const qint64 page = db.column(QStringLiteral("select rootpage from sqlite_master where name = $1"),
                                          {QStringLiteral("datExperimentTrials_Participant")})
                                    .value(0).toLongLong();
            const qint64 size = db.column(QStringLiteral("PRAGMA page_size")).value(0).toLongLong();
            QVERIFY(page > 1 && size >= 512);
            QFile file(db.path());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek((page - 1) * size + size / 2));
            QCOMPARE(file.write(QByteArray(64, '\x5a')), 64);
        } else if (damage == QLatin1String("double")) {
            // As an older version of the program left it after a lost connection: one
            // event of a participant twice, among rows of others.
            for (int id : {1, 2, 3, 3, 4})
                db.append(QStringLiteral("datExperimentTrials"), {{QStringLiteral("Subject"), QStringLiteral("\u00c9mile")},
                                                                  {QStringLiteral("Version"), QStringLiteral("Demo discrete")},
                                                                  {QStringLiteral("EventID"), id}});
            db.append(QStringLiteral("datExperimentTrials"), {{QStringLiteral("Subject"), QStringLiteral("emile")},
                                                              {QStringLiteral("Version"), QStringLiteral("Demo discrete")},
                                                              {QStringLiteral("EventID"), 3}});
        } else if (damage == QLatin1String("twins")) {
            // Two registrations that an older version of the program kept apart.
            for (const char* name : {"\u00c9mile", "\u00e9mile", "Anna"})
                db.append(QStringLiteral("datSubject"), {{QStringLiteral("Subject"), QString::fromUtf8(name)},
                                                         {QStringLiteral("Version"), QStringLiteral("Demo discrete")}});
        } else {
            db.exec(damage);
        }
        const QVariantList before = damage == QLatin1String("double")
                                        ? db.column(QStringLiteral("select count(*) from \"datExperimentTrials\""))
                                        : QVariantList();
        const Result result = check(db.folder(), {});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.out.contains(expected), qPrintable(result.out + result.err));
        // Names alike but for letter case are one participant registered twice.
        QCOMPARE(result.out.count(QStringLiteral("stored 2 times")),
                 damage == QLatin1String("double") || damage == QLatin1String("twins") ? 1 : 0);
        if (!before.isEmpty())
            QCOMPARE(db.column(QStringLiteral("select count(*) from \"datExperimentTrials\"")), before);
        QVERIFY2(result.out.contains(QStringLiteral("versions checked, all sound; the database is not")), qPrintable(result.out));
    }

    // A byte flipped in a page of old history, as a failing disk leaves it: no command
    // reads or writes the file, each says why and names the check; a session's start
    // reads only its own pages and goes on.
    void damagedFileIsRefused()
    {
        TempDatabase db(TempDatabase::Content::Demo);
        for (int id = 1; id <= 400; ++id)
            db.append(QStringLiteral("datExperimentTrials"), {{QStringLiteral("Subject"), QStringLiteral("old%1").arg(id / 90)},
                                                              {QStringLiteral("Version"), QStringLiteral("Demo continuous")},
                                                              {QStringLiteral("eventType"), QStringLiteral("After Cost Calculation")},
                                                              {QStringLiteral("EventID"), id}});
        const qint64 size = db.column(QStringLiteral("PRAGMA page_size")).value(0).toLongLong();
        const qint64 pages = db.column(QStringLiteral("PRAGMA page_count")).value(0).toLongLong();
        QFile file(db.path());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(pages / 2 * size + 100));
        QCOMPARE(file.write("\x01", 1), 1);
        file.close();

        const QStringList on = {QStringLiteral("--data"), db.folder()};
        QTemporaryDir out;
        for (const QStringList& command :
             {QStringList{QStringLiteral("payments")}, QStringList{QStringLiteral("export"), out.filePath(QStringLiteral("x"))},
              QStringList{QStringLiteral("bot"), QStringLiteral("--version"), QStringLiteral("Demo continuous"),
                          QStringLiteral("--subject"), QStringLiteral("b1"), QStringLiteral("--db"), db.path()}}) {
            const Result refused = test::runProgram(on + command);
            QCOMPARE(refused.status, 1);
            QVERIFY2(refused.err.contains(QStringLiteral("is damaged")) &&
                         refused.err.contains(QStringLiteral("aquilevel check")),
                     qPrintable(refused.err));
        }
        QVERIFY(!QFileInfo::exists(out.filePath(QStringLiteral("x"))));
        QCOMPARE(check(db.folder(), {}).status, 1);
        store::SqlCipherEngine engine(db.path(), store::databasePassword());
        QVERIFY_THROWS_EXCEPTION(store::DamagedDatabase, store::refuseDamage(engine, store::Sweep::EveryPage));
        store::refuseDamage(engine, store::Sweep::SessionPages);
        QCOMPARE(db.column(QStringLiteral("select count(*) from datSubject where Subject = 'b1'")).value(0).toInt(), 0);
    }

    void everyProblemOfEveryVersionIsListed()
    {
        const Result result = check(m_broken->folder(), {});
        QCOMPARE(result.status, 1);
        const QStringList lines = result.lines();
        const QStringList expected = {
            QStringLiteral("tblSetup, version \"Setup\", field AfterEveryNTrials: "
                           "Value of AfterEveryNTrials should be greater than 0"),
            QStringLiteral("tblSetup, version \"Setup\", field userDelay: "
                           "an interval of 0 ms; it must be at least 1 ms"),
            QStringLiteral("tblSetup, version \"Setup\", field RHEIGHT: "
                           "a block height of -1 pixels; it must be positive"),
            QStringLiteral("tblLabels, version \"Tables\", field LabelName: "
                           "2 labels for 5 scale marks; every mark needs one"),
            QStringLiteral("tblScenarios, version \"Tables\", field Scenario: scenario 8 has no rows"),
        };
        QCOMPARE(lines.mid(0, expected.size()), expected);
        // The unreadable field is named with its version; rules that need it are not judged.
        QCOMPARE(lines.size(), expected.size() + 2);
        QVERIFY2(lines.at(expected.size())
                     .startsWith(QStringLiteral("tblSetup, version \"Unreadable\", field MaxTrial: ")),
                 qPrintable(lines.at(expected.size())));
        QCOMPARE(lines.last(), QStringLiteral("4 versions checked: 6 problems in 3 versions."));
        QVERIFY(!result.out.contains(QStringLiteral("\"Good\"")));
    }

    void theListIsWhatTheLoginsCheckFinds()
    {
        // The command adds nothing and drops nothing: per version, its lines are the
        // problems of the login's routine.
        tools::ToolStore tool(m_broken->folder());
        for (const QString& version : {QStringLiteral("Setup"), QStringLiteral("Tables"), QStringLiteral("Unreadable")}) {
            const config::ConfigProblems problems = config::checkVersion(tool.store(), version);
            const Result result = check(m_broken->folder(), {QStringLiteral("--version"), version});
            QCOMPARE(result.status, 1);
            QCOMPARE(result.lines().size(), problems.size() + 1);
            for (int i = 0; i < problems.size(); ++i) {
                QVERIFY(result.lines().at(i).startsWith(problems.at(i).table));
                QVERIFY(result.lines().at(i).endsWith(problems.at(i).message));
            }
        }
    }

    void oneVersionCanBeChecked()
    {
        Result result = check(m_broken->folder(), {QStringLiteral("--version"), QStringLiteral("Good")});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.lines(), QStringList{QStringLiteral("1 version checked, all sound.")});

        result = check(m_broken->folder(), {QStringLiteral("--version=Setup")});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.lines().size(), 4);
        QCOMPARE(result.lines().last(), QStringLiteral("1 version checked: 3 problems in 1 version."));

        // Versions are matched without regard to letter case, as at the login.
        result = check(m_broken->folder(), {QStringLiteral("--version"), QStringLiteral("good")});
        QCOMPARE(result.status, 0);

        result = check(m_broken->folder(), {QStringLiteral("--version"), QStringLiteral("Missing")});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.lines().first(), QStringLiteral("tblSetup, version \"Missing\", field Version: "
                                                        "there is no row for this version"));
    }

    void aDatabaseWithoutVersionsIsNotSound()
    {
        TempDatabase empty;
        const Result result = check(empty.folder(), {});
        QCOMPARE(result.status, 1);
        QVERIFY(result.out.contains(QStringLiteral("No versions")));
    }

    void usageAndMissingDatabase()
    {
        QTemporaryDir nowhere;
        Result result = runBinary(nowhere.path(), {});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(QStringLiteral("There is no experiment database")), qPrintable(result.err));
        QCOMPARE(result.out, QString());

        result = runBinary(m_broken->folder(), {QStringLiteral("--help")});
        QCOMPARE(result.status, 0);
        QVERIFY(result.out.contains(QStringLiteral("check [--version V]")));

        result = runBinary(m_broken->folder(), {QStringLiteral("--bogus")});
        QCOMPARE(result.status, 2);
        QVERIFY2(result.err.contains(QStringLiteral("bogus")), qPrintable(result.err));

        result = check(m_broken->folder(), {QStringLiteral("--version")});
        QCOMPARE(result.status, 2);
        result = check(m_broken->folder(), {QStringLiteral("extra")});
        QCOMPARE(result.status, 2);

        // Through the real program, a broken database fails with its list.
        result = runBinary(m_broken->folder(), {});
        QCOMPARE(result.status, 1);
        QVERIFY(result.out.contains(QStringLiteral("scenario 8 has no rows")));
    }
};

QTEST_GUILESS_MAIN(TestCheck)
#include "tst_check.moc"
