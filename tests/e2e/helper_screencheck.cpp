// Checks a screenshot of the real trial screen on the X display: the tank and the goal
// line must be where the version's configuration puts them.
//
// Usage: helper_screencheck --db FILE --version V --window X,Y,WIDTH,HEIGHT
//                           [--amount UNITS] [--save FILE.png]
//        helper_screencheck --clipboard   (prints the clipboard's text)
//
// The window's place on the screen comes from outside (xdotool). Where the tank drawing
// lies inside the window is found by laying out a trial screen of the same version at the
// same size, unseen, in this process; it uses the same platform and fonts as the program,
// so its layout is the program's. The positions inside the drawing are computed here from
// the drawing's canvas (15360 x 7200 twips, scaled to the widget keeping its aspect ratio
// and centred) and the configuration, not taken from the drawing code.
//
// The screen is grabbed again until every check passes or 10 s have gone by, so a window
// that has not yet painted is waited for. Exit code 0 when all checks pass, 1 when some
// fail (each one is printed), 2 on bad usage.

#include "config/NumberFormat.h"
#include "task/InitSession.h"
#include "session/StartVersion.h"
#include "store/DataLocation.h"
#include "store/SqlCipherEngine.h"
#include "support/FakeEngine.h"
#include "support/TestSession.h"
#include "task/TankDrawing.h"
#include "task/TrialScreen.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace aquilevel;

namespace {

// The drawing's canvas and the controls checked, in twips.
constexpr double kCanvasWidth = 15360;
constexpr double kCanvasHeight = 7200;
constexpr double kTankLeft = 2880, kTankTop = 2760, kTankWidth = 9375, kTankHeight = 3585;
constexpr double kTankBottom = kTankTop + kTankHeight;
constexpr double kFillBottom = kTankTop + 3615; // the water keeps this bottom edge
constexpr double kGoalLeft = task::TankDrawing::kGoalLineLeft, kGoalRight = 13440;
constexpr double kPictureWidth = 9375, kPictureHeight = 3615; // the block picture
constexpr double kTwipsPerDesignPixel = 15;
constexpr double kBlockGapTwips = 10;

const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);

struct Expectations {
    bool continuous = true;
    double amount = 0;     // setup units
    double goal = 0;       // setup units
    double topLabel = 1;   // the value at the top of the scale
    double blockWidth = 0; // design pixels
    double blockHeight = 0;
};

// Twips of the drawing to pixels of the screen.
struct Mapping {
    QPoint drawingOrigin; // top-left of the drawing widget on the screen
    double scale = 1;     // pixels per twip
    double offsetX = 0, offsetY = 0;

    QPoint at(double x, double y) const
    {
        return drawingOrigin + QPoint(int(std::lround(offsetX + x * scale)), int(std::lround(offsetY + y * scale)));
    }
};

Mapping mappingFor(QPoint drawingOrigin, QSize drawingSize)
{
    Mapping m;
    m.drawingOrigin = drawingOrigin;
    m.scale = std::min(drawingSize.width() / kCanvasWidth, drawingSize.height() / kCanvasHeight);
    m.offsetX = std::floor((drawingSize.width() - kCanvasWidth * m.scale) / 2 + 0.5);
    m.offsetY = std::floor((drawingSize.height() - kCanvasHeight * m.scale) / 2 + 0.5);
    return m;
}

QString colourName(QRgb c)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// A point off the screen reads as black: it must fail, not pass as a wall of the tank.
QString offScreen(const QImage& image, QPoint p)
{
    return image.rect().contains(p) ? QString()
                                    : QStringLiteral("(%1,%2) is off the screen").arg(p.x()).arg(p.y());
}

struct Check {
    QString what;
    std::function<QString(const QImage&)> failure; // empty when the check passes
};

// The pixel at P must be exactly `colour` (or anything but it, when `is` is false).
Check pixel(const QString& what, QPoint p, QRgb colour, bool is = true)
{
    return {what, [=](const QImage& image) {
                if (const QString off = offScreen(image, p); !off.isEmpty())
                    return off;
                const QRgb actual = image.pixel(p) & 0xffffff;
                if ((actual == (colour & 0xffffff)) == is)
                    return QString();
                return QStringLiteral("pixel (%1,%2) is %3").arg(p.x()).arg(p.y()).arg(colourName(actual));
            }};
}

// Some pixel within `rows` pixels above or below P must be `colour` (or none may be).
Check near(const QString& what, QPoint p, int rows, QRgb colour, bool present = true)
{
    return {what, [=](const QImage& image) {
                for (int dy : {-rows, rows})
                    if (const QString off = offScreen(image, p + QPoint(0, dy)); !off.isEmpty())
                        return off;
                for (int dy = -rows; dy <= rows; ++dy)
                    if ((image.pixel(p + QPoint(0, dy)) & 0xffffff) == (colour & 0xffffff))
                        return present ? QString()
                                       : QStringLiteral("%1 at (%2,%3)").arg(colourName(colour)).arg(p.x()).arg(p.y() + dy);
                return present ? QStringLiteral("no %1 within %2 px of (%3,%4)")
                                     .arg(colourName(colour)).arg(rows).arg(p.x()).arg(p.y())
                               : QString();
            }};
}

QList<Check> continuousChecks(const Mapping& m, const Expectations& e)
{
    QList<Check> checks;
    const double midX = kTankLeft + kTankWidth / 2;
    const double goalY = kTankBottom - kTankHeight * e.goal / e.topLabel;
    // The water's height in twips, whole twips only; nothing shows at 0 or less.
    const double water = std::floor(e.amount * kTankHeight / e.topLabel);
    const double waterTop = water > 0 ? kFillBottom - water : kTankBottom;

    const QPoint topLeft = m.at(kTankLeft, kTankTop);
    const QPoint bottomRight = m.at(kTankLeft + kTankWidth, kTankBottom);
    const int upperY = m.at(0, kTankTop + (std::min(waterTop, goalY) - kTankTop) / 2).y();
    checks << pixel(QStringLiteral("left wall of the tank"), QPoint(topLeft.x() + 1, upperY), kBlack)
           << pixel(QStringLiteral("right wall of the tank"), QPoint(bottomRight.x() - 2, upperY), kBlack)
           << pixel(QStringLiteral("top of the tank"), QPoint(m.at(midX, 0).x(), topLeft.y() + 1), kBlack)
           << pixel(QStringLiteral("empty part of the tank"), QPoint(m.at(midX, 0).x(), upperY), kBlue, false);

    const QPoint goal = m.at(midX, goalY);
    for (double x : {kGoalLeft + 150, midX, kGoalRight - 150})
        checks << near(QStringLiteral("goal line at x %1 twips").arg(x), QPoint(m.at(x, 0).x(), goal.y()), 1, kRed);
    checks << near(QStringLiteral("nothing red above the goal line"), QPoint(goal.x(), goal.y() - 6), 2, kRed, false)
           << near(QStringLiteral("nothing red below the goal line"), QPoint(goal.x(), goal.y() + 6), 2, kRed, false);

    // The water, sampled clear of its top, the goal line and the tank's bottom wall.
    if ((kTankBottom - waterTop) * m.scale > 16) {
        double y = waterTop + (kTankBottom - waterTop) / 2;
        if (std::abs((y - goalY) * m.scale) < 4)
            y = waterTop + (kTankBottom - waterTop) / 4;
        checks << pixel(QStringLiteral("water in the tank"), m.at(midX, y), kBlue);
        const QPoint surface = m.at(midX + 900, waterTop);
        if (std::abs((waterTop - goalY) * m.scale) > 8)
            checks << pixel(QStringLiteral("above the water surface"), surface - QPoint(0, 4), kBlue, false)
                   << pixel(QStringLiteral("below the water surface"), surface + QPoint(0, 4), kBlue);
    }
    return checks;
}

QList<Check> discreteChecks(const Mapping& m, const Expectations& e)
{
    QList<Check> checks;
    // The heap, in design pixels from the picture's bottom-left corner: blocks in rows
    // from the left, each row on top of the one before.
    const double width = kPictureWidth / kTwipsPerDesignPixel;
    const double step = std::round(e.blockWidth + kBlockGapTwips / kTwipsPerDesignPixel);
    const int perRow = 1 + int(std::floor((width - e.blockWidth) / step));
    const int count = e.amount > 0 ? int(config::roundHalfEven(e.amount)) : 0;
    const auto blockCentre = [&](int index) { // 0-based
        const double x = (index % perRow) * step + e.blockWidth / 2;
        const double y = (index / perRow) * std::round(e.blockHeight) + e.blockHeight / 2;
        return m.at(kTankLeft + x * kTwipsPerDesignPixel, kTankTop + kPictureHeight - y * kTwipsPerDesignPixel);
    };
    if (count > 0) {
        checks << pixel(QStringLiteral("first block of the heap"), blockCentre(0), kBlue)
               << pixel(QStringLiteral("block %1, the last of the heap").arg(count), blockCentre(count - 1), kBlue);
    }
    if ((count % perRow) != 0 || count == 0)
        checks << pixel(QStringLiteral("place of block %1, which is not drawn").arg(count + 1), blockCentre(count), kWhite);
    // Above the heap the picture is empty: no water shows through it.
    const int rows = (count + perRow - 1) / perRow;
    const double heapTop = kTankTop + kPictureHeight - rows * std::round(e.blockHeight) * kTwipsPerDesignPixel;
    if (heapTop - kTankTop > 600)
        checks << pixel(QStringLiteral("empty picture above the heap"),
                        m.at(kTankLeft + kTankWidth - 600, kTankTop + 300), kWhite);
    // The goal line is not part of this display.
    const double goalY = kTankBottom - kTankHeight * e.goal / e.topLabel;
    for (double x : {kTankLeft + 300, kTankLeft + kTankWidth / 2, kTankLeft + kTankWidth - 300})
        checks << near(QStringLiteral("no goal line at x %1 twips").arg(x), m.at(x, goalY), 2, kRed, false);
    return checks;
}

[[noreturn]] void usage(const QString& message)
{
    std::fprintf(stderr, "helper_screencheck: %s\n", qPrintable(message));
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("db"), QStringLiteral("database"), QStringLiteral("FILE")},
                       {QStringLiteral("version"), QStringLiteral("version"), QStringLiteral("V")},
                       {QStringLiteral("window"), QStringLiteral("window geometry"), QStringLiteral("X,Y,W,H")},
                       {QStringLiteral("amount"), QStringLiteral("amount in the tank"), QStringLiteral("UNITS")},
                       {QStringLiteral("save"), QStringLiteral("screenshot file"), QStringLiteral("FILE")},
                       {QStringLiteral("clipboard"), QStringLiteral("prints the clipboard's text")}});
    parser.process(app);
    // What a window put on the clipboard (a message box copies its text on Ctrl+C): the
    // only way to read a message's words from outside the program.
    if (parser.isSet(QStringLiteral("clipboard"))) {
        std::fputs(QGuiApplication::clipboard()->text().toUtf8().constData(), stdout);
        return 0;
    }
    const QStringList geometry = parser.value(QStringLiteral("window")).split(QLatin1Char(','));
    if (!parser.isSet(QStringLiteral("db")) || !parser.isSet(QStringLiteral("version")) || geometry.size() != 4)
        usage(QStringLiteral("--db, --version and --window X,Y,W,H are needed"));
    const QRect window(geometry[0].toInt(), geometry[1].toInt(), geometry[2].toInt(), geometry[3].toInt());

    // The version's configuration, as a session starting it would load it.
    test::TestSession loaded(std::make_unique<store::SqlCipherEngine>(parser.value(QStringLiteral("db")),
                                                                      store::databasePassword()));
    SessionState& state = loaded.session.state;
    state.Version = parser.value(QStringLiteral("version"));
    try {
        LoadCheckedSetup(loaded.session);
        LoadSessionConfiguration(loaded.session);
        InitSession(loaded.session);
    } catch (const std::exception& error) {
        usage(QStringLiteral("cannot load version %1: %2").arg(state.Version, QString::fromUtf8(error.what())));
    }
    Expectations e;
    e.continuous = state.setup.graphicalMode;
    e.amount = parser.isSet(QStringLiteral("amount")) ? parser.value(QStringLiteral("amount")).toDouble()
                                                      : state.setup.InitialAmountInTank;
    e.goal = state.setup.GoalLinePoisition;
    e.topLabel = state.TopLabelValue;
    e.blockWidth = state.setup.RWIDTH;
    e.blockHeight = state.setup.RHEIGHT;

    // The same screen laid out unseen at the window's size, on a store that is never
    // touched, to learn where the drawing lies inside the window.
    test::TestSession layout(std::make_unique<test::FakeEngine>(std::make_unique<store::SqlCipherEngine>(
        parser.value(QStringLiteral("db")), store::databasePassword())));
    layout.session.state = state;
    task::TrialScreen screen(layout.session);
    screen.setAttribute(Qt::WA_DontShowOnScreen);
    screen.load();
    screen.resize(window.size());
    screen.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest); // with the texts sized to the window
    if (screen.size() != window.size())
        usage(QStringLiteral("the window is %1 x %2, the screen lays out at %3 x %4")
                  .arg(window.width()).arg(window.height()).arg(screen.width()).arg(screen.height()));
    auto* drawing = screen.findChild<task::TankDrawing*>(QStringLiteral("tankDrawing"));
    const Mapping m = mappingFor(window.topLeft() + drawing->mapTo(&screen, QPoint(0, 0)), drawing->size());
    const QList<Check> checks = e.continuous ? continuousChecks(m, e) : discreteChecks(m, e);

    QElapsedTimer waited;
    waited.start();
    QImage shot;
    QStringList failures;
    do {
        if (!failures.isEmpty())
            QThread::msleep(100);
        shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        failures.clear();
        for (const Check& check : checks) {
            const QString failure = check.failure(shot);
            if (!failure.isEmpty())
                failures << check.what + QStringLiteral(": ") + failure;
        }
    } while (!failures.isEmpty() && waited.elapsed() < 10000);

    // Every text of the screen lies on the screen, whole: inside the window, the window
    // inside the screen, and no caption cut short.
    const QRect onScreen = QGuiApplication::primaryScreen()->geometry();
    if (!onScreen.contains(window))
        failures << QStringLiteral("the window %1,%2 %3 x %4 reaches beyond the screen")
                        .arg(window.x()).arg(window.y()).arg(window.width()).arg(window.height());
    for (QWidget* w : screen.findChildren<QWidget*>()) {
        auto* label = qobject_cast<QLabel*>(w);
        const bool text = (label && !label->text().isEmpty()) || qobject_cast<QLineEdit*>(w) ||
                          qobject_cast<QPushButton*>(w);
        if (!text || !w->isVisibleTo(&screen))
            continue;
        const QRect r(w->mapTo(&screen, QPoint(0, 0)), w->size());
        const bool cut = label && !label->wordWrap() &&
                         label->fontMetrics().horizontalAdvance(label->text()) > label->contentsRect().width();
        if (!screen.rect().contains(r) || cut)
            failures << QStringLiteral("%1 \"%2\" at %3,%4 %5 x %6 is %7")
                            .arg(w->objectName(), label ? label->text() : QString())
                            .arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
                            .arg(cut ? QStringLiteral("cut short") : QStringLiteral("off the window"));
    }

    if (parser.isSet(QStringLiteral("save")))
        shot.save(parser.value(QStringLiteral("save")));
    std::printf("%s display: %lld checks, tank drawing at (%d,%d) %d x %d\n", e.continuous ? "continuous" : "discrete",
                qlonglong(checks.size()), m.drawingOrigin.x(), m.drawingOrigin.y(), drawing->width(), drawing->height());
    for (const QString& failure : failures)
        std::printf("  FAIL %s\n", qPrintable(failure));
    return failures.isEmpty() ? 0 : 1;
}
