// How punctually the period's stage timers fire behind the trial screen, in a real event loop.
//
//   stage_timing [--periods N] [--interval MS] [--think MS]
//
// Plays N participant-paced periods (default 50) on a fresh encrypted file with the
// four stage intervals (envDelay, EnvMv, userDelay, UsrMv) all set to MS milliseconds
// (default 50), the window shown on the offscreen platform unless another is chosen.
// A scripted participant presses Submit `think` ms (default 10) after Submit comes back.
//
// Everything is observed from outside the screen:
//   - a timer is started at the end of the handler that starts it (the click handler for
//     Timer1, the previous stage for the others): a slot connected after the screen's own
//     records that moment for every timer that has become active;
//   - a timer fires when its timer event is delivered: an event filter on the timer
//     records that moment, before the screen's handler runs;
//   - the "Submit Clicked" row is stored when the engine's insert of it has committed (on
//     its own, or with the transaction it was written in): the engine is wrapped.
// Printed per stage: median, 95th percentile and maximum of (actual - configured) delay,
// and the same for the time from the Submit click to the stored "Submit Clicked" row.

#include "BenchSupport.h"

#include "session/Clock.h"
#include "task/InitSession.h"
#include "session/ProcessEnd.h"
#include "session/Session.h"
#include "store/DataLocation.h"
#include "store/Engine.h"
#include "task/TrialScreen.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

using namespace aquilevel;

namespace {

const QStringList kStages = {"tmrEnvDelay", "tmrEnvMv", "tmrUserDelay", "tmrUserMv"};
const QStringList kTimers = {"Timer1", "Timer2", "tmrEnvDelay", "tmrEnvMv", "tmrUserDelay", "tmrUserMv"};

QElapsedTimer& benchClock()
{
    static QElapsedTimer c; // monotonic
    return c;
}

double nowMs()
{
    return benchClock().nsecsElapsed() / 1e6;
}

// Passes everything to the real engine and reports each committed insert into a table,
// with the values it bound: at once for one committed on its own, at the commit for one
// inside a transaction.
class WatchedEngine final : public store::Engine {
public:
    using OnInsert = std::function<void(const QString& table, const QVariantList& values)>;

    WatchedEngine(std::unique_ptr<store::Engine> inner, OnInsert onInsert)
        : m_inner(std::move(inner)), m_connection(std::move(onInsert))
    {
    }
    QString location() const override { return m_inner->location(); }
    store::Connection& open(bool readOnly) override
    {
        m_connection.inner = &m_inner->open(readOnly);
        return m_connection;
    }
    void release() override { m_inner->release(); }
    void discard() override { m_inner->discard(); }
    void create(const std::function<void(store::Connection&)>& fill) override { m_inner->create(fill); }
    bool holdsTables() override { return m_inner->holdsTables(); }
    bool commitCanBeLost() const override { return m_inner->commitCanBeLost(); }
    QStringList damage(store::Connection& connection, store::Sweep sweep) override
    {
        return m_inner->damage(&connection == &m_connection ? *m_connection.inner : connection, sweep);
    }

private:
    struct Connection final : store::Connection {
        explicit Connection(OnInsert onInsert) : onInsert(std::move(onInsert)) {}
        store::Dialect dialect() const override { return inner->dialect(); }
        store::Rows query(const store::Sql& sql, const QVariantList& params) override
        {
            return inner->query(sql, params);
        }
        void forEach(const store::Sql& sql, const QVariantList& params,
                     const std::function<bool(const QVariantList&)>& take) override
        {
            inner->forEach(sql, params, take);
        }
        qint64 execute(const store::Sql& sql, const QVariantList& params) override
        {
            const qint64 changed = inner->execute(sql, params);
            static const QRegularExpression insert(QStringLiteral(R"x(^\s*INSERT INTO "([^"]+)")x"),
                                                   QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch match = insert.match(sql.in(inner->dialect()));
            if (match.hasMatch()) {
                if (inner->inTransaction())
                    pending.append({match.captured(1), params});
                else
                    onInsert(match.captured(1), params);
            }
            return changed;
        }
        void begin(bool write) override
        {
            pending.clear();
            inner->begin(write);
        }
        void commit() override
        {
            inner->commit();
            const auto committed = std::exchange(pending, {});
            for (const auto& [table, values] : committed)
                onInsert(table, values);
        }
        void rollback() override
        {
            pending.clear();
            inner->rollback();
        }
        bool inTransaction() const override { return inner->inTransaction(); }
        store::Connection* inner = nullptr;
        OnInsert onInsert;
        QList<QPair<QString, QVariantList>> pending; // inserted in the open transaction
    };

    std::unique_ptr<store::Engine> m_inner;
    Connection m_connection;
};

// Calls back when a timer's event is delivered, before the timer emits timeout().
class TimerEventWatch final : public QObject {
public:
    TimerEventWatch(QTimer* timer, std::function<void()> onEvent) : QObject(timer), m_onEvent(std::move(onEvent))
    {
        timer->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            m_onEvent();
        return false;
    }

private:
    std::function<void()> m_onEvent;
};

void configure(SessionState& s, int periods, int intervalMs)
{
    config::ExperimentSetup& c = s.setup;
    c.Version = s.Version = QStringLiteral("timing");
    s.Subject = QStringLiteral("timing");
    c.MaxTrial = periods;
    c.BaseMoney = 5;
    c.numMarks = 10;
    c.InitialAmountInTank = 40;
    c.GoalLinePoisition = 60;
    c.InitialBackOrder = 4;
    c.InitialForwardDischarge = 2;
    c.inFlowTPAfter = 3;
    c.outFlowTPAfter = 2;
    c.simTimeForTP = 1;
    c.AfterEveryNTrials = 1;
    c.CostUnderFlowPerAmount = c.CostOverFlowPerAmount = 0.02;
    c.BonusAmount = 0.25;
    c.YUnits = QStringLiteral("Gallons");
    c.graphicalMode = true;
    c.envDelay = c.EnvMv = c.userDelay = c.UsrMv = intervalMs;
    c.RHEIGHT = 6;
    c.RWIDTH = 14;
    c.LowerBoundFromGoal = c.UpperBoundFromGoal = 5;
    c.MaxNumberOfAScenarioType = qint16(periods);
    c.ShowBackOrder = c.ShowDischargeOrder = c.ShowTimePeriods = true;
    c.TimeBetweenEnvTries = 5000;
    s.EnvInFlow = QVector<double>(periods + 2);
    s.EnvOutFlow = QVector<double>(periods + 2);
    for (int t = 1; t < s.EnvInFlow.size(); ++t) {
        s.EnvInFlow[t] = 3 + (t % 7) * 0.5;
        s.EnvOutFlow[t] = 4;
    }
    s.MarkLabels.clear();
    for (int i = 1; i <= c.numMarks; ++i)
        s.MarkLabels.append(QString::number(i * 10));
    s.MarkLabels.append(QString());
    s.TopLabelValue = 100;
}

struct Figures {
    double median = 0;
    double p95 = 0;
    double max = 0;
};

// Nearest-rank percentiles.
Figures figures(std::vector<double> values)
{
    Figures f;
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    const auto rank = [&](double q) {
        const size_t r = size_t(std::ceil(q * double(values.size())));
        return values[std::clamp<size_t>(r, 1, values.size()) - 1];
    };
    f.median = rank(0.5);
    f.p95 = rank(0.95);
    f.max = values.back();
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Lateness of the period's stage timers behind the trial screen."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("periods"), QStringLiteral("Periods to play."), QStringLiteral("N"),
                      QStringLiteral("50")});
    parser.addOption({QStringLiteral("interval"), QStringLiteral("Each stage interval in ms."),
                      QStringLiteral("MS"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("think"), QStringLiteral("Time before each Submit in ms."),
                      QStringLiteral("MS"), QStringLiteral("10")});
    parser.addOption({QStringLiteral("hold-refresh"),
                      QStringLiteral("Hold the participant as a session does, refreshing every MS ms "
                                     "(0: no hold)."),
                      QStringLiteral("MS"), QStringLiteral("0")});
    parser.process(app);
    const int holdRefresh = parser.value(QStringLiteral("hold-refresh")).toInt();
    const int periods = parser.value(QStringLiteral("periods")).toInt();
    const int interval = parser.value(QStringLiteral("interval")).toInt();
    const int think = parser.value(QStringLiteral("think")).toInt();
    if (periods < 1 || periods > 30000 || interval < 1 || think < 0) {
        std::fprintf(stderr, "stage_timing: periods 1..30000, interval >= 1, think >= 0\n");
        return 1;
    }
    benchClock().start();

    QTemporaryDir folder(QCoreApplication::applicationDirPath() + QStringLiteral("/stage-timing-XXXXXX"));
    const QString path = store::databasePath(folder.path());
    store::engineAt(path)->create({});

    double clickedAt = -1;
    std::vector<double> clickToRow;
    auto engine = std::make_unique<WatchedEngine>(
        store::engineAt(path), [&](const QString& table, const QVariantList& values) {
            if (table != QStringLiteral("datExperimentTrials") || clickedAt < 0)
                return;
            for (const QVariant& value : values) {
                if (value.typeId() == QMetaType::QString && value.toString() == QStringLiteral("Submit Clicked")) {
                    clickToRow.push_back(nowMs() - clickedAt);
                    clickedAt = -1;
                    return;
                }
            }
        });

    UnattendedPrompter prompter(bench::questionVoidsTheRun("stage_timing", QStringLiteral("The game is over")));
    SystemClock systemClock;
    // Ends the session without ending the process, so that the figures can be printed.
    UnwindingProcessEnd processEnd;
    store::RealPacer pacer;
    Session session({prompter, systemClock, processEnd, pacer}, std::move(engine));
    configure(session.state, periods, interval);
    InitSession(session);
    int refreshes = 0;
    if (holdRefresh > 0) {
        if (session.hold().take(session.state.Subject, session.state.Version)) {
            std::fprintf(stderr, "stage_timing: could not take the hold\n");
            return 1;
        }
        session.hold().setRefreshInterval(holdRefresh);
        QObject::connect(&session.hold(), &StationHold::refreshed, [&refreshes] { ++refreshes; });
    }
    // As after the login: the file is open before the task starts.
    session.store().engine().open(false);
    session.store().engine().release();

    task::TrialScreen screen(session);
    auto* submit = screen.findChild<QPushButton*>(QStringLiteral("cmdNextTrial"));
    auto* inflow = screen.findChild<QLineEdit*>(QStringLiteral("txtUsrInflowVal"));
    auto* outflow = screen.findChild<QLineEdit*>(QStringLiteral("txtUsrOutflowVal"));

    QMap<QString, QTimer*> timers;
    QMap<QString, double> startedAt; // timers armed and not yet fired
    QMap<QString, std::vector<double>> lateness;
    const auto noteStarts = [&] {
        const double now = nowMs();
        for (auto it = timers.cbegin(); it != timers.cend(); ++it)
            if (it.value()->isActive() && !startedAt.contains(it.key()))
                startedAt.insert(it.key(), now);
    };

    int presses = 0;
    const auto press = [&] {
        if (screen.isOver() || !submit->isEnabled())
            return;
        // Steers towards the goal, as a participant might.
        const double amount = session.state.tank.AmountInTank / session.state.tank.UnitScale;
        const double gap = session.state.setup.GoalLinePoisition - amount;
        inflow->setText(QString::number(gap > 0 ? std::round(gap / 2) : 0));
        outflow->setText(QString::number(gap < 0 ? std::round(-gap / 2) : 0));
        ++presses;
        clickedAt = nowMs();
        submit->click();
        noteStarts();
    };

    for (const QString& name : kTimers) {
        QTimer* timer = screen.findChild<QTimer*>(name);
        if (!timer) {
            std::fprintf(stderr, "stage_timing: no timer %s\n", qPrintable(name));
            return 1;
        }
        timers.insert(name, timer);
        new TimerEventWatch(timer, [&, name, timer] {
            const double now = nowMs();
            if (startedAt.contains(name)) {
                lateness[name].push_back(now - startedAt.take(name) - timer->interval());
            }
        });
        // Runs after the screen's handler: whatever that handler started starts now.
        QObject::connect(timer, &QTimer::timeout, &screen, [&, name] {
            noteStarts();
            if (name == QStringLiteral("tmrUserMv") && !screen.isOver())
                QTimer::singleShot(think, Qt::PreciseTimer, &screen, press);
        });
    }
    QObject::connect(&screen, &task::TrialScreen::sessionOver, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    screen.load();
    screen.show();
    const double begin = nowMs();
    QTimer::singleShot(think, Qt::PreciseTimer, &screen, press);
    app.exec();
    const double seconds = (nowMs() - begin) / 1000;

    std::printf("stage_timing: %d participant-paced periods (%d Submits) in %.1f s, stage intervals %d ms, "
                "platform %s\n",
                session.state.Trial, presses, seconds, interval, qPrintable(QGuiApplication::platformName()));
    if (holdRefresh > 0)
        std::printf("hold refreshed %d times, every %d ms\n", refreshes, holdRefresh);
    std::printf("lateness = actual - configured delay, ms (nearest-rank percentiles)\n");
    std::printf("%-14s %5s %9s %9s %9s\n", "timer", "n", "median", "p95", "max");
    for (const QString& name : kStages + QStringList({"Timer1"})) {
        const Figures f = figures(lateness.value(name));
        std::printf("%-14s %5zu %9.3f %9.3f %9.3f\n", qPrintable(name), lateness.value(name).size(), f.median,
                    f.p95, f.max);
    }
    const Figures row = figures(clickToRow);
    std::printf("%-14s %5zu %9.3f %9.3f %9.3f   (Submit click to stored \"Submit Clicked\" row)\n",
                "click->row", clickToRow.size(), row.median, row.p95, row.max);

    bool met = session.state.Trial == periods;
    for (const QString& name : kStages)
        met = met && lateness.value(name).size() == size_t(periods) && figures(lateness.value(name)).p95 <= 5.0;
    std::printf("goal p95 <= 5 ms for every stage: %s\n", met ? "met" : "NOT met");
    return met ? 0 : 3;
}
