#include "config/ConfigLoader.h"
#include "config/ConfigProblem.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QtTest>

using namespace aquilevel;
using namespace aquilevel::config;
using aquilevel::test::TempDatabase;

namespace {

// The held value of one field of a loaded setup, by its column name.
QVariant heldValue(const ExperimentSetup& s, const QString& name)
{
    const QHash<QString, QVariant> fields = {
        {QStringLiteral("Version"), s.Version},
        {QStringLiteral("MaxTrial"), s.MaxTrial},
        {QStringLiteral("BaseMoney"), s.BaseMoney},
        {QStringLiteral("numMarks"), int(s.numMarks)},
        {QStringLiteral("InitialAmountInTank"), s.InitialAmountInTank},
        {QStringLiteral("GoalLinePoisition"), s.GoalLinePoisition},
        {QStringLiteral("InitialBackOrder"), s.InitialBackOrder},
        {QStringLiteral("InitialForwardDischarge"), s.InitialForwardDischarge},
        {QStringLiteral("inFlowTPAfter"), int(s.inFlowTPAfter)},
        {QStringLiteral("outFlowTPAfter"), int(s.outFlowTPAfter)},
        {QStringLiteral("simTimeForTP"), s.simTimeForTP},
        {QStringLiteral("AfterEveryNTrials"), int(s.AfterEveryNTrials)},
        {QStringLiteral("ScenarioUsed"), int(s.ScenarioUsed)},
        {QStringLiteral("CostUnderFlowPerAmount"), s.CostUnderFlowPerAmount},
        {QStringLiteral("CostOverFlowPerAmount"), s.CostOverFlowPerAmount},
        {QStringLiteral("BonusAmount"), s.BonusAmount},
        {QStringLiteral("YUnits"), s.YUnits},
        {QStringLiteral("graphicalMode"), s.graphicalMode},
        {QStringLiteral("userDelay"), s.userDelay},
        {QStringLiteral("envDelay"), s.envDelay},
        {QStringLiteral("RHEIGHT"), s.RHEIGHT},
        {QStringLiteral("RWIDTH"), s.RWIDTH},
        {QStringLiteral("UpperBoundFromGoal"), s.UpperBoundFromGoal},
        {QStringLiteral("LowerBoundFromGoal"), s.LowerBoundFromGoal},
        {QStringLiteral("ExperimentTimeForInstructions"), s.ExperimentTimeForInstructions},
        {QStringLiteral("MaxNumberOfAScenarioType"), int(s.MaxNumberOfAScenarioType)},
        {QStringLiteral("IsTimeDriven"), s.IsTimeDriven},
        {QStringLiteral("IsBonusOnTimeGap"), s.IsBonusOnTimeGap},
        {QStringLiteral("ShowBackOrder"), s.ShowBackOrder},
        {QStringLiteral("ShowDischargeOrder"), s.ShowDischargeOrder},
        {QStringLiteral("ShowTimePeriods"), s.ShowTimePeriods},
        {QStringLiteral("deltaTmeBetweenEnvUsr"), s.deltaTmeBetweenEnvUsr},
        {QStringLiteral("TimeBetweenEnvTries"), s.TimeBetweenEnvTries},
        {QStringLiteral("UsrMv"), s.UsrMv},
        {QStringLiteral("EnvMv"), s.EnvMv},
    };
    return fields.value(name);
}

const QStringList kYesNoFields = {
    QStringLiteral("graphicalMode"), QStringLiteral("IsTimeDriven"),
    QStringLiteral("IsBonusOnTimeGap"), QStringLiteral("ShowBackOrder"),
    QStringLiteral("ShowDischargeOrder"), QStringLiteral("ShowTimePeriods"),
};

// A database of its own and a session whose store reads it.
struct Fixture {
    TempDatabase db;
    test::TestSession ts{db.engine()};
    store::Store& store() { return ts.session.store(); }
};

bool namesProblem(const ConfigError& error, const QString& table, const QString& version,
                  const QString& field)
{
    for (const ConfigProblem& p : error.problems())
        if (p.table == table && p.version == version && p.field == field &&
            p.text().contains(table) && p.text().contains(version) && p.text().contains(field))
            return true;
    return false;
}

} // namespace

class TestConfigLoaders : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void versionsInTheEnginesTextOrder();
    void noVersions();

    void setupReadsEveryField();
    void setupFoundWhateverTheCaseAndQuotes();
    void yUnitsNullOrEmptyLoadsEmpty_data();
    void yUnitsNullOrEmptyLoadsEmpty();
    void yesOnlyWhenOne_data();
    void yesOnlyWhenOne();
    void yesNoFieldsReadIndependently_data();
    void yesNoFieldsReadIndependently();
    void realInWholeNumberFieldRoundsHalvesToEven_data();
    void realInWholeNumberFieldRoundsHalvesToEven();
    void unreadableSetupThrows_data();
    void unreadableSetupThrows();
    void missingColumnThrows();

    void labelsLowestFirstSurplusIgnored();
    void fewerLabelsLeaveTheRestEmpty();
    void noLabels();

    void scenarioFillsItsPeriods();
    void scenarioDuplicatePeriodLaterRowWins();
    void scenarioPeriodOutsideRangeThrows_data();
    void scenarioPeriodOutsideRangeThrows();

private:
    // Most cases share one database (opening an encrypted file is slow); each case takes
    // version names and scenario numbers no other case uses.
    QString freshVersion() { return QStringLiteral("Version %1").arg(++m_serial); }
    int freshScenario() { return 100 + ++m_serial; }
    store::Store& store() { return m_session->session.store(); }
    void insert(const QString& table, const QVariantMap& row)
    {
        test::appendTo(m_writer->open(false), table, row);
    }
    void insertSetupRow(const QVariantMap& row) { insert(QStringLiteral("tblSetup"), row); }
    void insertLabel(const QString& version, double number, const QVariant& name)
    {
        insert(QStringLiteral("tblLabels"), {{QStringLiteral("version"), version},
                                             {QStringLiteral("LabelNumber"), number},
                                             {QStringLiteral("LabelName"), name}});
    }
    void insertScenarioRow(int scenario, const QVariant& period, double in, double out)
    {
        insert(QStringLiteral("tblScenarios"), {{QStringLiteral("Scenario"), scenario},
                                                {QStringLiteral("Trial"), period},
                                                {QStringLiteral("inFlowRateEnviron"), in},
                                                {QStringLiteral("outFlowRateEnviron"), out}});
    }

    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<store::SqlCipherEngine> m_writer;
    std::unique_ptr<test::TestSession> m_session;
    int m_serial = 0;
};

void TestConfigLoaders::initTestCase()
{
    m_db = std::make_unique<TempDatabase>();
    m_writer = m_db->engine();
    m_session = std::make_unique<test::TestSession>(m_db->engine());
}

void TestConfigLoaders::cleanupTestCase()
{
    QCOMPARE(m_session->prompter.prompts().size(), 0);
    m_session.reset();
    m_writer.reset();
    m_db.reset();
}

void TestConfigLoaders::versionsInTheEnginesTextOrder()
{
    Fixture f;
    for (const char* name : {"beta", "Alpha", "gamma", "Delta", "alpha 2"})
        insertSetup(f.db, test::soundSetupRow(QString::fromLatin1(name)));
    const QStringList expected = {QStringLiteral("Alpha"), QStringLiteral("alpha 2"),
                                  QStringLiteral("beta"), QStringLiteral("Delta"),
                                  QStringLiteral("gamma")};
    QCOMPARE(LoadVersions(f.store()), expected);
}

void TestConfigLoaders::noVersions()
{
    Fixture f;
    QCOMPARE(LoadVersions(f.store()), QStringList());
    QCOMPARE(f.ts.prompter.prompts().size(), 0);
}

void TestConfigLoaders::setupReadsEveryField()
{
    const QString version = freshVersion();
    // Every value differs from its neighbours', and the long whole numbers exceed 16 bits,
    // so a field read under the wrong name or into too small a type shows.
    const QVariantMap row = {
        {QStringLiteral("Version"), version},
        {QStringLiteral("MaxTrial"), 70000},
        {QStringLiteral("BaseMoney"), 5.25},
        {QStringLiteral("numMarks"), 7},
        {QStringLiteral("InitialAmountInTank"), 20.5},
        {QStringLiteral("GoalLinePoisition"), 30.75},
        {QStringLiteral("InitialBackOrder"), 4.5},
        {QStringLiteral("InitialForwardDischarge"), 2.5},
        {QStringLiteral("inFlowTPAfter"), 3},
        {QStringLiteral("outFlowTPAfter"), 2},
        {QStringLiteral("simTimeForTP"), 1.5},
        {QStringLiteral("AfterEveryNTrials"), 4},
        {QStringLiteral("ScenarioUsed"), 9},
        {QStringLiteral("CostUnderFlowPerAmount"), 0.1},
        {QStringLiteral("CostOverFlowPerAmount"), 0.2},
        {QStringLiteral("BonusAmount"), 0.35},
        {QStringLiteral("YUnits"), QStringLiteral("Litres")},
        {QStringLiteral("graphicalMode"), 1},
        {QStringLiteral("userDelay"), 70001},
        {QStringLiteral("envDelay"), 70002},
        {QStringLiteral("RHEIGHT"), 6.5},
        {QStringLiteral("RWIDTH"), 14.5},
        {QStringLiteral("UpperBoundFromGoal"), 1.25},
        {QStringLiteral("LowerBoundFromGoal"), 0.75},
        {QStringLiteral("ExperimentTimeForInstructions"), 70003},
        {QStringLiteral("MaxNumberOfAScenarioType"), 300},
        {QStringLiteral("IsTimeDriven"), 0},
        {QStringLiteral("IsBonusOnTimeGap"), 1},
        {QStringLiteral("ShowBackOrder"), 1},
        {QStringLiteral("ShowDischargeOrder"), 0},
        {QStringLiteral("ShowTimePeriods"), 1},
        {QStringLiteral("deltaTmeBetweenEnvUsr"), 2000.5},
        {QStringLiteral("TimeBetweenEnvTries"), 5000.25},
        {QStringLiteral("UsrMv"), 70004},
        {QStringLiteral("EnvMv"), 70005},
    };
    insertSetupRow(row);
    const ExperimentSetup setup = LoadSetup(store(), version);
    QCOMPARE(row.size(), 35);
    for (auto it = row.begin(); it != row.end(); ++it) {
        const QVariant held = heldValue(setup, it.key());
        QVERIFY2(held.isValid(), qPrintable(it.key()));
        if (kYesNoFields.contains(it.key()))
            QCOMPARE(held.toBool(), it.value().toInt() == 1);
        else if (held.typeId() == QMetaType::Double)
            QCOMPARE(held.toDouble(), it.value().toDouble());
        else if (held.typeId() == QMetaType::QString)
            QCOMPARE(held.toString(), it.value().toString());
        else
            QCOMPARE(held.toLongLong(), it.value().toLongLong());
    }
}

void TestConfigLoaders::setupFoundWhateverTheCaseAndQuotes()
{
    const QString version = QStringLiteral("O'Brien's %1").arg(freshVersion());
    QVariantMap row = test::soundSetupRow(version);
    row[QStringLiteral("MaxTrial")] = 12;
    insertSetupRow(row);
    insertSetupRow(test::soundSetupRow(freshVersion()));
    const ExperimentSetup setup = LoadSetup(store(), version.toUpper());
    QCOMPARE(setup.Version, version);
    QCOMPARE(setup.MaxTrial, 12);
}

void TestConfigLoaders::yUnitsNullOrEmptyLoadsEmpty_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null") << QVariant() << QString();
    QTest::newRow("empty") << QVariant(QString(QLatin1String(""))) << QString();
    QTest::newRow("word") << QVariant(QStringLiteral("Gallons")) << QStringLiteral("Gallons");
}

void TestConfigLoaders::yUnitsNullOrEmptyLoadsEmpty()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, expected);
    const QString version = freshVersion();
    QVariantMap row = test::soundSetupRow(version);
    row[QStringLiteral("YUnits")] = stored;
    insertSetupRow(row);
    QCOMPARE(LoadSetup(store(), version).YUnits, expected);
}

void TestConfigLoaders::yesOnlyWhenOne_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("yes");
    QTest::newRow("1") << QVariant(1) << true;
    QTest::newRow("1.0") << QVariant(1.0) << true;
    QTest::newRow("0") << QVariant(0) << false;
    QTest::newRow("-1 (another engine's true)") << QVariant(-1) << false;
    QTest::newRow("2") << QVariant(2) << false;
    QTest::newRow("0.5") << QVariant(0.5) << false;
    QTest::newRow("text yes") << QVariant(QStringLiteral("yes")) << false;
}

void TestConfigLoaders::yesOnlyWhenOne()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, yes);
    const QString version = freshVersion();
    QVariantMap row = test::soundSetupRow(version);
    for (const QString& field : kYesNoFields)
        row[field] = stored;
    insertSetupRow(row);
    const ExperimentSetup setup = LoadSetup(store(), version);
    for (const QString& field : kYesNoFields)
        QVERIFY2(heldValue(setup, field).toBool() == yes, qPrintable(field));
}

void TestConfigLoaders::yesNoFieldsReadIndependently_data()
{
    QTest::addColumn<QString>("field");
    for (const QString& field : kYesNoFields)
        QTest::newRow(qPrintable(field)) << field;
}

void TestConfigLoaders::yesNoFieldsReadIndependently()
{
    QFETCH(QString, field);
    const QString version = freshVersion();
    QVariantMap row = test::soundSetupRow(version);
    for (const QString& other : kYesNoFields)
        row[other] = 0;
    row[field] = 1;
    insertSetupRow(row);
    const ExperimentSetup setup = LoadSetup(store(), version);
    for (const QString& other : kYesNoFields)
        QVERIFY2(heldValue(setup, other).toBool() == (other == field), qPrintable(other));
}

void TestConfigLoaders::realInWholeNumberFieldRoundsHalvesToEven_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("stored");
    QTest::addColumn<qint64>("held");

    QTest::newRow("MaxTrial 10.5") << "MaxTrial" << 10.5 << qint64(10);
    QTest::newRow("MaxTrial 11.5") << "MaxTrial" << 11.5 << qint64(12);
    QTest::newRow("numMarks 4.5") << "numMarks" << 4.5 << qint64(4);
    QTest::newRow("inFlowTPAfter 2.5") << "inFlowTPAfter" << 2.5 << qint64(2);
    QTest::newRow("outFlowTPAfter 3.5") << "outFlowTPAfter" << 3.5 << qint64(4);
    QTest::newRow("AfterEveryNTrials 0.5") << "AfterEveryNTrials" << 0.5 << qint64(0);
    QTest::newRow("ScenarioUsed 6.7") << "ScenarioUsed" << 6.7 << qint64(7);
    QTest::newRow("userDelay 100.5") << "userDelay" << 100.5 << qint64(100);
    QTest::newRow("EnvMv 101.5") << "EnvMv" << 101.5 << qint64(102);
    QTest::newRow("ExperimentTimeForInstructions -2.5")
        << "ExperimentTimeForInstructions" << -2.5 << qint64(-2);
    QTest::newRow("MaxNumberOfAScenarioType 9.4") << "MaxNumberOfAScenarioType" << 9.4 << qint64(9);
}

void TestConfigLoaders::realInWholeNumberFieldRoundsHalvesToEven()
{
    QFETCH(QString, field);
    QFETCH(double, stored);
    QFETCH(qint64, held);
    const QString version = freshVersion();
    QVariantMap row = test::soundSetupRow(version);
    row[field] = stored;
    insertSetupRow(row);
    const ExperimentSetup setup = LoadSetup(store(), version);
    QCOMPARE(heldValue(setup, field).toLongLong(), held);
}

void TestConfigLoaders::unreadableSetupThrows_data()
{
    QTest::addColumn<bool>("withRow");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("namedField");

    QTest::newRow("no row") << false << QString() << QVariant() << "Version";
    for (const char* name : {"MaxTrial", "BaseMoney", "numMarks", "InitialBackOrder",
                             "inFlowTPAfter", "graphicalMode", "IsTimeDriven",
                             "TimeBetweenEnvTries", "UsrMv", "EnvMv"})
        QTest::newRow(qPrintable(QStringLiteral("null %1").arg(QLatin1String(name))))
            << true << QString::fromLatin1(name) << QVariant() << QString::fromLatin1(name);
    QTest::newRow("text in a long") << true << "MaxTrial" << QVariant(QStringLiteral("abc"))
                                    << "MaxTrial";
    QTest::newRow("text in a real") << true << "BaseMoney" << QVariant(QStringLiteral("ten"))
                                    << "BaseMoney";
    QTest::newRow("number then text in a real")
        << true << "RHEIGHT" << QVariant(QStringLiteral("6 px")) << "RHEIGHT";
    QTest::newRow("text in a whole number") << true << "numMarks" << QVariant(QStringLiteral("five"))
                                            << "numMarks";
    QTest::newRow("whole number beyond 16 bits")
        << true << "numMarks" << QVariant(40000) << "numMarks";
    QTest::newRow("long beyond 32 bits")
        << true << "MaxTrial" << QVariant(qint64(3000000000)) << "MaxTrial";
}

void TestConfigLoaders::unreadableSetupThrows()
{
    QFETCH(bool, withRow);
    QFETCH(QString, field);
    QFETCH(QVariant, stored);
    QFETCH(QString, namedField);
    const QString version = freshVersion();
    if (withRow) {
        QVariantMap row = test::soundSetupRow(version);
        row[field] = stored;
        insertSetupRow(row);
    }
    try {
        LoadSetup(store(), version);
        QFAIL("the setup loaded");
    } catch (const ConfigError& error) {
        QVERIFY2(namesProblem(error, QStringLiteral("tblSetup"), version, namedField), error.what());
        QCOMPARE(error.problems().size(), 1);
        const QString what = QString::fromStdString(error.what());
        QVERIFY2(what.contains(version) && what.contains(namedField), error.what());
    }
}

void TestConfigLoaders::missingColumnThrows()
{
    Fixture f; // the table is rebuilt, so this case has a database of its own
    insertSetup(f.db, test::soundSetupRow(QStringLiteral("V")));
    QStringList kept = test::soundSetupRow(QStringLiteral("V")).keys();
    kept.removeAll(QStringLiteral("RWIDTH"));
    kept.append(QStringLiteral("VersionKey")); // the key the version is found by
    f.db.exec(QStringLiteral("alter table tblSetup rename to tblSetupFull"));
    f.db.exec(QStringLiteral("create table tblSetup as select %1 from tblSetupFull")
                  .arg(kept.join(QLatin1Char(','))));
    try {
        LoadSetup(f.store(), QStringLiteral("V"));
        QFAIL("the setup loaded");
    } catch (const ConfigError& error) {
        QVERIFY2(namesProblem(error, QStringLiteral("tblSetup"), QStringLiteral("V"),
                              QStringLiteral("RWIDTH")),
                 error.what());
        QCOMPARE(error.problems().size(), 1);
    }
}

void TestConfigLoaders::labelsLowestFirstSurplusIgnored()
{
    const QString version = freshVersion();
    const QString other = freshVersion();
    // Inserted out of order; numbers that sort differently as text than as numbers.
    const QList<QPair<double, QString>> labels = {
        {12, QStringLiteral("L12")}, {9, QStringLiteral("L9")},   {100, QStringLiteral("250 Gallons")},
        {10, QStringLiteral("L10")}, {8, QStringLiteral("L8")},   {30, QStringLiteral("L30")},
        {11, QStringLiteral("L11")},
    };
    for (const auto& [number, name] : labels)
        insertLabel(version, number, name);
    insertLabel(other, 1, QStringLiteral("not mine"));
    insertLabel(other, 1000, QStringLiteral("999"));

    const QStringList marks = LoadScaleLabels(store(), version.toLower(), 5);
    const QStringList expected = {QStringLiteral("L8"),  QStringLiteral("L9"),
                                  QStringLiteral("L10"), QStringLiteral("L11"),
                                  QStringLiteral("L12"), QString()};
    QCOMPARE(marks, expected);
    QCOMPARE(LoadTopLabel(store(), version, 0), 250.0);
}

void TestConfigLoaders::fewerLabelsLeaveTheRestEmpty()
{
    const QString version = freshVersion();
    for (int i = 1; i <= 3; ++i)
        insertLabel(version, i, QString::number(i * 10));
    const QStringList expected = {QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30"),
                                  QString(), QString(), QString()};
    QCOMPARE(LoadScaleLabels(store(), version, 5), expected);
    QCOMPARE(LoadTopLabel(store(), version, 0), 30.0);
}

void TestConfigLoaders::noLabels()
{
    const QString version = freshVersion();
    const QString other = freshVersion();
    for (int i = 1; i <= 4; ++i)
        insertLabel(other, i, QString::number(i * 10));
    QCOMPARE(LoadScaleLabels(store(), version, 4), QStringList(5, QString()));
    QCOMPARE(LoadTopLabel(store(), version, 0), 0.0);
    QCOMPARE(LoadTopLabel(store(), version, 42.5), 42.5);
}

void TestConfigLoaders::scenarioFillsItsPeriods()
{
    ExperimentSetup setup;
    setup.Version = freshVersion();
    setup.ScenarioUsed = freshScenario();
    setup.MaxNumberOfAScenarioType = 10;
    const int other = freshScenario();
    for (int t = 0; t <= 11; ++t) {
        if (t != 4)
            insertScenarioRow(setup.ScenarioUsed, t, 1.0 + t, 0.5 * t);
        insertScenarioRow(other, t, 99, 99);
    }

    QVector<double> in = {5, 5};
    QVector<double> out;
    LoadScenario(store(), setup, in, out);
    QCOMPARE(in.size(), 12);
    QCOMPARE(out.size(), 12);
    for (int t = 0; t <= 11; ++t) {
        QCOMPARE(in[t], t == 4 ? 0.0 : 1.0 + t);
        QCOMPARE(out[t], t == 4 ? 0.0 : 0.5 * t);
    }
}

void TestConfigLoaders::scenarioDuplicatePeriodLaterRowWins()
{
    ExperimentSetup setup;
    setup.Version = freshVersion();
    setup.ScenarioUsed = freshScenario();
    setup.MaxNumberOfAScenarioType = 3;
    insertScenarioRow(setup.ScenarioUsed, 1, 1.5, 2.5);
    insertScenarioRow(setup.ScenarioUsed, 3, 7, 8);
    insertScenarioRow(setup.ScenarioUsed, 1, 3.25, 4.75);
    QVector<double> in;
    QVector<double> out;
    LoadScenario(store(), setup, in, out);
    QCOMPARE(in, (QVector<double>{0, 3.25, 0, 7, 0}));
    QCOMPARE(out, (QVector<double>{0, 4.75, 0, 8, 0}));
}

void TestConfigLoaders::scenarioPeriodOutsideRangeThrows_data()
{
    QTest::addColumn<QVariant>("period");
    QTest::newRow("one past the last") << QVariant(12);
    QTest::newRow("negative") << QVariant(-1);
    QTest::newRow("fraction") << QVariant(2.5);
    QTest::newRow("null") << QVariant();
}

void TestConfigLoaders::scenarioPeriodOutsideRangeThrows()
{
    QFETCH(QVariant, period);
    ExperimentSetup setup;
    setup.Version = freshVersion();
    setup.ScenarioUsed = freshScenario();
    setup.MaxNumberOfAScenarioType = 10;
    insertScenarioRow(setup.ScenarioUsed, 0, 1, 1);
    insertScenarioRow(setup.ScenarioUsed, 11, 1, 1);
    insertScenarioRow(setup.ScenarioUsed, period, 1, 1);
    QVector<double> in;
    QVector<double> out;
    try {
        LoadScenario(store(), setup, in, out);
        QFAIL("the scenario loaded");
    } catch (const ConfigError& error) {
        QVERIFY2(namesProblem(error, QStringLiteral("tblScenarios"), setup.Version,
                              QStringLiteral("Trial")),
                 error.what());
        QCOMPARE(error.problems().size(), 1);
    }
}

QTEST_GUILESS_MAIN(TestConfigLoaders)
#include "tst_configloaders.moc"
