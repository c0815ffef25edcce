// The trial screen played through its controls: what it shows at load, whole sessions in
// both kinds of play, the order boxes, the exit paths to the experimenter's gate, the pipe
// cells and flow tags stage by stage, and a stage falling due during a lock back-off.
//
// Every session runs on one shared encrypted file under a participant name of its own,
// with stage intervals of 1 ms in the real event loop.

#include "config/DemoConfig.h"
#include "task/InitSession.h"
#include "session/Language.h"
#include "session/PasswordGate.h"
#include "session/Session.h"
#include "store/DataLocation.h"
#include "store/SqlCipherConnection.h"
#include "store/SqlCipherEngine.h"
#include "support/Fakes.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDatabase.h"
#include "task/TankDrawing.h"
#include "task/TrialScreen.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

using namespace aquilevel;
using aquilevel::task::TankDrawing;
using aquilevel::task::TrialScreen;
using aquilevel::test::TempDatabase;
using Prompt = Prompter::Prompt;

namespace {

const QStringList kStageTimers = {"Timer1",      "Timer2",       "tmrEnvDelay",
                                  "tmrEnvMv",    "tmrUserDelay", "tmrUserMv"};
const QStringList kPacedPeriod = {"Timer1", "tmrEnvDelay", "tmrEnvMv", "tmrUserDelay", "tmrUserMv"};
const QStringList kCells = {"lblUserInput0", "lblUserInput1", "lblEnvInput0",  "lblEnvInput1",
                            "lblUserOutput0", "lblUserOutput1", "lblEnvOutput0", "lblEnvOutput1"};
const QStringList kTags = {"lblUsrInCon", "lblEnvInCon", "lblUsrOutCon", "lblEnvOutCon"};
const QStringList kHiddenForGood = {"lblCurrCost", "lblCurrCostVal", "lblAccuCost",
                                    "lblAccuCostVal", "lblStatus", "lblStatusValue"};
const QString kExitTitle = QStringLiteral("Exit Application");
const QString kExitQuestion = QStringLiteral("Are you sure you want to exit?");
const QString kEarningsStart = QStringLiteral("The game is over and you have earned ");

// One encrypted file for the whole program: the demo configuration with its experimenter
// account; every session writes under a participant name of its own.
TempDatabase& database()
{
    static TempDatabase db(TempDatabase::Content::Demo);
    return db;
}

// A connection of the test's own, kept open: opening an encrypted file is slow. It also
// holds the lock that makes the screen's store back off.
store::SqlCipherConnection& reader()
{
    static auto connection = store::SqlCipherConnection::open(
        database().path(), store::databasePassword(), false, store::SqlCipherEngine::kBusyTimeoutMs);
    return *connection;
}

QList<QVariantMap> rowsOf(const QString& sql, const QVariantList& params)
{
    return test::rowsIn(reader(), sql, params);
}

// A table's rows of one participant, in the order they were written.
QList<QVariantMap> tableRows(const char* table, const QString& subject)
{
    return rowsOf(QStringLiteral("select * from %1 where Subject=$1 order by rowid").arg(QLatin1String(table)),
                  {subject});
}

QStringList field(const QList<QVariantMap>& rows, const char* name)
{
    QStringList values;
    for (const QVariantMap& row : rows)
        values.append(row.value(QLatin1String(name)).toString());
    return values;
}

// Empty when the column holds the numbers (to 1e-9), otherwise what differs.
QString numbersDiffer(const QList<QVariantMap>& rows, const char* name, const QList<double>& expected)
{
    QStringList actual;
    bool same = rows.size() == expected.size();
    for (int i = 0; i < rows.size(); ++i) {
        const QVariant v = rows.at(i).value(QLatin1String(name));
        actual.append(v.isNull() ? QStringLiteral("NULL") : QString::number(v.toDouble(), 'g', 12));
        if (i < expected.size() && (v.isNull() || std::abs(v.toDouble() - expected.at(i)) > 1e-9))
            same = false;
    }
    if (same)
        return {};
    QStringList wanted;
    for (double e : expected)
        wanted.append(QString::number(e, 'g', 12));
    return QStringLiteral("%1: got [%2], expected [%3]")
        .arg(QLatin1String(name), actual.join(QStringLiteral(", ")), wanted.join(QStringLiteral(", ")));
}

// Builds, loads and shows a rig's screen; stops the test if that failed.
#define START(rig)                                                                                 \
    do {                                                                                           \
        (rig).start();                                                                             \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

#define COMPARE_NUMBERS(rows, name, ...)                                                           \
    do {                                                                                           \
        const QString difference = numbersDiffer(rows, name, __VA_ARGS__);                         \
        QVERIFY2(difference.isEmpty(), qPrintable(difference));                                    \
    } while (false)

QString colourName(const QColor& c)
{
    if (c == QColor(0, 0, 0))
        return QStringLiteral("black");
    if (c == QColor(255, 0, 0))
        return QStringLiteral("red");
    if (c == QColor(0, 192, 0))
        return QStringLiteral("green");
    return c.name();
}

// "ENV: 3 on red", "- on black": a label's caption and background.
QString look(const QLabel* label)
{
    const QString colour = label->autoFillBackground()
                               ? colourName(label->palette().color(QPalette::Window))
                               : QStringLiteral("none");
    return (label->text().isEmpty() ? QStringLiteral("-") : label->text()) + QStringLiteral(" on ") + colour;
}

const QString kBlank = QStringLiteral("- on black");

// The screen as it looks right after one of its timers' handlers.
struct Snapshot {
    QString stage;
    qint32 trial = 0;
    bool submitEnabled = false;
    bool entriesEnabled = false;
    QString inflow;
    QString outflow;
    QStringList cells; // kCells order
    QStringList tags;  // kTags order
    QList<int> streams; // visible water streams
    bool userFlowInPlay = false;
};

int nextParticipant()
{
    static int n = 0;
    return ++n;
}

// A session on the shared file and its trial screen, with every stage observed.
//
// The standard setup: 3 periods, both delays 2 with an initial back order of 4 and an
// initial discharge of 2 (both due in period 1), 20 gallons in the tank, goal 30 with a
// band of 1 either side, 5 scale marks up to 50, environment 3/1 in period 1, 0/0 in
// period 2 and 2/1 in period 3. Participant-paced, continuous display, all shown.
class Rig {
public:
    explicit Rig(const std::function<void(SessionState&)>& adjust = {},
                 int busyTimeoutMs = store::SqlCipherEngine::kBusyTimeoutMs)
        : session({prompter, clock, processEnd, pacer}, database().engine(busyTimeoutMs)),
          s(session.state), subject(QStringLiteral("screen%1").arg(nextParticipant()))
    {
        s.Subject = subject;
        s.Version = QStringLiteral("Screen");
        config::ExperimentSetup& c = s.setup;
        c.Version = s.Version;
        c.MaxTrial = 3;
        c.BaseMoney = 5;
        c.numMarks = 5;
        c.InitialAmountInTank = 20;
        c.GoalLinePoisition = 30;
        c.InitialBackOrder = 4;
        c.InitialForwardDischarge = 2;
        c.inFlowTPAfter = 2;
        c.outFlowTPAfter = 2;
        c.simTimeForTP = 1;
        c.AfterEveryNTrials = 1;
        c.ScenarioUsed = 1;
        c.CostUnderFlowPerAmount = 0.1;
        c.CostOverFlowPerAmount = 0.2;
        c.BonusAmount = 0.5;
        c.YUnits = QStringLiteral("Gallons");
        c.graphicalMode = true;
        c.userDelay = c.envDelay = c.UsrMv = c.EnvMv = 1;
        c.RHEIGHT = 6;
        c.RWIDTH = 14;
        c.UpperBoundFromGoal = c.LowerBoundFromGoal = 1;
        c.ExperimentTimeForInstructions = 30;
        c.MaxNumberOfAScenarioType = 10;
        c.ShowBackOrder = c.ShowDischargeOrder = c.ShowTimePeriods = true;
        c.deltaTmeBetweenEnvUsr = 2000;
        c.TimeBetweenEnvTries = 20;
        s.EnvInFlow = QVector<double>(12, 0.0);
        s.EnvOutFlow = QVector<double>(12, 0.0);
        s.EnvInFlow[1] = 3;
        s.EnvOutFlow[1] = 1;
        s.EnvInFlow[3] = 2;
        s.EnvOutFlow[3] = 1;
        s.MarkLabels = QStringList({"10", "20", "30", "40", "50", ""});
        s.TopLabelValue = 50;
        if (adjust)
            adjust(s);
        InitSession(session);
        session.setQuestionnaire([this] { ++questionnaires; });
    }

    // Builds, loads and shows the screen, as start-up does.
    void start()
    {
        // The program has used the store long before the trial screen (login, setup), so
        // its file is open already: the first write of a period does not pay for the key.
        if (storeOpenAtStart) {
            session.store().engine().open(false);
            session.store().engine().release();
        }
        screen = std::make_unique<TrialScreen>(session);
        for (const QString& name : kStageTimers) {
            QTimer* timer = screen->findChild<QTimer*>(name);
            QVERIFY2(timer, qPrintable(name));
            QVERIFY(timer->isSingleShot());
            QCOMPARE(timer->timerType(), Qt::PreciseTimer);
            // Connected after the screen's own handler: runs right after it.
            QObject::connect(timer, &QTimer::timeout, screen.get(), [this, name] {
                stages.append(take(name));
                if (afterStage)
                    afterStage(name);
            });
        }
        screen->load();
        atLoad = take(QStringLiteral("load"));
        for (const QString& name : kStageTimers)
            if (QTimer* timer = screen->findChild<QTimer*>(name); timer->isActive())
                armedAtLoad.append(name + QLatin1Char('/') + QString::number(timer->interval()));
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
    }

    Snapshot take(const QString& stage) const
    {
        Snapshot shot;
        shot.stage = stage;
        shot.trial = s.Trial;
        shot.submitEnabled = submit()->isEnabled();
        // The two boxes are enabled and disabled together: a mismatch reads as neither.
        shot.entriesEnabled = inflow()->isEnabled() && outflow()->isEnabled();
        shot.inflow = inflow()->text();
        shot.outflow = outflow()->text();
        for (const QString& name : kCells)
            shot.cells.append(look(drawing().label(name)));
        for (const QString& name : kTags)
            shot.tags.append(look(drawing().label(name)));
        for (int i = 0; i < 4; ++i)
            if (drawing().item(QStringLiteral("Water0%1").arg(i))->visible)
                shot.streams.append(i);
        shot.userFlowInPlay = s.tank.UserFlowInPlay;
        return shot;
    }

    QStringList stageNames() const
    {
        QStringList names;
        for (const Snapshot& shot : stages)
            names.append(shot.stage);
        return names;
    }

    QLineEdit* inflow() const { return screen->findChild<QLineEdit*>(QStringLiteral("txtUsrInflowVal")); }
    QLineEdit* outflow() const { return screen->findChild<QLineEdit*>(QStringLiteral("txtUsrOutflowVal")); }
    QPushButton* submit() const { return screen->findChild<QPushButton*>(QStringLiteral("cmdNextTrial")); }
    QLabel* label(const char* name) const { return screen->findChild<QLabel*>(QLatin1String(name)); }
    QTimer* timer(const char* name) const { return screen->findChild<QTimer*>(QLatin1String(name)); }
    TankDrawing& drawing() const { return screen->drawing(); }

    bool anyTimerActive() const
    {
        for (const QString& name : kStageTimers)
            if (screen->findChild<QTimer*>(name)->isActive())
                return true;
        return false;
    }

    // Replaces a box's text by typing: backspaces first, then the characters (a box that
    // shows the text already is left alone: a 0 typed into an empty box is refused).
    void type(QLineEdit* box, const QString& text) const
    {
        if (box->text() == text)
            return;
        box->end(false);
        while (!box->text().isEmpty())
            QTest::keyClick(box, Qt::Key_Backspace);
        for (QChar c : text)
            QTest::keyClick(box, c.toLatin1());
    }

    QList<QVariantMap> events() const { return tableRows("datExperimentTrials", subject); }
    QList<QVariantMap> summaries() const { return tableRows("datTrialSummary", subject); }
    QList<QVariantMap> submitTimes() const { return tableRows("datUserTimesSummary", subject); }

    QStringList promptTexts() const
    {
        QStringList texts;
        for (const Prompt& p : prompter.prompts())
            texts.append(p.text);
        return texts;
    }

    test::ScriptedPrompter prompter; // a question with no answer queued is answered No
    test::FixedClock clock{QDateTime(QDate(2026, 3, 4), QTime(10, 0, 5))};
    test::ThrowingProcessEnd processEnd;
    test::ProbePacer pacer;
    Session session;
    SessionState& s;
    QString subject;
    bool storeOpenAtStart = true; // off where nothing is written
    int questionnaires = 0;
    QList<Snapshot> stages;
    // The screen right after load, before any event has run: the timers then armed, as
    // "name/interval".
    Snapshot atLoad;
    QStringList armedAtLoad;
    std::function<void(const QString&)> afterStage;
    std::unique_ptr<TrialScreen> screen;
};

// Plays the experimenter at the password gate while it is open: every few milliseconds
// `step` gets the visible gate until it returns true. Any gate after that, or one still
// open after 10 s, is cancelled at once, so that a fault cannot hang the test program.
class GateRobot : public QObject {
public:
    explicit GateRobot(std::function<bool(PasswordGate&)> step) : m_step(std::move(step))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(2);
    }

    int sightings = 0;    // polls that found a gate open
    bool done = false;    // step returned true
    bool timedOut = false;
    int cancelled = 0;    // gates cancelled by the robot itself

private:
    void poll()
    {
        PasswordGate* gate = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* g = qobject_cast<PasswordGate*>(w); g && g->isVisible())
                gate = g;
        if (!gate)
            return;
        if (++sightings == 1)
            m_open.start();
        if (done || timedOut || m_open.hasExpired(10000)) {
            timedOut = timedOut || !done;
            ++cancelled;
            gate->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
            return;
        }
        done = m_step(*gate);
    }

    std::function<bool(PasswordGate&)> m_step;
    QTimer m_timer;
    QElapsedTimer m_open;
};

// Calls back whenever a timer's event arrives, before the timer emits timeout(). An event
// the callback returns true for is held back: the timer stays armed and falls due again
// one interval later.
class TimerEventWatch final : public QObject {
public:
    TimerEventWatch(QTimer* timer, std::function<bool()> onEvent) : m_onEvent(std::move(onEvent))
    {
        timer->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::Timer && m_onEvent();
    }

private:
    std::function<bool()> m_onEvent;
};

QLineEdit* gateBox(PasswordGate& gate, const char* name)
{
    return gate.findChild<QLineEdit*>(QLatin1String(name));
}
QPushButton* gateButton(PasswordGate& gate, const char* name)
{
    return gate.findChild<QPushButton*>(QLatin1String(name));
}

} // namespace

class TestTrialScreen : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void loadShowsTheSessionState_data();
    void loadShowsTheSessionState();
    void discreteHeapAtLoad();

    void participantPacedSessionOfThreePeriods();
    void pipeCellsAndTagsThroughTheStages_data();
    void pipeCellsAndTagsThroughTheStages();

    void timeDrivenWithoutSubmit();
    void timeDrivenSubmitRepeatsTheDueQuantityAndSteersTheClock();
    void submitBeforeTheFirstTickActsOnPeriodZero();

    void entryFilter_data();
    void entryFilter();
    void submitRefusesWhatIsNoNumber_data();
    void submitRefusesWhatIsNoNumber();

    void exitKeyAnsweredNo();
    void gateCancelledThenOpenedAgainEmpty();
    void gateWithTheRightPairEndsTheSessionAtOnce();
    void closeRequestCancelledAtTheGate();

    void stageDueDuringLockBackOffWaitsForTheWrite();
    void takenOverStationStopsWritingAndTellsTheExperimenter();
};

void TestTrialScreen::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true); // the runs' marks go to a folder of the tests
    QCOMPARE(reader().value(QStringLiteral("select count(*) from tblPasswords where username=$1"),
                            {config::kDemoUser})
                 .toInt(),
             1);
}

// --- Load ---------------------------------------------------------------------------------

void TestTrialScreen::loadShowsTheSessionState_data()
{
    QTest::addColumn<QString>("units");
    QTest::addColumn<bool>("showBack");
    QTest::addColumn<bool>("showDischarge");
    QTest::addColumn<bool>("showPeriods");
    QTest::addColumn<bool>("continuous");
    QTest::addColumn<QString>("symbol"); // Null: the version leaves the currency at its default
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("decimals"); // of the currency; the screen shows one more
    QTest::addColumn<QString>("pay"); // the money at the start, as shown
    QTest::newRow("Gallons, everything shown, continuous") << "Gallons" << true << true << true << true << QString() << "en" << 2 << "05.000";
    QTest::newRow("no units, back order only, discrete") << "" << true << false << true << false << QString() << "en" << 2 << "05.000";
    QTest::newRow("litres, discharge only, no counter, yen") << "l" << false << true << false << true << "\u00a5" << "en" << 0 << "05.0";
    QTest::newRow("nothing optional shown, discrete") << "Gallons" << false << false << false << false << QString() << "en" << 2 << "05.000";
    QTest::newRow("German, decimal commas, euro") << "Liter" << true << true << true << true << "\u20ac" << "de" << 2 << "05,000";
}

void TestTrialScreen::loadShowsTheSessionState()
{
    QFETCH(QString, units);
    QFETCH(bool, showBack);
    QFETCH(bool, showDischarge);
    QFETCH(bool, showPeriods);
    QFETCH(bool, continuous);
    QFETCH(QString, symbol);
    QFETCH(QString, language);
    QFETCH(int, decimals);
    QFETCH(QString, pay);
    QVERIFY(useLanguage(language));
    const auto english = qScopeGuard([] { useLanguage(QString()); });
    const bool german = language == QLatin1String("de");
    // The numbers shown, as English writes them.
    const auto shown = [german](QString text) { return german ? text.replace(QLatin1Char('.'), QLatin1Char(',')) : text; };
    Rig rig([&](SessionState& s) {
        if (!symbol.isNull())
            s.setup.CurrencySymbol = symbol;
        s.setup.CurrencyDecimals = decimals;
        s.setup.YUnits = units;
        s.setup.ShowBackOrder = showBack;
        s.setup.ShowDischargeOrder = showDischarge;
        s.setup.ShowTimePeriods = showPeriods;
        s.setup.graphicalMode = continuous;
    });
    START(rig);
    TrialScreen& screen = *rig.screen;

    QCOMPARE(screen.objectName(), QStringLiteral("frmCistern"));
    QCOMPARE(screen.windowTitle(), QStringLiteral("Aquilevel"));
    QVERIFY(rig.s.InTask);

    // Captions: the unit name pasted in, no blank added on either side.
    const QList<QPair<const char*, QString>> germanCaptions = {
        {"lblInFlowStatusEnv", "Umwelt-Zufluss (" + units + "/Zeitraum):"},
        {"lblGoalStatus", "Ziel (" + units + "):"},
        {"lblInFlow1", "Geben Sie den Zufluss ein (" + units + "/Zeitraum):"},
        {"lblTimePeriod", "Zeitraum"},
        {"lblOf", "von"},
    };
    const QList<QPair<const char*, QString>> captions = german ? germanCaptions : QList<QPair<const char*, QString>>{
        {"lblInFlowStatusEnv", "Env InFlow(" + units + "/Time Period):"},
        {"lblOutFlowStatusEnv", "Env OutFlow(" + units + "/Time Period):"},
        {"lblInFlowStatus", "UserInFlow(" + units + "/Time Period):"},
        {"lblOutFlowStatus", "UserOutFlow(" + units + "/Time Period):"},
        {"lblGoalStatus", "Goal(" + units + "):"},
        {"lblAmountStatus", "Amount in Tank(" + units + "):"},
        {"lblInFlow1", "Enter the Inflow(" + units + "/Time Period):"},
        {"lblOutflow", "Enter the Outflow(" + units + "/Time Period):"},
        {"lblUnits", units},
        {"lblDollar0", symbol.isNull() ? QStringLiteral("$") : symbol},
        {"lblDollar1", symbol.isNull() ? QStringLiteral("$") : symbol},
    };
    for (const auto& [name, text] : captions)
        QCOMPARE(rig.label(name)->text(), text);

    // A new session: period 0 of MaxTrial, costs "0.00", the money and totals "00.000".
    QCOMPARE(rig.label("lblCurrTimePeriod")->text(), QStringLiteral("0"));
    QCOMPARE(rig.label("lblTotTimePeriod")->text(), QStringLiteral("3"));
    QCOMPARE(rig.label("lblCurrCostVal")->text(), QStringLiteral("0.00"));
    QCOMPARE(rig.label("lblAccuCostVal")->text(), QStringLiteral("0.00"));
    QCOMPARE(rig.label("lblCurrBonusVal")->text(), QString(pay).replace(QLatin1Char('5'), QLatin1Char('0')));
    QCOMPARE(rig.label("lblAccuBonusVal")->text(), pay);
    QCOMPARE(rig.label("lblBackOrderVal")->text(), shown("04.000"));
    QCOMPARE(rig.label("lblForwardOrderVal")->text(), shown("02.000"));
    QCOMPARE(rig.label("lblGoalStatusVal")->text(), shown("30.000"));
    QCOMPARE(rig.label("lblAmountStatusVal")->text(), shown("20.000"));
    QCOMPARE(rig.label("lblStatusValue")->text(),
             QStringLiteral("Try to meet the goal line on the tank by adjusting Inflow and Outflow"));
    QCOMPARE(rig.inflow()->text(), QStringLiteral("0"));
    QCOMPARE(rig.outflow()->text(), QStringLiteral("0"));
    QVERIFY(rig.submit()->isDefault());
    QVERIFY(rig.submit()->isEnabled());
    QCOMPARE(rig.submit()->text(), german ? QStringLiteral("Absenden") : QStringLiteral("Submit"));
    // The amount is held in drawing units from here on.
    QCOMPARE(rig.s.tank.AmountInTank, 20 * rig.s.tank.UnitScale);
    QVERIFY(!rig.anyTimerActive()); // participant-paced: nothing runs before Submit

    const auto checkVisibility = [&] {
        for (const char* name : {"lblTimePeriod", "lblCurrTimePeriod", "lblOf", "lblTotTimePeriod"})
            QVERIFY2(rig.label(name)->isVisible() == showPeriods, name);
        // ... and so is the counter's black ground.
        QCOMPARE(rig.label("lblTimePeriod")->parentWidget()->isVisible(), showPeriods);
        QCOMPARE(rig.label("lblBackOrder")->isVisible(), showBack);
        QCOMPARE(rig.label("lblBackOrderVal")->isVisible(), showBack);
        QCOMPARE(rig.label("lblForwardOrder")->isVisible(), showDischarge);
        QCOMPARE(rig.label("lblForwardOrderVal")->isVisible(), showDischarge);
        for (const QString& name : kHiddenForGood)
            QVERIFY2(!screen.findChild<QLabel*>(name)->isVisible(), qPrintable(name));
        for (const QString& name : kTags)
            QVERIFY2(rig.drawing().label(name)->isVisible() == continuous, qPrintable(name));
        for (const QString& name : kCells)
            QVERIFY2(rig.drawing().label(name)->isVisible() == !continuous, qPrintable(name));
        QCOMPARE(rig.drawing().picture()->isVisible(), !continuous);
        for (int i = 0; i < 4; ++i)
            QVERIFY(!rig.drawing().item(QStringLiteral("Water0%1").arg(i))->visible);
    };
    checkVisibility();
    if (QTest::currentTestFailed())
        return;

    // One period later nothing of that has changed, although costs and status were written,
    // and the drawing has kept its place on a 1024 x 768 monitor.
    screen.resize(1024, 768);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QRect drawingAt = rig.drawing().geometry();
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.submit()->isEnabled(), 5000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCOMPARE(rig.drawing().geometry(), drawingAt);
    checkVisibility();
    QCOMPARE(rig.label("lblCurrTimePeriod")->text(), QStringLiteral("1"));
    QCOMPARE(rig.label("lblCurrCostVal")->text(), QStringLiteral("00.600"));
    QCOMPARE(rig.label("lblAccuCostVal")->text(), QStringLiteral("05.600"));
    QCOMPARE(rig.label("lblStatusValue")->text(), QString());
    QCOMPARE(rig.prompter.prompts().size(), 0);
}

void TestTrialScreen::discreteHeapAtLoad()
{
    // Blue pixels of the block picture as the participant sees it.
    const auto bluePixels = [](QWidget* picture) {
        const QImage image = picture->grab().toImage();
        int blue = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                blue += image.pixelColor(x, y) == QColor(0, 0, 255);
        return blue;
    };
    int heap20 = 0;
    {
        Rig rig([](SessionState& s) { s.setup.graphicalMode = false; });
        START(rig);
        QWidget* picture = rig.drawing().picture();
        QCOMPARE(picture->objectName(), QStringLiteral("Picture1"));
        QVERIFY(picture->isVisible());
        const QImage image = picture->grab().toImage();
        // The heap starts at the bottom-left corner; the top of the picture stays empty.
        QCOMPARE(image.pixelColor(2, image.height() - 2), QColor(0, 0, 255));
        QVERIFY(image.pixelColor(image.width() - 2, 2) != QColor(0, 0, 255));
        heap20 = bluePixels(picture);
        QCOMPARE(rig.drawing().label(QStringLiteral("MissedFB0"))->text(), QStringLiteral("20"));
        QCOMPARE(rig.drawing().label(QStringLiteral("MissedFB1"))->text(), QStringLiteral("30"));
    }
    {
        Rig rig([](SessionState& s) {
            s.setup.graphicalMode = false;
            s.setup.InitialAmountInTank = 10;
        });
        START(rig);
        const int heap10 = bluePixels(rig.drawing().picture());
        // Half the blocks, half the blue (each block's edges round to whole pixels).
        QVERIFY2(heap10 > 0 && std::abs(2 * heap10 - heap20) <= heap20 / 20,
                 qPrintable(QStringLiteral("10 units: %1 blue pixels, 20 units: %2").arg(heap10).arg(heap20)));
    }
    {
        Rig rig([](SessionState& s) {
            s.setup.graphicalMode = false;
            s.setup.InitialAmountInTank = 0;
        });
        START(rig);
        QCOMPARE(bluePixels(rig.drawing().picture()), 0);
    }
}

// --- Participant-paced play -------------------------------------------------------------------

void TestTrialScreen::participantPacedSessionOfThreePeriods()
{
    Rig rig;
    START(rig);
    QSignalSpy over(rig.screen.get(), &TrialScreen::sessionOver);

    // Period 1: 5 in, 1 out, Submit clicked.
    rig.clock.time.setTime(QTime(10, 0, 9));
    rig.type(rig.inflow(), QStringLiteral("5"));
    rig.type(rig.outflow(), QStringLiteral("1"));
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    // The press takes its time; the submit stage (Timer1, after the handler) stores it
    // together with the period's summary and "Submit Clicked", so that a crash leaves
    // all three or none.
    QVERIFY(!rig.submit()->isEnabled());
    QVERIFY(rig.timer("Timer1")->isActive());
    QCOMPARE(rig.events().size(), 0);
    QCOMPARE(rig.submitTimes().size(), 0);
    QCOMPARE(rig.summaries().size(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.events().isEmpty(), 5000);
    QCOMPARE(field(rig.submitTimes(), "Trial"), QStringList({"0"}));
    QCOMPARE(field(rig.summaries(), "Trial"), QStringList({"1"}));
    QTRY_VERIFY_WITH_TIMEOUT(rig.submit()->isEnabled(), 5000);
    QCOMPARE(rig.label("lblCurrTimePeriod")->text(), QStringLiteral("1"));
    // The keyboard is back in the inflow box with its 0 selected: what is typed next is
    // the next order, without a click.
    QCOMPARE(QApplication::focusWidget(), rig.inflow());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("7"));
    QCOMPARE(rig.inflow()->text(), QStringLiteral("7"));

    // Period 2: 2 in, the outflow box emptied; Enter in the box presses Submit.
    rig.clock.time.setTime(QTime(10, 0, 15));
    rig.type(rig.inflow(), QStringLiteral("2"));
    rig.type(rig.outflow(), QString());
    QCOMPARE(rig.outflow()->text(), QString());
    QTest::keyClick(rig.outflow(), Qt::Key_Return);
    QVERIFY(!rig.submit()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(rig.submit()->isEnabled(), 5000);

    // Period 3: 1 in, 3 out; the session ends at the end of the period by itself.
    rig.clock.time.setTime(QTime(10, 0, 20));
    rig.type(rig.inflow(), QStringLiteral("1"));
    rig.type(rig.outflow(), QStringLiteral("3"));
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QVERIFY(over.wait(5000));
    QCOMPARE(over.size(), 1);
    QVERIFY(rig.screen->isOver());
    QCOMPARE(rig.processEnd.calls, 1);
    QCOMPARE(rig.questionnaires, 1);
    QVERIFY(!rig.submit()->isEnabled());
    QVERIFY(!rig.anyTimerActive());

    // The stages ran period by period in their order, and nothing else.
    QCOMPARE(rig.stageNames(), kPacedPeriod + kPacedPeriod + kPacedPeriod);
    for (int p = 0; p < 3; ++p) {
        for (int k = 0; k < 5; ++k) {
            const Snapshot& shot = rig.stages.at(5 * p + k);
            QCOMPARE(shot.trial, p + 1);
            const bool end = k == 4;
            // Submit and the boxes stay disabled from the press to the second user stage.
            QVERIFY2(shot.submitEnabled == (end && p < 2), qPrintable(shot.stage));
            QVERIFY2(shot.entriesEnabled == (end && p < 2), qPrintable(shot.stage));
            if (end && p < 2) {
                QCOMPARE(shot.inflow, QStringLiteral("0"));
                QCOMPARE(shot.outflow, QStringLiteral("0"));
            }
        }
    }
    // The emptied box reads "0" once the submit stage has taken it.
    QCOMPARE(rig.stages.at(5).outflow, QStringLiteral("0"));

    // Every row of every period, in order, with consecutive EventIDs.
    const QList<QVariantMap> events = rig.events();
    QCOMPARE(field(events, "eventType"),
             QStringList({"Submit Clicked", "Environment Effect", "No User Effect", "User Inflow",
                          "User Outflow", "After Cost Calculation",                                //
                          "Submit Clicked", "User Inflow", "User Outflow", "After Cost Calculation", //
                          "Submit Clicked", "Environment Effect", "No User Effect", "User Inflow",
                          "After Cost Calculation"}));
    QStringList ids;
    for (int i = 1; i <= 15; ++i)
        ids.append(QString::number(i));
    QCOMPARE(field(events, "EventID"), ids);
    QCOMPARE(field(events, "Trial"),
             QStringList({"1", "1", "1", "1", "1", "1", "2", "2", "2", "2", "3", "3", "3", "3", "3"}));
    COMPARE_NUMBERS(events, "AmountInTank",
                    {20, 22, 22, 26, 24, 24, 24, 29, 28, 28, 28, 29, 29, 31, 31});
    COMPARE_NUMBERS(events, "UserInFlow", {5, 5, 5, 5, 5, 5, 2, 2, 2, 2, 1, 1, 1, 1, 1});
    COMPARE_NUMBERS(events, "UserOutFlow", {1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 3, 3, 3, 3, 3});

    // The summary rows: created at each press, completed at the end of each period.
    const QList<QVariantMap> summaries = rig.summaries();
    QCOMPARE(field(summaries, "Trial"), QStringList({"1", "2", "3"}));
    QCOMPARE(field(summaries, "Date"), QStringList(3, QStringLiteral("2026-03-04")));
    QCOMPARE(field(summaries, "startTime"), QStringList({"10:00:05", "10:00:09", "10:00:15"}));
    QCOMPARE(field(summaries, "endTime"), QStringList({"10:00:09", "10:00:15", "10:00:20"}));
    // Provisional flows: the previous period's orders, 0 for the emptied box.
    COMPARE_NUMBERS(summaries, "UserInFlow", {0, 5, 2});
    COMPARE_NUMBERS(summaries, "UserOutFlow", {0, 0, 0});
    COMPARE_NUMBERS(summaries, "EnvInFlow", {3, 0, 2});
    COMPARE_NUMBERS(summaries, "EnvOutFlow", {1, 0, 1});
    COMPARE_NUMBERS(summaries, "GoalAmount", {30, 30, 30});
    COMPARE_NUMBERS(summaries, "BaseMoney", {5, 5, 5});
    QCOMPARE(field(summaries, "graphicalMode"), QStringList(3, QStringLiteral("1")));
    QCOMPARE(field(summaries, "IsEnvInFlow"), QStringList(3, QStringLiteral("0")));
    COMPARE_NUMBERS(summaries, "AmountInTank", {24, 28, 31});
    COMPARE_NUMBERS(summaries, "CurrentCost", {0.6, 0.2, 0.2});
    COMPARE_NUMBERS(summaries, "TotCost", {5.6, 5.8, 6.0});
    COMPARE_NUMBERS(summaries, "CurrentBonus", {0, 0, 0.5});
    COMPARE_NUMBERS(summaries, "TotBonus", {5, 5, 5.5});
    COMPARE_NUMBERS(summaries, "BackOrder", {4, 0, 0});
    COMPARE_NUMBERS(summaries, "ForwardDischarge", {2, 0, 0});
    COMPARE_NUMBERS(summaries, "TotalBackOrder", {5, 2, 1});
    COMPARE_NUMBERS(summaries, "TotalForwardDischarge", {1, 0, 3});

    // One submit-time row per press, numbered by the period just completed.
    const QList<QVariantMap> presses = rig.submitTimes();
    QCOMPARE(field(presses, "Trial"), QStringList({"0", "1", "2"}));
    QCOMPARE(field(presses, "SubmitClickTime"), QStringList({"10:00:09", "10:00:15", "10:00:20"}));

    // The only message is the earnings, after the questionnaire.
    QCOMPARE(rig.promptTexts().size(), 1);
    QVERIFY(rig.promptTexts().first().startsWith(kEarningsStart + QStringLiteral("05.50 dollars")));
    QCOMPARE(rig.prompter.prompts().first().title, QStringLiteral("Aquilevel"));
    QCOMPARE(rig.label("lblAccuBonusVal")->text(), QStringLiteral("05.500"));
}

void TestTrialScreen::pipeCellsAndTagsThroughTheStages_data()
{
    QTest::addColumn<bool>("continuous");
    QTest::newRow("continuous") << true;
    QTest::newRow("discrete") << false;
}

void TestTrialScreen::pipeCellsAndTagsThroughTheStages()
{
    QFETCH(bool, continuous);
    Rig rig([&](SessionState& s) { s.setup.graphicalMode = continuous; });
    START(rig);
    const Snapshot rest = rig.take(QStringLiteral("load"));
    QCOMPARE(rest.cells, QStringList(8, kBlank));
    QCOMPARE(rest.tags, QStringList(4, kBlank));

    // Period 1 delivers the initial orders, 4 in and 2 out; the environment gives 3 and 1.
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.submit()->isEnabled(), 5000);
    QCOMPARE(rig.stageNames(), kPacedPeriod);

    const QString b = kBlank;
    // Cells in the order UserInput 0 1, EnvInput 0 1, UserOutput 0 1, EnvOutput 0 1; tags
    // in the order user in, environment in, user out, environment out.
    const struct {
        QStringList cells;
        QStringList tags;
        QList<int> streams;
    } expected[] = {
        // Timer1: the environment step has filled cell 0 of its pipes and tagged its flows.
        {{b, b, "ENV: 3 on red", b, b, b, "ENV: 1 on green", b},
         {b, "03.000 on red", b, "01.000 on green"},
         {2, 3}},
        // tmrEnvDelay: the environment's values move to cell 1; its tags go blank.
        {{b, b, b, "ENV: 3 on red", b, b, b, "ENV: 1 on green"}, {b, b, b, b}, {2, 3}},
        // tmrEnvMv, then the user step: the environment's pipes empty, the due orders enter.
        {{"USER: 4 on red", b, b, b, "USER: 2 on green", b, b, b},
         {"04.000 on red", b, "02.000 on green", b},
         {0, 1}},
        // tmrUserDelay: the orders reach the tank and move to cell 1; streams hidden.
        {{b, "USER: 4 on red", b, b, b, "USER: 2 on green", b, b}, {b, b, b, b}, {}},
        // tmrUserMv: everything back at rest.
        {{b, b, b, b, b, b, b, b}, {b, b, b, b}, {}},
    };
    for (int k = 0; k < 5; ++k) {
        const Snapshot& shot = rig.stages.at(k);
        QVERIFY2(shot.cells == expected[k].cells,
                 qPrintable(shot.stage + QStringLiteral(": ") + shot.cells.join(QStringLiteral(" | "))));
        QVERIFY2(shot.tags == expected[k].tags,
                 qPrintable(shot.stage + QStringLiteral(": ") + shot.tags.join(QStringLiteral(" | "))));
        // The water streams belong to the continuous display only.
        const QList<int> streams = continuous ? expected[k].streams : QList<int>();
        QVERIFY2(shot.streams == streams, qPrintable(shot.stage));
    }
    // The displays of the other mode stay hidden all along.
    for (const QString& name : kTags)
        QCOMPARE(rig.drawing().label(name)->isVisible(), continuous);
    for (const QString& name : kCells)
        QCOMPARE(rig.drawing().label(name)->isVisible(), !continuous);

    // The value labels after the period, and the discrete display's figures.
    QCOMPARE(rig.label("lblInFlowStatusEnvVal")->text(), QStringLiteral("03.000"));
    QCOMPARE(rig.label("lblOutFlowStatusEnvVal")->text(), QStringLiteral("01.000"));
    QCOMPARE(rig.label("lblInFlowStatusVal")->text(), QStringLiteral("00.000")); // initial orders
    QCOMPARE(rig.label("lblOutFlowStatusVal")->text(), QStringLiteral("00.000"));
    QCOMPARE(rig.label("lblAmountStatusVal")->text(), QStringLiteral("24.000"));
    QCOMPARE(rig.label("lblBackOrderVal")->text(), QStringLiteral("00.000"));
    QCOMPARE(rig.label("lblForwardOrderVal")->text(), QStringLiteral("00.000"));
    if (!continuous)
        QCOMPARE(rig.drawing().label(QStringLiteral("MissedFB0"))->text(), QStringLiteral("24"));

    // Period 2 has no environment flow and delivers the orders of period 1, 0 and 0: no
    // cell, tag or stream comes on. Its own orders, 7 and .5, arrive in period 3.
    rig.stages.clear();
    rig.type(rig.inflow(), QStringLiteral("7"));
    rig.type(rig.outflow(), QStringLiteral(".5"));
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.submit()->isEnabled(), 5000);
    QCOMPARE(rig.stageNames(), kPacedPeriod);
    for (const Snapshot& shot : rig.stages) {
        QVERIFY2(shot.cells == QStringList(8, kBlank), qPrintable(shot.stage));
        QVERIFY2(shot.tags == QStringList(4, kBlank), qPrintable(shot.stage));
        QVERIFY2(shot.streams.isEmpty(), qPrintable(shot.stage));
    }
    QCOMPARE(rig.label("lblInFlowStatusVal")->text(), QStringLiteral("00.000"));

    // Period 3 delivers 7 and 0.5 from period 2.
    rig.stages.clear();
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY(rig.screen->isOver());
    QCOMPARE(rig.stages.at(2).cells.at(0), QStringLiteral("USER: 7 on red"));
    QCOMPARE(rig.stages.at(2).cells.at(4), QStringLiteral("USER: 0.5 on green"));
    QCOMPARE(rig.stages.at(2).tags.at(0), QStringLiteral("07.000 on red"));
    QCOMPARE(rig.stages.at(2).tags.at(2), QStringLiteral("00.500 on green"));
    QCOMPARE(rig.stages.at(3).cells.at(1), QStringLiteral("USER: 7 on red"));
    QCOMPARE(rig.stages.at(3).cells.at(5), QStringLiteral("USER: 0.5 on green"));
    QCOMPARE(rig.label("lblInFlowStatusVal")->text(), QStringLiteral("07.000"));
    QCOMPARE(rig.label("lblOutFlowStatusVal")->text(), QStringLiteral("00.500"));
}

// --- Time-driven play -------------------------------------------------------------------------

void TestTrialScreen::timeDrivenWithoutSubmit()
{
    Rig rig([](SessionState& s) {
        s.setup.IsTimeDriven = true;
        s.setup.TimeBetweenEnvTries = 20;
    });
    START(rig);
    // The clock alone is armed at load, and Submit is enabled.
    QCOMPARE(rig.armedAtLoad, QStringList({"Timer2/20"}));
    QVERIFY(rig.atLoad.submitEnabled);
    QTRY_VERIFY_WITH_TIMEOUT(rig.screen->isOver(), 30000);

    // Each tick opens a period and runs the user step first (no own order was ever in
    // play), then the environment step; the fourth tick ends the session.
    const QStringList userThenEnvironment = {"Timer2", "tmrUserDelay", "tmrUserMv", "tmrEnvDelay", "tmrEnvMv"};
    QCOMPARE(rig.stageNames(), userThenEnvironment + userThenEnvironment + userThenEnvironment +
                                   QStringList({"Timer2"}));
    QCOMPARE(rig.stages.last().trial, 3);
    QCOMPARE(rig.processEnd.calls, 1);
    QVERIFY(!rig.anyTimerActive());

    const QList<QVariantMap> events = rig.events();
    QCOMPARE(field(events, "eventType"),
             QStringList({"No User Effect", "User Inflow", "User Outflow", "After Cost Calculation",
                          "Environment Effect", "After Cost Calculation", //
                          "After Cost Calculation", "After Cost Calculation", //
                          "No User Effect", "After Cost Calculation", "Environment Effect",
                          "After Cost Calculation"}));
    QCOMPARE(field(events, "Trial"), QStringList({"1", "1", "1", "1", "1", "1", "2", "2", "3", "3", "3", "3"}));
    QCOMPARE(field(events, "EventID").last(), QStringLiteral("12"));

    // A summary per period, opened by its tick and completed (twice) in the period.
    const QList<QVariantMap> summaries = rig.summaries();
    QCOMPARE(field(summaries, "Trial"), QStringList({"1", "2", "3"}));
    COMPARE_NUMBERS(summaries, "AmountInTank", {24, 24, 25});
    COMPARE_NUMBERS(summaries, "UserInFlow", {0, 0, 0});
    COMPARE_NUMBERS(summaries, "EnvInFlow", {3, 0, 2});
    QCOMPARE(rig.submitTimes().size(), 0);
    QCOMPARE(rig.promptTexts().size(), 1);
    QVERIFY(rig.promptTexts().first().startsWith(kEarningsStart));
    QCOMPARE(rig.label("lblCurrTimePeriod")->text(), QStringLiteral("3"));
}

void TestTrialScreen::timeDrivenSubmitRepeatsTheDueQuantityAndSteersTheClock()
{
    // Delays of 2: the initial back order of 4 is due in period 1, the initial discharge
    // of 0 as well. The environment adds 1 in every period. The clock waits long enough
    // (400 ms, a store write can take tens of milliseconds) for a Submit's user stages to
    // end before the next tick.
    Rig rig([](SessionState& s) {
        s.setup.IsTimeDriven = true;
        s.setup.TimeBetweenEnvTries = 400;
        s.setup.InitialForwardDischarge = 0;
        s.EnvInFlow.fill(1);
        s.EnvOutFlow.fill(0);
        s.EnvInFlow[0] = 0;
    });
    // The participant submits 4 in and 1 out as soon as period 1's environment step ended.
    bool submitted = false;
    rig.afterStage = [&](const QString& stage) {
        if (stage != QStringLiteral("tmrEnvMv") || rig.s.Trial != 1 || submitted)
            return;
        submitted = true;
        rig.type(rig.inflow(), QStringLiteral("4"));
        rig.type(rig.outflow(), QStringLiteral("1"));
        QTest::mouseClick(rig.submit(), Qt::LeftButton);
    };
    START(rig);
    QSignalSpy over(rig.screen.get(), &TrialScreen::sessionOver);
    QVERIFY(over.wait(10000));
    QVERIFY(submitted);

    const QStringList userThenEnvironment = {"Timer2", "tmrUserDelay", "tmrUserMv", "tmrEnvDelay", "tmrEnvMv"};
    const QStringList submitStages = {"Timer1", "tmrUserDelay", "tmrUserMv"};
    const QStringList environmentOnly = {"Timer2", "tmrEnvDelay", "tmrEnvMv"};
    QCOMPARE(rig.stageNames(), userThenEnvironment + submitStages + userThenEnvironment + environmentOnly +
                                   QStringList({"Timer2"}));
    // The Submit's user step delivered the initial order again, which leaves the switch
    // off; period 2's tick delivered the positive own orders and turned it on, so period
    // 3's tick ran the environment step alone.
    QCOMPARE(rig.stages.at(5).trial, 1);        // the Submit acted on period 1
    QVERIFY(!rig.stages.at(7).userFlowInPlay);
    QVERIFY(rig.stages.at(8).userFlowInPlay);   // period 2's tick: 4 and 1 are due
    QCOMPARE(rig.stages.at(13).trial, 3);

    const QList<QVariantMap> events = rig.events();
    QCOMPARE(field(events, "eventType"),
             QStringList({// period 1: the tick's user step, the environment, then the Submit
                          "No User Effect", "User Inflow", "User Outflow", "After Cost Calculation",
                          "Environment Effect", "After Cost Calculation", "Submit Clicked",
                          "No User Effect", "User Inflow", "User Outflow", "After Cost Calculation",
                          // period 2: the orders of period 1 arrive at the tick
                          "User Inflow", "User Outflow", "After Cost Calculation",
                          "Environment Effect", "After Cost Calculation",
                          // period 3: the environment alone, nothing delivered
                          "Environment Effect", "After Cost Calculation"}));
    QCOMPARE(field(events, "Trial"),
             QStringList({"1", "1", "1", "1", "1", "1", "1", "1", "1", "1", "1", //
                          "2", "2", "2", "2", "2", "3", "3"}));
    QStringList ids;
    for (int i = 1; i <= 18; ++i)
        ids.append(QString::number(i));
    QCOMPARE(field(events, "EventID"), ids);
    // The back order due in period 1 (4) reached the tank twice in that period.
    QList<QVariantMap> inflows;
    for (const QVariantMap& row : events)
        if (row.value(QStringLiteral("eventType")) == QStringLiteral("User Inflow"))
            inflows.append(row);
    COMPARE_NUMBERS(inflows, "AmountInTank", {24, 29, 33});
    QCOMPARE(field(inflows, "Trial"), QStringList({"1", "1", "2"}));
    QCOMPARE(field(events, "UserInFlow").at(6), QStringLiteral("4")); // Submit Clicked

    const QList<QVariantMap> summaries = rig.summaries();
    QCOMPARE(field(summaries, "Trial"), QStringList({"1", "2", "3"}));
    // The last completion of each period counts: after the Submit in period 1.
    COMPARE_NUMBERS(summaries, "AmountInTank", {29, 33, 34});
    // In time-driven play the completion writes the period's orders.
    COMPARE_NUMBERS(summaries, "UserInFlow", {4, 0, 0});
    COMPARE_NUMBERS(summaries, "UserOutFlow", {1, 0, 0});
    QCOMPARE(field(rig.submitTimes(), "Trial"), QStringList({"1"}));
    QCOMPARE(rig.promptTexts().size(), 1);
}

void TestTrialScreen::submitBeforeTheFirstTickActsOnPeriodZero()
{
    // The first tick is far off (1 s): the whole of period 0 runs before it.
    Rig rig([](SessionState& s) {
        s.setup.IsTimeDriven = true;
        s.setup.TimeBetweenEnvTries = 1000;
    });
    START(rig);
    rig.type(rig.inflow(), QStringLiteral("3"));
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.stageNames().contains(QStringLiteral("tmrEnvMv")), 5000);

    // The Submit acted on period 0, the environment followed (with nothing to do in
    // period 0), and its end restarted the clock.
    QCOMPARE(rig.stageNames(),
             QStringList({"Timer1", "tmrUserDelay", "tmrUserMv", "tmrEnvDelay", "tmrEnvMv"}));
    for (const Snapshot& shot : rig.stages)
        QCOMPARE(shot.trial, 0);
    QVERIFY(rig.timer("Timer2")->isActive());
    QCOMPARE(rig.timer("Timer2")->interval(), 1000);
    const QList<QVariantMap> events = rig.events();
    QCOMPARE(field(events, "eventType"),
             QStringList({"Submit Clicked", "User Inflow", "User Outflow", "After Cost Calculation",
                          "After Cost Calculation"}));
    QCOMPARE(field(events, "Trial"), QStringList(5, QStringLiteral("0")));
    QCOMPARE(field(events, "UserInFlow").first(), QStringLiteral("3"));
    QCOMPARE(field(rig.submitTimes(), "Trial"), QStringList({"0"}));
    // Period 0 has no summary row: both completions were skipped without a word.
    QCOMPARE(rig.summaries().size(), 0);
    QCOMPARE(rig.prompter.prompts().size(), 0);
    QVERIFY(rig.submit()->isEnabled());
    QVERIFY(!rig.screen->isOver());
}

// --- The order boxes --------------------------------------------------------------------------

void TestTrialScreen::entryFilter_data()
{
    // "\b" stands for Backspace.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("locale");
    QTest::newRow("0 into an empty box") << "" << "0" << "" << "";
    QTest::newRow("0 0 into an empty box") << "" << "00" << "" << "";
    QTest::newRow("5 replaces a lone 0") << "0" << "5" << "5" << "";
    QTest::newRow(". replaces a lone 0") << "0" << "." << "." << "";
    QTest::newRow("0 after a digit") << "0" << "50" << "50" << "";
    QTest::newRow("0 after a point") << "0" << ".05" << ".05" << "";
    QTest::newRow("letters, minus, space ignored") << "0" << "a1-2 Z+" << "12" << "";
    QTest::newRow("minus first") << "0" << "-" << "0" << "";
    QTest::newRow("backspace") << "0" << "12\b" << "1" << "";
    QTest::newRow("backspace empties") << "0" << "\b" << "" << "";
    QTest::newRow("two points typed") << "0" << "1.2.3" << "1.2.3" << "";
    QTest::newRow("digits after 0 in a longer text") << "10" << "0" << "100" << "";
    // "\a" stands for Ctrl+A, which selects the whole entry.
    QTest::newRow("Ctrl+A then a digit replaces the entry") << "123" << "\a4" << "4" << "";
    // The comma is the decimal point in every locale: 2,5 is 2.5, never 25.
    QTest::newRow("comma under a German locale") << "0" << "2,5" << "2,5" << "de_DE";
    QTest::newRow("comma where the point is the separator") << "0" << "2,5" << "2,5" << "en_US";
    QTest::newRow("comma and three digits") << "0" << "2,500" << "2,500" << "en_US";
}

void TestTrialScreen::entryFilter()
{
    QFETCH(QString, before);
    QFETCH(QString, keys);
    QFETCH(QString, after);
    QFETCH(QString, locale);
    QLocale::setDefault(locale.isEmpty() ? QLocale::c() : QLocale(locale));
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    Rig rig;
    rig.storeOpenAtStart = false;
    START(rig);
    for (QLineEdit* box : {rig.inflow(), rig.outflow()}) {
        box->setText(before);
        for (QChar c : keys) {
            if (c == QLatin1Char('\b'))
                QTest::keyClick(box, Qt::Key_Backspace);
            else if (c == QLatin1Char('\a'))
                QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            else
                QTest::keyClick(box, c.toLatin1());
        }
        QCOMPARE(box->text(), after);
    }
    if (after.contains(QLatin1Char(','))) {
        // ... and the order stored is the number typed.
        QTest::mouseClick(rig.submit(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.events().isEmpty(), 5000);
        QCOMPARE(field(rig.events(), "UserInFlow").value(0).toDouble(), 2.5);
        QCOMPARE(rig.prompter.prompts().size(), 0);
        return;
    }
    // Paste is no way around the filter.
    QApplication::clipboard()->setText(QStringLiteral("-7x"));
    rig.inflow()->setText(QStringLiteral("1"));
    QTest::keyClick(rig.inflow(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(rig.inflow()->text(), QStringLiteral("1"));
    QCOMPARE(rig.prompter.prompts().size(), 0);
}

void TestTrialScreen::submitRefusesWhatIsNoNumber_data()
{
    QTest::addColumn<QString>("inflow");
    QTest::addColumn<QString>("outflow");
    QTest::addColumn<QString>("named"); // the entry the message quotes
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("opening"); // how the message begins
    QTest::newRow("a lone point") << "." << "0" << "\".\"" << "en" << "The inflow ";
    QTest::newRow("two points") << "1.2.3" << "0" << "\"1.2.3\"" << "en" << "The inflow ";
    QTest::newRow("two points in the outflow") << "2" << "1.." << "\"1..\"" << "en" << "The outflow ";
    QTest::newRow("two commas in the outflow, in German") << "2" << "1,," << "„1,,“" << "de" << "Der Abfluss ";
    // The tank's full scale is 50: an order above 500 is a slip of the keys.
    QTest::newRow("more than the task takes") << "99999999999" << "0" << "\"99999999999\"" << "en" << "The inflow ";
    QTest::newRow("just over the largest outflow") << "2" << "500,5" << "\"500,5\"" << "en" << "The outflow ";
}

void TestTrialScreen::submitRefusesWhatIsNoNumber()
{
    QFETCH(QString, inflow);
    QFETCH(QString, outflow);
    QFETCH(QString, named);
    QFETCH(QString, language);
    QFETCH(QString, opening);
    QVERIFY(useLanguage(language));
    const auto english = qScopeGuard([] { useLanguage(QString()); });
    Rig rig;
    START(rig);
    rig.type(rig.inflow(), inflow);
    rig.type(rig.outflow(), outflow);
    QCOMPARE(rig.inflow()->text(), inflow);
    QCOMPARE(rig.outflow()->text(), outflow);
    QTest::mouseClick(rig.submit(), Qt::LeftButton);

    QCOMPARE(rig.prompter.prompts().size(), 1);
    const Prompt& message = rig.prompter.prompts().first();
    QCOMPARE(message.title, QStringLiteral("Aquilevel"));
    QCOMPARE(message.buttons, Prompter::Buttons::Ok);
    QCOMPARE(message.icon, Prompter::Icon::Exclamation);
    QVERIFY2(message.text.startsWith(opening) && message.text.contains(named), qPrintable(message.text));
    // Nothing happened: no row, the period and the entries as they were, Submit ready.
    QVERIFY(rig.submit()->isEnabled());
    QVERIFY(rig.inflow()->isEnabled());
    QVERIFY(!rig.anyTimerActive());
    QCOMPARE(rig.inflow()->text(), inflow);
    QCOMPARE(rig.outflow()->text(), outflow);
    QCOMPARE(rig.s.Trial, 0);
    QCOMPARE(rig.s.EventID, 0);
    QCOMPARE(rig.s.tank.SubmitTime, QTime(0, 0));
    QCOMPARE(rig.events().size(), 0);
    QCOMPARE(rig.summaries().size(), 0);
    QCOMPARE(rig.submitTimes().size(), 0);

    // Corrected, the same period goes ahead with a decimal order.
    rig.type(rig.inflow(), QStringLiteral("1.5"));
    rig.type(rig.outflow(), QStringLiteral(".5"));
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.submit()->isEnabled(), 5000);
    const QList<QVariantMap> events = rig.events();
    QCOMPARE(field(events, "eventType").first(), QStringLiteral("Submit Clicked"));
    COMPARE_NUMBERS(events.mid(0, 1), "UserInFlow", {1.5});
    COMPARE_NUMBERS(events.mid(0, 1), "UserOutFlow", {0.5});
    QCOMPARE(field(events, "Trial").first(), QStringLiteral("1"));
    QCOMPARE(rig.prompter.prompts().size(), 1);
}

// --- Leaving early ----------------------------------------------------------------------------

void TestTrialScreen::exitKeyAnsweredNo()
{
    Rig rig;
    START(rig);
    rig.type(rig.inflow(), QStringLiteral("5"));
    GateRobot robot([](PasswordGate& gate) { // counts and cancels any gate
        gateButton(gate, "Command2")->click();
        return false;
    });

    rig.prompter.queueNo(3);
    QTest::keyClick(rig.inflow(), Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(rig.outflow(), Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(rig.submit(), Qt::Key_X, Qt::ControlModifier);

    QCOMPARE(rig.prompter.prompts().size(), 3);
    for (const Prompt& p : rig.prompter.prompts()) {
        QCOMPARE(p.title, kExitTitle);
        QCOMPARE(p.text, kExitQuestion);
        QCOMPARE(p.buttons, Prompter::Buttons::YesNo);
    }
    QCOMPARE(rig.prompter.unexpected(), 0);
    QCOMPARE(robot.sightings, 0);
    // The key typed nothing and changed nothing.
    QCOMPARE(rig.inflow()->text(), QStringLiteral("5"));
    QCOMPARE(rig.outflow()->text(), QStringLiteral("0"));
    QVERIFY(rig.submit()->isEnabled());
    QCOMPARE(rig.s.Trial, 0);
    QVERIFY(!rig.screen->isOver());
    QVERIFY(rig.screen->isVisible());
    QCOMPARE(rig.events().size(), 0);
}

void TestTrialScreen::gateCancelledThenOpenedAgainEmpty()
{
    Rig rig;
    START(rig);
    rig.type(rig.inflow(), QStringLiteral("5"));

    QString firstName;
    {
        GateRobot robot([&](PasswordGate& gate) {
            firstName = gate.objectName();
            gateBox(gate, "txtUsername")->setText(QStringLiteral("someone"));
            gateBox(gate, "txtPassword")->setText(QStringLiteral("secret"));
            gateButton(gate, "Command2")->click();
            return true;
        });
        rig.prompter.queueYes();
        QTest::keyClick(rig.inflow(), Qt::Key_X, Qt::ControlModifier);
        QVERIFY(robot.done);
        QVERIFY(!robot.timedOut);
    }
    QCOMPARE(firstName, QStringLiteral("frmPasswordAuth"));
    QVERIFY(!rig.s.ExitGranted);

    QStringList boxesSecondTime;
    {
        GateRobot robot([&](PasswordGate& gate) {
            boxesSecondTime << gateBox(gate, "txtUsername")->text() << gateBox(gate, "txtPassword")->text();
            gateButton(gate, "Command2")->click();
            return true;
        });
        rig.prompter.queueYes();
        QTest::keyClick(rig.submit(), Qt::Key_X, Qt::ControlModifier);
        QVERIFY(robot.done);
    }
    QCOMPARE(boxesSecondTime, QStringList({"", ""}));

    // Two questions, no other message; the screen and its period as they were.
    QCOMPARE(rig.prompter.titles(), QStringList({kExitTitle, kExitTitle}));
    QCOMPARE(rig.inflow()->text(), QStringLiteral("5"));
    QVERIFY(rig.submit()->isEnabled());
    QVERIFY(!rig.screen->isOver());
    QCOMPARE(rig.processEnd.calls, 0);
    // The task goes on.
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.submit()->isEnabled(), 5000);
    QCOMPARE(rig.s.Trial, 1);
}

void TestTrialScreen::gateWithTheRightPairEndsTheSessionAtOnce()
{
    // Time-driven, so that the clock and the stages are running when the gate opens.
    Rig rig([](SessionState& s) {
        s.setup.IsTimeDriven = true;
        s.setup.TimeBetweenEnvTries = 10;
        s.setup.MaxTrial = 50;
    });
    START(rig);
    // Between periods' user steps, when the boxes take keys.
    QTRY_VERIFY_WITH_TIMEOUT(rig.s.Trial >= 1 && rig.outflow()->isEnabled(), 5000);

    int wrongTries = 0;
    QStringList afterWrongPair;
    int trialAtGateOpen = -1;
    int rowsAtExit = -1;
    GateRobot robot([&](PasswordGate& gate) {
        if (trialAtGateOpen < 0)
            trialAtGateOpen = rig.s.Trial;
        if (wrongTries == 0) {
            ++wrongTries;
            gateBox(gate, "txtUsername")->setText(config::kDemoUser);
            gateBox(gate, "txtPassword")->setText(config::kDemoPassword.toUpper());
            gateButton(gate, "Command1")->click();
            afterWrongPair << gateBox(gate, "txtUsername")->text() << gateBox(gate, "txtPassword")->text();
            return false;
        }
        // The clock goes on behind the gate; once it has opened another period, exit.
        if (rig.s.Trial <= trialAtGateOpen)
            return false;
        gateBox(gate, "txtUsername")->setText(config::kDemoUser.toUpper()); // case is ignored
        gateBox(gate, "txtPassword")->setText(config::kDemoPassword);
        rowsAtExit = rig.s.EventID;
        gateButton(gate, "Command1")->click();
        return true;
    });
    QSignalSpy over(rig.screen.get(), &TrialScreen::sessionOver);
    rig.prompter.queueYes();
    QTest::keyClick(rig.outflow(), Qt::Key_X, Qt::ControlModifier);

    QVERIFY(robot.done);
    QVERIFY(!robot.timedOut);
    QCOMPARE(over.size(), 1);
    QVERIFY(rig.screen->isOver());
    QCOMPARE(rig.processEnd.calls, 1);
    QVERIFY(rig.s.ExitGranted);
    QVERIFY(rig.s.AbortSession);
    // The wrong pair was refused with its message and the boxes emptied.
    QCOMPARE(afterWrongPair, QStringList({"", ""}));
    QCOMPARE(rig.prompter.titles(), QStringList({kExitTitle, QStringLiteral("Password Incorrect")}));
    // No questionnaire, no earnings message.
    QCOMPARE(rig.questionnaires, 0);
    for (const QString& text : rig.promptTexts())
        QVERIFY(!text.startsWith(kEarningsStart));
    // Nothing runs any more and nothing more is written.
    QVERIFY(!rig.anyTimerActive());
    QVERIFY(!rig.submit()->isEnabled());
    QCOMPARE(rig.s.EventID, rowsAtExit);
    QCOMPARE(rig.events().size(), rowsAtExit);
    QCOMPARE(field(rig.events(), "EventID").last(), QString::number(rowsAtExit));
    // A close request after the end closes the window without a gate.
    QVERIFY(rig.screen->close());
}

void TestTrialScreen::closeRequestCancelledAtTheGate()
{
    Rig rig;
    START(rig);
    rig.type(rig.inflow(), QStringLiteral("5"));
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QVERIFY(!rig.submit()->isEnabled());

    // The gate opens at once, without the question; behind it the period runs to its end.
    bool periodEndedBehindTheGate = false;
    QString gateName;
    GateRobot robot([&](PasswordGate& gate) {
        gateName = gate.objectName();
        if (!rig.submit()->isEnabled())
            return false;
        periodEndedBehindTheGate = true;
        gateButton(gate, "Command2")->click();
        return true;
    });
    QVERIFY(!rig.screen->close());

    QVERIFY(robot.done);
    QVERIFY(!robot.timedOut);
    QCOMPARE(gateName, QStringLiteral("frmPasswordAuth"));
    QVERIFY(periodEndedBehindTheGate);
    QVERIFY(rig.screen->isVisible());
    QVERIFY(!rig.screen->isOver());
    QVERIFY(!rig.s.ExitGranted);
    QCOMPARE(rig.prompter.prompts().size(), 0);
    QCOMPARE(rig.processEnd.calls, 0);
    QCOMPARE(rig.stageNames(), kPacedPeriod);
    QCOMPARE(field(rig.events(), "eventType").last(), QStringLiteral("After Cost Calculation"));
    // Escape does not leave either.
    QTest::keyClick(rig.screen.get(), Qt::Key_Escape);
    QVERIFY(rig.screen->isVisible());
}

// --- A stage falling due while the store backs off ----------------------------------------------

void TestTrialScreen::stageDueDuringLockBackOffWaitsForTheWrite()
{
    // The store reports a lock at once (no busy wait inside the engine) and backs off.
    Rig rig(
        [](SessionState& s) {
            s.setup.IsTimeDriven = true;
            s.setup.TimeBetweenEnvTries = 20;
            s.setup.MaxTrial = 50;
        },
        0);

    bool locked = false;
    bool insideBackOff = false;
    bool backedOff = false; // the Submit's write has begun to back off
    int ticksInside = 0; // the clock fell due inside a back-off (whether or not its stage ran)
    int nesting = 0;
    QStringList violations;
    const auto unlock = [&] {
        if (locked)
            reader().commit();
        locked = false;
    };
    // Inside a back-off: let window events through until the clock has fallen due, and
    // check that no stage ran meanwhile.
    rig.pacer.onEvents = [&] {
        if (++nesting > 1) {
            violations << QStringLiteral("a store access inside a back-off");
            unlock(); // let the nested access finish, so that the test ends
        }
        insideBackOff = backedOff = true;
        const qint32 trial = rig.s.Trial;
        const qint32 eventId = rig.s.EventID;
        const int ticksBefore = ticksInside;
        QElapsedTimer waited;
        waited.start();
        while (locked && ticksInside == ticksBefore && !waited.hasExpired(2000))
            QCoreApplication::processEvents();
        if (rig.s.Trial != trial || rig.s.EventID != eventId)
            violations << QStringLiteral("the period moved on inside a back-off");
        insideBackOff = nesting > 1;
        --nesting;
    };
    // The lock goes away after the first back-off in which the clock fell due.
    rig.pacer.onWait = [&](qint64) {
        if (ticksInside > 0 || violations.size() > 0)
            unlock();
    };
    bool submitted = false;
    std::unique_ptr<TimerEventWatch> clockWatch;
    rig.afterStage = [&](const QString& stage) {
        if (stage != QStringLiteral("tmrEnvMv") || rig.s.Trial != 1 || submitted)
            return;
        // Period 1's environment step has ended and the clock is armed: another program
        // takes the file, and the participant presses Submit.
        submitted = true;
        QVERIFY(rig.timer("Timer2")->isActive());
        // Sees the clock's timer event before the screen's handler does, and holds it back
        // until the Submit's write backs off, however slowly the stage before it runs.
        clockWatch = std::make_unique<TimerEventWatch>(rig.timer("Timer2"), [&] {
            if (!insideBackOff)
                return !backedOff;
            ++ticksInside;
            return false;
        });
        reader().begin(true); // takes the write lock at once
        locked = true;
        rig.inflow()->setText(QStringLiteral("2"));
        QTest::mouseClick(rig.submit(), Qt::LeftButton);
    };
    START(rig);

    QTRY_VERIFY_WITH_TIMEOUT(rig.s.Trial >= 2 && rig.submitTimes().size() == 1 &&
                                 field(rig.events(), "eventType").contains(QStringLiteral("Submit Clicked")),
                             30000);
    unlock();
    QVERIFY(submitted);
    QVERIFY2(rig.pacer.backOffs >= 1, "the store never backed off");
    QVERIFY2(ticksInside >= 1, "the clock never fell due inside a back-off");
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join(QStringLiteral("; "))));
    // The deferred tick ran afterwards: period 2 was opened with its summary row, and the
    // participant saw no message.
    QTRY_VERIFY_WITH_TIMEOUT(field(rig.summaries(), "Trial").contains(QStringLiteral("2")), 30000);
    QCOMPARE(rig.prompter.prompts().size(), 0);
    QVERIFY(!rig.screen->isOver());
}

void TestTrialScreen::takenOverStationStopsWritingAndTellsTheExperimenter()
{
    Rig rig;
    QVERIFY(!rig.session.hold().take(rig.subject, rig.s.Version));
    START(rig);
    // Another station takes the participant over while this one stands still.
    database().exec(QStringLiteral("UPDATE datSessionHold SET Holder = '1:x:other' WHERE Subject = $1"), {rig.subject});
    rig.type(rig.inflow(), QStringLiteral("5"));
    QTest::mouseClick(rig.submit(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.promptTexts().isEmpty(), 5000);
    QVERIFY2(rig.promptTexts().first().startsWith(QStringLiteral("Another station now holds participant %1").arg(rig.subject)),
             qPrintable(rig.promptTexts().join('|')));
    QVERIFY(rig.events().isEmpty() && rig.summaries().isEmpty() && rig.submitTimes().isEmpty());
    QVERIFY(!rig.submit()->isEnabled() && !rig.anyTimerActive());
    // Leaving still goes through the experimenter's gate.
    QVERIFY(!rig.screen->isOver());
}

QTEST_MAIN(TestTrialScreen)
#include "tst_trialscreen.moc"
