#include "tools/ReplayFrames.h"

#include "config/ConfigLoader.h"
#include "config/ConfigProblem.h"
#include "recording/EventTypes.h"
#include "store/DataTables.h"
#include "store/Store.h"
#include "task/TankModel.h"
#include "tools/RowValues.h"
#include "tools/ToolCommand.h"

#include <QHash>

#include <algorithm>

namespace aquilevel::tools {

using task::FlowPicture;
using task::PeriodPicture;
using task::PipeAt;
using task::Stage;
using task::TankModel;
using Due = task::TankModel::Due;

namespace {

using events::kAfterCost;
using events::kNoUserEffect;
using events::kUserInflow;
using events::kUserOutflow;
const QString& kContinue = events::kContinueClicked;
const QString& kSubmit = events::kSubmitClicked;
const QString& kEnvironment = events::kEnvironmentEffect;

// A row's values as read.
struct Event {
    QString type;
    qint32 id = 0;
    qint32 trial = 0;
    store::Row row;
    double envIn = 0, envOut = 0, sim = 0;
    double userIn = 0, userOut = 0;
    double backOrder = 0, forwardDischarge = 0;
    int inDelay = 1, outDelay = 1, every = 1;
    bool timeDriven = false;

    bool environmentActs() const { return envIn > 0 || envOut > 0; }
};

// The picture of a session followed row by row: the steps of TankModel that change it,
// on the values the rows stored. Between two rows it takes the steps the cycle ran
// without writing a row (the environment's flows passing, the orders leaving).
class PictureTrack {
public:
    explicit PictureTrack(const QHash<qint32, std::pair<double, double>>& orders) : m_orders(orders)
    {
        picture.status = TankModel::kStartStatus;
    }

    PeriodPicture picture;

    // TankModel::EnvironmentDecision.
    void environmentDecides(const Event& e)
    {
        hideStreams();
        if (!e.environmentActs())
            return;
        picture.streams[task::EnvInflowRegion] = picture.streams[task::EnvOutflowRegion] = true;
        picture.status = TankModel::kEnvironmentStatus;
        picture.envIn = {PipeAt::Entering, true, e.sim * e.envIn};
        picture.envOut = {PipeAt::Entering, true, e.sim * e.envOut};
    }

    // environmentArrives, then environmentGone.
    void environmentPasses(const Event& e)
    {
        if (!e.environmentActs())
            return;
        for (FlowPicture* flow : {&picture.envIn, &picture.envOut}) {
            flow->at = PipeAt::Empty;
            flow->tagged = false;
        }
    }

    // processDecision.
    void ordersDue(const Event& e)
    {
        hideStreams();
        if (e.trial % e.inDelay != 0 && e.trial % e.outDelay != 0)
            picture.status = TankModel::kNoUserEffectStatus;
        const Due in = dueIn(e);
        const Due out = dueOut(e);
        if (in.inPlay) {
            picture.streams[task::UserInflowRegion] = true;
            picture.status = TankModel::kUserFlowStatus;
            picture.userIn = {PipeAt::Entering, true, in.quantity};
        }
        if (out.inPlay) {
            picture.streams[task::UserOutflowRegion] = true;
            picture.status = TankModel::kUserFlowStatus;
            picture.userOut = {PipeAt::Entering, true, out.quantity};
        }
    }

    // deliverDueOrders, the inflow's part and the outflow's.
    double inflowArrives(const Event& e)
    {
        const Due in = dueIn(e);
        if (in.inPlay)
            picture.userIn = {PipeAt::Arrived, false, in.quantity};
        return in.inPlay ? in.quantity : 0;
    }
    double outflowArrives(const Event& e)
    {
        const Due out = dueOut(e);
        if (out.inPlay)
            picture.userOut = {PipeAt::Arrived, false, out.quantity};
        return out.inPlay ? out.quantity : 0;
    }

    // ordersGone.
    void ordersGone()
    {
        picture.userIn.at = picture.userOut.at = PipeAt::Empty;
        picture.status.clear();
    }

    void hideStreams() { picture.streams.fill(false); }

private:
    // TankModel::DueInflow and DueOutflow on the rows' pipeline, judged by the model's rule.
    Due due(const Event& e, int delay, double initial, bool inflow) const
    {
        if (e.every <= 0)
            return {};
        const qint32 source = e.trial - (delay - 1);
        double quantity = initial;
        if (source == e.trial)
            quantity = inflow ? e.userIn : e.userOut;
        else if (source >= 1)
            quantity = inflow ? m_orders.value(source).first : m_orders.value(source).second;
        return TankModel::judgeDue(e.trial, e.every, qint16(delay), quantity);
    }
    Due dueIn(const Event& e) const { return due(e, e.inDelay, e.backOrder, true); }
    Due dueOut(const Event& e) const { return due(e, e.outDelay, e.forwardDischarge, false); }

    const QHash<qint32, std::pair<double, double>>& m_orders;
};

Event eventOf(const store::Row& row)
{
    Event e;
    e.row = row;
    e.type = row.value("eventType").toString();
    e.id = row.value("EventID").toInt();
    e.trial = row.value("Trial").toInt();
    e.envIn = number(row, "EnvInFlow");
    e.envOut = number(row, "EnvOutFlow");
    e.sim = number(row, "SimulationTime");
    e.userIn = number(row, "UserInFlow");
    e.userOut = number(row, "UserOutFlow");
    e.backOrder = number(row, "BackOrder");
    e.forwardDischarge = number(row, "ForwardDischarge");
    e.inDelay = std::max(1, row.value("UserInflowTP").toInt());
    e.outDelay = std::max(1, row.value("UserOutflowTP").toInt());
    e.every = row.value("AfterEveryNTrials").toInt();
    e.timeDriven = flag(row, "IsTimeDriven");
    return e;
}

TankState tankOf(const Event& e, double unitScale)
{
    TankState tank;
    tank.UnitScale = unitScale;
    tank.AmountInTank = number(e.row, "AmountInTank") * unitScale;
    tank.GoalAmount = number(e.row, "GoalAmount") * unitScale;
    tank.TotalBackOrder = number(e.row, "TotalBackOrder");
    tank.TotalForwardDischarge = number(e.row, "TotalForwardDischarge");
    tank.CurrentCost = number(e.row, "CurrentCost");
    tank.TotCost = number(e.row, "TotCost");
    tank.CurrentBonus = number(e.row, "CurrentBonus");
    tank.TotBonus = number(e.row, "TotBonus");
    tank.IsUserInFlow = flag(e.row, "IsUserInFlow");
    tank.IsUserOutFlow = flag(e.row, "IsUserOutFlow");
    tank.IsEnvInFlow = flag(e.row, "IsEnvInFlow");
    tank.IsEnvOutFlow = flag(e.row, "IsEnvOutFlow");
    return tank;
}

// Whether the row after `e` (of the same period, `next` its type) was written in the
// same step of the cycle (PeriodCycle).
bool stepGoesOn(const Event& e, const QString& next)
{
    if (e.type == kUserInflow)
        return next == kUserOutflow;
    if (e.type == kSubmit) // participant-paced, the environment acts; time-driven, the orders' step
        return next == (e.timeDriven ? kNoUserEffect : kEnvironment);
    // Time-driven: the environment acts after the orders' cost, once a period.
    return e.timeDriven && e.type == kAfterCost && next == kEnvironment;
}

} // namespace

const QStringList& replayColumns()
{
    static const QStringList columns = {
        QStringLiteral("eventType"),        QStringLiteral("EventID"),          QStringLiteral("Trial"),
        QStringLiteral("AmountInTank"),     QStringLiteral("GoalAmount"),       QStringLiteral("CurrentCost"),
        QStringLiteral("TotCost"),          QStringLiteral("CurrentBonus"),     QStringLiteral("TotBonus"),
        QStringLiteral("UserInFlow"),       QStringLiteral("UserOutFlow"),      QStringLiteral("EnvInFlow"),
        QStringLiteral("EnvOutFlow"),       QStringLiteral("SimulationTime"),   QStringLiteral("BackOrder"),
        QStringLiteral("ForwardDischarge"), QStringLiteral("TotalBackOrder"),   QStringLiteral("TotalForwardDischarge"),
        QStringLiteral("UserInflowTP"),     QStringLiteral("UserOutflowTP"),    QStringLiteral("AfterEveryNTrials"),
        QStringLiteral("IsUserInFlow"),     QStringLiteral("IsUserOutFlow"),    QStringLiteral("IsEnvInFlow"),
        QStringLiteral("IsEnvOutFlow"),     QStringLiteral("IsTimeDriven"),     QStringLiteral("graphicalMode"),
    };
    return columns;
}

QList<ReplayFrame> replayFrames(const QList<store::Row>& rows, double unitScale)
{
    QList<Event> events;
    for (const store::Row& row : rows) {
        Event e = eventOf(row);
        if (e.type != kContinue)
            events.append(e);
    }
    // The orders of each period as its last row holds them: what the pipeline delivers later.
    QHash<qint32, std::pair<double, double>> orders;
    for (const Event& e : std::as_const(events))
        orders[e.trial] = {e.userIn, e.userOut};

    PictureTrack track(orders);
    QList<ReplayFrame> frames;
    double deliveredIn = 0;
    double deliveredOut = 0;
    for (int i = 0; i < events.size(); ++i) {
        const Event& e = events.at(i);
        // The neighbouring rows of the same period.
        const QString before = i > 0 && events.at(i - 1).trial == e.trial ? events.at(i - 1).type : QString();
        const QString after =
            i + 1 < events.size() && events.at(i + 1).trial == e.trial ? events.at(i + 1).type : QString();
        if (before.isEmpty())
            deliveredIn = deliveredOut = 0;
        const bool goesOn = stepGoesOn(e, after);
        // The orders' step up to its processDecision, unless a row of it did that already.
        const auto ordersStepBegins = [&] {
            if (before == kNoUserEffect || (e.timeDriven && before == kSubmit))
                return;
            if (!e.timeDriven && before == kEnvironment)
                track.environmentPasses(e);
            track.ordersDue(e);
        };

        Stage stage = Stage::PeriodOpened;
        if (e.type == kSubmit) {
            if (!goesOn) {
                // The step went on without a row: the environment did not act, or
                // (time-driven) the orders' step wrote none.
                if (e.timeDriven) {
                    track.ordersDue(e);
                    stage = Stage::OrdersDue;
                } else {
                    track.environmentDecides(e);
                    stage = Stage::EnvironmentActs;
                }
            }
        } else if (e.type == kEnvironment) {
            track.environmentDecides(e);
            stage = Stage::EnvironmentActs;
        } else if (e.type == kNoUserEffect) {
            if (!e.timeDriven && before == kEnvironment)
                track.environmentPasses(e);
            track.ordersDue(e);
            stage = Stage::OrdersDue;
        } else if (e.type == kUserInflow || e.type == kUserOutflow) {
            if (before != kUserInflow) {
                ordersStepBegins();
                track.hideStreams();
            }
            if (e.type == kUserInflow)
                deliveredIn += track.inflowArrives(e);
            else
                deliveredOut += track.outflowArrives(e);
            stage = Stage::OrdersDelivered;
        } else if (e.type == kAfterCost) {
            if (e.timeDriven && (before == kEnvironment || before == kAfterCost)) {
                // The environment's own step, closed with its cost.
                if (before == kAfterCost)
                    track.environmentDecides(e);
                track.environmentPasses(e);
                stage = Stage::EnvironmentCosted;
            } else {
                if (before != kUserInflow && before != kUserOutflow) {
                    // Nothing was delivered, so nothing entered a pipe: the streams stop.
                    if (!e.timeDriven && before == kEnvironment)
                        track.environmentPasses(e);
                    track.hideStreams();
                }
                track.ordersGone();
                stage = Stage::PeriodClosed;
            }
        } else {
            continue; // a row of no step of the task
        }

        ReplayFrame frame;
        frame.period = e.trial;
        frame.eventId = e.id;
        frame.eventType = e.type;
        frame.stage = stage;
        frame.endsStep = !goesOn;
        frame.tank = tankOf(e, unitScale);
        frame.envInFlow = e.envIn;
        frame.envOutFlow = e.envOut;
        frame.userInFlow = e.userIn;
        frame.userOutFlow = e.userOut;
        frame.deliveredIn = deliveredIn;
        frame.deliveredOut = deliveredOut;
        frame.picture = track.picture;
        frames.append(frame);
    }
    return frames;
}

ReplaySession loadReplay(store::Store& store, const QString& version, const QString& subject)
{
    ReplaySession replay;
    SessionState& s = replay.start;
    s.Subject = subject;
    s.Version = version;
    try {
        s.setup = config::LoadSetup(store, version);
    } catch (const config::ConfigError& error) {
        throw ToolError(config::describe(error.problems()));
    }
    s.MarkLabels = config::LoadScaleLabels(store, version, s.setup.numMarks);
    s.TopLabelValue = config::LoadTopLabel(store, version, s.TopLabelValue);
    startNewSession(s.tank, s.setup);
    task::TankModel::takeHeldForm(s);

    QList<store::Row> rows;
    store.transaction(
        [&](store::Connection& c) {
            rows.clear(); // a retried transaction starts over
            store::EventTable::forEach(c, replayColumns(), version, subject, QString(),
                                       [&](const store::Row& row) { rows.append(row); });
        },
        true, QStringLiteral("Reading the session"));
    replay.frames = replayFrames(rows, s.tank.UnitScale);
    if (replay.frames.isEmpty())
        throw ToolError(QStringLiteral("Participant \"%1\" has no rows in version \"%2\".").arg(subject, version));

    // A session keeps the display and the play it began with, whatever the version says
    // since: the rows hold them.
    for (const store::Row& row : std::as_const(rows))
        if (row.value("eventType").toString() != kContinue) {
            if (!row.value("graphicalMode").isNull()) // rows imported without it keep the version's
                s.setup.graphicalMode = flag(row, "graphicalMode");
            if (!row.value("IsTimeDriven").isNull())
                s.setup.IsTimeDriven = flag(row, "IsTimeDriven");
            break;
        }
    // The task opened at the goal the rows stored, and at the amount of the first Submit,
    // which comes before anything acts on the tank.
    const ReplayFrame& first = replay.frames.first();
    s.tank.GoalAmount = first.tank.GoalAmount;
    if (first.eventType == kSubmit)
        s.tank.AmountInTank = first.tank.AmountInTank;
    s.Trial = 0;
    s.InTask = true;
    return replay;
}

} // namespace aquilevel::tools
