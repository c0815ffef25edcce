// The report command: a participant's session and a version's distribution drawn with
// known values and checked at the pixels where the goal, the band, the amounts, the
// orders and the mean must be; the counts behind the written figures; errors and usage;
// the picture replaced atomically; the version's PDF report, its pages and what they say,
// and the rule's predicted orders.
#include "tools/DecisionRule.h"
#include "tools/ReportPdf.h"
#include "tools/SessionReport.h"
#include "tools/ToolCommand.h"

#include "support/TempDatabase.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace aquilevel;
using tools::reportColours::background;

namespace {

const QString kAfterCost = QStringLiteral("After Cost Calculation");

using Output = test::ToolResult;

Output report(const QString& folder, const QStringList& arguments)
{
    return test::runTool(tools::runReport, folder, arguments);
}

struct Row {
    QString subject;
    QString version;
    QString eventType;
    int eventId;
    int trial;
    double amount;
    double totBonus = 0;
    double envIn = 0;
    double envOut = 0;
    double userIn = 0;
    double userOut = 0;
};

// All rows on one connection in one transaction: each connection to the encrypted file
// and each commit costs time. The rows go in as the program writes them, with the keys
// their participant and version are found by.
void insertRows(const test::TempDatabase& db, const QList<Row>& rows)
{
    const auto engine = db.engine();
    store::Connection& connection = engine->open(false);
    connection.begin(true);
    // Goal 4, band 0.1 below and above, two units of simulated time per period.
    for (const Row& r : rows)
        test::appendTo(connection, QStringLiteral("datExperimentTrials"),
                       {{QStringLiteral("Subject"), r.subject},
                        {QStringLiteral("Version"), r.version},
                        {QStringLiteral("eventType"), r.eventType},
                        {QStringLiteral("EventID"), r.eventId},
                        {QStringLiteral("Trial"), r.trial},
                        {QStringLiteral("AmountInTank"), r.amount},
                        {QStringLiteral("GoalAmount"), 4},
                        {QStringLiteral("LowerBoundFromGoal"), 0.1},
                        {QStringLiteral("UpperBoundFromGoal"), 0.1},
                        {QStringLiteral("EnvInFlow"), r.envIn},
                        {QStringLiteral("EnvOutFlow"), r.envOut},
                        {QStringLiteral("SimulationTime"), 2},
                        {QStringLiteral("UserInFlow"), r.userIn},
                        {QStringLiteral("UserOutFlow"), r.userOut},
                        {QStringLiteral("TotBonus"), r.totBonus}});
    connection.commit();
    engine->release();
}

// True when two colours differ by at most `tolerance` in every channel.
bool near(QColor a, QColor b, int tolerance = 0)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor pixel(const QImage& image, QPointF at)
{
    return image.pixelColor(int(std::floor(at.x())), int(std::floor(at.y())));
}

QString describe(QColor c)
{
    return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

#define CHECK_COLOUR(image, at, expected)                                                                   \
    do {                                                                                                    \
        const QColor seen_ = pixel(image, at);                                                              \
        QVERIFY2(near(seen_, expected), qPrintable(QStringLiteral("at (%1, %2): %3, expected %4")            \
                                                       .arg((at).x())                                       \
                                                       .arg((at).y())                                       \
                                                       .arg(describe(seen_), describe(expected))));         \
    } while (false)

// Keeps the text drawn on it: what a PDF page says, which its compressed streams hide.
class TextRecorder final : public QPaintDevice {
public:
    QStringList texts;
    QPaintEngine* paintEngine() const override { return &m_engine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth: return tools::kReportPage.width();
        case PdmHeight: return tools::kReportPage.height();
        case PdmWidthMM: return 273;
        case PdmHeightMM: return 186;
        case PdmDepth: return 32;
        case PdmNumColors: return INT_MAX;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
        default: return 96; // the resolutions
        }
    }

private:
    class Engine final : public QPaintEngine {
    public:
        explicit Engine(QStringList& texts) : QPaintEngine(AllFeatures), m_texts(texts) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {} // the other shapes fall back to these
        void drawPath(const QPainterPath&) override {}
        void drawTextItem(const QPointF&, const QTextItem& item) override { m_texts.append(item.text()); }
        Type type() const override { return User; }

    private:
        QStringList& m_texts;
    };
    mutable Engine m_engine{texts};
};

QString pageText(const tools::VersionReport& report, int index)
{
    TextRecorder recorder;
    QPainter painter(&recorder);
    tools::drawReportPage(painter, report, index);
    painter.end();
    return recorder.texts.join(QLatin1Char('|'));
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sessionDataTakesTheLastRowOfEachPeriod();
    void sessionPictureShowsGoalBandAmountsAndOrders();
    void pictureSizeFollowsTheOptions();
    void distributionHasTheMeanAndSpreadWhereTheyBelong();
    void missingRowsFail();
    void badOptionsAreUsageErrors();
    void pictureIsReplacedAtomically();
    void programRunsTheCommand();
    void predictedOrdersFollowTheRule();
    void pdfHasTheVersionPageAndOneForEachParticipant();
    void pdfIsRefusedWithoutACompletedPeriod();

private:
    std::unique_ptr<test::TempDatabase> m_db;
    QTemporaryDir m_out;
    QString file(const QString& name) const { return m_out.filePath(name); }
};

void TestReport::initTestCase()
{
    QVERIFY(m_out.isValid());
    m_db = std::make_unique<test::TempDatabase>();
    QVariantMap setup = test::soundSetupRow(QStringLiteral("R1"));
    setup[QStringLiteral("MaxTrial")] = 6;
    test::insertSetup(*m_db, setup);

    const QString ann = QStringLiteral("ann");
    const QString r1 = QStringLiteral("R1");
    const QString d = QStringLiteral("D");
    insertRows(*m_db, {
        // ann in R1: five periods. Period 3 has an earlier row with another amount, which
        // the later one replaces; 3.8996 rounds into the band, 3.8994 does not.
        {ann, r1, QStringLiteral("Start"), 1, 0, 3.5},
        {ann, r1, kAfterCost, 2, 1, 3.0, 0.0, 2.0, 0.5, 1.0, 0.0},
        {ann, r1, kAfterCost, 3, 2, 3.8996, 0.5, 1.0, 0.0, 3.0, 2.0},
        {ann, r1, kAfterCost, 4, 3, 9.0, 0.5},
        {ann, r1, kAfterCost, 5, 3, 4.05, 1.0, 0.0, 1.0, 0.0, 1.0},
        {ann, r1, kAfterCost, 6, 4, 4.1, 1.5},
        {ann, r1, kAfterCost, 7, 5, 3.8994, 1.5},
        {ann, r1, QStringLiteral("Submit Clicked"), 8, 6, 0, 1.75},
        // Another participant and another version must not mix in.
        {QStringLiteral("bob"), r1, kAfterCost, 1, 1, 7.0, 9.0},
        {ann, QStringLiteral("R2"), kAfterCost, 9, 1, 8.0, 9.0},
        // ann has rows in R3 but no completed period.
        {ann, QStringLiteral("R3"), QStringLiteral("Start"), 1, 0, 3.0},
        // Version D: two participants with distances 1 and 3 (mean 2) in period 1, 0.5
        // and 0.5 (mean 0.5) in period 2; only the first reaches period 3 (distance 0.25).
        {QStringLiteral("p1"), d, kAfterCost, 1, 1, 5.0},
        {QStringLiteral("p1"), d, kAfterCost, 2, 2, 3.5},
        {QStringLiteral("p1"), d, kAfterCost, 3, 3, 4.25},
        {QStringLiteral("p2"), d, kAfterCost, 1, 1, 1.0},
        {QStringLiteral("p2"), d, kAfterCost, 2, 2, 4.5},
        // A pilot, left out unless asked for.
        {QStringLiteral("p3"), d, kAfterCost, 1, 1, 9.0},
        // Version R4: a Submit, but no period ended.
        {QStringLiteral("cid"), QStringLiteral("R4"), QStringLiteral("Submit Clicked"), 1, 1, 3.0},
    });
    m_db->append(QStringLiteral("datSubjectMark"),
                 {{QStringLiteral("Subject"), QStringLiteral("P3")}, {QStringLiteral("Version"), d}, {QStringLiteral("Mark"), QStringLiteral("pilot")}});
}

void TestReport::sessionDataTakesTheLastRowOfEachPeriod()
{
    tools::ToolStore toolStore(m_db->folder());
    // Names match without regard to letter case, as everywhere in the data tables.
    const tools::SessionData data = tools::loadSession(toolStore.store(), QStringLiteral("R1"), QStringLiteral("ANN"));
    QCOMPARE(data.periods.size(), 5);
    QList<int> trials;
    for (const auto& p : data.periods)
        trials.append(p.trial);
    QCOMPARE(trials, (QList<int>{1, 2, 3, 4, 5}));
    QCOMPARE(data.periods.at(2).amount, 4.05);                // the later row of period 3
    QCOMPARE(data.periods.at(0).envNetFlow, (2.0 - 0.5) * 2); // (in - out) x simulated time
    QCOMPARE(data.periods.at(1).userInFlow, 3.0);
    QCOMPARE(data.periods.at(1).userOutFlow, 2.0);
    QCOMPARE(data.periodsInBand(), 3); // periods 2, 3 and 4
    QCOMPARE(data.earnings, 1.75);     // the newest row, whatever its event
    QCOMPARE(data.maxTrial, 6);
    QCOMPARE(data.goal(), 4.0);
    QCOMPARE(data.bandLow(), 3.9);
    QCOMPARE(data.bandHigh(), 4.1);
}

void TestReport::sessionPictureShowsGoalBandAmountsAndOrders()
{
    const QString path = file(QStringLiteral("ann.png"));
    const Output result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("R1"),
                                                  QStringLiteral("--subject"), QStringLiteral("ann"),
                                                  QStringLiteral("--out"), path});
    QCOMPARE(result.status, 0);
    QVERIFY2(result.out.contains(QStringLiteral("3 of 5 periods in the band, earnings 1.75")), qPrintable(result.out));
    const QImage image(path);
    QCOMPARE(image.size(), QSize(1600, 1000));

    tools::ToolStore toolStore(m_db->folder());
    const tools::SessionData data = tools::loadSession(toolStore.store(), QStringLiteral("R1"), QStringLiteral("ann"));
    const tools::ReportLayout layout = tools::sessionLayout(data, image.size());
    QCOMPARE(layout.lastPeriod, 6.5); // MaxTrial periods, though only five were completed

    // The goal line, left of the first period where no amount is drawn.
    const double left = layout.upper.left() + 4;
    CHECK_COLOUR(image, QPointF(left, layout.upperY(4.0)), tools::reportColours::goal);
    // Inside the band, clear of the goal line; and outside it, between two grid lines.
    CHECK_COLOUR(image, QPointF(left, layout.upperY(4.07)), tools::reportColours::band);
    CHECK_COLOUR(image, QPointF(left, layout.upperY(3.93)), tools::reportColours::band);
    const double belowBand = layout.upperMin + layout.upperStep / 2;
    QVERIFY(belowBand < 3.9);
    CHECK_COLOUR(image, QPointF(left, layout.upperY(belowBand)), background);

    // The amounts: outside the band in period 1 (3.0) and period 5 (3.8994), inside in
    // period 3 at the later row's 4.05, not at the replaced 9.0.
    CHECK_COLOUR(image, layout.upperPoint(1, 3.0), tools::reportColours::outOfBand);
    CHECK_COLOUR(image, layout.upperPoint(2, 3.8996), tools::reportColours::inBand);
    CHECK_COLOUR(image, layout.upperPoint(3, 4.05), tools::reportColours::inBand);
    CHECK_COLOUR(image, layout.upperPoint(5, 3.8994), tools::reportColours::outOfBand);
    QVERIFY(layout.upperMax < 9.0);
    // No marker for period 6, which was never completed.
    CHECK_COLOUR(image, QPointF(layout.x(6), layout.upperY(belowBand)), background);

    // The orders and the environment's net flow in the lower panel.
    const auto middle = [&](int period, int series, double value) { return layout.bar(period, series, 3, value).center(); };
    CHECK_COLOUR(image, middle(1, 0, 3.0), tools::reportColours::envNet);    // (2 - 0.5) x 2
    CHECK_COLOUR(image, middle(3, 0, -2.0), tools::reportColours::envNet);   // (0 - 1) x 2, below zero
    CHECK_COLOUR(image, middle(2, 1, 3.0), tools::reportColours::userIn);
    CHECK_COLOUR(image, middle(2, 2, 2.0), tools::reportColours::userOut);
    CHECK_COLOUR(image, middle(1, 1, 1.0), tools::reportColours::userIn);
    QVERIFY(layout.lowerMin <= -2.0 && layout.lowerMax >= 3.0);
    // Above the inflow order of period 2 there is no bar.
    CHECK_COLOUR(image, QPointF(middle(2, 1, 3.0).x(), layout.lowerY(3.0) - 6), background);
}

void TestReport::pictureSizeFollowsTheOptions()
{
    const QString path = file(QStringLiteral("small.png"));
    const Output result = report(m_db->folder(),
                                 {QStringLiteral("--version=R1"), QStringLiteral("--subject=ann"), QStringLiteral("--out"),
                                  path, QStringLiteral("--width"), QStringLiteral("800"), QStringLiteral("--height"),
                                  QStringLiteral("600")});
    QCOMPARE(result.status, 0);
    const QImage image(path);
    QCOMPARE(image.size(), QSize(800, 600));
    tools::ToolStore toolStore(m_db->folder());
    const auto layout = tools::sessionLayout(
        tools::loadSession(toolStore.store(), QStringLiteral("R1"), QStringLiteral("ann")), image.size());
    QVERIFY(QRectF(QPointF(0, 0), QSizeF(image.size())).contains(layout.lower));
    CHECK_COLOUR(image, QPointF(layout.upper.left() + 4, layout.upperY(4.0)), tools::reportColours::goal);
    CHECK_COLOUR(image, layout.upperPoint(3, 4.05), tools::reportColours::inBand);
}

void TestReport::distributionHasTheMeanAndSpreadWhereTheyBelong()
{
    tools::ToolStore toolStore(m_db->folder());
    tools::LeftOut leftOut;
    const tools::DistributionData data = tools::loadDistribution(toolStore.store(), QStringLiteral("D"), &leftOut);
    QCOMPARE(leftOut.pilots, 1);
    QCOMPARE(data.participants, 2);
    QCOMPARE(data.points.size(), 3);
    QCOMPARE(data.points.at(0).meanDistance, 2.0);
    QCOMPARE(data.points.at(0).standardDeviation, std::sqrt(2.0)); // |1 - 2| and |3 - 2|, n - 1
    QCOMPARE(data.points.at(1).meanDistance, 0.5);
    QCOMPARE(data.points.at(1).standardDeviation, 0.0);
    QCOMPARE(data.points.at(2).participants, 1);
    QCOMPARE(data.points.at(2).meanDistance, 0.25);

    const QString path = file(QStringLiteral("d.png"));
    const Output result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("D"),
                                                  QStringLiteral("--out"), path});
    QCOMPARE(result.status, 0);
    QVERIFY2(result.out.contains(QStringLiteral("2 participants")), qPrintable(result.out));
    QVERIFY2(result.err.contains(QStringLiteral("Left out 1 marked participant(s) (1 pilot(s))")), qPrintable(result.err));
    const Output withPilot = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("D"), QStringLiteral("--out"),
                                                     file(QStringLiteral("d3.png")), QStringLiteral("--include-pilots")});
    QVERIFY2(withPilot.out.contains(QStringLiteral("3 participants")), qPrintable(withPilot.out + withPilot.err));
    const QImage image(path);
    QCOMPARE(image.size(), QSize(1600, 1000));
    const tools::ReportLayout layout = tools::distributionLayout(data, image.size());
    // Above: each participant's trace through its own amounts, over the band.
    CHECK_COLOUR(image, layout.upperPoint(1, 5.0), tools::reportColours::trace);
    CHECK_COLOUR(image, layout.upperPoint(1, 1.0), tools::reportColours::trace);
    CHECK_COLOUR(image, layout.upperPoint(3, 4.25), tools::reportColours::trace);
    const double aside = layout.x(1) - layout.periodWidth() * 0.3;
    CHECK_COLOUR(image, QPointF(aside, layout.upperY(3.95)), tools::reportColours::band);
    CHECK_COLOUR(image, QPointF(aside, layout.upperY(4.6)), background);
    // Below: the mean distance, not where the mean of one participant alone would be.
    CHECK_COLOUR(image, layout.lowerPoint(1, 2.0), tools::reportColours::mean);
    CHECK_COLOUR(image, layout.lowerPoint(2, 0.5), tools::reportColours::mean);
    CHECK_COLOUR(image, layout.lowerPoint(3, 0.25), tools::reportColours::mean);
    CHECK_COLOUR(image, layout.lowerPoint(1, 3.0 - 0.3), tools::reportColours::spread);
    // The spread of period 1 reaches from 2 - 1.41 to 2 + 1.41, and no further.
    CHECK_COLOUR(image, QPointF(aside, layout.lowerY(3.3)), tools::reportColours::spread);
    CHECK_COLOUR(image, QPointF(aside, layout.lowerY(0.7)), tools::reportColours::spread);
    QVERIFY(layout.lowerMax >= 2.0 + std::sqrt(2.0));
    const QPointF above(aside, layout.lowerY(2.0 + std::sqrt(2.0)) - 4);
    const QPointF below(aside, layout.lowerY(2.0 - std::sqrt(2.0)) + 4);
    QVERIFY2(!near(pixel(image, above), tools::reportColours::spread, 10), qPrintable(describe(pixel(image, above))));
    QVERIFY2(!near(pixel(image, below), tools::reportColours::spread, 10), qPrintable(describe(pixel(image, below))));
}

void TestReport::missingRowsFail()
{
    const QString path = file(QStringLiteral("missing.png"));
    Output result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--subject"),
                                            QStringLiteral("nobody"), QStringLiteral("--out"), path});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.contains(QStringLiteral("\"nobody\" has no rows in version \"R1\"")), qPrintable(result.err));
    QVERIFY(!QFile::exists(path));

    result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("R3"), QStringLiteral("--subject"),
                                     QStringLiteral("ann"), QStringLiteral("--out"), path});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.contains(QStringLiteral("has not completed a period")), qPrintable(result.err));

    result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("d"), QStringLiteral("--subject"),
                                     QStringLiteral("p3"), QStringLiteral("--out"), path});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.contains(QStringLiteral("is marked as a pilot")), qPrintable(result.err));

    result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("R9"), QStringLiteral("--out"), path});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.contains(QStringLiteral("No participant of version \"R9\"")), qPrintable(result.err));

    QTemporaryDir empty;
    result = report(empty.path(), {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--out"), path});
    QCOMPARE(result.status, 1);
    QVERIFY(!QFile::exists(path));
}

void TestReport::badOptionsAreUsageErrors()
{
    const QString path = file(QStringLiteral("bad.png"));
    const QList<QStringList> cases = {
        {QStringLiteral("--out"), path},
        {QStringLiteral("--version"), QStringLiteral("R1")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--out"), path, QStringLiteral("--colour")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--out"), path, QStringLiteral("extra")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--out"), path, QStringLiteral("--width"),
         QStringLiteral("wide")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--out"), path, QStringLiteral("--height"),
         QStringLiteral("10")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--out"), path, QStringLiteral("--subject"),
         QStringLiteral(" ")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--out")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--pdf"), path, QStringLiteral("--subject"),
         QStringLiteral("ann")},
        {QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--pdf"), path, QStringLiteral("--out"), path},
    };
    for (const QStringList& arguments : cases) {
        const Output result = report(m_db->folder(), arguments);
        QVERIFY2(result.status == 2, qPrintable(arguments.join(QLatin1Char(' ')) + QStringLiteral(" -> ")
                                                + QString::number(result.status)));
        QVERIFY2(result.err.contains(QStringLiteral("Usage: aquilevel report")), qPrintable(result.err));
    }
    QVERIFY(!QFile::exists(path));

    const Output help = report(m_db->folder(), {QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.contains(QStringLiteral("--subject")));
    QVERIFY(help.out.contains(QStringLiteral("standard deviation")));
}

void TestReport::pictureIsReplacedAtomically()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old contents");
    old.close();

    // A picture that cannot be encoded leaves the old file and no temporary one behind.
    QVERIFY_THROWS_EXCEPTION(tools::ToolError, tools::writePngAtomically(QImage(), path));
    QFile kept(path);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("old contents"));
    kept.close();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("picture.png")});

    // A folder that does not exist: nothing is created.
    QVERIFY_THROWS_EXCEPTION(tools::ToolError,
                             tools::writePngAtomically(QImage(10, 10, QImage::Format_RGB32),
                                                       dir.filePath(QStringLiteral("no/such/picture.png"))));

    // The command replaces the file as a whole, again without leftovers.
    const Output result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("R1"),
                                                  QStringLiteral("--subject"), QStringLiteral("ann"),
                                                  QStringLiteral("--out"), path});
    QCOMPARE(result.status, 0);
    QCOMPARE(QImage(path).size(), QSize(1600, 1000));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("picture.png")});
}

void TestReport::programRunsTheCommand()
{
    const QString program = qEnvironmentVariable("AQUILEVEL_TEST_BIN") + QStringLiteral("/aquilevel");
    if (!QFile::exists(program))
        QSKIP("the program is not built");
    const auto run = [&](const QStringList& arguments) {
        return test::runProgram(QStringList{QStringLiteral("--data"), m_db->folder(), QStringLiteral("report")} + arguments)
            .status;
    };
    const QString path = file(QStringLiteral("program.png"));
    QCOMPARE(run({QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--subject"), QStringLiteral("ann"),
                  QStringLiteral("--out"), path}),
             0);
    QCOMPARE(QImage(path).size(), QSize(1600, 1000));
    QCOMPARE(run({QStringLiteral("--version"), QStringLiteral("R1"), QStringLiteral("--subject"),
                  QStringLiteral("nobody"), QStringLiteral("--out"), path}),
             1);
    QCOMPARE(run({QStringLiteral("--version"), QStringLiteral("R1")}), 2);
}

void TestReport::predictedOrdersFollowTheRule()
{
    tools::RuleFit fit;
    fit.valid = true;
    fit.weight = 2;
    fit.alpha = 0.5;
    fit.beta = 0.25;
    fit.theta = 0.5;
    // Expected outflows 4, then 0.5 x 2 + 0.5 x 4 = 3, then 0.5 x 6 + 0.5 x 3 = 4.5.
    const QList<tools::RulePeriod> periods = {{0, 4, 8, 4}, {0, -2, 4, 2}, {0, 6, 0, 6}};
    QCOMPARE(tools::predictedOrders(periods, fit), (QList<double>{2 * 4 + 2 - 2, 2 * 3 - 1 - 1, 2 * 4.5 + 3}));

    // Orders made by the rule are fitted back exactly: fit and prediction expect alike.
    QList<tools::RulePeriod> played;
    for (int t = 0; t < 8; ++t)
        played.append({0, std::sin(t) * 5, std::cos(t * 0.7) * 3, 2.0 + t % 3});
    const QList<double> orders = tools::predictedOrders(played, fit);
    for (int t = 0; t < 8; ++t)
        played[t].netOrder = orders[t];
    const tools::RuleFit back = tools::fitDecisionRule(played);
    QVERIFY(back.valid);
    QCOMPARE(back.theta, 0.5);
    QVERIFY(std::abs(back.alpha - 0.5) < 1e-9 && std::abs(back.beta - 0.25) < 1e-9);
    QCOMPARE(tools::predictedOrders(played, back).size(), 8);

    fit.valid = false;
    QVERIFY(tools::predictedOrders(periods, fit).isEmpty());
}

void TestReport::pdfHasTheVersionPageAndOneForEachParticipant()
{
    const QString path = file(QStringLiteral("d.pdf"));
    const Output result = report(m_db->folder(), {QStringLiteral("--version"), QStringLiteral("D"),
                                                  QStringLiteral("--pdf"), path});
    QCOMPARE(result.status, 0);
    QVERIFY2(result.out.contains(QStringLiteral("2 participants, 3 pages")), qPrintable(result.out + result.err));
    QVERIFY2(result.err.contains(QStringLiteral("1 pilot(s)")), qPrintable(result.err));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray pdf = written.readAll();
    QVERIFY(pdf.startsWith("%PDF"));
    QCOMPARE(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b"))), 3);
    QVERIFY(!pdf.contains("/Subtype /Image")); // drawn, not pictures pasted in

    tools::ToolStore toolStore(m_db->folder());
    tools::LeftOut leftOut;
    const tools::VersionReport d = tools::loadVersionReport(toolStore.store(), QStringLiteral("D"), leftOut);
    QCOMPARE(tools::reportPageCount(d), 3);
    const tools::VersionFigures figures = tools::versionFigures(d);
    QCOMPARE(figures.unfitted, (QStringList{QStringLiteral("p1"), QStringLiteral("p2")})); // no Submit, no rule
    QVERIFY(std::abs(figures.meanDistance - ((1 + 0.5 + 0.25) / 3 + (3 + 0.5) / 2) / 2) < 1e-9);
    const QString first = pageText(d, 0);
    QVERIFY2(first.contains(QStringLiteral("p1")) && first.contains(QStringLiteral("p2"))
                 && first.contains(QStringLiteral("Not fitted")),
             qPrintable(first));
    QVERIFY2(pageText(d, 1).contains(QStringLiteral("participant p1")), qPrintable(pageText(d, 1)));
    QVERIFY2(pageText(d, 2).contains(QStringLiteral("participant p2")), qPrintable(pageText(d, 2)));

    // A period the session did not finish is not drawn: ann's sixth has only its Submit.
    const tools::VersionReport r1 = tools::loadVersionReport(toolStore.store(), QStringLiteral("R1"), leftOut);
    QCOMPARE(r1.participants.first().session.subject, QStringLiteral("ann"));
    QCOMPARE(r1.participants.first().session.periods.size(), 5);
}

void TestReport::pdfIsRefusedWithoutACompletedPeriod()
{
    const QString path = file(QStringLiteral("none.pdf"));
    for (const QString& version : {QStringLiteral("R3"), QStringLiteral("R4")}) {
        const Output result =
            report(m_db->folder(), {QStringLiteral("--version"), version, QStringLiteral("--pdf"), path});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(QStringLiteral("No participant of version \"%1\" has completed a period").arg(version)),
                 qPrintable(result.err));
        QCOMPARE(QDir(m_out.path()).entryList({QStringLiteral("none.pdf*")}, QDir::Files | QDir::Hidden), QStringList());
    }
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
