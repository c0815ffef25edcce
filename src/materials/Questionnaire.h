#pragma once

#include "session/SessionDialog.h"

#include <QString>

#include <array>
#include <exception>
#include <functional>

class QCloseEvent;
class QComboBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace aquilevel {

class Session;
struct SessionState;

// The questionnaire at the end of a session: a difficulty rating with optional reasons,
// the strategy followed, and whether and how it changed. Submit checks that the rating
// and both strategy answers are given and stores one datQuestionnaire row per question.
//
// The window cannot be left without storing: the close box and Escape are ignored, and
// no button is a default button (Enter presses Submit only when Submit has the focus).
//
// A failure while a row is being stored does not lose the answers: it is reported, the
// window stays open with everything typed, and the next Submit stores only the rows not
// yet stored. An answer whose row is stored can no longer be changed, so that what the
// window shows is what was stored.
class Questionnaire final : public SessionDialog {
    Q_OBJECT
public:
    explicit Questionnaire(Session& session, QWidget* parent = nullptr);

    // Shows a fresh questionnaire modally until its three rows are stored. Where the
    // process end throws SessionOver instead of ending the process (a store access given
    // up in tests), the window leaves its event loop first and run() throws it on.
    static void run(Session& session, QWidget* parent = nullptr);

    // The text of question 1, with the goal band in units ("... between 590 Gallons and
    // 610 Gallons? ...").
    static QString questionText(const SessionState& state);

    // The answer stored for question index + 1 (index 0, 1 or 2), from the controls.
    QString answerText(int index) const;

    // Appends the row of question index + 1 (index 0, 1 or 2) to datQuestionnaire.
    void recordAnswersForQuestions(int index);

    // Whether the row of question index + 1 has been stored by this window.
    bool isStored(int index) const;
    // True once all three rows are stored.
    bool isComplete() const;

    // Escape and any other rejection do nothing.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void Command1_Click();

private:
    void ratingChanged();
    // A key typed into the rating box; true when it was dealt with there.
    bool ratingKey(QKeyEvent* key);
    void submit();
    void lockStoredAnswers();

    Session& m_session;

    QLabel* m_label1;
    QLabel* m_label2;
    QLabel* m_label4;
    QComboBox* m_combo1;
    QLabel* m_label3;
    QPlainTextEdit* m_text1;
    QLabel* m_label6;
    QLabel* m_label5;
    QPlainTextEdit* m_text2;
    QLabel* m_label7;
    QLabel* m_label8;
    QPlainTextEdit* m_text3;
    QPushButton* m_command1;

    std::array<bool, 3> m_stored{};
    bool m_recording = false;
};

} // namespace aquilevel
