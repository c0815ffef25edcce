#include "materials/Questionnaire.h"
#include "session/EndGame.h"
#include "store/DataLocation.h"
#include "support/FakeEngine.h"
#include "support/OpenWindow.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <functional>
#include <memory>
#include <stdexcept>

using namespace aquilevel;
using aquilevel::test::ProcessEnded;
using aquilevel::test::TempDatabase;
using aquilevel::test::TestSession;

namespace {

const QString kVersion = QStringLiteral("Pilot A");
const QString kTitle = QStringLiteral("Questionnaire");
const QString kNoRating = QStringLiteral("Please give rating in Question 1");
const QString kNoAnswer2 = QStringLiteral("Please answer Question 2");
const QString kNoAnswer3 = QStringLiteral("Please answer Question 3");

// One database for the whole program. Every test answers for a subject of its own, so
// no test sees another's rows.
TempDatabase& database()
{
    static TempDatabase db;
    return db;
}

QString nextSubject()
{
    static int count = 0;
    return QStringLiteral("q%1").arg(++count, 3, 10, QLatin1Char('0'));
}

struct StoredRow {
    int number = 0;
    QString answer;
    QString subject;
    QString version;
};

// The datQuestionnaire rows of one subject in the order they were appended, read from
// the file on a connection of the test's own.
QList<StoredRow> storedRows(const QString& subject)
{
    QList<StoredRow> result;
    for (const QVariantMap& row :
         database().rows(QStringLiteral("SELECT \"QuestionNumber\", \"QuestionAnswer\", \"Subject\", \"Version\" "
                                        "FROM \"datQuestionnaire\" WHERE \"Subject\" = $1 ORDER BY rowid"),
                         {subject}))
        result.append({row.value(QStringLiteral("QuestionNumber")).toInt(),
                       row.value(QStringLiteral("QuestionAnswer")).toString(),
                       row.value(QStringLiteral("Subject")).toString(),
                       row.value(QStringLiteral("Version")).toString()});
    return result;
}

QList<int> numbersOf(const QList<StoredRow>& rows)
{
    QList<int> numbers;
    for (const StoredRow& row : rows)
        numbers.append(row.number);
    return numbers;
}

// An engine on the shared file whose answer rows a test can make fail: the n-th
// append to datQuestionnaire (counted from 1 over the engine's life) throws instead.
std::unique_ptr<test::FakeEngine> flakyEngine()
{
    auto engine = std::make_unique<test::FakeEngine>(database().engine());
    engine->countedTable = QStringLiteral("datQuestionnaire");
    return engine;
}

struct Controls {
    QLabel* label1 = nullptr;
    QLabel* label2 = nullptr;
    QLabel* label4 = nullptr;
    QComboBox* rating = nullptr;
    QLabel* label3 = nullptr;
    QPlainTextEdit* reasons = nullptr;
    QLabel* label6 = nullptr;
    QLabel* label5 = nullptr;
    QPlainTextEdit* answer2 = nullptr;
    QLabel* label7 = nullptr;
    QLabel* label8 = nullptr;
    QPlainTextEdit* answer3 = nullptr;
    QPushButton* submit = nullptr;

    bool complete() const
    {
        return label1 && label2 && label4 && rating && label3 && reasons && label6 && label5 &&
               answer2 && label7 && label8 && answer3 && submit;
    }
    QList<QWidget*> topToBottom() const
    {
        return {label1, label2, label4,  rating, label3, reasons, label6,
                label5, answer2, label7, label8, answer3, submit};
    }
};

Controls controlsOf(QWidget& window)
{
    Controls c;
    c.label1 = window.findChild<QLabel*>(QStringLiteral("Label1"));
    c.label2 = window.findChild<QLabel*>(QStringLiteral("Label2"));
    c.label4 = window.findChild<QLabel*>(QStringLiteral("Label4"));
    c.rating = window.findChild<QComboBox*>(QStringLiteral("Combo1"));
    c.label3 = window.findChild<QLabel*>(QStringLiteral("Label3"));
    c.reasons = window.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    c.label6 = window.findChild<QLabel*>(QStringLiteral("Label6"));
    c.label5 = window.findChild<QLabel*>(QStringLiteral("Label5"));
    c.answer2 = window.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
    c.label7 = window.findChild<QLabel*>(QStringLiteral("Label7"));
    c.label8 = window.findChild<QLabel*>(QStringLiteral("Label8"));
    c.answer3 = window.findChild<QPlainTextEdit*>(QStringLiteral("Text3"));
    c.submit = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    return c;
}

// The questionnaire while run() holds it open.
Questionnaire* openWindow()
{
    return test::openWindow<Questionnaire>();
}

// Types into a box as a participant would; "\n" is the Enter key.
void typeInto(QPlainTextEdit* box, const QString& text)
{
    box->setFocus();
    for (const QChar ch : text) {
        if (ch == QLatin1Char('\n'))
            QTest::keyClick(box, Qt::Key_Return);
        else
            QTest::keyClicks(box, QString(ch));
    }
}

// Replaces the rating box's text by typing, to the box as the window system does; an
// empty text is typed as one Backspace.
void typeRating(const Controls& c, const QString& text)
{
    c.rating->setFocus();
    c.rating->lineEdit()->selectAll();
    if (text.isEmpty())
        QTest::keyClick(c.rating, Qt::Key_Backspace);
    else
        QTest::keyClicks(c.rating, text);
}

// Picks an entry of the list with the keyboard.
void pickRating(const Controls& c, int index)
{
    c.rating->setFocus();
    while (c.rating->currentIndex() < index)
        QTest::keyClick(c.rating, Qt::Key_Down);
}

// Everything Submit needs.
void fillIn(const Controls& c)
{
    pickRating(c, 4);
    typeInto(c.reasons, QStringLiteral("it moved slowly"));
    typeInto(c.answer2, QStringLiteral("watched the inflow\nand waited"));
    typeInto(c.answer3, QStringLiteral("no"));
}

struct Typed {
    QString rating;
    QString reasons;
    QString answer2;
    QString answer3;
};

Typed typedIn(const Controls& c)
{
    return {c.rating->currentText(), c.reasons->toPlainText(), c.answer2->toPlainText(),
            c.answer3->toPlainText()};
}

bool operator==(const Typed& a, const Typed& b)
{
    return a.rating == b.rating && a.reasons == b.reasons && a.answer2 == b.answer2 &&
           a.answer3 == b.answer3;
}

} // namespace

class TestQuestionnaire : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layout();
    void questionText_data();
    void questionText();
    void ratingMovesTheFocus_data();
    void ratingMovesTheFocus();
    void checksInOrder_data();
    void checksInOrder();
    void submitStoresThreeRows_data();
    void submitStoresThreeRows();
    void closeBoxEscapeAndEnterDoNotLeave();
    void runShowsItModallyUntilStored();
    void failedAppendKeepsAnswersAndRetryStoresTheRest_data();
    void failedAppendKeepsAnswersAndRetryStoresTheRest();
    void endGameThroughAFailingStore_data();
    void endGameThroughAFailingStore();
    void secondSubmitWhileStoringIsIgnored();

private:
    void showWindow(Questionnaire& window);
    void prepare(Session& session);

    QString m_subject;
    std::unique_ptr<TestSession> m_ts;
};

void TestQuestionnaire::init()
{
    m_subject = nextSubject();
    m_ts = std::make_unique<TestSession>(database().engine());
    prepare(m_ts->session);
}

void TestQuestionnaire::cleanup()
{
    m_ts.reset();
}

void TestQuestionnaire::prepare(Session& session)
{
    SessionState& s = session.state;
    s.Subject = m_subject;
    s.Version = kVersion;
    s.setup.GoalLinePoisition = 600;
    s.setup.LowerBoundFromGoal = 10;
    s.setup.UpperBoundFromGoal = 10;
    s.tank.UnitScale = 358.5;
    s.tank.GoalAmount = 600 * 358.5;
}

void TestQuestionnaire::showWindow(Questionnaire& window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
}

void TestQuestionnaire::layout()
{
    Questionnaire window(m_ts->session);
    QCOMPARE(window.objectName(), QStringLiteral("Tasks1"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Aquilevel Questionnaire"));

    const Controls c = controlsOf(window);
    QVERIFY(c.complete());
    QCOMPARE(c.label1->text(), QStringLiteral("Question 1"));
    QCOMPARE(c.label2->text(),
             QStringLiteral("How difficult was the present task of keeping the water level in "
                            "the tank between 590 Gallons and 610 Gallons? (Please rate on a 1 "
                            "to 10 scale with 10 as most difficult and 1 as least difficult and "
                            "provide any extra information on reasons for your rating)"));
    QCOMPARE(c.label4->text(), QStringLiteral("Difficulty Rating"));
    QCOMPARE(c.label3->text(), QStringLiteral("Resons for your rating (Write in space below):"));
    QCOMPARE(c.label6->text(), QStringLiteral("Question 2"));
    QCOMPARE(c.label5->text(),
             QStringLiteral("What strategy did you follow to keep the water level in the tank "
                            "as close to the goal as possible? (Try to answer the question even "
                            "if your strategy did not work for you in the experiment). "));
    QCOMPARE(c.label7->text(), QStringLiteral("Question 3"));
    QCOMPARE(c.label8->text(),
             QStringLiteral("Did you change your strategy at any stage in the experiment? If "
                            "you did so, can you specify what your changes to strategy were "
                            "during the course of the experiment?"));

    QVERIFY(c.rating->isEditable());
    QCOMPARE(c.rating->currentText(), QStringLiteral("Select"));
    QStringList items;
    for (int i = 0; i < c.rating->count(); ++i)
        items.append(c.rating->itemText(i));
    QCOMPARE(items, QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));

    for (QPlainTextEdit* box : {c.reasons, c.answer2, c.answer3}) {
        QVERIFY(box->toPlainText().isEmpty());
        QVERIFY(!box->isReadOnly());
        QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(box->tabChangesFocus());
    }
    QCOMPARE(c.submit->text(), QStringLiteral("Submit"));
    QVERIFY(!c.submit->isDefault());
    QVERIFY(!c.submit->autoDefault());
    for (QLabel* l : {c.label1, c.label2, c.label4, c.label3, c.label6, c.label5, c.label7, c.label8})
        QCOMPARE(l->focusPolicy(), Qt::NoFocus);
    QVERIFY(!window.isStored(0) && !window.isStored(1) && !window.isStored(2));
    QVERIFY(!window.isComplete());

    showWindow(window);
    QCOMPARE(QApplication::focusWidget(), c.rating);

    // Top to bottom, the rating box to the right of its label, the answer boxes across
    // the window and Submit near the middle.
    const QList<QWidget*> order = c.topToBottom();
    for (int i = 1; i < order.size(); ++i) {
        if (order.at(i) == c.rating)
            continue;
        const QWidget* above = order.at(i - 1) == c.rating ? c.label4 : order.at(i - 1);
        QVERIFY2(above->geometry().bottom() < order.at(i)->geometry().top(),
                 qPrintable(order.at(i)->objectName()));
    }
    QVERIFY(c.label4->geometry().right() < c.rating->geometry().left());
    QVERIFY(c.rating->geometry().right() < window.width() / 2);
    for (QPlainTextEdit* box : {c.reasons, c.answer2, c.answer3})
        QVERIFY(box->width() > window.width() * 3 / 4);
    const int submitMiddle = c.submit->geometry().center().x();
    QVERIFY(qAbs(submitMiddle - window.width() / 2) < window.width() / 10);

    // Tab order, round from the rating box; labels take no focus.
    const QList<QWidget*> expected = {c.rating, c.reasons, c.answer2, c.answer3, c.submit};
    QList<QWidget*> tabbed;
    for (int i = 0; i < expected.size(); ++i) {
        QWidget* focus = QApplication::focusWidget();
        tabbed.append(focus);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(tabbed, expected);
    QCOMPARE(QApplication::focusWidget(), c.rating);
}

void TestQuestionnaire::questionText_data()
{
    QTest::addColumn<double>("goal");
    QTest::addColumn<double>("unitScale");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<QString>("yUnits");
    QTest::addColumn<QString>("band");

    QTest::newRow("600 held scaled, bounds 10")
        << 600.0 << 358.5 << 10.0 << 10.0 << "Gallons" << "between 590 Gallons and 610 Gallons?";
    QTest::newRow("bounds differ")
        << 30.0 << 1.0 << 2.5 << 7.0 << "Gallons" << "between 27.5 Gallons and 37 Gallons?";
    QTest::newRow("the unit word is always Gallons")
        << 40.0 << 12.25 << 0.1 << 0.2 << "Liters" << "between 39.9 Gallons and 40.2 Gallons?";
    QTest::newRow("a band below zero")
        << 5.0 << 7.0 << 10.0 << 0.0 << "" << "between -5 Gallons and 5 Gallons?";
}

void TestQuestionnaire::questionText()
{
    QFETCH(double, goal);
    QFETCH(double, unitScale);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(QString, yUnits);
    QFETCH(QString, band);

    SessionState& s = m_ts->session.state;
    s.setup.GoalLinePoisition = goal;
    s.setup.LowerBoundFromGoal = lower;
    s.setup.UpperBoundFromGoal = upper;
    s.setup.YUnits = yUnits;
    s.tank.UnitScale = unitScale;
    s.tank.GoalAmount = goal * unitScale;

    const QString text = Questionnaire::questionText(s);
    QVERIFY2(text.contains(QStringLiteral("keeping the water level in the tank ") + band +
                           QStringLiteral(" (Please rate")),
             qPrintable(text));
    Questionnaire window(m_ts->session);
    QCOMPARE(controlsOf(window).label2->text(), text);
}

void TestQuestionnaire::ratingMovesTheFocus_data()
{
    // How the rating box is changed, the text it then holds, and whether the focus has
    // gone on to the reasons box.
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("moved");

    QTest::newRow("a rating that cannot go on") << "type 8" << "8" << true;
    QTest::newRow("10 typed") << "type 10" << "10" << true;
    QTest::newRow("1, which may become 10") << "type 1" << "1" << false;
    QTest::newRow("1, then a key that cannot continue it") << "type 1x" << "1" << true;
    QTest::newRow("deleted") << "type " << "Select" << false;
    QTest::newRow("typed word") << "type S" << "Select" << false;
    QTest::newRow("typed into the middle of Select") << "middle 7" << "7" << true;
    QTest::newRow("picked with the arrow key") << "pick 0" << "1" << true;
    QTest::newRow("picked from the open list") << "popup 6" << "7" << true;
}

void TestQuestionnaire::ratingMovesTheFocus()
{
    QFETCH(QString, how);
    QFETCH(QString, text);
    QFETCH(bool, moved);

    Questionnaire window(m_ts->session);
    showWindow(window);
    const Controls c = controlsOf(window);
    QCOMPARE(QApplication::focusWidget(), c.rating);

    if (how.startsWith(QStringLiteral("type "))) {
        typeRating(c, how.mid(5));
    } else if (how.startsWith(QStringLiteral("pick "))) {
        pickRating(c, how.mid(5).toInt());
    } else if (how.startsWith(QStringLiteral("popup "))) {
        c.rating->showPopup();
        QAbstractItemView* view = c.rating->view();
        QTRY_VERIFY(view->isVisible());
        const QRect item = view->visualRect(c.rating->model()->index(how.mid(6).toInt(), 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
        QTRY_VERIFY(!view->isVisible());
    } else if (how.startsWith(QStringLiteral("middle "))) {
        c.rating->lineEdit()->setCursorPosition(3);
        QTest::keyClicks(c.rating->lineEdit(), how.mid(7)); // to the line itself
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown way ") + how));
    }

    QCOMPARE(c.rating->currentText(), text);
    QTRY_COMPARE(QApplication::focusWidget(), moved ? static_cast<QWidget*>(c.reasons)
                                                    : static_cast<QWidget*>(c.rating));
    // A key that could not go on into the rating is the first of the reasons.
    QCOMPARE(c.reasons->toPlainText(), how == QStringLiteral("type 1x") ? QStringLiteral("x") : QString());
    QCOMPARE(m_ts->prompter.prompts().size(), 0);
}

void TestQuestionnaire::checksInOrder_data()
{
    QTest::addColumn<bool>("rated");
    QTest::addColumn<QString>("answer2");
    QTest::addColumn<QString>("answer3");
    QTest::addColumn<QString>("message");

    QTest::newRow("everything missing") << false << "" << "" << kNoRating;
    QTest::newRow("only the rating missing") << false << "a plan" << "no" << kNoRating;
    QTest::newRow("both answers missing") << true << "" << "" << kNoAnswer2;
    QTest::newRow("answer 2 missing") << true << "" << "no" << kNoAnswer2;
    QTest::newRow("answer 3 missing") << true << "a plan" << "" << kNoAnswer3;
}

void TestQuestionnaire::checksInOrder()
{
    QFETCH(bool, rated);
    QFETCH(QString, answer2);
    QFETCH(QString, answer3);
    QFETCH(QString, message);

    Questionnaire window(m_ts->session);
    showWindow(window);
    const Controls c = controlsOf(window);
    if (rated)
        pickRating(c, 2);
    typeInto(c.reasons, QStringLiteral("hard"));
    typeInto(c.answer2, answer2);
    typeInto(c.answer3, answer3);
    const Typed before = typedIn(c);

    c.submit->click();
    const auto& prompts = m_ts->prompter.prompts();
    QCOMPARE(prompts.size(), 1);
    QCOMPARE(prompts.first().title, kTitle);
    QCOMPARE(prompts.first().text, message);
    QCOMPARE(prompts.first().icon, Prompter::Icon::None);
    QCOMPARE(prompts.first().buttons, Prompter::Buttons::Ok);
    QVERIFY(window.isVisible());
    QVERIFY(typedIn(c) == before);
    QVERIFY(!window.isStored(0));
    QVERIFY(storedRows(m_subject).isEmpty());

    // The same Submit again gives the same message: nothing was stored on the way.
    c.submit->click();
    QCOMPARE(prompts.size(), 2);
    QCOMPARE(prompts.last().text, message);
    QVERIFY(storedRows(m_subject).isEmpty());
}

void TestQuestionnaire::submitStoresThreeRows_data()
{
    // rating: "pick <index>" or "type <text>"; "\n" in a text is the Enter key.
    QTest::addColumn<QString>("rating");
    QTest::addColumn<QString>("reasons");
    QTest::addColumn<QString>("answer2");
    QTest::addColumn<QString>("answer3");
    QTest::addColumn<QString>("stored1");

    QTest::newRow("7 picked, no reasons")
        << "pick 6" << "" << "kept it near the line" << "no" << "7, ";
    QTest::newRow("10 picked with reasons")
        << "pick 9" << "the delay confused me" << "ordered early" << "yes" << "10, the delay confused me";
    // Typed by keyboard, 10 is 10 (never 1 with a 0 in the reasons).
    QTest::newRow("10 typed") << "type 10" << "x" << "s" << "t" << "10, x";
    QTest::newRow("blanks count as answers")
        << "pick 0" << " " << " " << "  " << "1,  ";
    QTest::newRow("line breaks and outer blanks kept")
        << "pick 2" << "first\nsecond\n" << "  step one\nstep two  " << "\n\nlate change" << "3, first\nsecond\n";
}

void TestQuestionnaire::submitStoresThreeRows()
{
    QFETCH(QString, rating);
    QFETCH(QString, reasons);
    QFETCH(QString, answer2);
    QFETCH(QString, answer3);
    QFETCH(QString, stored1);

    Questionnaire window(m_ts->session);
    showWindow(window);
    const Controls c = controlsOf(window);
    if (rating.startsWith(QStringLiteral("pick ")))
        pickRating(c, rating.mid(5).toInt());
    else
        typeRating(c, rating.mid(5));
    typeInto(c.reasons, reasons);
    typeInto(c.answer2, answer2);
    typeInto(c.answer3, answer3);

    c.submit->click();
    QCOMPARE(m_ts->prompter.prompts().size(), 0);
    QVERIFY(window.isComplete());
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), int(QDialog::Accepted));

    const QList<StoredRow> rows = storedRows(m_subject);
    QCOMPARE(numbersOf(rows), QList<int>({1, 2, 3}));
    QCOMPARE(rows.at(0).answer, stored1);
    QCOMPARE(rows.at(1).answer, answer2);
    QCOMPARE(rows.at(2).answer, answer3);
    for (const StoredRow& row : rows) {
        QCOMPARE(row.subject, m_subject);
        QCOMPARE(row.version, kVersion);
    }
}

void TestQuestionnaire::closeBoxEscapeAndEnterDoNotLeave()
{
    Questionnaire window(m_ts->session);
    showWindow(window);
    const Controls c = controlsOf(window);

    // Not even with nothing given.
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QTest::keyClick(c.rating->lineEdit(), Qt::Key_Escape);
    QVERIFY(window.isVisible());
    QTest::keyClick(c.rating->lineEdit(), Qt::Key_Return);
    QVERIFY(window.isVisible());
    QCOMPARE(c.rating->count(), 10);

    fillIn(c);
    const Typed before = typedIn(c);
    QVERIFY(!window.close());
    QTest::keyClick(c.answer3, Qt::Key_Escape);
    QVERIFY(window.isVisible());
    QVERIFY(typedIn(c) == before);

    // Enter in an answer box is a line break, not Submit.
    QTest::keyClick(c.answer3, Qt::Key_Return);
    QVERIFY(window.isVisible());
    QCOMPARE(c.answer3->toPlainText(), before.answer3 + QLatin1Char('\n'));
    QVERIFY(storedRows(m_subject).isEmpty());
    QCOMPARE(m_ts->prompter.prompts().size(), 0);

    // On Submit itself Enter presses it.
    c.submit->setFocus();
    QTest::keyClick(c.submit, Qt::Key_Return);
    QVERIFY(!window.isVisible());
    QCOMPARE(numbersOf(storedRows(m_subject)), QList<int>({1, 2, 3}));
}

void TestQuestionnaire::runShowsItModallyUntilStored()
{
    bool found = false;
    bool modal = false;
    bool openAfterClose = false;
    bool openAfterCheck = false;
    QTimer::singleShot(0, [&] {
        Questionnaire* window = openWindow();
        found = window != nullptr;
        if (!window)
            return;
        modal = window->isModal() && QApplication::activeModalWidget() == window;
        window->close();
        openAfterClose = window->isVisible();
        const Controls c = controlsOf(*window);
        c.submit->click(); // no rating yet
        openAfterCheck = window->isVisible();
        fillIn(c);
        c.submit->click();
        if (window->isVisible()) // never leave exec() hanging
            window->done(QDialog::Rejected);
    });
    Questionnaire::run(m_ts->session);
    QVERIFY(found);
    QVERIFY(modal);
    QVERIFY(openAfterClose);
    QVERIFY(openAfterCheck);
    QCOMPARE(m_ts->prompter.titles(), QStringList({kTitle}));
    const QList<StoredRow> rows = storedRows(m_subject);
    QCOMPARE(numbersOf(rows), QList<int>({1, 2, 3}));
    QCOMPARE(rows.at(0).answer, QStringLiteral("5, it moved slowly"));
    QCOMPARE(rows.at(1).answer, QStringLiteral("watched the inflow\nand waited"));
    QCOMPARE(m_ts->processEnd.calls, 0);
    QTRY_VERIFY(openWindow() == nullptr);
}

void TestQuestionnaire::failedAppendKeepsAnswersAndRetryStoresTheRest_data()
{
    QTest::addColumn<int>("failingRow");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("detail");

    QTest::newRow("store fault on row 2")
        << 2 << "store" << "Field QuestionAnswer cannot be written";
    QTest::newRow("store fault on row 1")
        << 1 << "store" << "Field QuestionAnswer cannot be written";
    QTest::newRow("other failure on row 3") << 3 << "other" << "disk went away";
    QTest::newRow("other failure on row 2 twice") << 2 << "twice" << "disk went away";
}

void TestQuestionnaire::failedAppendKeepsAnswersAndRetryStoresTheRest()
{
    QFETCH(int, failingRow);
    QFETCH(QString, kind);
    QFETCH(QString, detail);

    auto engine = flakyEngine();
    test::FakeEngine& flaky = *engine;
    const std::function<void()> thrower = kind == QStringLiteral("store")
        ? std::function<void()>([detail] { throw store::StoreError(detail); })
        : std::function<void()>([detail] { throw std::runtime_error(detail.toStdString()); });
    flaky.failWriteAt(failingRow, thrower);
    // Counted over all answer rows: the second attempt's first row is number
    // failingRow + 1.
    if (kind == QStringLiteral("twice"))
        flaky.failWriteAt(failingRow + 1, thrower);
    TestSession ts(std::move(engine));
    prepare(ts.session);

    Questionnaire window(ts.session);
    showWindow(window);
    const Controls c = controlsOf(window);
    fillIn(c);
    const Typed before = typedIn(c);

    const int attempts = kind == QStringLiteral("twice") ? 2 : 1;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        c.submit->click();
        const auto& prompts = ts.prompter.prompts();
        QCOMPARE(prompts.size(), attempt);
        QCOMPARE(prompts.last().title, kTitle);
        QCOMPARE(prompts.last().buttons, Prompter::Buttons::Ok);
        QVERIFY2(prompts.last().text.contains(detail), qPrintable(prompts.last().text));
        QVERIFY(prompts.last().text.contains(QStringLiteral("Submit again")));

        QVERIFY(window.isVisible());
        QVERIFY(typedIn(c) == before);
        QVERIFY(c.submit->isEnabled());
        // The three rows are stored together: a failed attempt keeps none of them, and
        // every answer can still be changed.
        QCOMPARE(numbersOf(storedRows(m_subject)), QList<int>());
        for (int index = 0; index < 3; ++index)
            QVERIFY(!window.isStored(index));
        QVERIFY(c.rating->isEnabled());
        QVERIFY(!c.reasons->isReadOnly() && !c.answer2->isReadOnly());
        QVERIFY(!c.answer3->isReadOnly());
    }

    c.submit->click();
    QCOMPARE(ts.prompter.prompts().size(), attempts);
    QVERIFY(window.isComplete());
    QVERIFY(!window.isVisible());
    const QList<StoredRow> rows = storedRows(m_subject);
    QCOMPARE(numbersOf(rows), QList<int>({1, 2, 3}));
    QCOMPARE(rows.at(0).answer, before.rating + QStringLiteral(", ") + before.reasons);
    QCOMPARE(rows.at(1).answer, before.answer2);
    QCOMPARE(rows.at(2).answer, before.answer3);
    // The failed attempts up to their failing row, then the three rows once.
    QCOMPARE(flaky.writes, failingRow + (attempts - 1) + 3);
    QCOMPARE(ts.processEnd.calls, 0);
}

void TestQuestionnaire::endGameThroughAFailingStore_data()
{
    QTest::addColumn<bool>("retry");
    QTest::newRow("retry declined") << false;
    QTest::newRow("retry accepted") << true;
}

void TestQuestionnaire::endGameThroughAFailingStore()
{
    QFETCH(bool, retry);

    // The second row's append fails in the engine; the store asks whether to retry.
    auto engine = flakyEngine();
    test::FakeEngine& flaky = *engine;
    flaky.failWriteAt(2, [] {
        throw store::EngineError(store::ErrorClass::Other, 3022, QStringLiteral("disk full"));
    });
    TestSession ts(std::move(engine));
    prepare(ts.session);
    ts.session.state.tank.TotBonus = 7.5;
    ts.session.setQuestionnaire([&ts] { Questionnaire::run(ts.session); });
    ts.prompter.queue(retry ? Prompter::Answer::Yes : Prompter::Answer::No);

    bool found = false;
    bool escapedTheClick = false;
    QTimer::singleShot(0, [&] {
        Questionnaire* window = openWindow();
        found = window != nullptr;
        if (!window)
            return;
        fillIn(controlsOf(*window));
        try {
            controlsOf(*window).submit->click();
        } catch (const ProcessEnded&) {
            // Must not get here: it would have unwound through the dialog's event loop.
            escapedTheClick = true;
        }
        if (window->isVisible())
            window->done(QDialog::Rejected);
    });
    QVERIFY_THROWS_EXCEPTION(ProcessEnded, EndGame(ts.session));
    QVERIFY(found);
    QVERIFY(!escapedTheClick);
    QCOMPARE(ts.processEnd.calls, 1);
    QCOMPARE(ts.prompter.unexpected(), 0);

    // The store's question, then the earnings message once.
    const auto& prompts = ts.prompter.prompts();
    QCOMPARE(ts.prompter.titles(),
             QStringList({QStringLiteral("Problems opening table"), kProgramTitle}));
    QVERIFY(prompts.first().text.contains(QStringLiteral("Recording Questionnaire")));
    QCOMPARE(prompts.last().text, earningsMessage(7.5));
    // Given up, the questionnaire keeps none of its rows rather than a part of them.
    QCOMPARE(numbersOf(storedRows(m_subject)), retry ? QList<int>({1, 2, 3}) : QList<int>());
    QTRY_VERIFY(openWindow() == nullptr);
}

void TestQuestionnaire::secondSubmitWhileStoringIsIgnored()
{
    auto engine = flakyEngine();
    test::FakeEngine& flaky = *engine;
    flaky.failWriteAt(1, [] {
        throw store::EngineError(store::ErrorClass::LockConflict, 3260, QStringLiteral("locked"));
    });
    test::ScriptedPrompter prompter;
    test::FixedClock clock;
    test::ThrowingProcessEnd processEnd;
    test::ProbePacer pacer;
    Session session({prompter, clock, processEnd, pacer}, std::move(engine));
    prepare(session);

    Questionnaire window(session);
    showWindow(window);
    const Controls c = controlsOf(window);
    fillIn(c);
    bool openWhileStoring = false;
    pacer.onEvents = [&] {
        openWhileStoring = window.isVisible();
        c.submit->click();
        window.close();
    };
    c.submit->click();
    QCOMPARE(pacer.backOffs, 1);
    QVERIFY(openWhileStoring);
    QVERIFY(!window.isVisible());
    QCOMPARE(numbersOf(storedRows(m_subject)), QList<int>({1, 2, 3}));
    QCOMPARE(prompter.prompts().size(), 0);
}

QTEST_MAIN(TestQuestionnaire)
#include "tst_questionnaire.moc"
