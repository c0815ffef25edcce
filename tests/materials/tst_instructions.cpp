// The instruction screen: its composed and fixed texts, the two pages with their buttons,
// the "Continue Clicked" row, the exit key and the picture of the trial screen.
//
// Every session runs on one shared demo database under a participant name of its own.

#include "config/NumberFormat.h"
#include "materials/InstructionScreen.h"
#include "task/InitSession.h"
#include "session/ScreenFit.h"
#include "session/StartVersion.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace aquilevel;
using aquilevel::test::ProcessEnded;
using aquilevel::test::TempDatabase;
using aquilevel::test::TestSession;

namespace {

const QString kContinuous = QStringLiteral("Demo continuous");
const QString kDiscrete = QStringLiteral("Demo discrete");

const QString kHowAPeriodUnfolds = QStringLiteral(
    "As soon as you enter the number of units in the decision boxes at the bottom of the screen "
    "and hit \"Submit\", the Environment Inflow and Outflow will take place. These Environment "
    "Inflows and Outflows are not within your control but you can observe their nature from the "
    "information display marked as \"Env Inflow(Gallons/Time Period)\" and \"Env "
    "Outflow(Gallons/Time Period)\" for the last time period. You will receive feedback about the "
    "number of units of Environment Inflow and Outflow with a number that pops up in the black "
    "boxes during each time period as well. Next, the Inflow and Outflow quantities you entered "
    "will be reflected at the top of the page in \"UserInFlow\" and \"UserOutFlow\" and will "
    "change the system.  At the end of each time period, you will be able to visually see the "
    "water level in the tank and numerically see the same, by looking at \"Amount in Tank\". You "
    "can then begin the next time period, by submitting new Inflow and Outflow values.  Do your "
    "best to control the water level, given the variable nature of the environment inflows and "
    "outflows.");
const QString kPageHint = QStringLiteral(
    "Click the \">\" button to move forward to getting familiar with this experiment's user "
    "controls and screen displays. You can always come back to this screen by clicking the \"<\" "
    "button.");
const QString kReady =
    QStringLiteral("If you are ready then click \"Continue\" button to start the Experiment...");

TempDatabase& database()
{
    static TempDatabase db(TempDatabase::Content::Demo);
    // The demo versions' own pages aside, they show the program's own two.
    [[maybe_unused]] static const bool ownPagesRemoved = (db.exec(QStringLiteral("DELETE FROM tblInstructions")), true);
    return db;
}

QString nextSubject()
{
    static int count = 0;
    return QStringLiteral("reader%1").arg(++count);
}

// The datExperimentTrials rows of one participant, in the order written.
QList<QVariantMap> eventRows(const QString& subject)
{
    return database().rows(QStringLiteral("SELECT * FROM datExperimentTrials WHERE Subject = $1 ORDER BY rowid"),
                           {subject});
}

// A new participant of a demo version, prepared as start-up prepares one before the
// instructions: setup, scale, scenario and the initial tank state loaded.
struct Participant {
    explicit Participant(const QString& version = kContinuous,
                         const std::function<void(SessionState&)>& adjust = {})
        : ts(std::make_unique<TestSession>(database().engine())), subject(nextSubject())
    {
        SessionState& s = ts->session.state;
        s.Subject = subject;
        s.Version = version;
        s.IsNewSubject = true;
        LoadCheckedSetup(ts->session);
        s.Condition = s.setup.graphicalMode ? QStringLiteral("continuous") : QStringLiteral("discrete");
        LoadSessionConfiguration(ts->session);
        InitSession(ts->session);
        if (adjust)
            adjust(s);
        ts->session.setQuestionnaire([this] { ++questionnaires; });
    }

    Session& session() { return ts->session; }
    SessionState& state() { return ts->session.state; }

    std::unique_ptr<TestSession> ts;
    QString subject;
    int questionnaires = 0;
};

// The version numbers of the two worked examples; tests change fields.
config::ExperimentSetup exampleSetup()
{
    config::ExperimentSetup setup;
    setup.MaxTrial = 100;
    setup.GoalLinePoisition = 4;
    setup.YUnits = QStringLiteral("gallons");
    setup.LowerBoundFromGoal = 0.1;
    setup.UpperBoundFromGoal = 0.1;
    setup.BaseMoney = 5;
    setup.BonusAmount = 0.05;
    setup.ExperimentTimeForInstructions = 30;
    return setup;
}

template <typename T>
T* child(QWidget& parent, const char* name)
{
    return parent.findChild<T*>(QLatin1String(name));
}

QLabel* label(QWidget& screen, const char* name) { return child<QLabel>(screen, name); }
QPushButton* button(QWidget& screen, const char* name) { return child<QPushButton>(screen, name); }

// Which of the page controls are visible, as "name name ...", in a fixed order.
QString visibleControls(QWidget& screen)
{
    static const char* const names[] = {"lblScr11", "lblScr10", "lblScr13", "Image11",
                                        "lblScr15", "lblScr16", "lblScr47", "lblScr46",
                                        "lblScr48", "lblVersion", "lblVersionNumber",
                                        "lblPage",  "cmdLeft",  "cmdRight", "cmdContinue"};
    QStringList shown;
    for (const char* name : names) {
        QWidget* w = child<QWidget>(screen, name);
        if (!w)
            shown.append(QStringLiteral("missing:") + QLatin1String(name));
        else if (w->isVisible())
            shown.append(QLatin1String(name));
    }
    return shown.join(QLatin1Char(' '));
}

const QString kPage1Controls = QStringLiteral(
    "lblScr11 lblScr10 lblScr13 Image11 lblScr15 lblScr16 lblVersion lblVersionNumber lblPage cmdRight");
const QString kPage2Controls = QStringLiteral(
    "lblScr16 lblScr47 lblScr46 lblScr48 lblVersion lblVersionNumber lblPage cmdLeft cmdContinue");
const QString kPage1AfterPage2 = QStringLiteral(
    "lblScr11 lblScr10 lblScr13 Image11 lblScr15 lblScr16 lblVersion lblVersionNumber lblPage "
    "cmdRight cmdContinue");

// Runs InstructionScreen::run() and plays `play` on the screen once it is open. A screen
// still open after `play` is closed, so that a fault cannot hang the test.
void runWith(Session& session, const std::function<void(InstructionScreen&)>& play, bool* stillOpen)
{
    *stillOpen = false;
    QTimer::singleShot(0, [&] {
        auto* screen = qobject_cast<InstructionScreen*>(QApplication::activeModalWidget());
        if (!screen)
            return;
        play(*screen);
        if (screen->isVisible()) {
            *stillOpen = true;
            screen->done(QDialog::Rejected);
        }
    });
    InstructionScreen::run(session);
}

// Pixels of exactly one colour.
int countPixels(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            n += (line[x] & 0xFFFFFF) == (colour & 0xFFFFFF);
    }
    return n;
}

// The longest horizontal run of one colour anywhere in the image.
int longestRun(const QImage& image, QRgb colour)
{
    int longest = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int run = 0;
        for (int x = 0; x < image.width(); ++x) {
            run = (line[x] & 0xFFFFFF) == (colour & 0xFFFFFF) ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

QImage pictureOf(InstructionScreen& screen)
{
    QLabel* image = label(screen, "Image11");
    if (!image)
        return {};
    return image->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
}

const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0);

} // namespace

class TestInstructions : public QObject {
    Q_OBJECT

private slots:
    void composedTexts_data();
    void composedTexts();
    void composedTextsFollowTheLocale();
    void screenCarriesItsTexts();
    void pagesAndButtons();
    void ownPagesOfTheVersion_data();
    void ownPagesOfTheVersion();
    void continueWritesOneRowWithTheCounterUnchanged_data();
    void continueWritesOneRowWithTheCounterUnchanged();
    void exitKeyAnsweredNoKeepsTheScreen();
    void exitKeyAnsweredYesEndsWithoutPassword();
    void escapeAndCloseDoNotLeave();
    void pictureShowsTheTrialScreenOfTheVersion_data();
    void pictureShowsTheTrialScreenOfTheVersion();
    void pictureFollowsTheTankState();
    void largeScreenDrawsTheWindowLarger_data();
    void largeScreenDrawsTheWindowLarger();
};

void TestInstructions::composedTexts_data()
{
    QTest::addColumn<config::ExperimentSetup>("setup");
    QTest::addColumn<QString>("overview");
    QTest::addColumn<QString>("goal");
    QTest::addColumn<QString>("compensation");

    config::ExperimentSetup hundred = exampleSetup();
    QTest::newRow("100 periods, 5 cents")
        << hundred
        << QStringLiteral("This experiment explores decision making in a dynamic environment.  It "
                          "examines learning in terms of your performance over 100 time periods.")
        << QStringLiteral("During the experiment, you will face a screen like the one depicted "
                          "below. The tank will have an initial amount of water. Your goal during "
                          "each of the 100 time periods is to keep the water level at or as close "
                          "as possible to the red goal line (which would remain fixed at 4 "
                          "gallons), by choosing between different units to submit for User "
                          "Inflow and Outflow.")
        << QStringLiteral("The experiment will last at most 30 minutes and for this you will be "
                          "compensated a standard amount of 5$. In addition to the 5$, there is an "
                          "additional performance incentive in this experiment. Each time you make "
                          "the water level meet the goal line at 4 gallons or make the water level "
                          "come between 3.9 gallons and 4.1 gallons, you will be paid 5 cents for "
                          "your effort. At the rate of 5 cents for accomplishing the above "
                          "mentioned in each trial, you potentially can earn an additional 5$ "
                          "making your total earnings to be as high as 10$!");

    config::ExperimentSetup fifty = exampleSetup();
    fifty.MaxTrial = 50;
    fifty.BonusAmount = 0.07;
    QTest::newRow("50 periods, 7 cents")
        << fifty
        << QStringLiteral("This experiment explores decision making in a dynamic environment.  It "
                          "examines learning in terms of your performance over 50 time periods.")
        << QStringLiteral("During the experiment, you will face a screen like the one depicted "
                          "below. The tank will have an initial amount of water. Your goal during "
                          "each of the 50 time periods is to keep the water level at or as close "
                          "as possible to the red goal line (which would remain fixed at 4 "
                          "gallons), by choosing between different units to submit for User "
                          "Inflow and Outflow.")
        << QStringLiteral("The experiment will last at most 30 minutes and for this you will be "
                          "compensated a standard amount of 5$. In addition to the 5$, there is an "
                          "additional performance incentive in this experiment. Each time you make "
                          "the water level meet the goal line at 4 gallons or make the water level "
                          "come between 3.9 gallons and 4.1 gallons, you will be paid 7 cents for "
                          "your effort. At the rate of 7 cents for accomplishing the above "
                          "mentioned in each trial, you potentially can earn an additional 3.5$ "
                          "making your total earnings to be as high as 8.5$!");

    config::ExperimentSetup noUnits = exampleSetup();
    noUnits.YUnits.clear();
    QTest::newRow("no unit name")
        << noUnits
        << QStringLiteral("This experiment explores decision making in a dynamic environment.  It "
                          "examines learning in terms of your performance over 100 time periods.")
        << QStringLiteral("During the experiment, you will face a screen like the one depicted "
                          "below. The tank will have an initial amount of water. Your goal during "
                          "each of the 100 time periods is to keep the water level at or as close "
                          "as possible to the red goal line (which would remain fixed at 4 ), by "
                          "choosing between different units to submit for User Inflow and Outflow.")
        << QStringLiteral("The experiment will last at most 30 minutes and for this you will be "
                          "compensated a standard amount of 5$. In addition to the 5$, there is an "
                          "additional performance incentive in this experiment. Each time you make "
                          "the water level meet the goal line at 4  or make the water level come "
                          "between 3.9  and 4.1 , you will be paid 5 cents for your effort. At the "
                          "rate of 5 cents for accomplishing the above mentioned in each trial, you "
                          "potentially can earn an additional 5$ making your total earnings to be "
                          "as high as 10$!");

    config::ExperimentSetup euros = fifty;
    euros.CurrencySymbol = QStringLiteral("\u20ac");
    euros.CurrencyWord = QStringLiteral("euros");
    euros.CurrencyCents = QStringLiteral("Cent");
    QTest::newRow("50 periods, 7 cents, in euros")
        << euros << instructionsOverviewText(fifty) << instructionsGoalText(fifty)
        << QStringLiteral("The experiment will last at most 30 minutes and for this you will be "
                          "compensated a standard amount of 5\u20ac. In addition to the 5\u20ac, there is an "
                          "additional performance incentive in this experiment. Each time you make "
                          "the water level meet the goal line at 4 gallons or make the water level "
                          "come between 3.9 gallons and 4.1 gallons, you will be paid 7 Cent for "
                          "your effort. At the rate of 7 Cent for accomplishing the above "
                          "mentioned in each trial, you potentially can earn an additional 3.5\u20ac "
                          "making your total earnings to be as high as 8.5\u20ac!");

    // Fractions that only the general form writes short, a goal and money with decimals.
    config::ExperimentSetup odd = exampleSetup();
    odd.MaxTrial = 3;
    odd.GoalLinePoisition = 600.5;
    odd.LowerBoundFromGoal = 10.25;
    odd.UpperBoundFromGoal = 0.3;
    odd.BaseMoney = 2.75;
    odd.BonusAmount = 0.1;
    odd.ExperimentTimeForInstructions = 45;
    odd.YUnits = QStringLiteral("litres");
    QTest::newRow("decimals everywhere")
        << odd
        << QStringLiteral("This experiment explores decision making in a dynamic environment.  It "
                          "examines learning in terms of your performance over 3 time periods.")
        << QStringLiteral("During the experiment, you will face a screen like the one depicted "
                          "below. The tank will have an initial amount of water. Your goal during "
                          "each of the 3 time periods is to keep the water level at or as close "
                          "as possible to the red goal line (which would remain fixed at 600.5 "
                          "litres), by choosing between different units to submit for User "
                          "Inflow and Outflow.")
        << QStringLiteral("The experiment will last at most 45 minutes and for this you will be "
                          "compensated a standard amount of 2.75$. In addition to the 2.75$, there "
                          "is an additional performance incentive in this experiment. Each time you "
                          "make the water level meet the goal line at 600.5 litres or make the "
                          "water level come between 590.25 litres and 600.8 litres, you will be "
                          "paid 10 cents for your effort. At the rate of 10 cents for "
                          "accomplishing the above mentioned in each trial, you potentially can "
                          "earn an additional 0.3$ making your total earnings to be as high as "
                          "3.05$!");
}

void TestInstructions::composedTexts()
{
    QFETCH(config::ExperimentSetup, setup);
    QFETCH(QString, overview);
    QFETCH(QString, goal);
    QFETCH(QString, compensation);

    QCOMPARE(instructionsOverviewText(setup), overview);
    QCOMPARE(instructionsGoalText(setup), goal);
    QCOMPARE(instructionsCompensationText(setup), compensation);
}

void TestInstructions::composedTextsFollowTheLocale()
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = instructionsCompensationText(exampleSetup());
    QLocale::setDefault(before);

    QVERIFY2(text.contains(QStringLiteral(" come between 3,9 gallons and 4,1 gallons, ")), qPrintable(text));
    // No grouping, whole numbers unchanged.
    config::ExperimentSetup big = exampleSetup();
    big.MaxTrial = 20000;
    QVERIFY(instructionsOverviewText(big).endsWith(QStringLiteral(" over 20000 time periods.")));
}

void TestInstructions::screenCarriesItsTexts()
{
    Participant p(kContinuous, [](SessionState& s) {
        s.Version = QStringLiteral("Demo continuous");
        s.setup.MaxTrial = 50;
        s.setup.BonusAmount = 0.07;
    });
    InstructionScreen screen(p.session());

    QCOMPARE(screen.objectName(), QStringLiteral("frmInstructions"));
    QCOMPARE(screen.windowTitle(), QStringLiteral("Instructions"));
    QVERIFY(screen.isModal());

    const config::ExperimentSetup& setup = p.state().setup;
    const std::pair<const char*, QString> texts[] = {
        {"lblScr11", QStringLiteral("Aquilevel")},
        {"lblScr10", instructionsOverviewText(setup)},
        {"lblScr13", instructionsGoalText(setup)},
        {"lblScr15", kHowAPeriodUnfolds},
        {"lblScr16", kPageHint},
        {"lblScr47", QStringLiteral("Compensation")},
        {"lblScr46", instructionsCompensationText(setup)},
        {"lblScr48", kReady},
        {"lblVersion", QStringLiteral("Version:")},
        {"lblVersionNumber", QStringLiteral("Demo continuous")},
        {"lblPage", QStringLiteral("1 of 2")},
    };
    for (const auto& [name, text] : texts) {
        QLabel* l = label(screen, name);
        QVERIFY2(l, name);
        QCOMPARE(l->text(), text);
    }
    QVERIFY(label(screen, "lblScr46")->text().contains(QStringLiteral(" 7 cents for your effort.")));
    QVERIFY(label(screen, "lblScr46")->text().endsWith(QStringLiteral(" additional 3.5$ making your "
                                                                      "total earnings to be as high as 8.5$!")));
    QCOMPARE(label(screen, "lblScr11")->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(label(screen, "lblPage")->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);

    const std::pair<const char*, const char*> buttons[] = {
        {"cmdLeft", "<"}, {"cmdRight", ">"}, {"cmdContinue", "Continue"}};
    for (const auto& [name, caption] : buttons) {
        QPushButton* b = button(screen, name);
        QVERIFY2(b, name);
        QCOMPARE(b->text(), QLatin1String(caption));
    }
    // Nothing was written or asked while the screen loaded.
    QVERIFY(eventRows(p.subject).isEmpty());
    QVERIFY(p.ts->prompter.prompts().isEmpty());
}

void TestInstructions::pagesAndButtons()
{
    Participant p;
    InstructionScreen screen(p.session());
    screen.show();
    screen.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&screen));

    QCOMPARE(screen.CurrentPage(), 1);
    QCOMPARE(label(screen, "lblPage")->text(), QStringLiteral("1 of 2"));
    QCOMPARE(visibleControls(screen), kPage1Controls);

    QTest::mouseClick(button(screen, "cmdRight"), Qt::LeftButton);
    QCOMPARE(screen.CurrentPage(), 2);
    QCOMPARE(label(screen, "lblPage")->text(), QStringLiteral("2 of 2"));
    QCOMPARE(visibleControls(screen), kPage2Controls);
    QVERIFY(button(screen, "cmdContinue")->hasFocus());

    QTest::mouseClick(button(screen, "cmdLeft"), Qt::LeftButton);
    QCOMPARE(screen.CurrentPage(), 1);
    QCOMPARE(label(screen, "lblPage")->text(), QStringLiteral("1 of 2"));
    QCOMPARE(visibleControls(screen), kPage1AfterPage2);
    // One of the three buttons always holds the focus, so the exit key always works.
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus == button(screen, "cmdRight") || focus == button(screen, "cmdContinue"));

    QTest::mouseClick(button(screen, "cmdRight"), Qt::LeftButton);
    QCOMPARE(visibleControls(screen), kPage2Controls);
    QCOMPARE(label(screen, "lblPage")->text(), QStringLiteral("2 of 2"));

    // Paging writes and asks nothing.
    QVERIFY(eventRows(p.subject).isEmpty());
    QVERIFY(p.ts->prompter.prompts().isEmpty());
    QVERIFY(!screen.continued());
}

void TestInstructions::ownPagesOfTheVersion_data()
{
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QStringList>("texts"); // as written, with their numbers
    QTest::addColumn<QStringList>("shown"); // page by page
    QTest::newRow("three pages written out of order, placeholders filled")
        << QList<int>{2, 1, 3}
        << QStringList{QStringLiteral("Pay: {BaseMoney}{CurrencySymbol} and {BonusCents} {CurrencyCents}, at most {MaxEarnings}."),
                       QStringLiteral("{MaxTrial} periods, goal {GoalLinePoisition} {YUnits}."),
                       QStringLiteral("Band {LowerBound} to {UpperBound}; {Unknown} and { MaxTrial} stay.")}
        << QStringList{QStringLiteral("20 periods, goal 60 Gallons."),
                       QStringLiteral("Pay: 5\u20ac and 25 Cent, at most 10."),
                       QStringLiteral("Band 55 to 65; {Unknown} and { MaxTrial} stay.")};
    QTest::newRow("one page") << QList<int>{1} << QStringList{QStringLiteral("Only {ExperimentTimeForInstructions} minutes.")}
                              << QStringList{QStringLiteral("Only 30 minutes.")};
}

void TestInstructions::ownPagesOfTheVersion()
{
    QFETCH(QList<int>, numbers);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, shown);
    const QString version = QStringLiteral("Paged %1").arg(QTest::currentDataTag());
    for (int i = 0; i < texts.size(); ++i)
        database().append(QStringLiteral("tblInstructions"), {{QStringLiteral("version"), version},
                                                              {QStringLiteral("PageNumber"), numbers.at(i)},
                                                              {QStringLiteral("PageText"), texts.at(i)}});
    Participant p(kContinuous, [&](SessionState& s) {
        s.Version = version;
        s.setup.CurrencySymbol = QStringLiteral("\u20ac");
        s.setup.CurrencyCents = QStringLiteral("Cent");
    });
    InstructionScreen screen(p.session());
    screen.show();
    screen.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&screen));

    const int last = int(shown.size());
    QCOMPARE(screen.pageCount(), last);
    for (int page = 1; page <= last; ++page) {
        QCOMPARE(screen.CurrentPage(), page);
        QCOMPARE(label(screen, "lblPageText")->text(), shown.at(page - 1));
        QVERIFY(label(screen, "lblPageText")->isVisible());
        QCOMPARE(label(screen, "lblPage")->text(), QStringLiteral("%1 of %2").arg(page).arg(last));
        // The title and the version stay; none of the program's own texts or the picture shows.
        QCOMPARE(visibleControls(screen),
                 QStringLiteral("lblScr11 lblVersion lblVersionNumber lblPage") +
                     (page > 1 ? QStringLiteral(" cmdLeft") : QString()) +
                     (page < last ? QStringLiteral(" cmdRight") : QStringLiteral(" cmdContinue")));
        if (page < last)
            QTest::mouseClick(button(screen, "cmdRight"), Qt::LeftButton);
    }
    QVERIFY(button(screen, "cmdContinue")->hasFocus());
    if (last > 1) {
        // Continue stays once the last page was shown.
        QTest::mouseClick(button(screen, "cmdLeft"), Qt::LeftButton);
        QCOMPARE(label(screen, "lblPageText")->text(), shown.at(last - 2));
        QVERIFY(button(screen, "cmdContinue")->isVisible());
    }
    QTest::mouseClick(button(screen, "cmdContinue"), Qt::LeftButton);
    QVERIFY(screen.continued());
    QCOMPARE(eventRows(p.subject).size(), 1);
}

void TestInstructions::continueWritesOneRowWithTheCounterUnchanged_data()
{
    QTest::addColumn<qint32>("eventId");
    QTest::newRow("new participant") << 0;
    QTest::newRow("counter already running") << 7;
}

void TestInstructions::continueWritesOneRowWithTheCounterUnchanged()
{
    QFETCH(qint32, eventId);
    // Whatever the flows and amounts hold in memory, the row shows the not-in-task zeros.
    Participant p(kContinuous, [&](SessionState& s) {
        s.EventID = eventId;
        s.InTask = true;
        s.tank.UserInFlow[0] = 3.5;
        s.tank.UserOutFlow[0] = 1.5;
        s.tank.AmountInTank = 37;
        s.tank.GoalAmount = 61;
    });

    bool stillOpen = false;
    QString pagesSeen;
    runWith(p.session(), [&](InstructionScreen& screen) {
        // Forward, back, and Continue from page 1, where it stays once shown.
        QTest::mouseClick(button(screen, "cmdRight"), Qt::LeftButton);
        QTest::mouseClick(button(screen, "cmdLeft"), Qt::LeftButton);
        pagesSeen = label(screen, "lblPage")->text();
        QTest::mouseClick(button(screen, "cmdContinue"), Qt::LeftButton);
    }, &stillOpen);
    QVERIFY2(!stillOpen, "Continue did not close the screen");
    QCOMPARE(pagesSeen, QStringLiteral("1 of 2"));

    const SessionState& s = p.state();
    QCOMPARE(s.InTask, false);
    QCOMPARE(s.EventID, eventId);
    QCOMPARE(s.AbortSession, false);
    QCOMPARE(p.ts->processEnd.calls, 0);
    QVERIFY(p.ts->prompter.prompts().isEmpty());

    const QList<QVariantMap> rows = eventRows(p.subject);
    QCOMPARE(rows.size(), 1);
    const QVariantMap& row = rows.first();
    QCOMPARE(row.value("eventType").toString(), QStringLiteral("Continue Clicked"));
    QCOMPARE(row.value("Version").toString(), kContinuous);
    QCOMPARE(row.value("EventID").toInt(), eventId);
    QCOMPARE(row.value("Trial").toInt(), 0);
    for (const char* column : {"UserInFlow", "UserOutFlow", "AmountInTank", "GoalAmount"}) {
        QVERIFY2(!row.value(column).isNull(), column);
        QCOMPARE(row.value(column).toDouble(), 0.0);
    }
    // The memory itself is left as it was.
    QCOMPARE(s.tank.AmountInTank, 37.0);
    QCOMPARE(s.tank.GoalAmount, 61.0);
}

void TestInstructions::exitKeyAnsweredNoKeepsTheScreen()
{
    Participant p;
    p.ts->prompter.queueNo(3);
    InstructionScreen screen(p.session());
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));

    // On each of the three buttons, on both pages.
    QTest::keyClick(button(screen, "cmdRight"), Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(screen.CurrentPage(), 1);
    QCOMPARE(visibleControls(screen), kPage1Controls);
    QTest::mouseClick(button(screen, "cmdRight"), Qt::LeftButton);
    QTest::keyClick(button(screen, "cmdLeft"), Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(button(screen, "cmdContinue"), Qt::Key_X, Qt::ControlModifier);

    QCOMPARE(p.ts->prompter.prompts().size(), 3);
    for (const Prompter::Prompt& prompt : p.ts->prompter.prompts()) {
        QCOMPARE(prompt.title, QStringLiteral("Exit Application"));
        QCOMPARE(prompt.text, QStringLiteral("Are you sure you want to exit?"));
        QCOMPARE(prompt.buttons, Prompter::Buttons::YesNo);
    }
    QVERIFY(screen.isVisible());
    QCOMPARE(screen.CurrentPage(), 2);
    QCOMPARE(visibleControls(screen), kPage2Controls);
    QCOMPARE(p.state().AbortSession, false);
    QCOMPARE(p.ts->processEnd.calls, 0);
    QVERIFY(eventRows(p.subject).isEmpty());
}

void TestInstructions::exitKeyAnsweredYesEndsWithoutPassword()
{
    Participant p;
    p.ts->prompter.queueNo();
    p.ts->prompter.queueYes();

    bool stillOpen = false;
    bool ended = false;
    try {
        runWith(p.session(), [](InstructionScreen& screen) {
            QTest::keyClick(button(screen, "cmdRight"), Qt::Key_X, Qt::ControlModifier);
            QTest::keyClick(button(screen, "cmdRight"), Qt::Key_X, Qt::ControlModifier);
        }, &stillOpen);
    } catch (const ProcessEnded& end) {
        ended = true;
        QCOMPARE(end.exitCode, 0);
    }
    QVERIFY2(ended, "the session went on after Yes");
    QVERIFY(!stillOpen);
    QCOMPARE(p.ts->processEnd.calls, 1);
    QCOMPARE(p.state().AbortSession, true);
    QCOMPARE(p.state().ExitGranted, false);
    QCOMPARE(p.questionnaires, 0);
    // Only the two exit questions: no password gate, no earnings message.
    QCOMPARE(p.ts->prompter.titles(),
             QStringList({QStringLiteral("Exit Application"), QStringLiteral("Exit Application")}));
    QCOMPARE(p.ts->prompter.unexpected(), 0);
    QVERIFY(eventRows(p.subject).isEmpty());
}

void TestInstructions::escapeAndCloseDoNotLeave()
{
    Participant p;
    InstructionScreen screen(p.session());
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QTest::keyClick(button(screen, "cmdRight"), Qt::Key_Escape);
    QVERIFY(screen.isVisible());
    screen.close();
    QVERIFY(screen.isVisible());
    QVERIFY(eventRows(p.subject).isEmpty());
    QVERIFY(p.ts->prompter.prompts().isEmpty());
}

void TestInstructions::pictureShowsTheTrialScreenOfTheVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("goalLine");
    QTest::newRow("continuous") << kContinuous << true;
    QTest::newRow("discrete") << kDiscrete << false;
}

void TestInstructions::pictureShowsTheTrialScreenOfTheVersion()
{
    QFETCH(QString, version);
    QFETCH(bool, goalLine);
    Participant p(version);
    const SessionState before = p.state();

    InstructionScreen screen(p.session());
    const QImage image = pictureOf(screen);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() > 600 && image.height() > 400);
    QVERIFY2(countPixels(image, kBlue) > 1000, "no water in the picture");
    if (goalLine) {
        // The goal line crosses the tank: a long red run, longer than any red text.
        QVERIFY2(longestRun(image, kRed) > image.width() / 2,
                 qPrintable(QString::number(longestRun(image, kRed))));
    }

    // The real session is as it was: amounts still in the setup's units, not in the task.
    const SessionState& s = p.state();
    QCOMPARE(s.tank.AmountInTank, before.tank.AmountInTank);
    QCOMPARE(s.tank.GoalAmount, before.tank.GoalAmount);
    QCOMPARE(s.tank.UnitScale, before.tank.UnitScale);
    QCOMPARE(s.setup.InitialAmountInTank, before.setup.InitialAmountInTank);
    QCOMPARE(s.InTask, false);
    QCOMPARE(s.Trial, 0);
    QCOMPARE(s.EventID, 0);
    QCOMPARE(s.tank.AmountInTank, 40.0);
    QCOMPARE(s.tank.UnitScale, 1.0);
    QVERIFY(eventRows(p.subject).isEmpty());
    QVERIFY(p.ts->prompter.prompts().isEmpty());
}

void TestInstructions::pictureFollowsTheTankState()
{
    // Drawn from the session's own numbers: more water in the tank, more blue.
    const auto bluePixels = [](double initialAmount) {
        Participant p(kContinuous, [&](SessionState& s) {
            s.setup.InitialAmountInTank = initialAmount;
            s.tank.AmountInTank = initialAmount;
        });
        InstructionScreen screen(p.session());
        return countPixels(pictureOf(screen), kBlue);
    };
    const int low = bluePixels(10);
    const int high = bluePixels(90);
    QVERIFY2(high > low + 5000, qPrintable(QStringLiteral("%1 vs %2").arg(low).arg(high)));
}

void TestInstructions::largeScreenDrawsTheWindowLarger_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<double>("factor");
    QTest::newRow("1024 x 768 lab monitor") << QSize(1024, 768) << 1.0;
    QTest::newRow("1920 x 1080") << QSize(1920, 1080) << 1.0;
    QTest::newRow("2560 x 1440") << QSize(2560, 1440) << 2560 / 1920.0;
    QTest::newRow("unscaled 3840 x 2160") << QSize(3840, 2160) << 2.0;
    QTest::newRow("3840 x 2160 at 200 %") << QSize(1920, 1080) << 1.0;
    QTest::newRow("wide 3840 x 1080") << QSize(3840, 1080) << 1.0;
}

void TestInstructions::largeScreenDrawsTheWindowLarger()
{
    QFETCH(QSize, screen);
    QFETCH(double, factor);
    QCOMPARE(screenScale(screen), factor);

    Participant p(kContinuous);
    InstructionScreen window(p.session());
    const auto sizeOf = [&](const char* name) {
        return window.findChild<QLabel*>(QString::fromLatin1(name))->font().pointSizeF();
    };
    // The title chose its own size of text, the body follows the window.
    const double title = sizeOf("lblScr11");
    const double body = sizeOf("lblScr10");
    // A kind of control whose text has a size of its own (a table's header, in some
    // desktops' styles) grows as well.
    QFont small = window.font();
    small.setPointSizeF(body * 0.75);
    QApplication::setFont(small, "QHeaderView");
    const auto restore = qScopeGuard([] { QApplication::setFont(QApplication::font(), "QHeaderView"); });
    const auto* header = (new QTableWidget(1, 1, &window))->horizontalHeader();
    const QSize before = window.size();
    enlarge(&window, factor);
    enlarge(&window, factor); // once per window
    QCOMPARE(sizeOf("lblScr11"), title * factor);
    QCOMPARE(sizeOf("lblScr10"), body * factor);
    QCOMPARE(header->font().pointSizeF(), body * 0.75 * factor);
    QCOMPARE(window.size(), before * factor);
}

QTEST_MAIN(TestInstructions)
#include "tst_instructions.moc"
