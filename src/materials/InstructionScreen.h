#pragma once

#include "session/SessionDialog.h"

#include <QPixmap>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>

class QLabel;
class QPushButton;

namespace aquilevel {

class Session;

namespace config {
struct ExperimentSetup;
}

// The three texts of the instructions that carry the version's numbers. Whole-number
// settings are written in plain decimal, every other number in the general number form
// (4 - 0.1 -> "3.9", 0.07 * 100 -> "7").
// "This experiment explores ... over <MaxTrial> time periods."
QString instructionsOverviewText(const config::ExperimentSetup& setup);
// "During the experiment, you will face a screen ... fixed at <goal> <units>), ..."
QString instructionsGoalText(const config::ExperimentSetup& setup);
// "The experiment will last at most <minutes> minutes ... as high as <total>$!", in the
// version's currency symbol and word for cents.
QString instructionsCompensationText(const config::ExperimentSetup& setup);

// The trial screen as the participant will meet it, drawn from the session's state:
// a trial screen is built on a copy of the state, loaded and rendered offscreen at a
// fixed size. The session itself (its state, its store) is left untouched. A null
// pixmap when the screen could not be drawn.
QPixmap trialScreenPicture(Session& session);

// The instructions a new participant reads before the task (frmInstructions): page 1
// with the purpose, a picture of the trial screen and how a time period unfolds; page 2
// with the duration and the pay. A version with pages of its own (tblInstructions) shows
// those instead, one a page, with the title and the version. ">" and "<" move between the
// pages; Continue, shown from the first visit of the last page on, writes
// "Continue Clicked" and closes the screen.
// Ctrl+X on any of the three buttons asks whether to exit and, on Yes, ends the session
// at once (no password, no questionnaire, no earnings message). Escape and the close
// box do nothing: only Continue leaves.
class InstructionScreen final : public SessionDialog {
    Q_OBJECT
public:
    explicit InstructionScreen(Session& session, QWidget* parent = nullptr);

    // Shows a fresh screen modally and returns once the participant has pressed
    // Continue. Where the process end throws SessionOver instead of ending the process
    // (tests, a scripted participant), the screen leaves its event loop first and run()
    // throws it on to the caller.
    static void run(Session& session, QWidget* parent = nullptr);

    // 1 to pageCount() once loaded.
    int CurrentPage() const { return m_currentPage; }
    // 2 for the program's own pages, else the version's number of pages.
    int pageCount() const;
    // True once Continue has written its row.
    bool continued() const { return m_continued; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void cmdLeft_Click();
    void cmdRight_Click();
    void cmdContinue_Click();

private:
    void buildControls();
    void load();
    void ShowPage();
    void exitKey();

    QLabel* addLabel(const char* name, const QString& text = QString());

    Session& m_session;
    int m_currentPage = 0;
    bool m_continued = false;
    bool m_busy = false;

    QLabel* m_lblScr10 = nullptr;
    QLabel* m_lblScr11 = nullptr;
    QLabel* m_lblScr13 = nullptr;
    QLabel* m_image11 = nullptr;
    QLabel* m_lblScr15 = nullptr;
    QLabel* m_lblScr16 = nullptr;
    QLabel* m_lblScr46 = nullptr;
    QLabel* m_lblScr47 = nullptr;
    QLabel* m_lblScr48 = nullptr;
    QLabel* m_lblVersion = nullptr;
    QLabel* m_lblVersionNumber = nullptr;
    QLabel* m_lblPage = nullptr;
    QLabel* m_lblPageText = nullptr;
    QStringList m_ownPages; // the version's own pages, filled; empty for the program's
    QPushButton* m_cmdLeft = nullptr;
    QPushButton* m_cmdRight = nullptr;
    QPushButton* m_cmdContinue = nullptr;
};

} // namespace aquilevel
