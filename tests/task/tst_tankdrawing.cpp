#include "session/SessionState.h"
#include "task/TankDrawing.h"
#include "task/TankModel.h"

#include <QImage>
#include <QLabel>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace aquilevel;
using aquilevel::task::DrawingItem;
using aquilevel::task::TankDrawing;

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

// Design geometry the checks below are computed from, in twips.
constexpr double kTankLeft = 2880;
constexpr double kTankTop = 2760;
constexpr double kTankBottom = 6345; // 2760 + 3585
constexpr double kFillBottom = 6375; // 2760 + 3615, the fill's design bottom
constexpr double kPictureLeft = 2880;
constexpr double kPictureRight = 12255;
constexpr double kPictureBottom = 6375;
constexpr int kBlockWidth = 30;
constexpr int kBlockHeight = 20;

// One design pixel is 15 twips; factor is the window size relative to the design size.
int px(double twips, double factor)
{
    return static_cast<int>(std::floor(twips * factor / 15 + 0.5));
}

bool isColour(const QImage& img, int x, int y, const QColor& c)
{
    return img.pixelColor(x, y).rgb() == c.rgb();
}

// Rows of column x, between y0 and y1 (exclusive), that have colour c.
QList<int> rowsOf(const QImage& img, int x, int y0, int y1, const QColor& c)
{
    QList<int> rows;
    for (int y = std::max(0, y0); y < std::min(img.height(), y1); ++y)
        if (isColour(img, x, y, c))
            rows.append(y);
    return rows;
}

// Runs of colour c along row y between x0 and x1 (exclusive), as (start, length).
QList<QPair<int, int>> runsInRow(const QImage& img, int y, int x0, int x1, const QColor& c)
{
    QList<QPair<int, int>> runs;
    int start = -1;
    for (int x = x0; x <= x1; ++x) {
        const bool on = x < x1 && isColour(img, x, y, c);
        if (on && start < 0)
            start = x;
        if (!on && start >= 0) {
            runs.append({start, x - start});
            start = -1;
        }
    }
    return runs;
}

// Runs of colour c down column x between y0 and y1 (exclusive), as (start, length).
QList<QPair<int, int>> runsInColumn(const QImage& img, int x, int y0, int y1, const QColor& c)
{
    QList<QPair<int, int>> runs;
    int start = -1;
    for (int y = y0; y <= y1; ++y) {
        const bool on = y < y1 && isColour(img, x, y, c);
        if (on && start < 0)
            start = y;
        if (!on && start >= 0) {
            runs.append({start, y - start});
            start = -1;
        }
    }
    return runs;
}

// The rows in which a fill from top to top + height shows: the outline's 3-pixel border
// is drawn over it.
QList<int> expectedFillRows(double top, double height, double factor)
{
    const int border = static_cast<int>(std::floor(3 * factor + 0.5));
    const int outlineTop = px(kTankTop, factor);
    const int outlineBottom = px(kTankBottom, factor);
    QList<int> rows;
    for (int y = px(top, factor); y < px(top + height, factor); ++y) {
        const bool underBorder = (y >= outlineTop && y < outlineTop + border) ||
                                 (y >= outlineBottom - border && y < outlineBottom);
        if (!underBorder)
            rows.append(y);
    }
    return rows;
}

// A session with the 10-mark scale "10" to "100", 50 units in the tank and a goal of 60,
// and the drawing over it.
struct Rig {
    SessionState state;
    std::unique_ptr<TankDrawing> drawing;

    explicit Rig(bool continuous, double units = 50, double goalUnits = 60)
    {
        state.setup.numMarks = 10;
        state.setup.graphicalMode = continuous;
        state.setup.RWIDTH = kBlockWidth;
        state.setup.RHEIGHT = kBlockHeight;
        state.setup.InitialAmountInTank = units;
        state.tank.AmountInTank = units;
        state.tank.GoalAmount = goalUnits;
        state.TopLabelValue = 100;
        for (int i = 1; i <= 10; ++i)
            state.MarkLabels.append(QString::number(10 * i));
        drawing = std::make_unique<TankDrawing>(state);
    }

    TankDrawing& d() { return *drawing; }

    // What the trial screen does with the drawing when it loads a new session.
    void load()
    {
        task::TankModel::takeHeldForm(state);
        d().PlaceYMarks(state.setup.numMarks, state.MarkLabels);
        d().FillTank(0, state.setup.InitialAmountInTank);
        state.tank.AmountInTank = state.setup.InitialAmountInTank;
        if (state.setup.graphicalMode)
            d().ShowContinuousLayout();
        else
            d().ShowDiscreteLayout();
        for (qint16 r = 0; r < 4; ++r)
            d().PipeWater(r, false);
        if (state.setup.graphicalMode)
            d().PlaceGoalLine(state.tank.GoalAmount / d().UnitsPerMark());
    }

    QImage shot(double factor = 1)
    {
        const QSize size(qRound(TankDrawing::designSize().width() * factor),
                         qRound(TankDrawing::designSize().height() * factor));
        drawing->resize(size);
        if (!drawing->isVisible()) {
            drawing->show();
            if (!QTest::qWaitForWindowExposed(drawing.get()))
                return {};
        }
        if (drawing->size() != size)
            return {};
        return drawing->grab().toImage();
    }

    bool shown(const QString& name) const
    {
        if (const DrawingItem* i = drawing->item(name))
            return i->visible;
        if (QLabel* l = drawing->label(name))
            return !l->isHidden();
        if (name == QLatin1String("Picture1"))
            return !drawing->picture()->isHidden();
        qFatal("no control %s", qPrintable(name));
    }
};

// Counts the blue blocks touching the bottom edge of the picture.
int blocksOnTheBottomRow(const QImage& img, double factor)
{
    return int(runsInRow(img, px(kPictureBottom, factor) - 1, px(kPictureLeft, factor), px(kPictureRight, factor),
                         kBlue)
                   .size());
}

} // namespace

class TestTankDrawing : public QObject {
    Q_OBJECT

private slots:
    void designSize();

    void scaleDoesNotDependOnTheWindow_data();
    void scaleDoesNotDependOnTheWindow();
    void marksAndTheirLabels_data();
    void marksAndTheirLabels();

    void waterTopForFiftyUnits_data();
    void waterTopForFiftyUnits();
    void goalLine_data();
    void goalLine();
    void fifteenTwipRule_data();
    void fifteenTwipRule();
    void amountZeroOrBelowEmptiesTheTank_data();
    void amountZeroOrBelowEmptiesTheTank();

    void layoutsShowOneModeAndHideTheOther_data();
    void layoutsShowOneModeAndHideTheOther();
    void blockCounts_data();
    void blockCounts();
    void heapWrapsAtTheRightEdge_data();
    void heapWrapsAtTheRightEdge();
    void pictureCoversFillAndCaptions();
    void amountZeroOrBelowClearsThePicture_data();
    void amountZeroOrBelowClearsThePicture();
    void pipeWater();

    void resizeKeepsPositionsProportional();
};

void TestTankDrawing::designSize()
{
    QCOMPARE(TankDrawing::designSize(), QSize(1024, 480));
    Rig rig(true);
    QCOMPARE(rig.d().sizeHint(), QSize(1024, 480));
    QCOMPARE(rig.d().minimumSizeHint(), QSize(512, 240));
    QImage img = rig.shot();
    QVERIFY(!img.isNull());
    QCOMPARE(rig.d().pixelsPerTwip(), 1.0 / 15);

    // Until a layout is chosen the picture area lies over the tank's rectangle.
    const int left = px(kTankLeft, 1);
    const int top = px(kTankTop, 1);
    QVERIFY(rig.d().picture()->isVisible());
    QCOMPARE(rig.d().picture()->geometry(), QRect(left, top, 625, 241));

    // Without it, before the first FillTank, the water line lies on the outline's top
    // edge; below it the outline's border is three pixels of black.
    rig.d().ShowContinuousLayout();
    img = rig.shot();
    QVERIFY(isColour(img, left + 1, top, kBlue));
    QVERIFY(isColour(img, left, top + 1, kBlack));
    QVERIFY(isColour(img, left + 2, top + 2, kBlack));
    QVERIFY(!isColour(img, left + 3, top + 3, kBlack));
    QVERIFY(!isColour(img, left + 3, top + 3, kBlue));
    QCOMPARE(rowsOf(img, px(7000, 1), 0, img.height(), kBlue), QList<int>{top});
}

void TestTankDrawing::scaleDoesNotDependOnTheWindow_data()
{
    QTest::addColumn<int>("marks");
    QTest::addColumn<double>("topLabel");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("unitScale");
    QTest::addColumn<double>("unitsPerMark");

    QTest::newRow("10 marks, design size") << 10 << 100.0 << QSize(1024, 480) << 358.5 << 10.0;
    QTest::newRow("10 marks, twice the size") << 10 << 100.0 << QSize(2048, 960) << 358.5 << 10.0;
    QTest::newRow("10 marks, small odd window") << 10 << 100.0 << QSize(700, 210) << 358.5 << 10.0;
    QTest::newRow("4 marks, tall window") << 4 << 200.0 << QSize(300, 900) << 896.25 << 50.0;
    QTest::newRow("3 marks") << 3 << 90.0 << QSize(1024, 480) << 1195.0 << 30.0;
    QTest::newRow("1 mark") << 1 << 7.0 << QSize(1024, 480) << 3585.0 << 7.0;
}

void TestTankDrawing::scaleDoesNotDependOnTheWindow()
{
    QFETCH(int, marks);
    QFETCH(double, topLabel);
    QFETCH(QSize, size);
    QFETCH(double, unitScale);
    QFETCH(double, unitsPerMark);

    Rig rig(true, 50, 60);
    rig.state.setup.numMarks = qint16(marks);
    rig.state.TopLabelValue = topLabel;
    rig.d().resize(size);
    rig.d().show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.drawing.get()));
    task::TankModel::takeHeldForm(rig.state);
    rig.d().PlaceYMarks(qint16(marks), rig.state.MarkLabels);

    QCOMPARE(rig.d().UnitScale(), unitScale);
    QCOMPARE(rig.d().UnitsPerMark(), unitsPerMark);
    QCOMPARE(rig.state.tank.UnitScale, unitScale);
    // Held form, converted exactly once.
    QCOMPARE(rig.state.tank.AmountInTank, 50 * unitScale);
    QCOMPARE(rig.state.setup.InitialAmountInTank, 50 * unitScale);
    QCOMPARE(rig.state.tank.GoalAmount, 60 * unitScale);
    // Only the configured marks are shown.
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(rig.shown(QStringLiteral("markY%1").arg(i)), i < marks);
        QCOMPARE(rig.shown(QStringLiteral("lblMarkY%1").arg(i)), i < marks);
    }
    if (marks == 10)
        QCOMPARE(rig.state.tank.AmountInTank, 17925.0);
}

void TestTankDrawing::marksAndTheirLabels_data()
{
    QTest::addColumn<double>("factor");
    QTest::newRow("design size") << 1.0;
    QTest::newRow("twice the size") << 2.0;
}

void TestTankDrawing::marksAndTheirLabels()
{
    QFETCH(double, factor);
    // A goal of 60 would lie on mark 5; 55 lies between two marks.
    Rig rig(true, 50, 55);
    rig.load();
    const QImage img = rig.shot(factor);
    QVERIFY(!img.isNull());

    QCOMPARE(rig.d().item("markY0")->line, QLineF(2520, 5986.5, 2880, 5986.5));
    QCOMPARE(rig.d().item("markY9")->line, QLineF(2520, 2760, 2880, 2760));

    // Down the middle of the ticks: ten black lines, one interval apart.
    const QList<QPair<int, int>> ticks =
        runsInColumn(img, px(2700, factor), px(2000, factor), px(6600, factor), kBlack);
    QCOMPARE(ticks.size(), 10);
    for (int i = 0; i < 10; ++i) {
        const double y = kTankBottom - (i + 1) * 358.5;
        const QPair<int, int> tick = ticks.at(9 - i); // top to bottom
        QCOMPARE(tick.second, int(factor));
        QVERIFY2(std::abs(tick.first + (tick.second - 1) / 2.0 - y * factor / 15) <= 1,
                 qPrintable(QStringLiteral("mark %1 at row %2").arg(i).arg(tick.first)));

        QLabel* label = rig.d().label(QStringLiteral("lblMarkY%1").arg(i));
        QVERIFY(label);
        QCOMPARE(label->text(), QString::number(10 * (i + 1)));
        QVERIFY(!label->isHidden());
        // Centred on its tick, left of the tank.
        const QRect g = label->geometry();
        QVERIFY(std::abs(g.top() + g.height() / 2.0 - y * factor / 15) <= 1);
        QCOMPARE(g.left(), px(1920, factor));
        QVERIFY(g.right() < px(kTankLeft, factor));
    }
}

void TestTankDrawing::waterTopForFiftyUnits_data()
{
    QTest::addColumn<double>("factor");
    QTest::newRow("design size") << 1.0;
    QTest::newRow("twice the size") << 2.0;
}

void TestTankDrawing::waterTopForFiftyUnits()
{
    QFETCH(double, factor);
    Rig rig(true);
    rig.load();

    // 50 units held as 17925, 1792 twips high (whole part of 1792.5), bottom at the
    // fill's design bottom.
    const DrawingItem* fill = rig.d().item("TankFill0");
    QVERIFY(fill);
    QVERIFY(fill->visible);
    QCOMPARE(fill->rect, QRectF(2880, kFillBottom - 1792, 9360, 1792));
    QVERIFY(!rig.d().item("WaterLine0")->visible);

    const QImage img = rig.shot(factor);
    QVERIFY(!img.isNull());
    const int column = px(7000, factor);
    QCOMPARE(rowsOf(img, column, 0, img.height(), kBlue), expectedFillRows(4583, 1792, factor));
    // The water's top row is that of 4583 twips, and the fill reaches 30 twips below the
    // outline's bottom.
    QVERIFY(isColour(img, column, px(4583, factor), kBlue));
    QVERIFY(!isColour(img, column, px(4583, factor) - 1, kBlue));
    QVERIFY(isColour(img, column, px(kTankBottom, factor), kBlue));
    QVERIFY(isColour(img, column, px(kFillBottom, factor) - 1, kBlue));
    QVERIFY(!isColour(img, column, px(kFillBottom, factor), kBlue));
}

void TestTankDrawing::goalLine_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("goalUnits");
    QTest::addColumn<double>("y");

    QTest::newRow("goal 60") << 1.0 << 60.0 << 4194.0;
    QTest::newRow("goal 60, twice the size") << 2.0 << 60.0 << 4194.0;
    QTest::newRow("goal 100 at the tank top") << 1.0 << 100.0 << 2760.0;
    QTest::newRow("goal 25") << 1.0 << 25.0 << 5448.75;
    QTest::newRow("goal 0 at the tank bottom") << 1.0 << 0.0 << 6345.0;
}

void TestTankDrawing::goalLine()
{
    QFETCH(double, factor);
    QFETCH(double, goalUnits);
    QFETCH(double, y);

    Rig rig(true, 10, goalUnits);
    rig.load();
    const DrawingItem* goal = rig.d().item("lineGoal");
    QVERIFY(goal->visible);
    QCOMPARE(goal->line, QLineF(2460, y, 13440, y));

    const QImage img = rig.shot(factor);
    QVERIFY(!img.isNull());
    // Between the scale labels and the ticks there is nothing but the goal line.
    const QList<QPair<int, int>> red = runsInColumn(img, px(2480, factor), 0, img.height(), kRed);
    QCOMPARE(red.size(), 1);
    QCOMPARE(red.first().second, int(factor));
    QVERIFY(std::abs(red.first().first + (factor - 1) / 2 - y * factor / 15) <= 1);
    // It crosses the tank, drawn over outline and water, and ends at its design ends.
    const int row = red.first().first;
    QVERIFY(isColour(img, px(9000, factor), row, kRed));
    QVERIFY(isColour(img, px(13400, factor), row, kRed));
    QVERIFY(!isColour(img, px(13480, factor), row, kRed));
    QVERIFY(!isColour(img, px(2400, factor), row, kRed)); // never through a scale label

    QLabel* caption = rig.d().label("lblGoal");
    QVERIFY(!caption->isHidden());
    QCOMPARE(caption->text(), QStringLiteral("Goal"));
    QCOMPARE(caption->geometry().top(), px(y, factor));
    QCOMPARE(caption->geometry().left(), px(13560, factor));
}

void TestTankDrawing::fifteenTwipRule_data()
{
    // Held amounts passed to FillTank one after the other (UnitsPerMark 10, so a held
    // amount of 10 x h draws h twips), and the fill that results.
    QTest::addColumn<QList<double>>("amounts");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("top");

    QTest::newRow("15 twips stays for 10") << QList<double>{150, 100} << 15.0 << 6360.0;
    QTest::newRow("15 twips stays for 14.9") << QList<double>{150, 149} << 15.0 << 6360.0;
    QTest::newRow("15 twips stays for 1") << QList<double>{150, 10} << 15.0 << 6360.0;
    QTest::newRow("below one twip drops to 0") << QList<double>{150, 100, 5} << 0.0 << 6345.0;
    QTest::newRow("15 twips drops at 0") << QList<double>{150, 100, 0} << 0.0 << 6345.0;
    QTest::newRow("15 twips drops below 0") << QList<double>{150, -5} << 0.0 << 6345.0;
    QTest::newRow("15 twips grows") << QList<double>{150, 200} << 20.0 << 6355.0;
    QTest::newRow("16 twips shrinks to 10") << QList<double>{160, 100} << 10.0 << 6365.0;
    QTest::newRow("16 twips shrinks to 15, then stays") << QList<double>{160, 150, 20} << 15.0 << 6360.0;
    QTest::newRow("after 0 the fill sits on the outline") << QList<double>{0, 100} << 10.0 << 6335.0;
    QTest::newRow("after 0, 15 twips stays") << QList<double>{0, 150, 100} << 15.0 << 6330.0;
    QTest::newRow("large after 0") << QList<double>{-1, 17925} << 1792.0 << 4553.0;
}

void TestTankDrawing::fifteenTwipRule()
{
    QFETCH(QList<double>, amounts);
    QFETCH(double, height);
    QFETCH(double, top);

    Rig rig(true);
    rig.load();
    for (double a : amounts)
        rig.d().FillTank(0, a);
    const DrawingItem* fill = rig.d().item("TankFill0");
    QCOMPARE(fill->rect.height(), height);
    QCOMPARE(fill->rect.top(), top);
    QCOMPARE(fill->rect.left(), kTankLeft);
    QCOMPARE(fill->rect.width(), 9360.0);

    // Drawn as held, at twice the size where 15 twips are 2 pixels.
    const QImage img = rig.shot(2);
    QVERIFY(!img.isNull());
    QCOMPARE(rowsOf(img, px(7000, 2), 0, img.height(), kBlue), expectedFillRows(top, height, 2));
}

void TestTankDrawing::amountZeroOrBelowEmptiesTheTank_data()
{
    QTest::addColumn<double>("units");
    QTest::newRow("zero") << 0.0;
    QTest::newRow("minus one") << -1.0;
    QTest::newRow("minus a half") << -0.5;
}

void TestTankDrawing::amountZeroOrBelowEmptiesTheTank()
{
    QFETCH(double, units);
    Rig rig(true);
    rig.load();
    const QImage full = rig.shot();
    QVERIFY(!full.isNull());
    const int belowOutline = px(kTankBottom, 1);
    QVERIFY(isColour(full, px(7000, 1), belowOutline, kBlue));

    rig.d().FillTank(0, units * rig.d().UnitScale());
    const DrawingItem* fill = rig.d().item("TankFill0");
    QVERIFY(fill->visible); // shown, but 0 high
    QCOMPARE(fill->rect.height(), 0.0);
    QCOMPARE(fill->rect.top(), kTankBottom);

    const QImage empty = rig.shot();
    QVERIFY(!empty.isNull());
    const QRect tank(px(kTankLeft, 1), px(kTankTop, 1), px(kPictureRight, 1) - px(kTankLeft, 1),
                     px(kFillBottom, 1) + 2 - px(kTankTop, 1));
    for (int y = tank.top(); y <= tank.bottom(); ++y)
        for (int x = tank.left(); x <= tank.right(); ++x)
            QVERIFY2(!isColour(empty, x, y, kBlue), qPrintable(QStringLiteral("blue at %1,%2").arg(x).arg(y)));

    // Filled again, the water now stands on the outline's bottom.
    rig.d().FillTank(0, 17925);
    QCOMPARE(fill->rect, QRectF(2880, kTankBottom - 1792, 9360, 1792));
    const QImage refilled = rig.shot();
    QVERIFY(!refilled.isNull());
    QCOMPARE(rowsOf(refilled, px(7000, 1), 0, refilled.height(), kBlue), expectedFillRows(4553, 1792, 1));
    QVERIFY(!isColour(refilled, px(7000, 1), belowOutline, kBlue));
}

void TestTankDrawing::layoutsShowOneModeAndHideTheOther_data()
{
    QTest::addColumn<bool>("continuous");
    QTest::newRow("continuous") << true;
    QTest::newRow("discrete") << false;
}

void TestTankDrawing::layoutsShowOneModeAndHideTheOther()
{
    QFETCH(bool, continuous);
    Rig rig(continuous);
    rig.load();
    // load() hid the streams again after the continuous layout showed them.
    QStringList continuousOnly{"lblUser0", "lblUser1", "lblEnvironment0", "lblEnvironment1", "lineGoal", "lblGoal"};
    QStringList discreteOnly{"Line10", "Line11", "Line12", "Line13", "Line2", "Line3", "Line4",
                             "MissedFB0", "MissedFB1", "Picture1"};
    for (int i = 0; i < 8; ++i)
        continuousOnly << QStringLiteral("PipeBorder%1").arg(i);
    for (int i = 0; i < 10; ++i)
        continuousOnly << QStringLiteral("markY%1").arg(i) << QStringLiteral("lblMarkY%1").arg(i);
    for (const char* cell : {"lblUserInput", "lblUserOutput", "lblEnvInput", "lblEnvOutput"})
        for (int i = 0; i < 2; ++i)
            discreteOnly << QStringLiteral("%1%2").arg(QLatin1String(cell)).arg(i);

    for (const QString& name : continuousOnly)
        QVERIFY2(rig.shown(name) == continuous, qPrintable(name));
    for (const QString& name : discreteOnly)
        QVERIFY2(rig.shown(name) == !continuous, qPrintable(name));
    // Untouched by both layouts.
    QVERIFY(rig.shown("Line5"));
    QVERIFY(rig.shown("Tank0"));
    for (int r = 0; r < 4; ++r)
        QVERIFY(!rig.shown(QStringLiteral("Water0%1").arg(r)));
    for (const char* tag : {"lblUsrInCon", "lblEnvInCon", "lblUsrOutCon", "lblEnvOutCon"})
        QVERIFY(!rig.shown(QLatin1String(tag)));

    // Pipe cells are black on black in discrete mode.
    if (!continuous) {
        const QImage img = rig.shot();
        QVERIFY(!img.isNull());
        const QRect cell = rig.d().label("lblUserOutput1")->geometry();
        QVERIFY(isColour(img, cell.center().x(), cell.center().y(), kBlack));
    }
}

void TestTankDrawing::blockCounts_data()
{
    QTest::addColumn<double>("units");
    QTest::addColumn<int>("byFill");   // nearest, halves to even
    QTest::addColumn<int>("byLayout"); // rounded down

    QTest::newRow("2.7") << 2.7 << 3 << 2;
    QTest::newRow("2.5") << 2.5 << 2 << 2;
    QTest::newRow("3.5") << 3.5 << 4 << 3;
    QTest::newRow("4.5") << 4.5 << 4 << 4;
    QTest::newRow("1") << 1.0 << 1 << 1;
    QTest::newRow("0.49") << 0.49 << 0 << 0;
    QTest::newRow("0.5") << 0.5 << 0 << 0;
    QTest::newRow("0.51") << 0.51 << 1 << 0;
}

void TestTankDrawing::blockCounts()
{
    QFETCH(double, units);
    QFETCH(int, byFill);
    QFETCH(int, byLayout);

    Rig rig(false, 0, 60);
    rig.load();
    const double held = units * rig.d().UnitScale();

    rig.d().FillTank(0, held);
    QImage img = rig.shot();
    QVERIFY(!img.isNull());
    QCOMPARE(blocksOnTheBottomRow(img, 1), byFill);
    // Each block is RWIDTH pixels wide, one gap of 10 twips (rounded to a pixel) apart,
    // starting at the picture's left edge.
    const auto runs = runsInRow(img, px(kPictureBottom, 1) - 1, px(kPictureLeft, 1), px(kPictureRight, 1), kBlue);
    for (int i = 0; i < runs.size(); ++i) {
        QCOMPARE(runs.at(i).first, px(kPictureLeft, 1) + 31 * i);
        QCOMPARE(runs.at(i).second, kBlockWidth);
    }

    rig.d().ClearBlocks();
    img = rig.shot();
    QCOMPARE(blocksOnTheBottomRow(img, 1), 0);

    rig.state.tank.AmountInTank = held;
    rig.d().ShowDiscreteLayout();
    img = rig.shot();
    QCOMPARE(blocksOnTheBottomRow(img, 1), byLayout);

    // As at load: FillTank clears and draws, the layout draws again without clearing,
    // so the larger heap shows.
    rig.d().FillTank(0, held);
    rig.d().ShowDiscreteLayout();
    img = rig.shot();
    QCOMPARE(blocksOnTheBottomRow(img, 1), std::max(byFill, byLayout));
    // The next FillTank starts afresh.
    rig.d().FillTank(0, held);
    img = rig.shot();
    QCOMPARE(blocksOnTheBottomRow(img, 1), byFill);
}

void TestTankDrawing::heapWrapsAtTheRightEdge_data()
{
    QTest::addColumn<double>("factor");
    QTest::newRow("design size") << 1.0;
    QTest::newRow("twice the size") << 2.0;
}

void TestTankDrawing::heapWrapsAtTheRightEdge()
{
    QFETCH(double, factor);
    Rig rig(false, 0, 60);
    rig.load();
    rig.d().ClearBlocks();
    // 625 pixels wide, 31 pixels per block: 20 blocks to a row.
    rig.d().DrawBlocks(25);
    const QImage img = rig.shot(factor);
    QVERIFY(!img.isNull());

    const int left = px(kPictureLeft, factor);
    const int right = px(kPictureRight, factor);
    const int bottom = px(kPictureBottom, factor);
    const int blockHeight = int(kBlockHeight * factor);

    const auto firstRow = runsInRow(img, bottom - 1, left, right, kBlue);
    QCOMPARE(firstRow.size(), 20);
    QCOMPARE(firstRow.first().first, left);
    QCOMPARE(firstRow.last().second, int(kBlockWidth * factor));
    QVERIFY(firstRow.last().first + firstRow.last().second <= right);

    // The second row lies directly on the first and starts at the left again.
    const auto secondRow = runsInRow(img, bottom - blockHeight - 1, left, right, kBlue);
    QCOMPARE(secondRow.size(), 5);
    QCOMPARE(secondRow.first().first, left);
    QCOMPARE(runsInRow(img, bottom - 2 * blockHeight - 1, left, right, kBlue).size(), 0);
    // The first block's column: two blocks high without a gap, standing on the bottom edge.
    const auto column = runsInColumn(img, left, 0, img.height(), kBlue);
    QCOMPARE(column.size(), 1);
    QCOMPARE(column.first().first + column.first().second, bottom);
    QCOMPARE(column.first().second, 2 * blockHeight);
}

void TestTankDrawing::pictureCoversFillAndCaptions()
{
    Rig rig(false);
    rig.load();

    // FillTank keeps the fill shape up to date and shown, and writes the two captions.
    const DrawingItem* fill = rig.d().item("TankFill0");
    QVERIFY(fill->visible);
    QCOMPARE(fill->rect, QRectF(2880, 4583, 9360, 1792));
    QLabel* amount = rig.d().label("MissedFB0");
    QLabel* goal = rig.d().label("MissedFB1");
    QCOMPARE(amount->text(), QStringLiteral("50"));
    QCOMPARE(goal->text(), QStringLiteral("60"));
    QVERIFY(!amount->isHidden());

    const QImage img = rig.shot();
    QVERIFY(!img.isNull());
    // Right of the heap (50 blocks: rows of 20, 20 and 10) only the picture shows where
    // the fill would be.
    const int column = px(kPictureLeft, 1) + 621;
    QVERIFY(column < px(kPictureRight, 1));
    QCOMPARE(rowsOf(img, column, px(4583, 1), px(kFillBottom, 1), kBlue), QList<int>{});
    // So do the places of the two captions: one uniform colour, no text.
    for (QLabel* caption : {amount, goal}) {
        const QRect r = caption->geometry();
        const QColor background = img.pixelColor(r.topLeft());
        QVERIFY(background != kBlue);
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                QVERIFY2(img.pixelColor(x, y) == background, qPrintable(caption->objectName()));
    }
    // The heap itself: 20 on the bottom row.
    QCOMPARE(blocksOnTheBottomRow(img, 1), 20);

    // Captions are plain decimals.
    rig.d().FillTank(0, 12.5 * rig.d().UnitScale());
    QCOMPARE(amount->text(), QStringLiteral("12.5"));
    QCOMPARE(goal->text(), QStringLiteral("60"));
    QCOMPARE(blocksOnTheBottomRow(rig.shot(), 1), 12);
}

void TestTankDrawing::amountZeroOrBelowClearsThePicture_data()
{
    QTest::addColumn<double>("units");
    QTest::addColumn<QString>("caption");
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("minus one") << -1.0 << "-1";
    QTest::newRow("minus a half") << -0.5 << "-0.5";
}

void TestTankDrawing::amountZeroOrBelowClearsThePicture()
{
    QFETCH(double, units);
    QFETCH(QString, caption);

    Rig rig(false);
    rig.load();
    QVERIFY(blocksOnTheBottomRow(rig.shot(), 1) > 0);

    const double held = units * rig.d().UnitScale();
    rig.d().FillTank(0, held);
    QCOMPARE(rig.d().label("MissedFB0")->text(), caption);
    // In discrete mode FillTank hides the fill shape and only a positive height shows it.
    QVERIFY(!rig.shown("TankFill0"));
    QCOMPARE(rig.d().item("TankFill0")->rect.height(), 0.0);
    const QImage img = rig.shot();
    QVERIFY(!img.isNull());
    const QRect picture = rig.d().picture()->geometry();
    for (int y = picture.top(); y <= picture.bottom(); ++y)
        for (int x = picture.left(); x <= picture.right(); ++x)
            QVERIFY2(!isColour(img, x, y, kBlue), qPrintable(QStringLiteral("blue at %1,%2").arg(x).arg(y)));

    // The layout with a negative amount clears what was drawn; with 0 it draws no block
    // and leaves the picture as it is.
    rig.d().DrawBlocks(5);
    rig.state.tank.AmountInTank = held;
    rig.d().ShowDiscreteLayout();
    QCOMPARE(blocksOnTheBottomRow(rig.shot(), 1), units < 0 ? 0 : 5);
}

void TestTankDrawing::pipeWater()
{
    // Discrete mode: nothing changes, whatever the region.
    {
        Rig rig(false);
        rig.load();
        const QImage before = rig.shot();
        QVERIFY(!before.isNull());
        for (qint16 r = -1; r <= 4; ++r)
            rig.d().PipeWater(r, true);
        for (int r = 0; r < 4; ++r)
            QVERIFY(!rig.shown(QStringLiteral("Water0%1").arg(r)));
        QCOMPARE(rig.shot(), before);
    }
    // Continuous mode: a stream shows and hides; other regions do nothing.
    {
        Rig rig(true);
        rig.load();
        const QImage before = rig.shot();
        QVERIFY(!before.isNull());
        rig.d().PipeWater(-1, true);
        rig.d().PipeWater(4, true);
        QCOMPARE(rig.shot(), before);

        // The centres of the four streams, above the tank and right of it.
        const QPointF centres[4] = {{3075, 2370}, {12795, 6210}, {4627, 2370}, {12795, 5730}};
        for (qint16 r = 0; r < 4; ++r) {
            const QPoint at(px(centres[r].x(), 1), px(centres[r].y(), 1));
            QVERIFY(!isColour(before, at.x(), at.y(), kBlue));
            rig.d().PipeWater(r, true);
            QVERIFY(rig.shown(QStringLiteral("Water0%1").arg(r)));
            QVERIFY2(isColour(rig.shot(), at.x(), at.y(), kBlue), qPrintable(QString::number(r)));
        }
        for (qint16 r = 0; r < 4; ++r)
            rig.d().PipeWater(r, false);
        QCOMPARE(rig.shot(), before);
    }
}

void TestTankDrawing::resizeKeepsPositionsProportional()
{
    Rig rig(true);
    rig.load();
    const QImage small = rig.shot(1);
    QVERIFY(!small.isNull());

    // The goal line's centre row.
    auto goalRow = [](const QImage& img, double factor) {
        const auto runs = runsInColumn(img, px(2480, factor), 0, img.height(), kRed);
        return runs.isEmpty() ? -1.0 : runs.first().first + (runs.first().second - 1) / 2.0;
    };
    auto waterTop = [](const QImage& img, double factor) {
        const QList<int> rows = rowsOf(img, px(7000, factor), 0, img.height(), kBlue);
        return rows.isEmpty() ? -1 : rows.first();
    };
    const double goal1 = goalRow(small, 1);
    QVERIFY(goal1 > 0);
    const int water1 = waterTop(small, 1);
    const QRect mark1 = rig.d().label("lblMarkY0")->geometry();
    const QRect user1 = rig.d().label("lblUser1")->geometry();

    const QImage big = rig.shot(2);
    QVERIFY(!big.isNull());
    QCOMPARE(rig.d().pixelsPerTwip(), 2.0 / 15);
    QVERIFY(std::abs(goalRow(big, 2) - 2 * goal1) <= 1);
    QVERIFY(std::abs(waterTop(big, 2) - 2 * water1) <= 1);
    const QRect mark2 = rig.d().label("lblMarkY0")->geometry();
    const QRect user2 = rig.d().label("lblUser1")->geometry();
    for (auto [a, b] : {std::pair{mark1, mark2}, std::pair{user1, user2}}) {
        QVERIFY(std::abs(b.left() - 2 * a.left()) <= 1);
        QVERIFY(std::abs(b.top() - 2 * a.top()) <= 1);
        QVERIFY(std::abs(b.width() - 2 * a.width()) <= 1);
        QVERIFY(std::abs(b.height() - 2 * a.height()) <= 1);
    }
    // Held amounts and the scale are not touched by a resize.
    QCOMPARE(rig.d().UnitScale(), 358.5);
    QCOMPARE(rig.state.tank.AmountInTank, 17925.0);

    // A window of another shape keeps the aspect ratio and centres the picture.
    rig.drawing->resize(1224, 480);
    QCOMPARE(rig.d().pixelsPerTwip(), 1.0 / 15);
    QCOMPARE(rig.d().label("lblMarkY0")->geometry(), mark1.translated(100, 0));
}

QTEST_MAIN(TestTankDrawing)
#include "tst_tankdrawing.moc"
