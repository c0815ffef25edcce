#include "session/Language.h"
#include "session/RegistrationScreen.h"
#include "store/DataRows.h"
#include "support/FakeEngine.h"
#include "support/OpenWindow.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QtTest>

#include <functional>
#include <memory>

using namespace aquilevel;
using aquilevel::test::FakeEngine;
using aquilevel::test::ProcessEnded;
using aquilevel::test::TempDatabase;
using aquilevel::test::TestSession;

namespace {

const QString kVersion = QStringLiteral("Pilot A");

// One database for the whole program. Every test registers a subject of its own, so no
// test sees another's rows and nothing has to be deleted in between.
TempDatabase& database()
{
    static TempDatabase db;
    return db;
}

QString nextSubject()
{
    static int count = 0;
    return QStringLiteral("p%1").arg(++count, 3, 10, QLatin1Char('0'));
}

// The datSubject rows of one subject, with the storage type of Age as "AgeType". One
// connection of the test's own per call.
QList<QVariantMap> storedRows(const QString& subject)
{
    return database().rows(QStringLiteral("select *, typeof(Age) as AgeType from datSubject where Subject=$1"),
                           {subject});
}

struct Controls {
    QLabel* tagAge = nullptr;
    QLineEdit* age = nullptr;
    QGroupBox* gender = nullptr;
    QRadioButton* female = nullptr;
    QRadioButton* male = nullptr;
    QComboBox* major = nullptr;
    QPushButton* begin = nullptr;
    QPushButton* cancel = nullptr;

    bool complete() const
    {
        return tagAge && age && gender && female && male && major && begin && cancel;
    }
};

Controls controlsOf(QWidget& screen)
{
    Controls c;
    c.tagAge = screen.findChild<QLabel*>(QStringLiteral("tagAge"));
    c.age = screen.findChild<QLineEdit*>(QStringLiteral("txtAge"));
    c.gender = screen.findChild<QGroupBox*>(QStringLiteral("fraGender"));
    c.female = screen.findChild<QRadioButton*>(QStringLiteral("optFemale"));
    c.male = screen.findChild<QRadioButton*>(QStringLiteral("optMale"));
    c.major = screen.findChild<QComboBox*>(QStringLiteral("cboMajor"));
    c.begin = screen.findChild<QPushButton*>(QStringLiteral("btnBegin"));
    c.cancel = screen.findChild<QPushButton*>(QStringLiteral("btnCancel"));
    return c;
}

// The screen while ask() holds it open.
RegistrationScreen* openScreen()
{
    return test::openWindow<RegistrationScreen>();
}

// One key into a widget: "<bs>", "<del>", "<home>", "<end>", "<left>", "<right>" name
// keys; "^a" is Ctrl+A with the control character a keyboard sends for it (and so on for
// the other letters), "^5" is Ctrl+5 with the text "5"; anything else is the text of one
// key press.
void press(QWidget* target, const QString& token)
{
    if (token.size() == 2 && token.at(0) == QLatin1Char('^')) {
        const QChar c = token.at(1);
        const bool digit = c.isDigit();
        const auto key = digit ? Qt::Key(Qt::Key_0 + c.digitValue())
                               : Qt::Key(Qt::Key_A + (c.unicode() - 'a'));
        const QString text = digit ? QString(c) : QString(QChar(c.unicode() - 'a' + 1));
        QTest::sendKeyEvent(QTest::Press, target, key, text, Qt::ControlModifier);
        QTest::sendKeyEvent(QTest::Release, target, key, text, Qt::ControlModifier);
        return;
    }
    static const QHash<QString, Qt::Key> named = {
        {QStringLiteral("<bs>"), Qt::Key_Backspace}, {QStringLiteral("<del>"), Qt::Key_Delete},
        {QStringLiteral("<home>"), Qt::Key_Home},    {QStringLiteral("<end>"), Qt::Key_End},
        {QStringLiteral("<left>"), Qt::Key_Left},    {QStringLiteral("<right>"), Qt::Key_Right},
    };
    if (const auto it = named.find(token); it != named.end()) {
        QTest::keyClick(target, it.value());
    } else if (token.size() == 1 && token.at(0).unicode() < 128) {
        QTest::keyClick(target, token.at(0).toLatin1());
    } else {
        QTest::sendKeyEvent(QTest::Press, target, Qt::Key_unknown, token, Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, target, Qt::Key_unknown, token, Qt::NoModifier);
    }
}

void typeAge(const Controls& c, const QString& digits)
{
    for (const QChar ch : digits)
        press(c.age, QString(ch));
}

void clearAge(const Controls& c)
{
    QTest::keyClick(c.age, Qt::Key_End);
    while (!c.age->text().isEmpty())
        QTest::keyClick(c.age, Qt::Key_Backspace);
}

void typeMajor(const Controls& c, const QString& text)
{
    QLineEdit* edit = c.major->lineEdit();
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, text);
}

// Chooses an entry of the list with the keyboard, as a participant would.
void chooseMajor(const Controls& c, int index)
{
    while (c.major->currentIndex() < index)
        QTest::keyClick(c.major, Qt::Key_Down);
}

// Everything Begin needs.
void fillIn(const Controls& c)
{
    typeAge(c, QStringLiteral("21"));
    c.female->click();
    chooseMajor(c, 7);
}

} // namespace

class TestRegistration : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layout();
    void majorList();
    void ageKeys_data();
    void ageKeys();
    void ageRefusesPastedText_data();
    void ageRefusesPastedText();
    void beginEnabling_data();
    void beginEnabling();
    void enterInAgeBox_data();
    void enterInAgeBox();
    void enterElsewhereDoesNotBegin();
    void beginStoresTheRow_data();
    void beginStoresTheRow();
    void rowFieldsInOrder();
    void leavingStoresNothing_data();
    void leavingStoresNothing();
    void askReturnsCleared_data();
    void askReturnsCleared();
    void askCarriesTheSessionEndOut();
    void secondBeginWhileStoringIsIgnored();

private:
    void showScreen(RegistrationScreen& screen);

    int rowCount() const { return int(storedRows(m_subject).size()); }

    QString m_subject;
    std::unique_ptr<TestSession> m_ts;
};

void TestRegistration::init()
{
    m_subject = nextSubject();
    m_ts = std::make_unique<TestSession>(database().engine());
    m_ts->session.state.Subject = m_subject;
    m_ts->session.state.Version = kVersion;
}

void TestRegistration::cleanup()
{
    m_ts.reset();
}

void TestRegistration::showScreen(RegistrationScreen& screen)
{
    screen.show();
    QVERIFY(QTest::qWaitForWindowActive(&screen));
}

void TestRegistration::layout()
{
    m_ts->session.state.Subject = QStringLiteral("Ann Lee");
    RegistrationScreen screen(m_ts->session, kVersion);
    QCOMPARE(screen.objectName(), QStringLiteral("frmSubjectInfo"));
    QCOMPARE(screen.windowTitle(), QStringLiteral("Subject Info: Ann Lee"));
    const auto* version = screen.findChild<QLabel*>(QStringLiteral("lblVersionName"));
    QVERIFY(version);
    QCOMPARE(version->text(), m_ts->session.state.Version);
    QVERIFY(!version->text().isEmpty());

    const Controls c = controlsOf(screen);
    QVERIFY(c.complete());
    QCOMPARE(c.tagAge->text(), QStringLiteral("Age:"));
    QCOMPARE(c.tagAge->buddy(), c.age);
    QVERIFY(c.age->text().isEmpty());
    QCOMPARE(c.gender->title(), QStringLiteral("Gender"));
    QCOMPARE(c.female->text(), QStringLiteral("Female"));
    QCOMPARE(c.male->text(), QStringLiteral("Male"));
    QCOMPARE(c.female->parentWidget(), c.gender);
    QCOMPARE(c.male->parentWidget(), c.gender);
    QVERIFY(!c.female->isChecked());
    QVERIFY(!c.male->isChecked());
    QVERIFY(c.major->isEditable());
    QCOMPARE(c.major->currentText(), QStringLiteral("Major"));
    QCOMPARE(c.begin->text(), QStringLiteral("Begin"));
    QCOMPARE(c.cancel->text(), QStringLiteral("Cancel"));
    QVERIFY(!c.begin->isEnabled());
    QVERIFY(c.cancel->isEnabled());
    for (QPushButton* button : {c.begin, c.cancel}) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
    QVERIFY(!screen.ageGiven());
    QVERIFY(!screen.genderGiven());
    QVERIFY(!screen.majorGiven());
    QVERIFY(!screen.Cleared());

    showScreen(screen);
    QCOMPARE(QApplication::focusWidget(), c.age);
    QVERIFY(c.tagAge->geometry().right() <= c.age->geometry().left());
    QVERIFY(c.age->geometry().bottom() < c.gender->geometry().top());
    QVERIFY(c.gender->geometry().bottom() < c.major->geometry().top());
    QVERIFY(c.major->geometry().bottom() < c.begin->geometry().top());
    QVERIFY(c.begin->geometry().right() < c.cancel->geometry().left());

    // Tab order, round from the age box.
    const QList<QWidget*> expected = {c.age, c.female, c.male, c.major, c.begin, c.cancel};
    QList<QWidget*> order;
    QWidget* w = c.age;
    do {
        order.append(w);
        w = w->nextInFocusChain();
        while (w != c.age && !(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
    } while (w != c.age && order.size() < 12);
    // The combo box's own line edit follows it in the chain.
    order.removeAll(c.major->lineEdit());
    QCOMPARE(order, expected);

    // Tab is not one of the refused keys of the age box.
    QTest::keyClick(c.age, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), c.female);
}

void TestRegistration::majorList()
{
    const QStringList expected = {
        "Architecture", "Art", "Biological Sciences", "Business", "Chemical Engineering",
        "Chemistry", "Civil & Environmental Engineering", "Computer Science", "Design", "Drama",
        "Economics", "Electrical & Computer Engineering", "Engineering & Public Policy",
        "English", "History", "Information Systems", "Materials Science & Engineering",
        "Mathematical Sciences", "Mechanical Engineering", "Music", "Modern Languages",
        "Philosophy", "Physics", "Psychology", "Cognitive Science", "Statistics", "Other"};
    QCOMPARE(expected.size(), 27);

    RegistrationScreen screen(m_ts->session, kVersion);
    QComboBox* major = controlsOf(screen).major;
    QVERIFY(major);
    QStringList shown;
    for (int i = 0; i < major->count(); ++i)
        shown.append(major->itemText(i));
    QCOMPARE(shown, expected);
    QCOMPARE(RegistrationScreen::majors(), expected);
    QCOMPARE(shown.last(), QStringLiteral("Other"));
}

void TestRegistration::ageKeys_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("expected");

    const auto keys = [](const char* spaced) {
        return QString::fromUtf8(spaced).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    QTest::newRow("0 into an empty box") << keys("0") << "";
    QTest::newRow("several zeros") << keys("0 0 0") << "";
    QTest::newRow("2 then 0") << keys("2 0") << "20";
    QTest::newRow("zero first, then digits") << keys("0 3 0") << "30";
    QTest::newRow("three digits") << keys("1 0 5") << "105";
    QTest::newRow("no more than three digits") << keys("1 2 3 4") << "123";
    QTest::newRow("lower-case letter") << keys("a") << "";
    QTest::newRow("upper-case letter") << keys("E") << "";
    QTest::newRow("letters between digits") << keys("2 x 5 e") << "25";
    QTest::newRow("minus sign") << keys("- 5") << "5";
    QTest::newRow("plus sign") << keys("+ 5") << "5";
    QTest::newRow("decimal point") << keys("2 . 5") << "25";
    QTest::newRow("decimal comma") << keys("2 , 5") << "25";
    QTest::newRow("blank") << QStringList{" ", "3", " "} << "3";
    QTest::newRow("digit of another script") << keys("٣ ۵") << "";
    QTest::newRow("full-width digit") << keys("７") << "";
    QTest::newRow("backspace") << keys("2 5 <bs>") << "2";
    QTest::newRow("backspace to empty, then 0") << keys("4 <bs> 0") << "";
    QTest::newRow("arrows move the cursor") << keys("2 5 <left> 1") << "215";
    QTest::newRow("home and delete") << keys("2 5 <home> <del>") << "5";
    QTest::newRow("digit in front") << keys("5 <home> 2") << "25";
    QTest::newRow("Ctrl+A does not select") << keys("2 5 ^a 3") << "253";
    QTest::newRow("Ctrl+Z does not undo") << keys("2 5 <bs> ^z") << "2";
    QTest::newRow("Ctrl+digit is no digit") << keys("2 0 <left> <bs> ^5") << "0";
    QTest::newRow("lone 0 left by backspace is replaced") << keys("2 0 <left> <bs> 7") << "7";
    QTest::newRow("lone 0 left by delete is replaced") << keys("3 0 <home> <del> <end> 4") << "4";
}

void TestRegistration::ageKeys()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, expected);

    RegistrationScreen screen(m_ts->session, kVersion);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    for (const QString& key : keys)
        press(c.age, key);
    QCOMPARE(c.age->text(), expected);
    QCOMPARE(screen.ageGiven(), !expected.isEmpty());
}

void TestRegistration::ageRefusesPastedText_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Ctrl+V") << "ctrl+v";
    QTest::newRow("Shift+Insert") << "shift+insert";
    QTest::newRow("composed input") << "input method";
}

void TestRegistration::ageRefusesPastedText()
{
    QFETCH(QString, way);

    // Digits are the worst case: typed one by one they would all be taken.
    QApplication::clipboard()->setText(QStringLiteral("42"));
    const auto bringIn = [&way](QLineEdit* box) {
        box->setFocus();
        if (way == QStringLiteral("ctrl+v")) {
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        } else if (way == QStringLiteral("shift+insert")) {
            QTest::keyClick(box, Qt::Key_Insert, Qt::ShiftModifier);
        } else {
            QInputMethodEvent event;
            event.setCommitString(QStringLiteral("42"));
            QApplication::sendEvent(box, &event);
        }
    };

    // The same way into an ordinary box does bring the text in here.
    QLineEdit ordinary;
    ordinary.show();
    QVERIFY(QTest::qWaitForWindowActive(&ordinary));
    bringIn(&ordinary);
    QCOMPARE(ordinary.text(), QStringLiteral("42"));
    ordinary.hide();

    RegistrationScreen screen(m_ts->session, kVersion);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    bringIn(c.age);
    QVERIFY(c.age->text().isEmpty());
    typeAge(c, QStringLiteral("3"));
    bringIn(c.age);
    QCOMPARE(c.age->text(), QStringLiteral("3"));

    // No menu with Paste and no drops either.
    QCOMPARE(c.age->contextMenuPolicy(), Qt::NoContextMenu);
    QVERIFY(!c.age->acceptDrops());
}

void TestRegistration::beginEnabling_data()
{
    // Steps: "age:<digits>", "clear age", "female", "male", "major:<text>", "clear major",
    // "choose <index>". Enabled: one 'y' or 'n' per step, Begin's state after it.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("enabled");

    QTest::newRow("age, gender, typed major")
        << QStringList{"age:25", "female", "major:Philosophy"} << "nny";
    QTest::newRow("chosen major first")
        << QStringList{"choose 3", "male", "age:40"} << "nny";
    QTest::newRow("gender last") << QStringList{"major:Law", "age:19", "male"} << "nny";
    QTest::newRow("the initial Major alone does not count")
        << QStringList{"age:25", "female", "male"} << "nnn";
    QTest::newRow("Major typed again counts")
        << QStringList{"age:25", "female", "major:Major"} << "nny";
    QTest::newRow("blanks are no major")
        << QStringList{"age:25", "female", "major:   ", "major: Art "} << "nnny";
    QTest::newRow("a swallowed 0 is no age")
        << QStringList{"age:0", "female", "choose 0", "age:7"} << "nnny";
    QTest::newRow("clearing the age disables Begin again")
        << QStringList{"age:25", "female", "choose 5", "clear age", "age:31"} << "nnyny";
    QTest::newRow("clearing the major disables Begin again")
        << QStringList{"age:25", "male", "major:Art", "clear major", "choose 1"} << "nnyny";
    QTest::newRow("changing the gender keeps it given")
        << QStringList{"age:25", "female", "choose 2", "male", "female"} << "nnyyy";
}

void TestRegistration::beginEnabling()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, enabled);
    QCOMPARE(enabled.size(), steps.size());

    RegistrationScreen screen(m_ts->session, kVersion);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    QVERIFY(!c.begin->isEnabled());

    for (int i = 0; i < steps.size(); ++i) {
        const QString& step = steps.at(i);
        if (step.startsWith(QStringLiteral("age:")))
            typeAge(c, step.mid(4));
        else if (step == QStringLiteral("clear age"))
            clearAge(c);
        else if (step == QStringLiteral("female"))
            c.female->click();
        else if (step == QStringLiteral("male"))
            c.male->click();
        else if (step.startsWith(QStringLiteral("major:")))
            typeMajor(c, step.mid(6));
        else if (step == QStringLiteral("clear major"))
            typeMajor(c, QString());
        else if (step.startsWith(QStringLiteral("choose ")))
            chooseMajor(c, step.mid(7).toInt());
        else
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));

        const bool expected = enabled.at(i) == QLatin1Char('y');
        QVERIFY2(c.begin->isEnabled() == expected, qPrintable(QString::number(i) + u' ' + step));
        QCOMPARE(screen.ageGiven() && screen.genderGiven() && screen.majorGiven(), expected);
    }
    QVERIFY(!screen.Cleared());
    QCOMPARE(rowCount(), 0);
}

void TestRegistration::enterInAgeBox_data()
{
    QTest::addColumn<bool>("complete");
    QTest::addColumn<Qt::Key>("key");

    QTest::newRow("Begin disabled, Return") << false << Qt::Key_Return;
    QTest::newRow("Begin disabled, Enter") << false << Qt::Key_Enter;
    QTest::newRow("Begin enabled, Return") << true << Qt::Key_Return;
    QTest::newRow("Begin enabled, Enter") << true << Qt::Key_Enter;
}

void TestRegistration::enterInAgeBox()
{
    QFETCH(bool, complete);
    QFETCH(Qt::Key, key);

    RegistrationScreen screen(m_ts->session, kVersion);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    typeAge(c, QStringLiteral("33"));
    if (complete) {
        c.male->click();
        chooseMajor(c, 4);
    } else {
        c.male->click(); // no major: Begin stays disabled
    }
    QCOMPARE(c.begin->isEnabled(), complete);

    QTest::keyClick(c.age, key);
    QCOMPARE(c.age->text(), QStringLiteral("33"));
    QCOMPARE(screen.Cleared(), complete);
    QCOMPARE(screen.isVisible(), !complete);
    const QList<QVariantMap> rows = storedRows(m_subject);
    QCOMPARE(rows.size(), complete ? 1 : 0);
    if (complete) {
        QCOMPARE(screen.result(), int(QDialog::Accepted));
        QCOMPARE(rows.first().value(QStringLiteral("Age")).toDouble(), 33.0);
    }
}

void TestRegistration::enterElsewhereDoesNotBegin()
{
    RegistrationScreen screen(m_ts->session, kVersion);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    typeAge(c, QStringLiteral("22"));
    c.female->click();
    typeMajor(c, QStringLiteral("Law"));
    QVERIFY(c.begin->isEnabled());

    // Neither the major box (which must not add the typed text to its list) nor the
    // gender options press Begin.
    for (QWidget* target : QList<QWidget*>{c.major->lineEdit(), c.female, c.male}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QVERIFY2(screen.isVisible(), qPrintable(target->objectName()));
    }
    QCOMPARE(c.major->count(), 27);
    QCOMPARE(c.major->currentText(), QStringLiteral("Law"));
    QCOMPARE(rowCount(), 0);

    // On Begin itself Enter presses it.
    c.begin->setFocus();
    QTest::keyClick(c.begin, Qt::Key_Return);
    QVERIFY(screen.Cleared());
    QVERIFY(!screen.isVisible());
    const QList<QVariantMap> rows = storedRows(m_subject);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().value(QStringLiteral("Major")).toString(), QStringLiteral("Law"));
}

void TestRegistration::beginStoresTheRow_data()
{
    QTest::addColumn<bool>("graphicalMode");
    QTest::addColumn<QString>("versionBox");
    QTest::addColumn<QString>("ageKeys");
    QTest::addColumn<QString>("gender");
    QTest::addColumn<QString>("major"); // typed text, or "#<index>" to choose an entry
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<double>("age");
    QTest::addColumn<QString>("storedMajor");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("language"); // of the screen; the row is stored alike

    QTest::newRow("continuous display")
        << true << kVersion << "21" << "Female" << "#23"
        << QDateTime(QDate(2026, 3, 4), QTime(10, 0, 5)) << "continuous" << 21.0
        << "Psychology" << "10:00:05" << "en";
    QTest::newRow("discrete display")
        << false << kVersion << "0 1 0 2" << "Male" << "Undecided"
        << QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58)) << "discrete" << 102.0
        << "Undecided" << "23:59:58" << "en";
    QTest::newRow("morning, site department, version box differs")
        << false << "pilot a" << "7" << "Male" << "#24"
        << QDateTime(QDate(2024, 2, 29), QTime(9, 5, 7)) << "discrete" << 7.0
        << "Cognitive Science" << "09:05:07" << "en";
    QTest::newRow("start of a listed major kept as typed")
        << true << kVersion << "30" << "Male" << "Phys"
        << QDateTime(QDate(2026, 6, 1), QTime(12, 30, 0)) << "continuous" << 30.0
        << "Phys" << "12:30:00" << "en";
    QTest::newRow("major with surrounding blanks kept as typed")
        << true << kVersion << "65" << "Female" << "  History of Art "
        << QDateTime(QDate(2026, 1, 2), QTime(0, 0, 0)) << "continuous" << 65.0
        << "  History of Art " << "00:00:00" << "en";
    QTest::newRow("German list entry stored in English")
        << true << kVersion << "21" << "Female" << "#23"
        << QDateTime(QDate(2026, 3, 4), QTime(10, 0, 5)) << "continuous" << 21.0
        << "Psychology" << "10:00:05" << "de";
    QTest::newRow("German entry typed out stored in English")
        << false << kVersion << "44" << "Male" << "Informatik"
        << QDateTime(QDate(2026, 3, 4), QTime(10, 0, 5)) << "discrete" << 44.0
        << "Computer Science" << "10:00:05" << "de";
}

void TestRegistration::beginStoresTheRow()
{
    QFETCH(bool, graphicalMode);
    QFETCH(QString, versionBox);
    QFETCH(QString, ageKeys);
    QFETCH(QString, gender);
    QFETCH(QString, major);
    QFETCH(QDateTime, now);
    QFETCH(QString, condition);
    QFETCH(double, age);
    QFETCH(QString, storedMajor);
    QFETCH(QString, time);
    QFETCH(QString, language);
    QVERIFY(useLanguage(language));
    const auto english = qScopeGuard([] { useLanguage(QString()); });

    SessionState& state = m_ts->session.state;
    state.setup.graphicalMode = graphicalMode;
    state.Condition = graphicalMode ? QStringLiteral("discrete") : QStringLiteral("continuous");
    m_ts->clock.time = now;

    RegistrationScreen screen(m_ts->session, versionBox);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    typeAge(c, QString(ageKeys).remove(QLatin1Char(' ')));
    (gender == QStringLiteral("Male") ? c.male : c.female)->click();
    if (major.startsWith(QLatin1Char('#')))
        chooseMajor(c, major.mid(1).toInt());
    else
        typeMajor(c, major);
    QVERIFY(c.begin->isEnabled());
    if (language == QLatin1String("de"))
        QVERIFY2(c.major->currentText() != storedMajor, qPrintable(c.major->currentText())); // shown in German

    c.begin->click();
    QVERIFY(screen.Cleared());
    QVERIFY(!screen.isVisible());
    QCOMPARE(screen.result(), int(QDialog::Accepted));
    QCOMPARE(state.Condition, condition);

    const QList<QVariantMap> rows = storedRows(m_subject);
    QCOMPARE(rows.size(), 1);
    const QVariantMap& row = rows.first();
    QCOMPARE(row.value(QStringLiteral("Subject")).toString(), m_subject);
    QCOMPARE(row.value(QStringLiteral("Version")).toString(), versionBox);
    QCOMPARE(row.value(QStringLiteral("Condition")).toString(), condition);
    QCOMPARE(row.value(QStringLiteral("Major")).toString(), storedMajor);
    QCOMPARE(row.value(QStringLiteral("Gender")).toString(), gender);
    QCOMPARE(row.value(QStringLiteral("AgeType")).toString(), QStringLiteral("real"));
    QCOMPARE(row.value(QStringLiteral("Age")).toDouble(), age);
    QCOMPARE(row.value(QStringLiteral("Date")).toDate(), now.date());
    QCOMPARE(row.value(QStringLiteral("Time")).toString(), time);
    QCOMPARE(m_ts->prompter.prompts().size(), 0);
}

void TestRegistration::rowFieldsInOrder()
{
    auto engine = std::make_unique<FakeEngine>(database().engine());
    FakeEngine& fake = *engine;
    TestSession ts(std::move(engine));
    ts.session.state.Subject = m_subject;
    ts.session.state.setup.graphicalMode = true;

    RegistrationScreen screen(ts.session, kVersion);
    showScreen(screen);
    fillIn(controlsOf(screen));
    controlsOf(screen).begin->click();

    QVERIFY(fake.log.contains(QStringLiteral("open rw")));
    QVERIFY(fake.log.contains(QStringLiteral("insert datSubject")));
    QCOMPARE(fake.count(QStringLiteral("insert datSubject")), 1);
    // The registration's columns, in the order the analyses know them.
    QCOMPARE(store::SubjectRow::columns(), (QStringList{"Subject", "Version", "Condition", "Major",
                                                        "Gender", "Age", "Date", "Time"}));
    const QList<QVariantMap> rows = storedRows(m_subject);
    QCOMPARE(rows.size(), 1);
    const QVariantMap& row = rows.first();
    QCOMPARE(row.value(QStringLiteral("Subject")), QVariant(m_subject));
    QCOMPARE(row.value(QStringLiteral("Version")), QVariant(kVersion));
    QCOMPARE(row.value(QStringLiteral("Condition")), QVariant(QStringLiteral("continuous")));
    QCOMPARE(row.value(QStringLiteral("Major")), QVariant(QStringLiteral("Computer Science")));
    QCOMPARE(row.value(QStringLiteral("Gender")), QVariant(QStringLiteral("Female")));
    QCOMPARE(row.value(QStringLiteral("AgeType")).toString(), QStringLiteral("real"));
    QCOMPARE(row.value(QStringLiteral("Age")).toDouble(), 21.0);
    QCOMPARE(row.value(QStringLiteral("Date")).toDate(), QDate(2026, 3, 4));
    QCOMPARE(row.value(QStringLiteral("Time")).toString(), QStringLiteral("10:00:05"));
}

void TestRegistration::leavingStoresNothing_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Cancel") << "cancel";
    QTest::newRow("Enter on Cancel") << "enter on cancel";
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape in the age box") << "escape age";
    QTest::newRow("Escape in the major box") << "escape major";
}

void TestRegistration::leavingStoresNothing()
{
    QFETCH(QString, way);

    SessionState& state = m_ts->session.state;
    state.setup.graphicalMode = true;
    RegistrationScreen screen(m_ts->session, kVersion);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    fillIn(c);
    QVERIFY(c.begin->isEnabled());

    if (way == QStringLiteral("cancel")) {
        c.cancel->click();
    } else if (way == QStringLiteral("enter on cancel")) {
        c.cancel->setFocus();
        QTest::keyClick(c.cancel, Qt::Key_Return);
    } else if (way == QStringLiteral("close")) {
        screen.close();
    } else if (way == QStringLiteral("escape age")) {
        QTest::keyClick(c.age, Qt::Key_Escape);
    } else {
        c.major->lineEdit()->setFocus();
        QTest::keyClick(c.major->lineEdit(), Qt::Key_Escape);
    }

    QVERIFY(!screen.isVisible());
    QCOMPARE(screen.result(), int(QDialog::Rejected));
    QVERIFY(!screen.Cleared());
    QVERIFY(state.Condition.isEmpty());
    QCOMPARE(rowCount(), 0);
}

void TestRegistration::askReturnsCleared_data()
{
    QTest::addColumn<bool>("begin");
    QTest::newRow("Begin") << true;
    QTest::newRow("Cancel") << false;
}

void TestRegistration::askReturnsCleared()
{
    QFETCH(bool, begin);

    bool found = false;
    bool modal = false;
    bool active = false;
    QTimer::singleShot(0, [&] {
        RegistrationScreen* screen = openScreen();
        found = screen != nullptr;
        if (!screen)
            return;
        modal = screen->isModal();
        active = QTest::qWaitForWindowActive(screen);
        const Controls c = controlsOf(*screen);
        fillIn(c);
        (begin ? c.begin : c.cancel)->click();
        if (screen->isVisible()) // never leave exec() hanging
            screen->done(QDialog::Rejected);
    });
    QCOMPARE(RegistrationScreen::ask(m_ts->session, kVersion, nullptr), begin);
    QVERIFY(found);
    QVERIFY(modal);
    QVERIFY(active);
    QCOMPARE(rowCount(), begin ? 1 : 0);
    QTRY_VERIFY(openScreen() == nullptr);
}

void TestRegistration::askCarriesTheSessionEndOut()
{
    auto engine = std::make_unique<FakeEngine>(database().engine());
    FakeEngine& fake = *engine;
    fake.failWrite(store::ErrorClass::Other, 3022);
    TestSession ts(std::move(engine));
    ts.session.state.Subject = m_subject;
    ts.prompter.queueNo(); // do not retry

    bool found = false;
    bool escapedTheClick = false;
    QTimer::singleShot(0, [&] {
        RegistrationScreen* screen = openScreen();
        found = screen != nullptr;
        if (!screen)
            return;
        const Controls c = controlsOf(*screen);
        fillIn(c);
        try {
            c.begin->click();
        } catch (const ProcessEnded&) {
            // Must not get here: it would have unwound through the dialog's event loop.
            escapedTheClick = true;
        }
        if (screen->isVisible())
            screen->done(QDialog::Rejected);
    });
    QVERIFY_THROWS_EXCEPTION(ProcessEnded, RegistrationScreen::ask(ts.session, kVersion, nullptr));
    QVERIFY(found);
    QVERIFY(!escapedTheClick);
    QCOMPARE(ts.processEnd.calls, 1);
    QVERIFY(storedRows(m_subject).isEmpty());
    QCOMPARE(ts.prompter.unexpected(), 0);
    QVERIFY(ts.prompter.prompts().size() >= 1);
    QVERIFY(ts.prompter.prompts().first().text.contains(QStringLiteral("Recording demographics")));
    QTRY_VERIFY(openScreen() == nullptr);
}

void TestRegistration::secondBeginWhileStoringIsIgnored()
{
    auto engine = std::make_unique<FakeEngine>(database().engine());
    FakeEngine& fake = *engine;
    fake.failWrite(store::ErrorClass::LockConflict, 3260);
    test::ScriptedPrompter prompter;
    test::FixedClock clock;
    test::ThrowingProcessEnd processEnd;
    test::ProbePacer pacer;
    Session session({prompter, clock, processEnd, pacer}, std::move(engine));
    session.state.Subject = m_subject;

    RegistrationScreen screen(session, kVersion);
    showScreen(screen);
    const Controls c = controlsOf(screen);
    fillIn(c);
    bool openWhileStoring = false;
    pacer.onEvents = [&] {
        // Everything a participant can do while the row waits for the lock.
        c.begin->click();
        QTest::keyClick(c.age, Qt::Key_Return);
        c.cancel->click();
        screen.close();
        QTest::keyClick(c.age, Qt::Key_Escape);
        openWhileStoring = screen.isVisible();
    };
    c.begin->click();

    QCOMPARE(pacer.backOffs, 1);
    QVERIFY(openWhileStoring);
    QCOMPARE(storedRows(m_subject).size(), 1);
    QVERIFY(screen.Cleared());
    QVERIFY(!screen.isVisible());
    QCOMPARE(screen.result(), int(QDialog::Accepted));
    QCOMPARE(prompter.prompts().size(), 0);
}

QTEST_MAIN(TestRegistration)
#include "tst_registration.moc"
