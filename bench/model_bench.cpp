// How fast the tank model runs, and what the store adds to each period.
//
//   model_bench [--periods N] [--stored M]
//
// (1) N participant-paced periods (default 100000) of the model alone: no window, no
//     database; prints periods per second.
// (2) M periods (default 1000) with every event row written to a fresh encrypted file;
//     prints the median and 95th percentile of the time per period spent in the store,
//     the delay a participant feels on top of the animation stages.

#include "BenchSupport.h"

#include "recording/Recorder.h"
#include "session/Clock.h"
#include "task/InitSession.h"
#include "session/ProcessEnd.h"
#include "session/Session.h"
#include "store/DataLocation.h"
#include "store/Engine.h"
#include "task/PeriodCycle.h"
#include "task/TankModel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace aquilevel;
using SteadyClock = std::chrono::steady_clock;

namespace {

// Times what the wrapped recorder spends on the event rows, period by period.
class TimedRecorder final : public recording::Recorder {
public:
    explicit TimedRecorder(recording::Recorder& inner) : m_inner(inner) {}
    void RecordEvent(const QString& type) override
    {
        const auto start = SteadyClock::now();
        m_inner.RecordEvent(type);
        spentMs += std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
        ++rows;
    }
    void AddTrialSummary(bool inflowEmpty, bool outflowEmpty) override { m_inner.AddTrialSummary(inflowEmpty, outflowEmpty); }
    void UpdateTrialSummary() override { m_inner.UpdateTrialSummary(); }
    void AddSubmitTime(qint32 trial) override { m_inner.AddSubmitTime(trial); }
    double spentMs = 0;
    long rows = 0;

private:
    recording::Recorder& m_inner;
};

void configure(SessionState& s, qint32 periods)
{
    config::ExperimentSetup& c = s.setup;
    c.Version = s.Version = QStringLiteral("bench");
    s.Subject = QStringLiteral("bench");
    s.InTask = true;
    c.MaxTrial = periods;
    c.numMarks = 10;
    c.BaseMoney = 5;
    c.inFlowTPAfter = 3;
    c.outFlowTPAfter = 2;
    c.AfterEveryNTrials = 1;
    c.InitialBackOrder = 4;
    c.InitialForwardDischarge = 2;
    c.simTimeForTP = 1;
    c.GoalLinePoisition = 60;
    c.InitialAmountInTank = 40;
    c.CostOverFlowPerAmount = c.CostUnderFlowPerAmount = 0.02;
    c.BonusAmount = 0.25;
    c.LowerBoundFromGoal = c.UpperBoundFromGoal = 5;
    c.MaxNumberOfAScenarioType = 32000;
    s.EnvInFlow = QVector<double>(32002);
    s.EnvOutFlow = QVector<double>(32002);
    for (int t = 0; t < s.EnvInFlow.size(); ++t) {
        s.EnvInFlow[t] = 3 + (t % 7) * 0.5;
        s.EnvOutFlow[t] = 4;
    }
    s.Trial = 0;
    s.EventID = 0;
}

// One participant-paced period with an order that steers towards the goal.
void period(task::TankModel& model, SessionState& s)
{
    const double amount = s.tank.AmountInTank / s.tank.UnitScale;
    const double gap = s.setup.GoalLinePoisition - amount;
    model.openPeriod();
    model.submitOrders(gap > 0 ? gap / 3 : 0, gap < 0 ? -gap / 3 : 0);
    model.EnvironmentDecision();
    model.processDecision();
    model.deliverDueOrders();
    model.closePeriod();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("periods"), QStringLiteral("Periods of the model alone."),
                      QStringLiteral("N"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("stored"), QStringLiteral("Periods written to a file."),
                      QStringLiteral("M"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("cycled"), QStringLiteral("Periods through the period's cycle, stage times 0."),
                      QStringLiteral("K"), QStringLiteral("300")});
    parser.process(app);
    const long periods = parser.value(QStringLiteral("periods")).toLong();
    const int stored = parser.value(QStringLiteral("stored")).toInt();
    const int cycled = parser.value(QStringLiteral("cycled")).toInt();

    UnattendedPrompter prompter(bench::questionVoidsTheRun("model_bench"));
    SystemClock clock;
    ImmediateProcessEnd processEnd;
    store::RealPacer pacer;
    QTemporaryDir folder(QCoreApplication::applicationDirPath() + QStringLiteral("/model-bench-XXXXXX"));
    const QString path = store::databasePath(folder.path());
    store::engineAt(path)->create({});
    Session session({prompter, clock, processEnd, pacer}, store::engineAt(path));
    SessionState& s = session.state;

    // (1) The model alone, in sessions of at most 30000 periods (the scenario's reach).
    {
        recording::NullRecorder recorder;
        task::TankModel model(s, recorder, clock);
        const auto start = SteadyClock::now();
        long done = 0;
        while (done < periods) {
            const qint32 length = qint32(std::min<long>(30000, periods - done));
            configure(s, length);
            InitSession(session);
            for (qint32 i = 0; i < length; ++i)
                period(model, s);
            done += length;
        }
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        std::printf("model alone: %ld periods in %.3f s, %.0f periods/s (%ld event rows not stored)\n",
                    done, seconds, done / seconds, recorder.events);
    }

    // (2) Every event row stored in an encrypted file.
    {
        recording::StoreRecorder log(session.store(), clock, s);
        TimedRecorder recorder(log);
        task::TankModel model(s, recorder, clock);
        configure(s, stored);
        InitSession(session);
        std::vector<double> perPeriod;
        for (int i = 0; i < stored; ++i) {
            const double before = recorder.spentMs;
            period(model, s);
            perPeriod.push_back(recorder.spentMs - before);
        }
        std::sort(perPeriod.begin(), perPeriod.end());
        const auto at = [&](double q) { return perPeriod[std::min<size_t>(perPeriod.size() - 1, size_t(q * perPeriod.size()))]; };
        std::printf("with the store: %d periods, %.1f event rows per period; time per period in the "
                    "store: median %.3f ms, p95 %.3f ms\n",
                    stored, double(recorder.rows) / stored, at(0.5), at(0.95));
    }

    // (3) Whole periods through the cycle without a window, every step one transaction
    // into the file, the stage timers at 0 ms.
    {
        // Submits the same orders each time a period has closed; the last one quits.
        struct Participant final : task::PeriodView, task::SessionEnds {
            std::function<void()> submit;
            task::Orders orders() const override { return {1, 1, false, false}; }
            void showStage(task::Stage stage, const task::PeriodPicture&) override
            {
                if (stage == task::Stage::PeriodClosed)
                    QTimer::singleShot(0, submit);
            }
            void allPeriodsPlayed() override { QCoreApplication::quit(); }
            void stepFailed(const QString& reason) override
            {
                std::fprintf(stderr, "model_bench: a step failed: %s\n", qPrintable(reason));
                std::exit(2);
            }
            void endedInStep() override {}
        } participant;
        configure(s, cycled);
        s.setup.envDelay = s.setup.EnvMv = s.setup.userDelay = s.setup.UsrMv = 0;
        InitSession(session);
        recording::StoreRecorder log(session.store(), clock, s);
        task::PeriodCycle cycle(s, clock, session.store(), log, participant, participant);
        participant.submit = [&cycle] { cycle.submit([] { return true; }); };
        cycle.enter();
        cycle.start();
        QTimer::singleShot(0, participant.submit);
        const auto start = SteadyClock::now();
        app.exec();
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        std::printf("through the cycle: %d periods in %.3f s, %.1f ms per period (stage timers at 0 ms)\n",
                    s.Trial, seconds, 1000 * seconds / std::max(1, s.Trial));
    }
    return 0;
}
