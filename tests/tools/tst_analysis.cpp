// The analysis files and the fitted decision rule: periods.csv of a played session
// against a hand calculation, what the log's rows say in the cases a lab meets (a crash
// and a resume, time-driven play, a running session), and the rule of bots that played by
// a known rule recovered from what they stored.

#include "store/Row.h"
#include "support/TempDatabase.h"
#include "support/ToolRun.h"
#include "tools/AnalysisCsv.h"
#include "tools/AnalysisData.h"
#include "tools/AnalyzeCommand.h"
#include "tools/BotCommand.h"
#include "tools/ExportImport.h"
#include "tools/ToolCommand.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace aquilevel;
using namespace aquilevel::tools;
using aquilevel::test::TempDatabase;

namespace {

const QString kStep = QStringLiteral("Step");
const QString kDemo = QStringLiteral("Demo discrete");

// The demo configuration plus Step: four participant-paced periods whose environment
// turns from filling to draining after the second, unannounced.
TempDatabase& database()
{
    static TempDatabase db(TempDatabase::Content::Demo);
    static const bool filled = [] {
        QVariantMap row = test::soundSetupRow(kStep);
        row[QStringLiteral("MaxTrial")] = 4;
        row[QStringLiteral("ScenarioUsed")] = 81;
        row[QStringLiteral("InitialAmountInTank")] = 2.0;
        row[QStringLiteral("GoalLinePoisition")] = 4.0;
        row[QStringLiteral("InitialBackOrder")] = 1.0;
        row[QStringLiteral("InitialForwardDischarge")] = 0.0;
        row[QStringLiteral("inFlowTPAfter")] = 2;
        row[QStringLiteral("outFlowTPAfter")] = 2;
        row[QStringLiteral("LowerBoundFromGoal")] = 0.1;
        row[QStringLiteral("UpperBoundFromGoal")] = 0.1;
        row[QStringLiteral("CostUnderFlowPerAmount")] = 0.25;
        row[QStringLiteral("CostOverFlowPerAmount")] = 0.5;
        test::insertSetup(db, row);
        test::insertLabels(db, kStep, row.value(QStringLiteral("numMarks")).toInt());
        test::insertScenario(db, 81, 0, 2, 3, 1);
        test::insertScenario(db, 81, 3, 4, 0, 2);
        return true;
    }();
    Q_UNUSED(filled);
    return db;
}

test::ToolResult bot(const QStringList& arguments)
{
    return test::runTool(runBot, database().folder(), arguments + QStringList{QStringLiteral("--db"), database().path()});
}

// The fields of a CSV line.
QStringList fieldsOf(const QByteArray& line)
{
    return QString::fromUtf8(line.trimmed()).split(QLatin1Char(','));
}

// A row of the log as the analysis reads it: the columns not given are 0 or empty.
store::Row logRow(const QString& type, int trial, const QString& time, QVariantMap values = {})
{
    values.insert(QStringLiteral("eventType"), type);
    values.insert(QStringLiteral("Trial"), trial);
    if (!values.contains(QStringLiteral("Date")))
        values.insert(QStringLiteral("Date"), QDate(2026, 12, 9));
    values.insert(QStringLiteral("Time"), time);
    QVariantList ordered;
    for (const QString& column : analysisColumns())
        ordered.append(values.value(column, column == QLatin1String("Station") || column == QLatin1String("EventTimeUtc")
                                                ? QVariant(QString())
                                                : QVariant(0.0)));
    return store::Row(analysisColumns(), ordered);
}

QVariantMap tank(double amount, double backOrder = 0, double discharge = 0, double money = 5)
{
    return {{QStringLiteral("AmountInTank"), amount},     {QStringLiteral("TotalBackOrder"), backOrder},
            {QStringLiteral("TotalForwardDischarge"), discharge}, {QStringLiteral("TotBonus"), money},
            {QStringLiteral("TotCost"), 5.0},              {QStringLiteral("BaseMoney"), 5.0},
            {QStringLiteral("GoalAmount"), 4.0},           {QStringLiteral("SimulationTime"), 1.0}};
}

// A summary row's times, as the store reads them.
store::Row summary(int trial, const char* start, const char* end)
{
    return store::Row({QStringLiteral("Trial"), QStringLiteral("Date"), QStringLiteral("startTime"), QStringLiteral("endTime")},
                      {trial, QDate(2026, 12, 9), QString::fromLatin1(start), QString::fromLatin1(end)});
}

QVariantMap with(QVariantMap map, const QString& key, const QVariant& value)
{
    map.insert(key, value);
    return map;
}

} // namespace

class TestAnalysis : public QObject {
    Q_OBJECT

private slots:
    void periodsOfAPlayedSessionAreTheHandCalculation();
    void theAnalysisFilesShowTheMomentTheTablesShow();
    void theLogsRowsMakeThePeriods_data();
    void theLogsRowsMakeThePeriods();
    void theRatingIsSplitFromItsReasons();
    void theRuleABotPlayedIsRecovered_data();
    void theRuleABotPlayedIsRecovered();
    void analyzeNamesTheRulesThatExplainLittle();
};

void TestAnalysis::periodsOfAPlayedSessionAreTheHandCalculation()
{
    QTemporaryDir dir;
    QFile orders(dir.filePath(QStringLiteral("orders.csv")));
    QVERIFY(orders.open(QIODevice::WriteOnly));
    orders.write("5,1\n0,0\n0,3\n1,0\n");
    orders.close();
    const test::ToolResult played = bot({QStringLiteral("--version"), kStep, QStringLiteral("--subject"),
                                         QStringLiteral("p1"), QStringLiteral("--orders"), orders.fileName()});
    QVERIFY2(played.status == 0, qPrintable(played.err));

    const QString out = dir.filePath(QStringLiteral("out"));
    const test::ToolResult exported =
        test::runTool(runExport, database().folder(),
                      {out, QStringLiteral("--analysis"), QStringLiteral("--include-pilots"), QStringLiteral("--bom"),
                       QStringLiteral("--version"), kStep});
    QVERIFY2(exported.status == 0, qPrintable(exported.err));
    QFile periods(QDir(out).filePath(QStringLiteral("periods.csv")));
    QVERIFY(periods.open(QIODevice::ReadOnly));
    const QByteArray bytes = periods.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QList<QByteArray> lines = bytes.mid(3).split('\n');
    lines.removeAll(QByteArray());
    const QStringList header = fieldsOf(lines.takeFirst());
    const int date = int(header.indexOf(QStringLiteral("Date")));
    const int decision = int(header.indexOf(QStringLiteral("DecisionMs")));
    // Environment 3 in / 1 out, then 0 / 2; orders due two periods on (one period late),
    // 1 on order from before; goal 4, band 3.9 to 4.1; cost 0.5 above the goal, 0.25 below.
    //   1: 2 +2 (env) +1 (the initial order) = 5; on order 1 - 1 + 5 = 5 in, 0 + 1 = 1 out
    //   2: 5 +2 +5 -1 (period 1's orders) = 11; nothing on order
    //   3: 11 -2, period 2 ordered nothing = 9; 3 out on order
    //   4: 9 -2 -3 = 4, at the goal: the bonus; 1 in on order
    const QStringList expected = {
        "p1,Step,1,*,1,2,5,4,3.9,4.1,2,3,1,1,5,1,1,0,5,1,0.5,0,0,*,5",
        "p1,Step,2,*,1,5,11,4,3.9,4.1,-1,3,1,1,0,0,5,1,0,0,3.5,0,0,*,5",
        "p1,Step,3,*,1,11,9,4,3.9,4.1,-7,0,2,1,0,3,0,0,0,3,2.5,0,0,*,5",
        "p1,Step,4,*,1,9,4,4,3.9,4.1,-5,0,2,1,1,0,0,3,1,0,0,0.5,1,*,5.5",
    };
    QCOMPARE(lines.size(), expected.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringList fields = fieldsOf(lines.at(i));
        QCOMPARE(fields.at(date), QDate::currentDate().toString(Qt::ISODate));
        // The bot decides at once, as Submit comes back (the first time as the screen opens).
        const QString ms = fields.at(decision);
        QVERIFY2(!ms.isEmpty() && ms.toInt() >= 0 && ms.toInt() < 5000, qPrintable(ms));
        fields[date] = fields[decision] = QStringLiteral("*");
        QCOMPARE(fields.join(QLatin1Char(',')), expected.at(i));
    }
    QFile participants(QDir(out).filePath(QStringLiteral("participants.csv")));
    QVERIFY(participants.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = participants.readAll().mid(3).trimmed().split('\n');
    QCOMPARE(rows.size(), 2);
    const QStringList columns = fieldsOf(rows.at(0));
    const QStringList p1 = fieldsOf(rows.at(1));
    QCOMPARE(p1.at(columns.indexOf(QStringLiteral("PeriodsInBand"))), QStringLiteral("1"));
    QCOMPARE(p1.at(columns.indexOf(QStringLiteral("MeanAbsDistance"))), QStringLiteral("3.25")); // (1 + 7 + 5 + 0) / 4
    QCOMPARE(p1.at(columns.indexOf(QStringLiteral("RulePeriods"))), QStringLiteral("3"));
    QCOMPARE(p1.at(columns.indexOf(QStringLiteral("Alpha"))), QString()); // three periods fit nothing
    QCOMPARE(p1.at(columns.indexOf(QStringLiteral("Mark"))), QStringLiteral("pilot"));
}

void TestAnalysis::theAnalysisFilesShowTheMomentTheTablesShow()
{
    // A session that begins while the export runs is in none of its files.
    ToolStore tool(database().folder());
    ExportOptions options;
    options.tables = dataTableNames();
    options.analysis = true;
    options.includePilots = true;
    QList<std::pair<int, int>> told;
    options.progress = [&](int done, int total) {
        if (told.isEmpty())
            for (const char* type : {"Submit Clicked", "After Cost Calculation"})
                database().append(QStringLiteral("datExperimentTrials"),
                                  {{QStringLiteral("Subject"), QStringLiteral("late")},
                                   {QStringLiteral("Version"), QStringLiteral("Demo continuous")},
                                   {QStringLiteral("eventType"), QString::fromLatin1(type)},
                                   {QStringLiteral("Trial"), 1}, {QStringLiteral("EventID"), told.size() + 1}});
        told.append({done, total});
    };
    QTemporaryDir dir;
    exportTables(tool.store(), dir.filePath(QStringLiteral("out")), options);
    for (const char* name : {"periods.csv", "participants.csv", "datExperimentTrials.csv"}) {
        QFile file(QDir(dir.filePath(QStringLiteral("out"))).filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains("\nlate,"), name);
    }
    // Told to the end, never back.
    QCOMPARE(told.last().first, told.last().second);
    for (qsizetype i = 1; i < told.size(); ++i)
        QVERIFY(double(told[i].first) / told[i].second >= double(told[i - 1].first) / told[i - 1].second);
}

void TestAnalysis::theLogsRowsMakeThePeriods_data()
{
    QTest::addColumn<QList<store::Row>>("rows");
    QTest::addColumn<QList<store::Row>>("summaries"); // datTrialSummary's times
    // Each period: start, end, delivered in, delivered out, decision ms (-1 for none), money.
    QTest::addColumn<QList<QList<double>>>("periods");
    QTest::addColumn<int>("complete"); // how many periods have their cost step
    QTest::addColumn<int>("longest");  // the longest a time-driven period runs, ms (0: not known)
    const QString submit = QStringLiteral("Submit Clicked"), env = QStringLiteral("Environment Effect"),
                  in = QStringLiteral("User Inflow"), out = QStringLiteral("User Outflow"),
                  cost = QStringLiteral("After Cost Calculation"), cont = QStringLiteral("Continue Clicked");
    const QVariantMap start = tank(10);
    // A crash after period 1: the session is taken up five minutes later without
    // instructions; only its summary row says when the trial screen opened again.
    QTest::newRow("a crash after period 1, taken up again")
        << QList<store::Row>{logRow(cont, 0, "09:59:50", tank(0)),
                             logRow(submit, 1, "10:00:00", start),
                             logRow(env, 1, "10:00:01", tank(12)),
                             logRow(cost, 1, "10:00:02", tank(12)),
                             logRow(submit, 2, "10:05:04", tank(12)),
                             logRow(in, 2, "10:05:05", tank(15)),
                             logRow(cost, 2, "10:05:06", tank(15, 0, 0, 5.5))}
        << QList<store::Row>{summary(1, "09:59:51", "10:00:00"), summary(2, "10:05:00", "10:05:04")}
        << QList<QList<double>>{{10, 12, 0, 0, 10000, 5}, {12, 15, 3, 0, 4000, 5.5}} << 2 << 0;
    QTest::newRow("time-driven: a Submit delivers the period's due order a second time")
        << QList<store::Row>{logRow(submit, 0, "10:00:00", with(start, QStringLiteral("IsTimeDriven"), 1)),
                             logRow(in, 1, "10:00:05", with(tank(13), QStringLiteral("IsTimeDriven"), 1)),
                             logRow(cost, 1, "10:00:06", with(tank(13), QStringLiteral("IsTimeDriven"), 1)),
                             logRow(submit, 1, "10:00:09", with(tank(13), QStringLiteral("IsTimeDriven"), 1)),
                             logRow(in, 1, "10:00:10", with(tank(16), QStringLiteral("IsTimeDriven"), 1)),
                             logRow(out, 1, "10:00:10", with(tank(15), QStringLiteral("IsTimeDriven"), 1))}
        << QList<store::Row>{summary(1, "00:00:00", "10:00:04")} // the tick, before any row of it
        << QList<QList<double>>{{10, 15, 6, 1, 5000, 5}} << 1 << 0;
    const QVariantMap nextDay = with(tank(9), QStringLiteral("Date"), QDate(2026, 12, 10));
    const QString utc = QStringLiteral("EventTimeUtc");
    QTest::newRow("a running session's last period so far, after midnight")
        << QList<store::Row>{logRow(submit, 1, "23:59:59", start), logRow(cost, 1, "00:00:00", nextDay),
                             logRow(submit, 2, "00:00:03", nextDay)}
        << QList<store::Row>{}
        << QList<QList<double>>{{10, 9, 0, 0, -1, 5}, {9, 9, 0, 0, 3000, 5}} << 1 << 0;
    QTest::newRow("to the millisecond where the rows have it")
        << QList<store::Row>{logRow(cont, 0, "09:59:58", with(tank(0), utc, "2026-12-09T08:59:58.900Z")),
                             logRow(submit, 1, "10:00:00", with(start, utc, "2026-12-09T09:00:00.150Z")),
                             logRow(cost, 1, "10:00:02", with(tank(12), utc, "2026-12-09T09:00:02.999Z")),
                             logRow(submit, 2, "10:00:03", tank(12))} // a row without: the seconds of both
        << QList<store::Row>{}
        << QList<QList<double>>{{10, 12, 0, 0, 1250, 5}, {12, 12, 0, 0, 1000, 5}} << 1 << 0;
    const QVariantMap ticking = with(tank(12), QStringLiteral("IsTimeDriven"), 1);
    QTest::newRow("time-driven: from the tick's own row, to the millisecond")
        << QList<store::Row>{logRow(env, 1, "10:00:04", with(ticking, utc, "2026-12-09T09:00:04.200Z")),
                             logRow(cost, 1, "10:00:05", with(ticking, utc, "2026-12-09T09:00:05.100Z")),
                             logRow(submit, 1, "10:00:06", with(ticking, utc, "2026-12-09T09:00:06.700Z"))}
        << QList<store::Row>{summary(1, "09:59:59", "10:00:04")}
        << QList<QList<double>>{{0, 12, 0, 0, 2500, 5}} << 1 << 0;
    QTest::newRow("time-driven: a Submit long after its tick came after a crash")
        << QList<store::Row>{logRow(env, 1, "10:00:04", ticking), logRow(cost, 1, "10:00:05", ticking),
                             logRow(submit, 1, "10:20:00", ticking)}
        << QList<store::Row>{summary(1, "09:59:59", "10:00:04")}
        << QList<QList<double>>{{0, 12, 0, 0, -1, 5}} << 1 << 10000;
}

void TestAnalysis::theLogsRowsMakeThePeriods()
{

    QFETCH(QList<store::Row>, rows);
    QFETCH(QList<store::Row>, summaries);
    QFETCH(QList<QList<double>>, periods);
    QFETCH(int, complete);
    QFETCH(int, longest);
    SessionStart initial;
    initial.longestPeriodMs = longest;
    const QList<AnalysisPeriod> made = periodsOf(rows, initial, periodTimesOf(summaries));
    QCOMPARE(made.size(), periods.size());
    QCOMPARE(std::count_if(made.cbegin(), made.cend(), [](const AnalysisPeriod& p) { return p.complete; }), complete);
    for (qsizetype i = 0; i < made.size(); ++i) {
        const AnalysisPeriod& p = made.at(i);
        const QList<double> want = periods.at(i);
        QCOMPARE(p.period, int(i + 1));
        QCOMPARE(p.amountStart, want.at(0));
        QCOMPARE(p.amountEnd, want.at(1));
        QCOMPARE(p.deliveredInflow, want.at(2));
        QCOMPARE(p.deliveredOutflow, want.at(3));
        QCOMPARE(p.decisionMs.value_or(-1), qint64(want.at(4)));
        QCOMPARE(p.money, want.at(5));
    }
}

void TestAnalysis::theRatingIsSplitFromItsReasons()
{
    const QList<std::tuple<QString, QString, QString>> cases = {
        {QStringLiteral("7, "), QStringLiteral("7"), QString()},
        {QStringLiteral("10, too slow, and then, too fast"), QStringLiteral("10"), QStringLiteral("too slow, and then, too fast")},
        {QStringLiteral("8,5, odd"), QStringLiteral("8,5"), QStringLiteral("odd")},
        {QString(), QString(), QString()}};
    for (const auto& [answer, rating, reasons] : cases) {
        const Rating split = splitRating(answer);
        QCOMPARE(split.rating, rating);
        QCOMPARE(split.reasons, reasons);
    }
}

void TestAnalysis::theRuleABotPlayedIsRecovered_data()
{
    QTest::addColumn<QStringList>("policy");
    QTest::addColumn<double>("alpha");
    QTest::addColumn<double>("beta");
    QTest::addColumn<bool>("noisy");
    const auto anchor = [](double a, double b) {
        return QStringList{QStringLiteral("--policy"), QStringLiteral("anchor"), QStringLiteral("--alpha"),
                           QString::number(a), QStringLiteral("--beta"), QString::number(b)};
    };
    QTest::newRow("anchor 0.5 0.3") << anchor(0.5, 0.3) << 0.5 << 0.3 << false;
    QTest::newRow("anchor 0.2 0, the orders on their way neglected") << anchor(0.2, 0) << 0.2 << 0.0 << false;
    QTest::newRow("anchor 0.8 0.6") << anchor(0.8, 0.6) << 0.8 << 0.6 << false;
    QTest::newRow("hold") << QStringList{QStringLiteral("--policy"), QStringLiteral("hold")} << 0.0 << 0.0 << false;
    QTest::newRow("anchor 0.5 0.3 with noise")
        << anchor(0.5, 0.3) + QStringList{QStringLiteral("--noise"), QStringLiteral("1"), QStringLiteral("--seed"),
                                          QStringLiteral("11")}
        << 0.5 << 0.3 << true;
    QTest::newRow("anchor 0.3 0.1 with noise")
        << anchor(0.3, 0.1) + QStringList{QStringLiteral("--noise"), QStringLiteral("0.5"), QStringLiteral("--seed"),
                                          QStringLiteral("5")}
        << 0.3 << 0.1 << true;
}

void TestAnalysis::theRuleABotPlayedIsRecovered()
{
    QFETCH(QStringList, policy);
    QFETCH(double, alpha);
    QFETCH(double, beta);
    QFETCH(bool, noisy);
    const QString subject = QStringLiteral("rule-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    const test::ToolResult played =
        bot(QStringList{QStringLiteral("--version"), kDemo, QStringLiteral("--subject"), subject} + policy);
    QVERIFY2(played.status == 0, qPrintable(played.err));

    ToolStore tool(database().folder());
    AnalysisOptions options;
    options.version = kDemo;
    options.subject = subject;
    options.includePilots = true;
    const QList<ParticipantAnalysis> analysed = loadAnalysis(tool.store(), options);
    QCOMPARE(analysed.size(), qsizetype(1));
    const RuleFit& fit = analysed.first().rule;
    QVERIFY(fit.valid);
    QCOMPARE(fit.periods, 19); // every period but the first
    if (noisy) {
        // The truth within three standard errors.
        QVERIFY2(std::abs(fit.alpha - alpha) < 3 * fit.alphaSe, qPrintable(QString::number(fit.alpha)));
        QVERIFY2(std::abs(fit.beta - beta) < 3 * fit.betaSe, qPrintable(QString::number(fit.beta)));
        QVERIFY2(std::abs(fit.weight - 1) < 3 * fit.weightSe, qPrintable(QString::number(fit.weight)));
        QVERIFY(fit.rSquared < 0.999);
    } else {
        // Orders are typed to six decimals: what is left is rounding.
        QVERIFY2(std::abs(fit.alpha - alpha) < 1e-3, qPrintable(QString::number(fit.alpha)));
        QVERIFY2(std::abs(fit.beta - beta) < 1e-3, qPrintable(QString::number(fit.beta)));
        QVERIFY2(std::abs(fit.weight - 1) < 1e-3, qPrintable(QString::number(fit.weight)));
        QCOMPARE(fit.theta, 1.0); // the bot expects last period's outflow again
        QVERIFY(fit.rSquared > 0.999);
    }
}

void TestAnalysis::analyzeNamesTheRulesThatExplainLittle()
{
    // The same two players in each version: one by the rule, one far off it.
    const auto playBoth = [](const QString& version) {
        const QStringList anchor{QStringLiteral("--policy"), QStringLiteral("anchor")};
        const QStringList erratic = anchor + QStringList{QStringLiteral("--noise"), QStringLiteral("30"),
                                                          QStringLiteral("--seed"), QStringLiteral("2")};
        for (const auto& [subject, how] : {std::pair{QStringLiteral("steady"), anchor}, {QStringLiteral("erratic"), erratic}}) {
            const test::ToolResult played =
                bot(QStringList{QStringLiteral("--version"), version, QStringLiteral("--subject"), subject} + how);
            QVERIFY2(played.status == 0, qPrintable(played.err));
        }
    };
    playBoth(kStep);
    const auto analyze = [](const QStringList& arguments) {
        return test::runTool(runAnalyze, database().folder(),
                             arguments + QStringList{QStringLiteral("--version"), kStep});
    };
    // Four periods leave three to fit: too few for three terms and their errors.
    const test::ToolResult few = analyze({QStringLiteral("--include-pilots")});
    QCOMPARE(few.status, 0);
    QVERIFY2(few.out.contains(QStringLiteral("Not fitted")) && few.out.contains(QStringLiteral("steady (Step)")),
             qPrintable(few.out));
    // The pilots are left out unless taken in, and said so.
    const test::ToolResult none = analyze({});
    QCOMPARE(none.status, 1);
    QVERIFY2(none.err.contains(QStringLiteral("pilot")), qPrintable(none.err));
    QCOMPARE(analyze({QStringLiteral("--theta"), QStringLiteral("1.5")}).status, 2);

    // Twenty periods: the steady rule explains its orders, the erratic one does not.
    playBoth(kDemo);
    const test::ToolResult told = test::runTool(
        runAnalyze, database().folder(),
        {QStringLiteral("--version"), kDemo, QStringLiteral("--include-pilots"), QStringLiteral("--theta"),
         QStringLiteral("1")});
    QCOMPARE(told.status, 0);
    const QString little = told.lines().filter(QStringLiteral("explains little")).value(0);
    QVERIFY2(little.contains(QStringLiteral("erratic (Demo discrete)")) && !little.contains(QStringLiteral("steady")),
             qPrintable(told.out));
    QVERIFY(told.out.contains(QStringLiteral("Theta fixed at 1.")));
}

QTEST_MAIN(TestAnalysis)
#include "tst_analysis.moc"
