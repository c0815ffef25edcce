// The replay of a stored session: the tank drawing the participant saw after each step of
// a session played through the trial screen (both displays, both kinds of play) is, pixel
// for pixel, the one the replay draws from the step's stored row; a session stopped inside
// a period replays up to its last row; the keys, Reload and the console's Replay...; a
// participant without rows is refused.

#include "session/Session.h"
#include "session/StartVersion.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"
#include "support/ToolRun.h"
#include "task/InitSession.h"
#include "task/PeriodCycle.h"
#include "task/TankDrawing.h"
#include "task/TrialScreen.h"
#include "tools/ConsoleWindow.h"
#include "tools/ReplayWindow.h"
#include "tools/StationsModel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTimer>
#include <QtTest>

using namespace aquilevel;
using aquilevel::task::TankDrawing;
using aquilevel::test::TempDatabase;

namespace {

TempDatabase& database()
{
    static TempDatabase db(TempDatabase::Content::Demo);
    return db;
}

// The drawing at its design size, whatever its window made of it.
QImage shot(TankDrawing& drawing)
{
    drawing.resize(TankDrawing::designSize());
    return drawing.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Empty when the pictures are equal; else how many pixels differ and where.
QString difference(const QImage& seen, const QImage& replayed)
{
    if (seen.size() != replayed.size())
        return QStringLiteral("sizes differ: %1x%2 seen, %3x%4 replayed")
            .arg(seen.width())
            .arg(seen.height())
            .arg(replayed.width())
            .arg(replayed.height());
    int count = 0;
    QRect where;
    for (int y = 0; y < seen.height(); ++y)
        for (int x = 0; x < seen.width(); ++x)
            if (seen.pixel(x, y) != replayed.pixel(x, y)) {
                ++count;
                where |= QRect(x, y, 1, 1);
            }
    if (count == 0)
        return {};
    return QStringLiteral("%1 pixels differ within (%2,%3) %4x%5")
        .arg(count)
        .arg(where.x())
        .arg(where.y())
        .arg(where.width())
        .arg(where.height());
}

const QStringList kStageTimers = {"Timer1", "Timer2", "tmrEnvDelay", "tmrEnvMv", "tmrUserDelay", "tmrUserMv"};

// What the participant saw: the drawing after each step that wrote a row, by the EventID
// of the step's last row, and the period of the last row.
struct Played {
    QMap<qint32, QImage> seen;
    qint32 lastPeriod = 0;
};

// Plays `periods` periods of a version through the trial screen, typing orders that
// change from period to period, then presses Submit once more and stops the session
// right after that step, as a station killed in the middle of a period. Time-driven play
// runs on a quick clock, with one Submit a period.
Played play(const QString& version, const QString& subject, int periods)
{
    test::TestSession t(database().engine());
    SessionState& s = t.session.state;
    s.Subject = subject;
    s.Version = version;
    LoadCheckedSetup(t.session);
    StartNewParticipant(t.session);
    s.setup.envDelay = s.setup.EnvMv = s.setup.userDelay = s.setup.UsrMv = 1;
    s.setup.TimeBetweenEnvTries = 60;

    task::TrialScreen screen(t.session);
    auto* cycle = screen.findChild<task::PeriodCycle*>(QStringLiteral("periodCycle"));
    Played played;
    qint32 last = 0;
    for (const QString& name : kStageTimers) {
        // Connected after the cycle's own handler: runs right after the step.
        QObject::connect(screen.findChild<QTimer*>(name), &QTimer::timeout, &screen, [&, name] {
            if (s.EventID != last) {
                played.seen.insert(s.EventID, shot(screen.drawing()));
                played.lastPeriod = s.Trial;
            }
            last = s.EventID;
            if (name == QStringLiteral("Timer1") && s.Trial > periods)
                cycle->halt();
        });
    }
    screen.load();
    screen.show();
    if (!QTest::qWaitForWindowExposed(&screen))
        return {};
    auto* inflow = screen.findChild<QLineEdit*>(QStringLiteral("txtUsrInflowVal"));
    auto* outflow = screen.findChild<QLineEdit*>(QStringLiteral("txtUsrOutflowVal"));
    auto* submit = screen.findChild<QPushButton*>(QStringLiteral("cmdNextTrial"));
    QTimer* clock = screen.findChild<QTimer*>(QStringLiteral("Timer2"));
    // The rows cannot tell how far a step still under way had got when another began:
    // Submit is pressed with no flow in a pipe, and the clock of time-driven play waits
    // while the orders' steps run.
    const auto idle = [&] {
        for (const char* name : {"tmrEnvDelay", "tmrEnvMv", "tmrUserDelay", "tmrUserMv"})
            if (screen.findChild<QTimer*>(QLatin1String(name))->isActive())
                return false;
        return true;
    };
    const auto opened = [&](int period) {
        return QTest::qWaitFor([&] { return s.Trial >= period && submit->isEnabled() && idle(); }, 10000);
    };
    for (int period = 1; period <= periods + 1; ++period) {
        // Time-driven, the clock opens the period (or, on a busy machine, a later one) and
        // the orders act on it.
        if (s.setup.IsTimeDriven) {
            if (!opened(period))
                return {};
            period = s.Trial;
        }
        const bool ticking = clock->isActive();
        clock->stop();
        inflow->setText(QString::number(period % 3 * 2.5));
        outflow->setText(QString::number(period % 2 * 4));
        submit->click();
        if (period <= periods && !opened(period))
            return {};
        if (ticking)
            clock->start();
    }
    QTest::qWait(20); // no step runs after the halt
    return played;
}

} // namespace

class TestReplay : public QObject {
    Q_OBJECT

private slots:
    void replayDrawsWhatWasSeen_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("editedSince"); // the version's display changed after the session
        QTest::newRow("continuous") << QStringLiteral("Demo continuous") << false;
        QTest::newRow("discrete") << QStringLiteral("Demo discrete") << false;
        QTest::newRow("discrete, the version since made continuous") << QStringLiteral("Demo discrete") << true;
        QTest::newRow("time-driven") << QStringLiteral("Demo time-driven") << false;
    }

    void replayDrawsWhatWasSeen()
    {
        QFETCH(QString, version);
        QFETCH(bool, editedSince);
        const QString subject = QStringLiteral("replayed-%1").arg(QTest::currentDataTag()).left(30);
        const int periods = 5;
        const Played played = play(version, subject, periods);
        const QString display = QStringLiteral("update tblSetup set graphicalMode = $1 where Version = $2");
        if (editedSince)
            database().exec(display, {1, version});
        const auto restore = qScopeGuard([&] {
            if (editedSince)
                database().exec(display, {0, version});
        });
        const QMap<qint32, QImage>& seen = played.seen;
        QVERIFY2(seen.size() > 3 * periods, "the session was not played");

        test::TestSession t(database().engine());
        const tools::ReplaySession replay = tools::loadReplay(t.session.store(), version, subject);
        tools::ReplayWindow window(t.session.store(), replay);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // The numbers beside the drawing add up: over each whole period the amount moved by
        // the environment's flows and by what the pipeline delivered.
        const QList<tools::ReplayFrame>& all = window.frames();
        const auto units = [](const tools::ReplayFrame& f) { return f.tank.AmountInTank / f.tank.UnitScale; };
        double start = units(all.first());
        for (int i = 0; i + 1 < all.size(); ++i) {
            const tools::ReplayFrame& f = all.at(i);
            if (all.at(i + 1).period == f.period)
                continue;
            const double moved = replay.start.setup.simTimeForTP * (f.envInFlow - f.envOutFlow) + f.deliveredIn -
                                 f.deliveredOut;
            QVERIFY2(qAbs(units(f) - start - moved) < 1e-9, qPrintable(QStringLiteral("period %1").arg(f.period)));
            start = units(f);
        }

        // Up to the last row, written in the period the session stopped in.
        const QList<tools::ReplayFrame>& frames = window.frames();
        QCOMPARE(frames.last().eventId, seen.lastKey());
        QCOMPARE(frames.last().period, played.lastPeriod);
        QVERIFY(frames.last().period > periods);
        QVERIFY(frames.last().eventType != QStringLiteral("After Cost Calculation"));
        QCOMPARE(window.findChild<QSlider*>(QStringLiteral("sldPeriod"))->maximum(), frames.last().period);

        // Each step's last row, reached by stepping through every frame from the start and
        // by jumping to it.
        int compared = 0;
        for (int i = 0; i < frames.size(); ++i) {
            window.showFrame(i);
            if (!seen.contains(frames.at(i).eventId))
                continue;
            const QImage expected = seen.value(frames.at(i).eventId);
            const QString stepping = difference(expected, shot(window.drawing()));
            window.showFrame(int(frames.size()) - 1);
            window.showFrame(i);
            const QString jumping = difference(expected, shot(window.drawing()));
            const QString where = QStringLiteral("row %1 (%2, period %3): ")
                                      .arg(frames.at(i).eventId)
                                      .arg(frames.at(i).eventType)
                                      .arg(frames.at(i).period);
            QVERIFY2(stepping.isEmpty(), qPrintable(where + stepping));
            QVERIFY2(jumping.isEmpty(), qPrintable(where + jumping));
            ++compared;
        }
        QCOMPARE(compared, seen.size());
    }

    // The keys step and play; the console's Replay... opens the selected participant's;
    // Reload reads the rows written since.
    void keysAndConsole()
    {
        QVERIFY(play(QStringLiteral("Demo continuous"), QStringLiteral("keys"), 1).seen.size() > 3);
        test::TestSession t(database().engine());
        tools::ReplayWindow window(t.session.store(),
                                   tools::loadReplay(t.session.store(), QStringLiteral("Demo continuous"),
                                                     QStringLiteral("keys")));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(window.drawing().isVisible());
        const auto period = [&] { return window.frames().at(window.frameIndex()).period; };
        QTest::keyClick(&window, Qt::Key_Right);
        QCOMPARE(window.frameIndex(), 1);
        QTest::keyClick(&window, Qt::Key_Up);
        QCOMPARE(period(), 2);
        QTest::keyClick(&window, Qt::Key_Left);
        QCOMPARE(period(), 1);
        window.findChild<QComboBox*>(QStringLiteral("cboSpeed"))->setCurrentIndex(2);
        QTest::keyClick(&window, Qt::Key_Space);
        QVERIFY(window.isPlaying());
        QTRY_COMPARE(window.frameIndex(), int(window.frames().size()) - 1);
        QTRY_VERIFY(!window.isPlaying());

        // The day the session's rows were written on.
        tools::ConsoleWindow console(t.session.store(), [&] { return t.clock.now(); }, 3600 * 1000);
        console.refresh();
        int row = 0;
        while (row < console.stations().rowCount() && console.stations().participant(row).subject != QStringLiteral("keys"))
            ++row;
        QVERIFY(row < console.stations().rowCount());
        console.selectStation(row);
        console.findChild<QPushButton*>(QStringLiteral("cmdReplay"))->click();
        const auto* replay = console.findChild<tools::ReplayWindow*>();
        QVERIFY(replay && replay->isVisible());
        QCOMPARE(replay->frames().size(), window.frames().size());

        // Reload takes in the tank rows written since, and stays at the row shown.
        window.showFrame(3);
        const tools::ReplayFrame shown = window.frames().at(3);
        const int before = int(window.frames().size());
        database().append(QStringLiteral("datExperimentTrials"),
                          {{QStringLiteral("Subject"), QStringLiteral("keys")},
                           {QStringLiteral("Version"), QStringLiteral("Demo continuous")},
                           {QStringLiteral("eventType"), QStringLiteral("Environment Effect")},
                           {QStringLiteral("EventID"), window.frames().last().eventId + 1},
                           {QStringLiteral("Trial"), 2}});
        // The instructions' rows are no tank states.
        database().append(QStringLiteral("datExperimentTrials"),
                          {{QStringLiteral("Subject"), QStringLiteral("keys")},
                           {QStringLiteral("Version"), QStringLiteral("Demo continuous")},
                           {QStringLiteral("eventType"), QStringLiteral("Continue Clicked")},
                           {QStringLiteral("EventID"), window.frames().last().eventId + 2},
                           {QStringLiteral("Trial"), 2}});
        window.findChild<QPushButton*>(QStringLiteral("cmdReload"))->click();
        QCOMPARE(int(window.frames().size()), before + 1);
        QCOMPARE(window.frames().at(window.frameIndex()).eventId, shown.eventId);
    }

    void participantWithoutRowsIsRefused()
    {
        const test::ToolResult result =
            test::runTool(tools::runReplay, database().folder(),
                          {QStringLiteral("--version"), QStringLiteral("Demo continuous"), QStringLiteral("--subject"),
                           QStringLiteral("nobody")});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(QStringLiteral("\"nobody\" has no rows in version \"Demo continuous\"")),
                 qPrintable(result.err));
    }
};

QTEST_MAIN(TestReplay)
#include "tst_replay.moc"
