#pragma once

#include "task/PeriodView.h"

#include <QColor>
#include <QLineF>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;

namespace aquilevel {
struct SessionState;
}

namespace aquilevel::task {

class BlockPicture;

// One shape or line that the drawing paints itself, with its geometry in twips.
struct DrawingItem {
    enum Kind {
        Outline, // rectangle border, borderPixels wide, drawn inside the rectangle
        Filled,  // filled rectangle without a border line
        Line,    // straight line, borderPixels wide
    };

    QString name; // control name with its index appended: "TankFill0", "markY9", "Water03"
    Kind kind = Filled;
    QRectF rect;  // Outline and Filled: left, top, width, height
    QLineF line;  // Line: its two endpoints
    QColor color;
    int borderPixels = 1; // at the design size; scaled with the window like everything else
    bool visible = true;
};

// The tank picture of the trial screen: the tank outline with its water, the scale, the
// goal line, the four pipes with their water streams and captions, and the controls of
// the discrete display (the block picture, the pipe cells and their connectors).
//
// Every control keeps its geometry in twips, measured from the top-left corner of a
// logical canvas of kCanvasWidth x kCanvasHeight twips. The widget maps the canvas onto
// its current size keeping the aspect ratio (centred, whole-pixel offset), so the picture
// scales with the window while all vertical arithmetic (UnitScale, water heights, goal
// and mark positions) stays in twips and does not depend on the window size. At the
// design size one pixel is 15 twips.
//
// Labels are QLabel children named after their control ("lblMarkY0", "MissedFB1",
// "lblUserInput0", "lblGoal"); the block picture is the child "Picture1". Everything else
// is painted from a list of DrawingItem. The block picture lies above the painted fill
// and above the two MissedFB labels, so in discrete mode the participant sees the blocks
// and neither the blue fill nor the MissedFB captions, although FillTank keeps updating
// both.
class TankDrawing : public QWidget {
    Q_OBJECT

public:
    static constexpr double kCanvasWidth = 15360;
    static constexpr double kCanvasHeight = 7200;
    static constexpr double kDesignTwipsPerPixel = 15;
    // The left end of the goal line: just right of the scale labels (1920 + 495).
    static constexpr double kGoalLineLeft = 2460;

    // The drawing only reads the session state: PlaceYMarks its scale (UnitScale, the
    // amounts already held), FillTank the goal and the display mode, ShowDiscreteLayout
    // the amount, DrawBlocks the block size.
    explicit TankDrawing(SessionState& state, QWidget* parent = nullptr);
    ~TankDrawing() override;

    // 1024 x 480 pixels, one pixel per 15 twips.
    static QSize designSize();
    QSize sizeHint() const override;
    // Half the design size.
    QSize minimumSizeHint() const override;

    // Places the scale for the state's UnitScale (the amounts already in the held form)
    // and sets UnitsPerMark. Call it once per session, before any other drawing.
    void PlaceYMarks(qint16 NumberOfMarks, const QStringList& Labels);
    // Redraws the stock for a held amount in the current display mode.
    void FillTank(qint16 Num, double Amount);
    // Shows or hides water stream Region (0 user inflow, 1 user outflow, 2 environment
    // inflow, 3 environment outflow); continuous mode only.
    void PipeWater(qint16 Region, bool Visibility);
    // Puts the goal line Top twips above the tank's bottom edge.
    void PlaceGoalLine(double Top);
    void ShowContinuousLayout();
    void ShowDiscreteLayout();
    // Adds Count blocks to the heap in Picture1, starting again at its bottom-left.
    void DrawBlocks(qint16 Count);
    // Empties Picture1.
    void ClearBlocks();

    // What the trial screen draws, in one place, so that whatever else shows a session
    // (a replay of its rows) draws it the same way.
    // Lays the drawing out for the version as the task opens: the unit name and the
    // scale, the water at the state's amount, the goal line or the block picture, the
    // flow tags, and the picture. Once, with the amounts in the held form.
    void layOut(const PeriodPicture& picture);
    // A stage of a period: its picture, and the water where the stage moved it. Stages
    // that change nothing drawn are left alone.
    void showStage(Stage stage, const PeriodPicture& picture);
    // The water streams, the pipe cells and the flow tags of a picture.
    void showPicture(const PeriodPicture& picture);

    // Twips per scale interval, and setup units per scale interval.
    double UnitScale() const { return m_unitScale; }
    double UnitsPerMark() const { return m_unitsPerMark; }

    // A painted shape or line by name, or nullptr.
    const DrawingItem* item(const QString& name) const;
    // A label child by name ("lblUserInput1", "lblUsrInCon"), or nullptr.
    QLabel* label(const QString& name) const;
    // The block picture Picture1.
    QWidget* picture() const;

    // Pixels per twip at the current size, and the mapping of twips to pixels in this
    // widget's coordinates (rectangle edges are rounded to whole pixels one by one).
    double pixelsPerTwip() const { return m_scale; }
    QPointF toPixels(QPointF twips) const;
    QRect toPixels(const QRectF& twips) const;

    // Background colour of a label (the pipe cells and flow tags change it as flows act).
    static void setBackColor(QLabel* label, const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct PlacedLabel {
        QLabel* label;
        QRectF twips;
        int designFontPixels;
    };

    DrawingItem* findItem(const QString& name);
    PlacedLabel* findLabel(const QString& name);
    void addItem(const QString& name, DrawingItem::Kind kind, const QRectF& rect, const QColor& color,
                 bool visible, int borderPixels = 1);
    void addLine(const QString& name, const QLineF& line, const QColor& color, bool visible);
    QLabel* addLabel(const QString& name, const QRectF& twips, const QString& caption, bool visible,
                     int designFontPixels = 11);
    void setItemVisible(const QString& name, bool visible);
    void setLabelVisible(const QString& name, bool visible);
    void setLabelTop(const QString& name, double top);
    void placeChildren();
    void showFlow(const char* pipe, const char* tag, const char* who, bool inflow, const FlowPicture& flow);
    int pxX(double twips) const;
    int pxY(double twips) const;
    double tankBottom() const;

    SessionState& m_state;
    QList<DrawingItem> m_items;
    QList<PlacedLabel> m_labels;
    BlockPicture* m_picture = nullptr;
    QRectF m_pictureTwips;
    double m_unitScale = 0;
    double m_unitsPerMark = 0;
    double m_scale = 1.0 / kDesignTwipsPerPixel; // pixels per twip
    double m_originX = 0;
    double m_originY = 0;
};

} // namespace aquilevel::task
