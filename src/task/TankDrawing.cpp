#include "task/TankDrawing.h"

#include "config/Languages.h"
#include "config/NumberFormat.h"
#include "session/SessionState.h"
#include "task/TankModel.h"

#include <QLabel>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace aquilevel::task {

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 192, 0);
const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);
const QColor kTeal(0, 192, 192);
const QColor kDarkRed(192, 0, 0);
const QColor kPictureBackground(255, 255, 255);

// Gap between two blocks of a row, in twips.
constexpr double kBlockGapTwips = 10;
constexpr int kMaxMarks = 10;

// Rounds to the nearest whole pixel, halves up. The small bias keeps positions that lie
// exactly between two pixels (a 1-pixel line on a pixel edge) from flipping with the
// last bit of the scale factor.
int nearest(double v)
{
    return static_cast<int>(std::floor(v + 0.5 + 1e-7));
}

QString indexed(const char* name, int index)
{
    return QLatin1String(name) + QString::number(index);
}

// A block count as a 16-bit number; amounts beyond its range draw the largest heap it
// can express instead of overflowing.
qint16 toCount(double blocks)
{
    if (!(blocks > 0))
        return 0;
    return static_cast<qint16>(std::min(blocks, double(std::numeric_limits<qint16>::max())));
}

// A value as the participant reads it: in their language's decimal form.
QString shown000(double value)
{
    return config::shownDecimal(config::format000(value));
}

void setForeColor(QLabel* label, const QColor& color)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

} // namespace

// The picture area of the discrete display. It keeps the blocks it was asked to draw
// and paints them again whenever it is exposed, so the heap survives being covered.
//
// Block sizes RWIDTH and RHEIGHT are pixels at the design size (15 twips per pixel) and
// are scaled with the window like the rest of the drawing, so the heap keeps its shape
// relative to the tank at any window size. Blocks are held in design pixels with the
// vertical axis pointing up from the picture's bottom edge; painting maps them to the
// picture's current size.
class BlockPicture : public QWidget {
public:
    explicit BlockPicture(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("Picture1"));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    QList<QRectF> blocks;
    double scale = 1; // actual pixels per design pixel

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), kPictureBackground);
        const int h = height();
        for (const QRectF& b : blocks) {
            const int left = nearest(b.left() * scale);
            const int right = nearest((b.left() + b.width()) * scale);
            const int bottom = h - nearest(b.top() * scale);
            const int top = h - nearest((b.top() + b.height()) * scale);
            if (right > left && bottom > top)
                painter.fillRect(QRect(left, top, right - left, bottom - top), kBlue);
        }
    }
};

TankDrawing::TankDrawing(SessionState& state, QWidget* parent) : QWidget(parent), m_state(state)
{
    setAutoFillBackground(true);

    // Painted shapes and lines, in painting order: the water below the outline, the
    // lines above both.
    addItem(QStringLiteral("TankFill0"), DrawingItem::Filled, QRectF(2880, 2760, 9360, 3615), kBlue, false);
    addItem(QStringLiteral("Tank0"), DrawingItem::Outline, QRectF(2880, 2760, 9375, kTankHeightTwips), kBlack, true, 3);
    addLine(QStringLiteral("WaterLine0"), QLineF(2880, 2760, 12240, 2760), kBlue, true);
    for (int i = 0; i < kMaxMarks; ++i) {
        const double y = 6360 - 240 * i;
        addLine(indexed("markY", i), QLineF(2520, y, 2880, y), kBlack, false);
    }
    // The goal line starts right of the scale labels, so it never runs through one.
    addLine(QStringLiteral("lineGoal"), QLineF(kGoalLineLeft, 4440, 13440, 4440), kRed, true);
    addItem(QStringLiteral("Water00"), DrawingItem::Filled, QRectF(3000, 1920, 150, 900), kBlue, false);
    addItem(QStringLiteral("Water01"), DrawingItem::Filled, QRectF(12240, 6120, 1110, 180), kBlue, false);
    addItem(QStringLiteral("Water02"), DrawingItem::Filled, QRectF(4560, 1920, 135, 900), kBlue, false);
    addItem(QStringLiteral("Water03"), DrawingItem::Filled, QRectF(12240, 5640, 1110, 180), kBlue, false);
    const QLineF pipeWalls[8] = {
        {3120, 1920, 3120, 2760},   {3000, 1920, 3000, 2760},   {12240, 6240, 13320, 6240},
        {12240, 6120, 13320, 6120}, {4560, 1920, 4560, 2760},   {4680, 1920, 4680, 2760},
        {12240, 5760, 13320, 5760}, {12240, 5640, 13320, 5640},
    };
    for (int i = 0; i < 8; ++i)
        addLine(indexed("PipeBorder", i), pipeWalls[i], kBlack, false);
    const QLineF connectors[4] = {
        {3240, 1560, 3240, 1920},
        {4560, 1560, 4560, 1920},
        {13560, 5160, 14160, 5160},
        {13560, 6120, 14160, 6120},
    };
    for (int i = 0; i < 4; ++i)
        addLine(indexed("Line1", i), connectors[i], kBlack, true);
    addLine(QStringLiteral("Line2"), QLineF(3240, 2640, 3240, 2760), kBlack, true);
    addLine(QStringLiteral("Line3"), QLineF(4560, 2640, 4560, 2760), kBlack, true);
    addLine(QStringLiteral("Line4"), QLineF(12480, 5160, 12240, 5160), kBlack, true);
    addLine(QStringLiteral("Line5"), QLineF(12480, 6120, 12240, 6120), kBlack, true);

    // Labels. The scale labels, pipe captions, flow tags and pipe cells start hidden.
    for (int i = 0; i < kMaxMarks; ++i) {
        QLabel* mark = addLabel(indexed("lblMarkY", i), QRectF(1920, 6360 - 240 * i, 495, 255), QString(), false);
        mark->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    // The unit name, left of the scale: part of the drawing, so it stays beside the scale
    // whatever the window's size.
    QLabel* units = addLabel(QStringLiteral("lblUnits"), QRectF(60, 4380, 1800, 345), QString(), true);
    units->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QLabel* goal = addLabel(QStringLiteral("lblGoal"), QRectF(13560, 4320, 495, 255), tr("Goal"), true);
    setForeColor(goal, kRed);
    addLabel(QStringLiteral("lblUser0"), QRectF(2520, 1560, 975, 255), tr("User Inflow"), false);
    addLabel(QStringLiteral("lblUser1"), QRectF(13440, 6120, 1335, 255), tr("User Outflow"), false);
    addLabel(QStringLiteral("lblEnvironment0"), QRectF(3720, 1560, 1695, 255), tr("Environment Inflow"),
             false);
    addLabel(QStringLiteral("lblEnvironment1"), QRectF(13440, 5640, 1815, 255),
             tr("Environment Outflow"), false);

    const struct {
        const char* name;
        double left, top;
    } tags[] = {{"lblUsrInCon", 1560, 1920},
                {"lblEnvInCon", 4800, 1920},
                {"lblUsrOutCon", 12480, 6360},
                {"lblEnvOutCon", 12480, 4920}};
    for (const auto& t : tags) {
        QLabel* tag = addLabel(QLatin1String(t.name), QRectF(t.left, t.top, 1215, 615), QString(), false);
        tag->setAlignment(Qt::AlignCenter);
        tag->setWordWrap(true);
        setBackColor(tag, kBlack);
    }

    QLabel* amount = addLabel(QStringLiteral("MissedFB0"), QRectF(6480, 3480, 510, 360), QStringLiteral("120"), true, 13);
    QLabel* goalAmount =
        addLabel(QStringLiteral("MissedFB1"), QRectF(8160, 3480, 510, 360), QStringLiteral("120"), true, 13);
    setForeColor(amount, kTeal);
    setForeColor(goalAmount, kDarkRed);
    for (QLabel* l : {amount, goalAmount}) {
        l->setAlignment(Qt::AlignCenter);
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }

    const struct {
        const char* name;
        double left0, top0, left1, top1;
    } cells[] = {{"lblUserInput", 2760, 840, 2760, 1920},
                 {"lblEnvInput", 3960, 840, 3960, 1920},
                 {"lblUserOutput", 12480, 4800, 14160, 4800},
                 {"lblEnvOutput", 12480, 5760, 14160, 5760}};
    for (const auto& c : cells) {
        for (int i = 0; i < 2; ++i) {
            const QRectF r(i == 0 ? c.left0 : c.left1, i == 0 ? c.top0 : c.top1, 1095, 735);
            QLabel* cell = addLabel(indexed(c.name, i), r, QString(), false);
            cell->setAlignment(Qt::AlignCenter);
            cell->setWordWrap(true);
            setForeColor(cell, kBlack);
            setBackColor(cell, kBlack);
        }
    }

    // The picture area comes last and is raised, so it covers the fill shape, the tank
    // outline and the two MissedFB labels inside its rectangle.
    m_pictureTwips = QRectF(2880, 2760, 9375, 3615);
    m_picture = new BlockPicture(this);
    m_picture->raise();

    resize(designSize());
    placeChildren();
}

TankDrawing::~TankDrawing() = default;

QSize TankDrawing::designSize()
{
    return QSize(nearest(kCanvasWidth / kDesignTwipsPerPixel), nearest(kCanvasHeight / kDesignTwipsPerPixel));
}

QSize TankDrawing::sizeHint() const
{
    return designSize();
}

QSize TankDrawing::minimumSizeHint() const
{
    return designSize() / 2;
}

void TankDrawing::addItem(const QString& name, DrawingItem::Kind kind, const QRectF& rect, const QColor& color,
                          bool visible, int borderPixels)
{
    DrawingItem item;
    item.name = name;
    item.kind = kind;
    item.rect = rect;
    item.color = color;
    item.visible = visible;
    item.borderPixels = borderPixels;
    m_items.append(item);
}

void TankDrawing::addLine(const QString& name, const QLineF& line, const QColor& color, bool visible)
{
    DrawingItem item;
    item.name = name;
    item.kind = DrawingItem::Line;
    item.line = line;
    item.color = color;
    item.visible = visible;
    m_items.append(item);
}

QLabel* TankDrawing::addLabel(const QString& name, const QRectF& twips, const QString& caption, bool visible,
                              int designFontPixels)
{
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setVisible(visible);
    m_labels.append({label, twips, designFontPixels});
    return label;
}

const DrawingItem* TankDrawing::item(const QString& name) const
{
    for (const DrawingItem& i : m_items)
        if (i.name == name)
            return &i;
    return nullptr;
}

DrawingItem* TankDrawing::findItem(const QString& name)
{
    return const_cast<DrawingItem*>(std::as_const(*this).item(name));
}

TankDrawing::PlacedLabel* TankDrawing::findLabel(const QString& name)
{
    for (PlacedLabel& l : m_labels)
        if (l.label->objectName() == name)
            return &l;
    return nullptr;
}

QLabel* TankDrawing::label(const QString& name) const
{
    for (const PlacedLabel& l : m_labels)
        if (l.label->objectName() == name)
            return l.label;
    return nullptr;
}

QWidget* TankDrawing::picture() const
{
    return m_picture;
}

void TankDrawing::setBackColor(QLabel* label, const QColor& color)
{
    QPalette p = label->palette();
    p.setColor(QPalette::Window, color);
    label->setPalette(p);
    label->setAutoFillBackground(true);
}

void TankDrawing::setItemVisible(const QString& name, bool visible)
{
    if (DrawingItem* i = findItem(name); i && i->visible != visible) {
        i->visible = visible;
        update();
    }
}

void TankDrawing::setLabelVisible(const QString& name, bool visible)
{
    if (PlacedLabel* l = findLabel(name))
        l->label->setVisible(visible);
}

void TankDrawing::setLabelTop(const QString& name, double top)
{
    if (PlacedLabel* l = findLabel(name)) {
        l->twips.moveTop(top);
        l->label->setGeometry(toPixels(l->twips));
    }
}

double TankDrawing::tankBottom() const
{
    const QRectF& tank = item(QStringLiteral("Tank0"))->rect;
    return tank.top() + tank.height();
}

// ---- mapping -------------------------------------------------------------------------

int TankDrawing::pxX(double twips) const
{
    return nearest(m_originX + twips * m_scale);
}

int TankDrawing::pxY(double twips) const
{
    return nearest(m_originY + twips * m_scale);
}

QPointF TankDrawing::toPixels(QPointF twips) const
{
    return QPointF(m_originX + twips.x() * m_scale, m_originY + twips.y() * m_scale);
}

QRect TankDrawing::toPixels(const QRectF& twips) const
{
    const int left = pxX(twips.left());
    const int top = pxY(twips.top());
    return QRect(left, top, pxX(twips.left() + twips.width()) - left, pxY(twips.top() + twips.height()) - top);
}

void TankDrawing::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeChildren();
}

void TankDrawing::placeChildren()
{
    m_scale = std::min(width() / kCanvasWidth, height() / kCanvasHeight);
    m_originX = std::floor((width() - kCanvasWidth * m_scale) / 2 + 0.5);
    m_originY = std::floor((height() - kCanvasHeight * m_scale) / 2 + 0.5);
    const double factor = m_scale * kDesignTwipsPerPixel; // actual pixels per design pixel

    for (PlacedLabel& l : m_labels) {
        l.label->setGeometry(toPixels(l.twips));
        QFont f = l.label->font();
        f.setPixelSize(std::max(1, nearest(l.designFontPixels * factor)));
        l.label->setFont(f);
    }
    m_picture->setGeometry(toPixels(m_pictureTwips));
    m_picture->scale = factor;
    m_picture->update();
    update();
}

void TankDrawing::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double factor = m_scale * kDesignTwipsPerPixel;

    for (const DrawingItem& i : std::as_const(m_items)) {
        if (!i.visible)
            continue;
        const int thickness = std::max(1, nearest(i.borderPixels * factor));
        switch (i.kind) {
        case DrawingItem::Filled: {
            const QRect r = toPixels(i.rect);
            if (r.width() > 0 && r.height() > 0)
                painter.fillRect(r, i.color);
            break;
        }
        case DrawingItem::Outline: {
            const QRect r = toPixels(i.rect);
            if (r.width() <= 0 || r.height() <= 0)
                break;
            const int b = std::min({thickness, r.width(), r.height()});
            painter.fillRect(QRect(r.left(), r.top(), r.width(), b), i.color);
            painter.fillRect(QRect(r.left(), r.bottom() - b + 1, r.width(), b), i.color);
            painter.fillRect(QRect(r.left(), r.top(), b, r.height()), i.color);
            painter.fillRect(QRect(r.right() - b + 1, r.top(), b, r.height()), i.color);
            break;
        }
        case DrawingItem::Line: {
            // The drawing's lines are all horizontal or vertical; they are filled as thin
            // rectangles centred on the line, so that their pixels do not depend on the
            // paint engine.
            const QLineF& l = i.line;
            const double half = thickness / 2.0;
            if (l.y1() == l.y2()) {
                const int x1 = pxX(std::min(l.x1(), l.x2()));
                const int x2 = pxX(std::max(l.x1(), l.x2()));
                const int y = nearest(m_originY + l.y1() * m_scale - half);
                painter.fillRect(QRect(x1, y, std::max(1, x2 - x1), thickness), i.color);
            } else if (l.x1() == l.x2()) {
                const int y1 = pxY(std::min(l.y1(), l.y2()));
                const int y2 = pxY(std::max(l.y1(), l.y2()));
                const int x = nearest(m_originX + l.x1() * m_scale - half);
                painter.fillRect(QRect(x, y1, thickness, std::max(1, y2 - y1)), i.color);
            } else {
                painter.setPen(QPen(i.color, thickness));
                painter.drawLine(toPixels(l.p1()), toPixels(l.p2()));
            }
            break;
        }
        }
    }
}

// ---- the drawing procedures ----------------------------------------------------------

void TankDrawing::PlaceYMarks(qint16 NumberOfMarks, const QStringList& Labels)
{
    const double numMarks = m_state.setup.numMarks;
    m_unitsPerMark = m_state.TopLabelValue / numMarks;
    // The amounts are held as heights in the tank: one mark per unit of the scale.
    m_unitScale = m_state.tank.UnitScale;

    const double bottom = tankBottom();
    for (int i = 0; i < NumberOfMarks && i < kMaxMarks; ++i) {
        const double y = bottom - (i + 1) * m_unitScale;
        if (DrawingItem* mark = findItem(indexed("markY", i))) {
            mark->visible = true;
            mark->line.setLine(mark->line.x1(), y, mark->line.x2(), y);
        }
        if (PlacedLabel* l = findLabel(indexed("lblMarkY", i))) {
            l->label->setVisible(true);
            setLabelTop(l->label->objectName(), y - l->twips.height() / 2);
            l->label->setText(Labels.value(i));
        }
    }
    update();
}

void TankDrawing::FillTank(qint16 Num, double Amount)
{
    DrawingItem* fill = findItem(indexed("TankFill", Num));
    if (!fill)
        return;
    const double h = Amount / m_unitsPerMark;

    setItemVisible(indexed("WaterLine", Num), false);

    if (m_state.setup.graphicalMode) {
        fill->visible = true;
    } else {
        fill->visible = false;
        const double units = Amount / m_unitScale;
        if (QLabel* amount = label(indexed("MissedFB", Num)))
            amount->setText(config::shownDecimal(config::pointNumber(units)));
        if (QLabel* goal = label(indexed("MissedFB", Num + 1)))
            goal->setText(config::shownDecimal(config::pointNumber(m_state.tank.GoalAmount / m_unitScale)));
        ClearBlocks();
        if (Amount >= 0)
            DrawBlocks(toCount(config::roundHalfEven(units)));
        else
            ClearBlocks();
    }

    // The fill keeps its bottom edge and grows or shrinks at the top. A fill exactly
    // 15 twips high does not shrink any further until the amount reaches 0.
    const double whole = std::floor(h);
    if (whole > 0) {
        const double current = fill->rect.height();
        const double d = whole - current;
        if (!(current == 15 && d < 0)) {
            fill->rect.setTop(fill->rect.top() - d); // moves the top, keeps the bottom
            fill->visible = true;
        }
    } else {
        fill->rect = QRectF(fill->rect.left(), tankBottom(), fill->rect.width(), 0);
    }
    update();
}

void TankDrawing::PipeWater(qint16 Region, bool Visibility)
{
    if (!m_state.setup.graphicalMode || Region < 0 || Region > 3)
        return;
    setItemVisible(indexed("Water0", Region), Visibility);
}

void TankDrawing::PlaceGoalLine(double Top)
{
    const double y = tankBottom() - Top;
    DrawingItem* goal = findItem(QStringLiteral("lineGoal"));
    goal->line.setLine(goal->line.x1(), y, goal->line.x2(), y);
    setLabelTop(QStringLiteral("lblGoal"), y);
    update();
}

namespace {
const char* const kCellNames[] = {"lblUserInput", "lblUserOutput", "lblEnvInput", "lblEnvOutput"};
}

void TankDrawing::ShowContinuousLayout()
{
    for (int i = 0; i < 8; ++i)
        setItemVisible(indexed("PipeBorder", i), true);
    for (int i = 0; i < 4; ++i)
        setItemVisible(indexed("Water0", i), true);
    for (int i = 0; i < 2; ++i) {
        setLabelVisible(indexed("lblUser", i), true);
        setLabelVisible(indexed("lblEnvironment", i), true);
    }

    for (const char* cell : kCellNames)
        for (int i = 0; i < 2; ++i)
            setLabelVisible(indexed(cell, i), false);
    for (int i = 0; i < 4; ++i)
        setItemVisible(indexed("Line1", i), false);
    setItemVisible(QStringLiteral("Line2"), false);
    setItemVisible(QStringLiteral("Line3"), false);
    setItemVisible(QStringLiteral("Line4"), false);
    setLabelVisible(QStringLiteral("MissedFB0"), false);
    setLabelVisible(QStringLiteral("MissedFB1"), false);

    setItemVisible(QStringLiteral("lineGoal"), true);
    setLabelVisible(QStringLiteral("lblGoal"), true);
    m_picture->setVisible(false);

    for (int i = 0; i < m_state.setup.numMarks && i < kMaxMarks; ++i) {
        setLabelVisible(indexed("lblMarkY", i), true);
        setItemVisible(indexed("markY", i), true);
    }
}

void TankDrawing::ShowDiscreteLayout()
{
    for (int i = 0; i < 8; ++i)
        setItemVisible(indexed("PipeBorder", i), false);
    for (int i = 0; i < 4; ++i)
        setItemVisible(indexed("Water0", i), false);
    for (int i = 0; i < 2; ++i) {
        setLabelVisible(indexed("lblUser", i), false);
        setLabelVisible(indexed("lblEnvironment", i), false);
    }

    for (const char* cell : kCellNames)
        for (int i = 0; i < 2; ++i)
            setLabelVisible(indexed(cell, i), true);
    for (const char* cell : kCellNames)
        for (int i = 0; i < 2; ++i)
            setBackColor(label(indexed(cell, i)), kBlack);

    for (int i = 0; i < 4; ++i)
        setItemVisible(indexed("Line1", i), true);
    setItemVisible(QStringLiteral("Line2"), true);
    setItemVisible(QStringLiteral("Line3"), true);
    setItemVisible(QStringLiteral("Line4"), true);
    setLabelVisible(QStringLiteral("MissedFB0"), true);
    setLabelVisible(QStringLiteral("MissedFB1"), true);

    setItemVisible(QStringLiteral("lineGoal"), false);
    setLabelVisible(QStringLiteral("lblGoal"), false);
    m_picture->setVisible(true);

    // Drawn over whatever the picture already shows: at load, FillTank has just drawn
    // the heap for the nearest whole amount, and this adds the rounded-down one.
    const double amount = m_state.tank.AmountInTank;
    if (amount >= 0)
        DrawBlocks(toCount(std::floor(amount / m_unitScale)));
    else
        ClearBlocks();

    for (int i = 0; i < m_state.setup.numMarks && i < kMaxMarks; ++i) {
        setLabelVisible(indexed("lblMarkY", i), false);
        setItemVisible(indexed("markY", i), false);
    }
}

void TankDrawing::DrawBlocks(qint16 Count)
{
    // In design pixels (15 twips each): the heap starts at the bottom-left corner of the
    // picture, a row takes blocks while they fit inside the picture's width, and each
    // new row lies directly on the one below.
    const double width = m_pictureTwips.width() / kDesignTwipsPerPixel;
    const double blockWidth = m_state.setup.RWIDTH;
    const double blockHeight = m_state.setup.RHEIGHT;
    const double step = nearest(blockWidth + kBlockGapTwips / kDesignTwipsPerPixel);
    const double rowStep = nearest(blockHeight);

    double x = 0;
    double rowBottom = 0;
    bool rowEmpty = true;
    for (int n = 1; n <= Count; ++n) {
        if (!rowEmpty && x + blockWidth > width) {
            rowBottom += rowStep;
            x = 0;
            rowEmpty = true;
        }
        m_picture->blocks.append(QRectF(x, rowBottom, blockWidth, blockHeight));
        rowEmpty = false;
        x += step;
    }
    m_picture->update();
}

void TankDrawing::ClearBlocks()
{
    m_picture->blocks.clear();
    m_picture->update();
}

// ---- what the trial screen shows --------------------------------------------------------

void TankDrawing::layOut(const PeriodPicture& picture)
{
    const SessionState& s = m_state;
    label(QStringLiteral("lblUnits"))->setText(s.setup.YUnits);
    PlaceYMarks(s.setup.numMarks, s.MarkLabels);
    FillTank(kTankNumber, s.tank.AmountInTank);
    if (s.setup.graphicalMode) {
        ShowContinuousLayout();
        PlaceGoalLine(s.tank.GoalAmount / UnitsPerMark());
        m_picture->hide();
    } else {
        ShowDiscreteLayout();
    }
    for (const char* tag : {"lblUsrInCon", "lblEnvInCon", "lblUsrOutCon", "lblEnvOutCon"})
        label(QString::fromLatin1(tag))->setVisible(s.setup.graphicalMode);
    showPicture(picture);
}

void TankDrawing::showStage(Stage stage, const PeriodPicture& picture)
{
    switch (stage) {
    case Stage::Submitted:
    case Stage::Stopped:
    case Stage::PeriodOpened:
    case Stage::ClockTicked:
        return;
    default:
        break;
    }
    showPicture(picture);
    if (stage == Stage::EnvironmentActs || stage == Stage::OrdersDelivered)
        FillTank(kTankNumber, m_state.tank.AmountInTank);
}

void TankDrawing::showPicture(const PeriodPicture& picture)
{
    for (int region = UserInflowRegion; region <= EnvOutflowRegion; ++region)
        PipeWater(qint16(region), picture.streams[size_t(region)]);
    showFlow("lblUserInput", "lblUsrInCon", "USER: ", true, picture.userIn);
    showFlow("lblEnvInput", "lblEnvInCon", "ENV: ", true, picture.envIn);
    showFlow("lblUserOutput", "lblUsrOutCon", "USER: ", false, picture.userOut);
    showFlow("lblEnvOutput", "lblEnvOutCon", "ENV: ", false, picture.envOut);
}

void TankDrawing::showFlow(const char* pipe, const char* tag, const char* who, bool inflow,
                           const FlowPicture& flow)
{
    const QColor lit = inflow ? kRed : kGreen;
    // Two cells along the pipe: the flow lights the first as it enters, the second as
    // it arrives.
    for (int i = 0; i < 2; ++i) {
        QLabel* cell = label(QString::fromLatin1(pipe) + QString::number(i));
        const bool here = (i == 0 && flow.at == PipeAt::Entering) || (i == 1 && flow.at == PipeAt::Arrived);
        cell->setText(here ? QString::fromLatin1(who) + config::pointNumber(flow.quantity) : QString());
        setBackColor(cell, here ? lit : kBlack);
    }
    QLabel* flowTag = label(QString::fromLatin1(tag));
    setBackColor(flowTag, flow.tagged ? lit : kBlack);
    flowTag->setText(flow.tagged ? shown000(flow.quantity) : QString());
}

} // namespace aquilevel::task
