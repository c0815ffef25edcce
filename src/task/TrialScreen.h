#pragma once

#include "recording/Recorder.h"
#include "task/PeriodCycle.h"

#include <QDialog>

#include <memory>

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
// period, the two order boxes and Submit. It shows what the period's cycle tells it and
// hands Submit to it. The participant cannot close it: Ctrl+X and any close request go
// to the experimenter's password gate.
class TrialScreen final : public QDialog, private PeriodView, private SessionEnds {
    Q_OBJECT
public:
    explicit TrialScreen(Session& session, QWidget* parent = nullptr);
    ~TrialScreen() override;

    // Prepares every display from the session state; called once, before showing.
    void load();

    TankDrawing& drawing() { return *m_drawing; }

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
    // PeriodView.
    Orders orders() const override;
    void showStage(Stage stage, const PeriodPicture& picture) override;
    // SessionEnds.
    void allPeriodsPlayed() override;
    void stepFailed(const QString& reason) override;
    void endedInStep() override;

    void buildControls();
    QLabel* addLabel(const char* name, const QString& text = QString());
    QLabel* label(const char* name) const;

    void exitKey();
    // The experimenter's gate; a granted exit ends the session here.
    void openGate();
    // The window was destroyed from outside (the window system): with nothing left to
    // play in, the program ends, every step so far stored.
    void windowLost();
    // Another station has taken the participant over: this one stops where it is and
    // tells the experimenter, who ends it through the gate.
    void holdLost(const QString& message);

    bool entriesAreNumbers();
    void setEntriesEnabled(bool enabled);
    // The keyboard goes back to the inflow box, its text selected: the next order is
    // typed straight away, without a click.
    void focusInflow();
    // Sizes the texts outside the drawing in proportion to the window, as the drawing
    // sizes its own.
    void scaleText();
    void showPeriodNumber();
    void showMoney();
    void showEnvironmentValues();
    void showUserValues();
    void showTankValues();

    Session& m_session;
    recording::StoreRecorder m_recorder;
    PeriodCycle m_cycle;
    TankDrawing* m_drawing = nullptr;
    EntryFilter* m_filter = nullptr;
    QLineEdit* m_inflow = nullptr;
    QLineEdit* m_outflow = nullptr;
    QPushButton* m_submit = nullptr;
    bool m_over = false;
    bool m_gateOpen = false;
    QWidget* m_counter = nullptr;
    QFont m_baseFont;
    double m_textScale = 0;
    std::unique_ptr<class WindowLossWatch> m_lossWatch;
};

} // namespace aquilevel::task
