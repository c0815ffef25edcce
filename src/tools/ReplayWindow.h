#pragma once

#include "tools/ReplayFrames.h"
#include "tools/ToolCommand.h"

#include <QHash>

#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace aquilevel::store {
class Store;
}
namespace aquilevel::task {
class TankDrawing;
}

namespace aquilevel::tools {

// A stored session redrawn stage by stage with the trial screen's own tank drawing, the
// period's numbers beside it. It only reads: the rows once when opened, again on Reload.
class ReplayWindow final : public QWidget {
    Q_OBJECT
public:
    // `replay` as loadReplay read it from `store`, which must outlive the window.
    ReplayWindow(store::Store& store, ReplaySession replay, QWidget* parent = nullptr);
    ~ReplayWindow() override;

    const QList<ReplayFrame>& frames() const { return m_replay.frames; }
    int frameIndex() const { return m_shown; }
    // Shows a frame as the trial screen showed it: the drawing laid out afresh and taken
    // through the steps before it, as the participant's screen was.
    void showFrame(int index);
    task::TankDrawing& drawing() { return *m_drawing; }

    // Reads the rows again (a session still running has more) and stays at the row shown.
    void reload();
    void setPlaying(bool playing);
    bool isPlaying() const;
    // How long a frame stays while playing: at 1x the version's own pace for the frame's
    // stage (1 s where the participant took their own time), at least 0.2 s; 4x and 16x
    // are four and sixteen times as fast.
    int frameMs(int index) const;

private:
    void build();
    void newDrawing();
    void apply(const ReplayFrame& frame);
    void showNumbers(const ReplayFrame& frame);
    void step(int by);
    void stepPeriod(int by);
    void toPeriod(int period);
    void fitSlider();
    QString money(double value) const;

    store::Store& m_store;
    ReplaySession m_replay;
    SessionState m_state; // what the drawing reads
    task::TankDrawing* m_drawing = nullptr;
    QHBoxLayout* m_middle = nullptr;
    QSlider* m_period = nullptr;
    QLabel* m_periodText = nullptr;
    QPushButton* m_play = nullptr;
    QComboBox* m_speed = nullptr;
    QLabel* m_note = nullptr;
    QTimer* m_timer = nullptr;
    QHash<QString, QLabel*> m_values;
    int m_shown = -1;
};

// aquilevel replay --subject S --version V [--db FILE].
int runReplay(const QStringList& arguments, const ToolContext& context);

} // namespace aquilevel::tools
