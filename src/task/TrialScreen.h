#pragma once

#include "recording/EventLog.h"
#include "task/TankModel.h"
#include "task/TankView.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace aquilevel {
class Session;
}

namespace aquilevel::task {

class TankDrawing;
class EntryFilter;

// The participant's window for the whole task (frmCistern): the tank, the values of the
// period, the two order boxes and Submit. Its six timers carry each period from step to
// step: Timer1 the submit stage, Timer2 the environment's clock in time-driven play, and
// the four pipe stages. The participant cannot close it: Ctrl+X and any close request go
// to the experimenter's password gate.
class TrialScreen final : public QDialog, private TankView {
    Q_OBJECT
public:
    explicit TrialScreen(Session& session, QWidget* parent = nullptr);
    ~TrialScreen() override;

    // Prepares every display from the session state; called once, before showing.
    void load();

    TankDrawing& drawing() { return *m_drawing; }
    TankModel& model() { return m_model; }

    // True once the session has ended inside a handler without ending the process
    // (only where the process end is replaced: tests, a scripted participant).
    bool isOver() const { return m_over; }

    // The window's size at which its texts have the program's base font.
    static QSize designSize() { return {1100, 760}; }

    // Opens the screen to fill the available screen (maximised, or full-screen when the
    // lab asks for it); the drawing and every text scale with it.
    void showFilling(bool fullScreen);

signals:
    void sessionOver();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;

private:
    // TankView: what the model shows.
    void PipeWater(qint16 region, bool visible) override;
    void FillTank(qint16 num, double amount) override;
    void tagFlow(FlowTag tag, double quantity) override;
    void blankFlowTag(FlowTag tag) override;
    void SetUserInputCell(qint16 index, const QString& text) override;
    void SetEnvInputCell(qint16 index, const QString& text) override;
    void SetUserOutputCell(qint16 index, const QString& text) override;
    void SetEnvOutputCell(qint16 index, const QString& text) override;
    void BlankCell(qint16 pipe, qint16 index) override;
    void LightInflowCell(qint16 side, qint16 index) override;
    void LightOutflowCell(qint16 side, qint16 index) override;
    void setStatus(const QString& text) override;
    void startStageTimer(StageTimer timer, qint32 intervalMs) override;
    void setSubmitEnabled(bool enabled) override;
    void showMoney(double currentBonus, double totBonus, double currentCost,
                   double totCost) override;

    void buildControls();
    QLabel* addLabel(const char* name, const QString& text = QString());
    QTimer* addTimer(const char* name, void (TrialScreen::*tick)());
    QLabel* cell(const char* pipe, qint16 index) const;
    QLabel* flowTag(FlowTag tag) const;

    // Handlers.
    void submitClicked();
    void exitKey();
    void onTimer1();
    void onTimer2();
    void onEnvDelay();
    void onEnvMv();
    void onUserDelay();
    void onUserMv();

    // Runs a handler: deferred while the store is in the middle of an access (its lock
    // back-off lets window events through), and stopped cleanly when the session ends.
    void guarded(void (TrialScreen::*handler)());
    void stopEverything();
    // The experimenter's gate; a granted exit ends the session here.
    void openGate();
    // The session ended inside a handler: stop, as the program would have.
    void endHere();
    // The window was destroyed from outside (the window system): with nothing left to
    // play in, the program ends, every step so far stored.
    void windowLost();

    bool entriesAreNumbers();
    void setEntriesEnabled(bool enabled);
    // The keyboard goes back to the inflow box, its text selected: the next order is
    // typed straight away, without a click.
    void focusInflow();
    // Sizes the texts outside the drawing in proportion to the window, as the drawing
    // sizes its own.
    void scaleText();
    void refreshEnvironmentValues();
    void refreshUserValues();
    void refreshTankValues();
    QTime timeOfDay() const;

    Session& m_session;
    recording::EventLog m_log;
    TankModel m_model;
    TankDrawing* m_drawing = nullptr;
    EntryFilter* m_filter = nullptr;
    QLineEdit* m_inflow = nullptr;
    QLineEdit* m_outflow = nullptr;
    QPushButton* m_submit = nullptr;
    QTimer* m_timer1 = nullptr;
    QTimer* m_timer2 = nullptr;
    QTimer* m_envDelay = nullptr;
    QTimer* m_envMv = nullptr;
    QTimer* m_userDelay = nullptr;
    QTimer* m_userMv = nullptr;
    bool m_over = false;
    bool m_gateOpen = false;
    QWidget* m_counter = nullptr;
    QFont m_baseFont;
    double m_textScale = 0;
    std::unique_ptr<class WindowLossWatch> m_lossWatch;
    // A Submit press waiting for the submit stage: the period it was pressed in and
    // which order boxes were empty then.
    struct Press {
        qint32 trial = 0;
        bool inflowEmpty = false;
        bool outflowEmpty = false;
    };
    std::optional<Press> m_press;
};

} // namespace aquilevel::task
