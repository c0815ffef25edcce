#include "config/ConfigCheck.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QtTest>

#include <algorithm>

using namespace aquilevel;
using namespace aquilevel::config;
using aquilevel::test::TempDatabase;

namespace {

// The version under test: the sound setup row of the test support with five scale
// marks, its own scenario and MaxTrial = MaxNumberOfAScenarioType = 10, changed by
// overrides.
struct Version {
    bool withSetup = true;
    QVariantMap overrides;
    QVariantList labels = {QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30"),
                           QStringLiteral("40"), QStringLiteral("50")};
    QList<int> periods = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
};

QString listed(const ConfigProblems& problems)
{
    return problems.isEmpty() ? QStringLiteral("(none)") : describe(problems);
}

QList<int> periodsUpTo(int last)
{
    QList<int> periods;
    for (int t = 0; t <= last; ++t)
        periods.append(t);
    return periods;
}

} // namespace

Q_DECLARE_METATYPE(Version)

class TestConfigCheck : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void soundVersionsPass_data();
    void soundVersionsPass();
    void brokenVersionReported_data();
    void brokenVersionReported();
    void everyProblemListed();

private:
    // Writes the version under a name and scenario number of its own into the shared
    // database (opening an encrypted file is slow) and checks it.
    ConfigProblems check(const Version& v);

    std::unique_ptr<TempDatabase> m_db;
    std::unique_ptr<store::SqlCipherEngine> m_writer;
    std::unique_ptr<test::TestSession> m_session;
    QString m_version;
    int m_serial = 0;
};

void TestConfigCheck::initTestCase()
{
    m_db = std::make_unique<TempDatabase>();
    m_writer = m_db->engine();
    m_session = std::make_unique<test::TestSession>(m_db->engine());
}

void TestConfigCheck::cleanupTestCase()
{
    QCOMPARE(m_session->prompter.prompts().size(), 0);
    m_session.reset();
    m_writer.reset();
    m_db.reset();
}

ConfigProblems TestConfigCheck::check(const Version& v)
{
    ++m_serial;
    m_version = QStringLiteral("Lab %1").arg(m_serial);
    const int scenario = 100 + m_serial;
    store::Connection& c = m_writer->open(false);
    if (v.withSetup) {
        QVariantMap row = test::soundSetupRow(m_version);
        row[QStringLiteral("ScenarioUsed")] = scenario;
        for (auto it = v.overrides.begin(); it != v.overrides.end(); ++it)
            row[it.key()] = it.value();
        test::appendTo(c, QStringLiteral("tblSetup"), row);
    }
    for (int i = 0; i < v.labels.size(); ++i)
        test::appendTo(c, QStringLiteral("tblLabels"), {{QStringLiteral("version"), m_version},
                                               {QStringLiteral("LabelNumber"), i + 1},
                                               {QStringLiteral("LabelName"), v.labels.at(i)}});
    for (int period : v.periods)
        test::appendTo(c, QStringLiteral("tblScenarios"), {{QStringLiteral("Scenario"), scenario},
                                                  {QStringLiteral("Trial"), period},
                                                  {QStringLiteral("inFlowRateEnviron"), 2.0},
                                                  {QStringLiteral("outFlowRateEnviron"), 1.0}});
    m_writer->release();
    return checkVersion(m_session->session.store(), m_version);
}

void TestConfigCheck::soundVersionsPass_data()
{
    QTest::addColumn<Version>("version");

    QTest::newRow("as it stands") << Version{};
    QTest::newRow("null YUnits") << Version{true, {{QStringLiteral("YUnits"), QVariant()}}};
    QTest::newRow("German, in euros without decimals")
        << Version{true, {{QStringLiteral("Language"), QStringLiteral("de")}, {QStringLiteral("CurrencySymbol"), QStringLiteral("\u20ac")},
                          {QStringLiteral("CurrencyWord"), QStringLiteral("Euro")}, {QStringLiteral("CurrencyDecimals"), 0}}};
    QTest::newRow("empty language, four decimals")
        << Version{true, {{QStringLiteral("Language"), QString()}, {QStringLiteral("CurrencyDecimals"), 4}}};
    QTest::newRow("one mark") << Version{true, {{QStringLiteral("numMarks"), 1}}};
    Version tenMarks{true, {{QStringLiteral("numMarks"), 10}}};
    tenMarks.labels = {};
    for (int i = 1; i <= 10; ++i)
        tenMarks.labels.append(QString::number(i * 10));
    QTest::newRow("ten marks") << tenMarks;
    Version surplus;
    surplus.labels.append(QStringLiteral("60"));
    surplus.labels.append(QStringLiteral("70"));
    QTest::newRow("surplus labels") << surplus;
    Version unitLabel;
    unitLabel.labels.last() = QStringLiteral("100 Gallons");
    QTest::newRow("top label with its unit") << unitLabel;
    QTest::newRow("delay 1 without initial orders")
        << Version{true,
                   {{QStringLiteral("inFlowTPAfter"), 1},
                    {QStringLiteral("outFlowTPAfter"), 1},
                    {QStringLiteral("InitialBackOrder"), 0},
                    {QStringLiteral("InitialForwardDischarge"), 0}}};
    QTest::newRow("longest delay the periods allow")
        << Version{true, {{QStringLiteral("inFlowTPAfter"), 12}, {QStringLiteral("outFlowTPAfter"), 12}}};
    QTest::newRow("1 ms stage intervals")
        << Version{true,
                   {{QStringLiteral("envDelay"), 1},
                    {QStringLiteral("EnvMv"), 1},
                    {QStringLiteral("userDelay"), 1},
                    {QStringLiteral("UsrMv"), 1}}};
    QTest::newRow("time-driven clock of 1.5 ms")
        << Version{true, {{QStringLiteral("IsTimeDriven"), 1}, {QStringLiteral("TimeBetweenEnvTries"), 1.5}}};
    QTest::newRow("participant-paced with a clock of 0.4 ms")
        << Version{true, {{QStringLiteral("IsTimeDriven"), 0}, {QStringLiteral("TimeBetweenEnvTries"), 0.4}}};
    Version shortScenario{true, {{QStringLiteral("MaxNumberOfAScenarioType"), 9}}};
    shortScenario.periods = periodsUpTo(10);
    QTest::newRow("scenario reaching exactly MaxTrial") << shortScenario;
    Version gaps;
    gaps.periods = {0, 11};
    QTest::newRow("scenario with missing periods") << gaps;
}

void TestConfigCheck::soundVersionsPass()
{
    QFETCH(Version, version);
    const ConfigProblems problems = check(version);
    QVERIFY2(problems.isEmpty(), qPrintable(listed(problems)));
}

void TestConfigCheck::brokenVersionReported_data()
{
    QTest::addColumn<Version>("version");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    // When set, the whole text the person sees.
    QTest::addColumn<QString>("exactText");

    const QString setup = QStringLiteral("tblSetup");
    const QString labels = QStringLiteral("tblLabels");
    const QString scenarios = QStringLiteral("tblScenarios");
    const auto changed = [](QVariantMap overrides) { return Version{true, std::move(overrides)}; };

    Version noSetup;
    noSetup.withSetup = false;
    QTest::newRow("no setup row") << noSetup << setup << "Version" << QString();

    for (const char* name : {"MaxTrial", "BaseMoney", "numMarks", "GoalLinePoisition",
                             "InitialBackOrder", "inFlowTPAfter", "outFlowTPAfter",
                             "AfterEveryNTrials", "ScenarioUsed", "graphicalMode", "envDelay",
                             "MaxNumberOfAScenarioType", "IsTimeDriven", "TimeBetweenEnvTries",
                             "EnvMv"})
        QTest::newRow(qPrintable(QStringLiteral("null %1").arg(QLatin1String(name))))
            << changed({{QString::fromLatin1(name), QVariant()}}) << setup
            << QString::fromLatin1(name) << QString();

    QTest::newRow("unknown language") << changed({{QStringLiteral("Language"), QStringLiteral("fr")}}) << setup
                                      << "Language" << QString();
    QTest::newRow("language in capitals") << changed({{QStringLiteral("Language"), QStringLiteral("DE")}}) << setup
                                          << "Language" << QString();
    QTest::newRow("5 decimals") << changed({{QStringLiteral("CurrencyDecimals"), 5}}) << setup << "CurrencyDecimals"
                                << QString();
    QTest::newRow("negative decimals") << changed({{QStringLiteral("CurrencyDecimals"), -1}}) << setup
                                       << "CurrencyDecimals" << QString();
    QTest::newRow("symbol with a tab") << changed({{QStringLiteral("CurrencySymbol"), QStringLiteral("\tEUR")}}) << setup
                                       << "CurrencySymbol" << QString();
    QTest::newRow("word with a line break")
        << changed({{QStringLiteral("CurrencyWord"), QStringLiteral("eu\nros")}}) << setup << "CurrencyWord" << QString();
    QTest::newRow("blank word for cents")
        << changed({{QStringLiteral("CurrencyCents"), QStringLiteral(" ")}}) << setup << "CurrencyCents" << QString();

    QTest::newRow("numMarks 0") << changed({{QStringLiteral("numMarks"), 0}}) << setup
                                << "numMarks" << QString();
    Version elevenMarks = changed({{QStringLiteral("numMarks"), 11}});
    for (int i = 6; i <= 11; ++i)
        elevenMarks.labels.append(QString::number(i * 10));
    QTest::newRow("numMarks 11") << elevenMarks << setup << "numMarks" << QString();

    Version fewLabels;
    fewLabels.labels.removeLast();
    QTest::newRow("fewer labels than marks") << fewLabels << labels << "LabelName" << QString();
    Version nullCaption;
    nullCaption.labels[1] = QVariant();
    QTest::newRow("null caption") << nullCaption << labels << "LabelName" << QString();
    for (const char* top : {"abc", "0", "-5", "Full"}) {
        Version badTop;
        badTop.labels.last() = QString::fromLatin1(top);
        QTest::newRow(qPrintable(QStringLiteral("top label %1").arg(QLatin1String(top))))
            << badTop << labels << "LabelName" << QString();
    }

    QTest::newRow("inflow delay 0") << changed({{QStringLiteral("inFlowTPAfter"), 0}}) << setup
                                    << "inFlowTPAfter" << QString();
    QTest::newRow("outflow delay 0") << changed({{QStringLiteral("outFlowTPAfter"), 0}}) << setup
                                     << "outFlowTPAfter" << QString();
    QTest::newRow("inflow delay beyond the periods")
        << changed({{QStringLiteral("inFlowTPAfter"), 13}}) << setup << "inFlowTPAfter" << QString();
    QTest::newRow("outflow delay beyond the periods")
        << changed({{QStringLiteral("outFlowTPAfter"), 13}}) << setup << "outFlowTPAfter"
        << QString();

    const QString stepText = QStringLiteral("Value of AfterEveryNTrials should be greater than 0");
    QTest::newRow("AfterEveryNTrials 0") << changed({{QStringLiteral("AfterEveryNTrials"), 0}})
                                         << setup << "AfterEveryNTrials" << stepText;
    QTest::newRow("AfterEveryNTrials -1") << changed({{QStringLiteral("AfterEveryNTrials"), -1}})
                                          << setup << "AfterEveryNTrials" << stepText;

    const QString ordersText =
        QStringLiteral("Value of inFlowTPAfter or outFlowTPAfter is 1 and your initial Back or "
                       "Forward orders are not set to 0");
    QTest::newRow("initial back order with inflow delay 1")
        << changed({{QStringLiteral("inFlowTPAfter"), 1}, {QStringLiteral("InitialBackOrder"), 4}})
        << setup << "inFlowTPAfter" << ordersText;
    QTest::newRow("initial discharge with outflow delay 1")
        << changed({{QStringLiteral("outFlowTPAfter"), 1},
                    {QStringLiteral("InitialBackOrder"), 0},
                    {QStringLiteral("InitialForwardDischarge"), 0.5}})
        << setup << "outFlowTPAfter" << ordersText;

    for (const char* interval : {"envDelay", "EnvMv", "userDelay", "UsrMv"})
        QTest::newRow(qPrintable(QStringLiteral("%1 0").arg(QLatin1String(interval))))
            << changed({{QString::fromLatin1(interval), 0}}) << setup
            << QString::fromLatin1(interval) << QString();

    for (double clock : {0.4, 0.5, 0.0})
        QTest::newRow(qPrintable(QStringLiteral("time-driven clock of %1 ms").arg(clock)))
            << changed({{QStringLiteral("IsTimeDriven"), 1},
                        {QStringLiteral("TimeBetweenEnvTries"), clock}})
            << setup << "TimeBetweenEnvTries" << QString();

    QTest::newRow("scenario without rows") << Version{true, {}, Version{}.labels, {}} << scenarios
                                           << "Scenario" << QString();
    Version pastEnd;
    pastEnd.periods.append(12);
    QTest::newRow("scenario period past the end") << pastEnd << scenarios << "Trial" << QString();
    Version negative;
    negative.periods.append(-1);
    QTest::newRow("negative scenario period") << negative << scenarios << "Trial" << QString();

    Version shortScenario = changed({{QStringLiteral("MaxNumberOfAScenarioType"), 8}});
    shortScenario.periods = periodsUpTo(9);
    QTest::newRow("scenario short of MaxTrial") << shortScenario << setup
                                                << "MaxNumberOfAScenarioType" << QString();
}

void TestConfigCheck::brokenVersionReported()
{
    QFETCH(Version, version);
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(QString, exactText);

    const ConfigProblems problems = check(version);
    QVERIFY2(problems.size() == 1, qPrintable(listed(problems)));
    const ConfigProblem& p = problems.first();
    QCOMPARE(p.table, table);
    QCOMPARE(p.version, m_version);
    QCOMPARE(p.field, field);
    if (!exactText.isEmpty()) {
        QCOMPARE(p.text(), exactText);
    } else {
        QVERIFY2(p.text().contains(table) && p.text().contains(m_version) && p.text().contains(field),
                 qPrintable(p.text()));
        QVERIFY2(!p.message.isEmpty(), qPrintable(p.text()));
    }
    QCOMPARE(describe(problems), p.text());
}

void TestConfigCheck::everyProblemListed()
{
    Version v{true,
              {{QStringLiteral("numMarks"), 0},
               {QStringLiteral("AfterEveryNTrials"), 0},
               {QStringLiteral("envDelay"), 0},
               {QStringLiteral("BaseMoney"), QVariant()}},
              {QStringLiteral("10"), QStringLiteral("abc")},
              {}};
    const ConfigProblems problems = check(v);

    QStringList found;
    for (const ConfigProblem& p : problems)
        found.append(p.table + QLatin1Char('.') + p.field);
    std::sort(found.begin(), found.end());
    const QStringList expected = {
        QStringLiteral("tblLabels.LabelName"),        QStringLiteral("tblScenarios.Scenario"),
        QStringLiteral("tblSetup.AfterEveryNTrials"), QStringLiteral("tblSetup.BaseMoney"),
        QStringLiteral("tblSetup.envDelay"),          QStringLiteral("tblSetup.numMarks"),
    };
    QCOMPARE(found, expected);

    // One line per problem, each one as the person reads it on its own.
    const QStringList lines = describe(problems).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), problems.size());
    for (const ConfigProblem& p : problems)
        QVERIFY(lines.contains(p.text()));
}

QTEST_GUILESS_MAIN(TestConfigCheck)
#include "tst_configcheck.moc"
