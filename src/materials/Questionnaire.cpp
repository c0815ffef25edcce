#include "materials/Questionnaire.h"

#include "config/NumberFormat.h"
#include "materials/QuestionnaireAnswers.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Session.h"
#include "store/Store.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace aquilevel {

namespace {

// Translated when used: the language is chosen after start-up.
QString title()
{
    return Questionnaire::tr("Questionnaire");
}

// What the rating box holds before a rating is chosen.
QString selectPrompt()
{
    return Questionnaire::tr("Select");
}
constexpr int kQuestions = 3;

QLabel* label(const QString& name, const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setWordWrap(true);
    return l;
}

QPlainTextEdit* answerBox(const QString& name, QWidget* parent)
{
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(name);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab moves on to the next control; line breaks are typed with Enter.
    box->setTabChangesFocus(true);
    return box;
}

// What went wrong, for the person at the computer and the experimenter behind them.
QString failureDetail(const std::exception& failure)
{
    if (const auto* engine = dynamic_cast<const store::EngineError*>(&failure))
        return QStringLiteral("Error %1: %2").arg(engine->number()).arg(engine->description());
    if (const auto* misuse = dynamic_cast<const store::StoreError*>(&failure))
        return misuse->message();
    return QString::fromLocal8Bit(failure.what());
}

QString failureMessage(const QString& detail)
{
    return Questionnaire::tr("Your answers could not be saved.\r\n%1\r\nStatus was %2\r\nPlease press Submit "
                             "again. Everything you have typed is kept.")
        .arg(detail, kRecordingQuestionnaire);
}

} // namespace

Questionnaire::Questionnaire(Session& session, QWidget* parent)
    : SessionDialog(parent), m_session(session)
{
    setObjectName(QStringLiteral("Tasks1"));
    setWindowTitle(tr("Aquilevel Questionnaire"));
    setModal(true);

    m_label1 = label(QStringLiteral("Label1"), tr("Question 1"), this);
    m_label2 = label(QStringLiteral("Label2"), questionText(session.state), this);
    m_label4 = label(QStringLiteral("Label4"), tr("Difficulty Rating"), this);
    m_label4->setWordWrap(false);

    m_combo1 = new QComboBox(this);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_combo1->setEditable(true);
    m_combo1->setMinimumContentsLength(8); // "Select" and any rating stay readable
    // The list stays as it is (Enter does not add the typed text), and a typed rating is
    // kept as typed (no completion from the list).
    m_combo1->setInsertPolicy(QComboBox::NoInsert);
    m_combo1->setCompleter(nullptr);
    for (int rating = 1; rating <= 10; ++rating)
        m_combo1->addItem(QString::number(rating));
    m_combo1->setCurrentIndex(-1);
    m_combo1->setEditText(selectPrompt());
    m_label4->setBuddy(m_combo1);

    m_label3 = label(QStringLiteral("Label3"),
                     tr("Resons for your rating (Write in space below):"), this);
    m_text1 = answerBox(QStringLiteral("Text1"), this);

    m_label6 = label(QStringLiteral("Label6"), tr("Question 2"), this);
    m_label5 = label(QStringLiteral("Label5"),
                     tr("What strategy did you follow to keep the water level in "
                        "the tank as close to the goal as possible? (Try to answer "
                        "the question even if your strategy did not work for you in "
                        "the experiment). "),
                     this);
    m_text2 = answerBox(QStringLiteral("Text2"), this);

    m_label7 = label(QStringLiteral("Label7"), tr("Question 3"), this);
    m_label8 = label(QStringLiteral("Label8"),
                     tr("Did you change your strategy at any stage in the "
                        "experiment? If you did so, can you specify what your "
                        "changes to strategy were during the course of the "
                        "experiment?"),
                     this);
    m_text3 = answerBox(QStringLiteral("Text3"), this);

    m_command1 = addPlainButton(QStringLiteral("Command1"), tr("Submit"));

    auto* rating = new QHBoxLayout;
    rating->addWidget(m_label4);
    rating->addWidget(m_combo1);
    rating->addStretch(1);

    auto* submitRow = new QHBoxLayout;
    submitRow->addStretch(1);
    submitRow->addWidget(m_command1);
    submitRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label1);
    layout->addWidget(m_label2);
    layout->addLayout(rating);
    layout->addWidget(m_label3);
    layout->addWidget(m_text1, 1);
    layout->addSpacing(8);
    layout->addWidget(m_label6);
    layout->addWidget(m_label5);
    layout->addWidget(m_text2, 1);
    layout->addSpacing(8);
    layout->addWidget(m_label7);
    layout->addWidget(m_label8);
    layout->addWidget(m_text3, 1);
    layout->addLayout(submitRow);
    resize(640, 720);

    setTabOrder(m_combo1, m_text1);
    setTabOrder(m_text1, m_text2);
    setTabOrder(m_text2, m_text3);
    setTabOrder(m_text3, m_command1);
    m_combo1->setFocus();

    // Typing goes through ratingKey(): the box holds "Select" or a rating of the list.
    // Keys reach the box itself (its text line is only its focus proxy's) or the line.
    m_combo1->installEventFilter(this);
    m_combo1->lineEdit()->installEventFilter(this);
    connect(m_combo1, &QComboBox::activated, this, [this] { ratingChanged(); });
    connect(m_command1, &QPushButton::clicked, this, &Questionnaire::Command1_Click);
}

void Questionnaire::run(Session& session, QWidget* parent)
{
    Questionnaire window(session, parent);
    // Only a stored questionnaire (or the end of the session) leaves the loop: the close
    // box and Escape are ignored.
    window.execModal();
}

QString Questionnaire::questionText(const SessionState& state)
{
    const double goal = state.tank.GoalAmount / state.tank.UnitScale;
    return tr("How difficult was the present task of keeping the water level in the tank between %1 "
              "Gallons and %2 Gallons? (Please rate on a 1 to 10 scale with 10 as most difficult and 1 "
              "as least difficult and provide any extra information on reasons for your rating)")
        .arg(config::generalNumber(goal - state.setup.LowerBoundFromGoal),
             config::generalNumber(goal + state.setup.UpperBoundFromGoal));
}

QString Questionnaire::answerText(int index) const
{
    switch (index) {
    case 0:
        return m_combo1->currentText() + QStringLiteral(", ") + m_text1->toPlainText();
    case 1:
        return m_text2->toPlainText();
    case 2:
        return m_text3->toPlainText();
    default:
        return QString();
    }
}

void Questionnaire::recordAnswersForQuestions(int index)
{
    Q_ASSERT(index >= 0 && index < kQuestions);
    const SessionState& s = m_session.state;
    AddQuestionnaireAnswer(m_session.store(), s.Subject, s.Version, static_cast<qint16>(index + 1),
                           answerText(index));
    m_stored[index] = true;
}

bool Questionnaire::isStored(int index) const
{
    return index >= 0 && index < kQuestions && m_stored[index];
}

bool Questionnaire::isComplete() const
{
    return m_stored[0] && m_stored[1] && m_stored[2];
}

void Questionnaire::ratingChanged()
{
    if (m_combo1->currentText() != selectPrompt())
        m_text1->setFocus();
}

bool Questionnaire::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == m_combo1 || watched == m_combo1->lineEdit()) && event->type() == QEvent::KeyPress)
        return ratingKey(static_cast<QKeyEvent*>(event));
    return SessionDialog::eventFilter(watched, event);
}

bool Questionnaire::ratingKey(QKeyEvent* key)
{
    QLineEdit* edit = m_combo1->lineEdit();
    if (key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete) {
        m_combo1->setCurrentIndex(-1);
        m_combo1->setEditText(selectPrompt());
        edit->selectAll();
        return true;
    }
    // Paste, cut, undo and the like would bring in any text.
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return !key->matches(QKeySequence::SelectAll) && !key->matches(QKeySequence::Copy);
    const QString typed = key->text();
    if (typed.isEmpty() || !typed.at(0).isPrint())
        return false; // arrows, Tab, Enter: as usual
    // What is typed replaces "Select" or a whole rating; only a 1 can go on (to 10).
    const bool partial = m_combo1->currentText() == QStringLiteral("1");
    const int index = m_combo1->findText((partial ? QStringLiteral("1") : QString()) + typed);
    if (index >= 0) {
        m_combo1->setCurrentIndex(index);
        m_combo1->setEditText(m_combo1->itemText(index));
        if (m_combo1->itemText(index) != QStringLiteral("1"))
            m_text1->setFocus(); // a complete rating: on to the reasons
        return true;
    }
    if (partial) {
        // A key that cannot continue the 1: on to the reasons, where it is typed.
        m_text1->setFocus();
        QKeyEvent again(key->type(), key->key(), key->modifiers(), key->text(), key->isAutoRepeat(), key->count());
        QCoreApplication::sendEvent(m_text1, &again);
    }
    return true; // no rating: the box keeps what it holds
}

void Questionnaire::submit()
{
    // The store may process window events while it waits for a lock; a second Submit
    // then must not store the rows a second time.
    if (m_recording)
        return;

    Prompter& prompter = m_session.prompter();
    // Only the empty string counts as no answer; blanks are an answer.
    if (m_combo1->currentText() == selectPrompt()) {
        prompter.inform(title(), tr("Please give rating in Question 1"));
        return;
    }
    if (m_text2->toPlainText().isEmpty()) {
        prompter.inform(title(), tr("Please answer Question 2"));
        return;
    }
    if (m_text3->toPlainText().isEmpty()) {
        prompter.inform(title(), tr("Please answer Question 3"));
        return;
    }

    QString failure;
    {
        const QScopedValueRollback recording(m_recording, true);

        // The three rows are stored together: a crash between two of them would leave a
        // questionnaire that the next login can neither skip nor ask again cleanly.
        const auto before = m_stored;
        try {
            store::Store::Group rows(m_session.store());
            for (int index = 0; index < kQuestions; ++index)
                if (!m_stored[index])
                    recordAnswersForQuestions(index);
            rows.commit();
        } catch (const SessionOver&) {
            throw;
        } catch (const HoldLost& lost) {
            // The participant goes on at another station, which asks these questions
            // there: asking again here would only fail again.
            prompter.inform(title(), QString::fromStdString(lost.what()), Prompter::Icon::Exclamation);
            accept();
            return;
        } catch (const std::exception& error) {
            failure = failureDetail(error);
        } catch (...) {
            failure = tr("Unknown failure");
        }
        if (!failure.isNull()) // what was written in the failed attempt was dropped with it
            m_stored = before;
    }

    lockStoredAnswers();
    if (!failure.isNull()) {
        prompter.inform(title(), failureMessage(failure), Prompter::Icon::Exclamation);
        return;
    }
    accept();
}

void Questionnaire::lockStoredAnswers()
{
    if (m_stored[0]) {
        m_combo1->setEnabled(false);
        m_text1->setReadOnly(true);
    }
    if (m_stored[1])
        m_text2->setReadOnly(true);
    if (m_stored[2])
        m_text3->setReadOnly(true);
}


void Questionnaire::Command1_Click()
{
    guarded([this] { submit(); });
}

void Questionnaire::reject()
{
}

void Questionnaire::closeEvent(QCloseEvent* event)
{
    // The questionnaire is left only by storing it.
    event->ignore();
}

void Questionnaire::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // No default button: Enter presses Submit only when Submit has the focus.
        if (focusWidget() == m_command1 && m_command1->isEnabled())
            m_command1->click();
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace aquilevel
