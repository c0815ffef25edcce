#include "tools/AnalysisData.h"

#include "config/BonusBand.h"
#include "recording/EventTypes.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/NameKey.h"
#include "store/Store.h"
#include "tools/RowValues.h"
#include "tools/ToolCommand.h"

#include <QDateTime>
#include <QMap>

#include <algorithm>
#include <cmath>

namespace aquilevel::tools {

namespace {

const QString kStatus = QStringLiteral("Reading the sessions");
using events::kAfterCost;
using events::kContinueClicked;
using events::kEnvironmentEffect;
using events::kSubmitClicked;
using events::kUserInflow;
using events::kUserOutflow;

// When a row was written: to the millisecond by the station's clock in UTC, and to the
// second in local time (rows of older databases may lack the first).
struct Moment {
    QDateTime utc;
    QDateTime local;
    // Milliseconds from this to `later`, by a clock both have; none when they share none.
    std::optional<qint64> msTo(const Moment& later) const
    {
        if (utc.isValid() && later.utc.isValid())
            return utc.msecsTo(later.utc);
        if (local.isValid() && later.local.isValid())
            return local.msecsTo(later.local);
        return std::nullopt;
    }
};

Moment momentOf(const store::Row& row)
{
    Moment m;
    m.utc = QDateTime::fromString(row.value("EventTimeUtc").toString(), Qt::ISODateWithMs);
    const QDate date = row.value("Date").toDate();
    const QTime time = QTime::fromString(row.value("Time").toString(), QStringLiteral("HH:mm:ss"));
    if (date.isValid() && time.isValid())
        m.local = QDateTime(date, time);
    return m;
}

// The tank as a row left it.
struct After {
    double amount = 0, inflowOnTheWay = 0, outflowOnTheWay = 0, cost = 0, money = 0;
};

After afterRow(const store::Row& row)
{
    return {number(row, "AmountInTank"), number(row, "TotalBackOrder"), number(row, "TotalForwardDischarge"),
            number(row, "TotCost"), number(row, "TotBonus")};
}

// When the decision of a period began. Participant-paced: when Submit came back (the
// previous cost step, or the instructions left), unless the summary row says the trial
// screen opened later (a session taken up again after a crash, which writes no row as it
// opens). Time-driven: at the clock's tick, which its summary row holds to the second,
// and the period's first row to the millisecond when the tick wrote it.
Moment openedFor(int trial, bool timeDriven, const QString& firstType, const Moment& firstRow,
                 const Moment& ordersOpen, const QMap<int, PeriodTimes>& times)
{
    const PeriodTimes t = times.value(trial);
    if (timeDriven) {
        // The steps that write their row as the tick runs, before any stage waits.
        const bool atTheTick = firstType == kEnvironmentEffect || firstType == events::kNoUserEffect;
        if (!t.end.isValid()) // no summary: a first row that is the Submit itself says nothing of the tick
            return firstType == kSubmitClicked ? Moment{} : firstRow;
        if (atTheTick && firstRow.local.isValid() && firstRow.local <= t.end.addSecs(1))
            return firstRow;
        return Moment{QDateTime(), t.end};
    }
    // The summary's time has whole seconds: only a start later than that is another opening.
    if (t.start.isValid() && (!ordersOpen.local.isValid() || t.start > ordersOpen.local.addSecs(1)))
        return Moment{QDateTime(), t.start};
    return ordersOpen;
}

} // namespace

const QStringList& analysisColumns()
{
    static const QStringList columns = {
        QStringLiteral("Station"),          QStringLiteral("eventType"),          QStringLiteral("Trial"),
        QStringLiteral("Date"),             QStringLiteral("Time"),               QStringLiteral("AmountInTank"),
        QStringLiteral("GoalAmount"),       QStringLiteral("LowerBoundFromGoal"), QStringLiteral("UpperBoundFromGoal"),
        QStringLiteral("EnvInFlow"),        QStringLiteral("EnvOutFlow"),         QStringLiteral("SimulationTime"),
        QStringLiteral("UserInFlow"),       QStringLiteral("UserOutFlow"),        QStringLiteral("TotalBackOrder"),
        QStringLiteral("TotalForwardDischarge"), QStringLiteral("TotCost"),       QStringLiteral("TotBonus"),
        QStringLiteral("BaseMoney"),        QStringLiteral("IsTimeDriven"),       QStringLiteral("EventTimeUtc")};
    return columns;
}

QMap<int, PeriodTimes> periodTimesOf(const QList<store::Row>& summaryRows)
{
    QMap<int, PeriodTimes> times;
    for (const store::Row& row : summaryRows) {
        const QDate date = row.value("Date").toDate();
        const auto at = [](const QVariant& v) {
            const QTime t = QTime::fromString(v.toString().trimmed().left(8), QStringLiteral("HH:mm:ss"));
            return t.isValid() && t != QTime(0, 0) ? t : QTime(); // midnight: no new time was taken
        };
        const QTime start = at(row.value("startTime"));
        const QTime end = at(row.value("endTime"));
        PeriodTimes t;
        if (date.isValid() && end.isValid())
            t.end = QDateTime(date, end);
        if (date.isValid() && start.isValid()) // the row is written at its end: a later start was the day before
            t.start = QDateTime(end.isValid() && start > end ? date.addDays(-1) : date, start);
        times.insert(row.value("Trial").toInt(), t);
    }
    return times;
}

QList<AnalysisPeriod> periodsOf(const QList<store::Row>& rows, const SessionStart& initial,
                                const QMap<int, PeriodTimes>& times)
{
    QMap<int, AnalysisPeriod> periods;
    QMap<int, Moment> openedAt;      // when the period could first be decided on
    QMap<int, double> costBefore, moneyBefore;
    std::optional<After> last;       // the tank after the latest row of the task
    Moment ordersOpen;               // when Submit last became possible (participant-paced)
    for (const store::Row& row : rows) {
        const QString type = row.value("eventType").toString();
        const Moment moment = momentOf(row);
        if (type == kContinueClicked) { // the instructions: no tank shown, but the trial screen opens after them
            ordersOpen = moment;
            continue;
        }
        const int trial = row.value("Trial").toInt();
        const After now = afterRow(row);
        if (trial < 1) { // a time-driven Submit before the clock opened the first period
            last = now;
            continue;
        }
        const bool timeDriven = flag(row, "IsTimeDriven");
        auto found = periods.find(trial);
        if (found == periods.end()) {
            AnalysisPeriod p;
            p.period = trial;
            // What the period opened with: the previous row's tank; a first Submit shows it
            // itself (it changes nothing); otherwise the version's start.
            After before;
            if (last)
                before = *last;
            else if (type == kSubmitClicked)
                before = now;
            else
                before = {initial.amount, initial.inflowOnTheWay, initial.outflowOnTheWay, number(row, "BaseMoney"),
                          number(row, "BaseMoney")};
            p.amountStart = before.amount;
            p.inflowOnTheWayStart = before.inflowOnTheWay;
            p.outflowOnTheWayStart = before.outflowOnTheWay;
            costBefore.insert(trial, before.cost);
            moneyBefore.insert(trial, before.money);
            openedAt.insert(trial, openedFor(trial, timeDriven, type, moment, ordersOpen, times));
            found = periods.insert(trial, p);
        }
        AnalysisPeriod& p = *found;
        const double amountBefore = last ? last->amount : p.amountStart;
        if (type == kSubmitClicked) {
            const std::optional<qint64> took = openedAt.value(trial).msTo(moment);
            // A time-driven Submit longer after the tick than a period runs was pressed
            // after a crash: when its screen opened again is not stored.
            const bool afterACrash = timeDriven && initial.longestPeriodMs > 0 && took && *took > initial.longestPeriodMs;
            if (!p.submitted && took && *took >= 0 && !afterACrash)
                p.decisionMs = took;
            p.submitted = true;
        } else if (type == kEnvironmentEffect) {
            p.envActed = true;
        } else if (type == kUserInflow) {
            p.deliveredInflow += now.amount - amountBefore;
        } else if (type == kUserOutflow) {
            p.deliveredOutflow += amountBefore - now.amount;
        } else if (type == kAfterCost) {
            ordersOpen = moment;
            p.complete = true;
        }
        p.date = row.value("Date").toDate();
        p.amountEnd = now.amount;
        p.goal = number(row, "GoalAmount");
        p.bandLow = p.goal - number(row, "LowerBoundFromGoal");
        p.bandHigh = p.goal + number(row, "UpperBoundFromGoal");
        p.envInflow = number(row, "EnvInFlow") * number(row, "SimulationTime");
        p.envOutflow = number(row, "EnvOutFlow") * number(row, "SimulationTime");
        p.orderedInflow = number(row, "UserInFlow");
        p.orderedOutflow = number(row, "UserOutFlow");
        p.inflowOnTheWay = now.inflowOnTheWay;
        p.outflowOnTheWay = now.outflowOnTheWay;
        p.cost = now.cost - costBefore.value(trial);
        p.bonus = now.money - moneyBefore.value(trial);
        p.money = now.money;
        p.inBand = p.complete && config::inBonusBand(p.amountEnd, p.goal, number(row, "LowerBoundFromGoal"),
                                                     number(row, "UpperBoundFromGoal"));
        last = now;
    }
    for (AnalysisPeriod& p : periods)
        if (!p.envActed) // rates that did not act (none above 0) moved nothing
            p.envInflow = p.envOutflow = 0;
    return periods.values();
}

QList<RulePeriod> rulePeriodsOf(const QList<AnalysisPeriod>& periods)
{
    QList<RulePeriod> rule;
    for (qsizetype i = 1; i < periods.size(); ++i) {
        const AnalysisPeriod& p = periods.at(i);
        const AnalysisPeriod& before = periods.at(i - 1);
        if (before.period != p.period - 1) // the outflow seen before it is not in the log
            continue;
        rule.append({p.orderedInflow - p.orderedOutflow, p.goal - p.amountStart,
                     p.inflowOnTheWayStart - p.outflowOnTheWayStart, before.envOutflow - before.envInflow, p.period,
                     p.submitted});
    }
    return rule;
}

Rating splitRating(const QString& answer)
{
    const qsizetype comma = answer.indexOf(QStringLiteral(", "));
    if (comma < 0)
        return {answer, QString()};
    return {answer.left(comma), answer.mid(comma + 2)};
}

int ParticipantAnalysis::periodsInBand() const
{
    return int(std::count_if(periods.cbegin(), periods.cend(), [](const AnalysisPeriod& p) { return p.inBand; }));
}

int ParticipantAnalysis::completePeriods() const
{
    return int(std::count_if(periods.cbegin(), periods.cend(), [](const AnalysisPeriod& p) { return p.complete; }));
}

double ParticipantAnalysis::meanDistance() const
{
    double sum = 0;
    for (const AnalysisPeriod& p : periods)
        if (p.complete)
            sum += std::abs(p.amountEnd - p.goal);
    const int complete = completePeriods();
    return complete > 0 ? sum / complete : 0;
}

namespace {

struct Participant {
    QString subject;
    QString version;
};

// Every participant with rows, of one version or all, in the order of version and name.
QList<Participant> participantsOf(store::Store& store, const AnalysisOptions& options)
{
    QList<Participant> found;
    QString after;
    do {
        store.read(
            [&](store::Connection& c) {
                QString next = after; // a retried read starts from the same place
                const QList<store::Row> rows = store::EventTable::newestOfNext(
                    c, {QStringLiteral("Subject"), QStringLiteral("Version")}, options.version, next, 500);
                for (const store::Row& row : rows)
                    found.append({row.value("Subject").toString(), row.value("Version").toString()});
                after = next;
            },
            QStringLiteral("datExperimentTrials"), kStatus);
    } while (!after.isEmpty());
    if (!options.subject.isEmpty()) {
        const QString key = store::nameKey(options.subject);
        found.removeIf([&](const Participant& p) { return store::nameKey(p.subject) != key; });
    }
    std::sort(found.begin(), found.end(), [](const Participant& a, const Participant& b) {
        const QString va = store::nameKey(a.version), vb = store::nameKey(b.version);
        return va != vb ? va < vb : store::nameKey(a.subject) < store::nameKey(b.subject);
    });
    return found;
}

ParticipantAnalysis readParticipant(store::Store& store, const Participant& who, const AnalysisOptions& options,
                                    const QList<store::MarkTable::Marked>& marks)
{
    ParticipantAnalysis a;
    a.subject = who.subject;
    a.version = who.version;
    QList<store::Row> rows;
    SessionStart initial;
    std::optional<store::Row> registration;
    QMap<int, QString> answers;
    QList<store::Row> summaries;
    // One read, so that a session written meanwhile is seen at one moment.
    store.transaction(
        [&](store::Connection& c) {
            rows.clear(); // a retried transaction starts over
            if (const std::optional<store::Row> setup = store::SetupTable::row(c, who.version)) {
                initial.amount = setup->value("InitialAmountInTank").toDouble();
                initial.inflowOnTheWay = setup->value("InitialBackOrder").toDouble();
                initial.outflowOnTheWay = setup->value("InitialForwardDischarge").toDouble();
                qint64 longest = 2000; // and the seconds a summary's times are cut to
                for (const char* stage : {"TimeBetweenEnvTries", "envDelay", "EnvMv", "userDelay", "UsrMv"})
                    longest += qint64(std::max(0.0, setup->value(stage).toDouble()));
                initial.longestPeriodMs = longest;
            }
            registration = store::SubjectTable::registration(c, who.version, who.subject);
            answers = store::QuestionnaireTable::answers(c, who.subject, who.version);
            summaries = store::TrialSummaryTable::times(c, who.subject, who.version);
            store::EventTable::forEach(
                c, analysisColumns(), who.version, who.subject, QString(),
                [&](const store::Row& row) { rows.append(row); }, options.eventsThrough);
        },
        true, kStatus);
    a.periods = periodsOf(rows, initial, periodTimesOf(summaries));
    if (!rows.isEmpty()) { // where and when the session began
        a.station = rows.first().value("Station").toString();
        a.date = rows.first().value("Date").toDate();
    }
    if (registration) {
        if (a.station.isEmpty())
            a.station = registration->value("Station").toString();
        a.condition = registration->value("Condition").toString();
        a.major = registration->value("Major").toString();
        a.gender = registration->value("Gender").toString();
        a.age = registration->value("Age");
    }
    a.difficulty = splitRating(answers.value(1));
    a.strategy = answers.value(2);
    a.strategyChange = answers.value(3);
    const QString key = store::nameKey(who.subject), versionKey = store::nameKey(who.version);
    for (const store::MarkTable::Marked& m : marks)
        if (store::nameKey(m.subject) == key && store::nameKey(m.version) == versionKey) {
            a.mark = m.mark;
            a.markReason = m.reason;
        }
    a.rule = fitDecisionRule(rulePeriodsOf(a.periods), options.theta);
    return a;
}

} // namespace

QList<ParticipantAnalysis> analyseParticipants(store::Store& store, const AnalysisOptions& options, LeftOut* leftOut)
{
    LeftOut left;
    left.includePilots = options.includePilots;
    left.includeExcluded = options.includeExcluded;
    QList<store::MarkTable::Marked> marks;
    store.read(
        [&](store::Connection& c) {
            if (!options.marks)
                left.read(c, options.version, options.subject);
            marks = store::MarkTable::marks(c, options.version);
        },
        QStringLiteral("datSubjectMark"), kStatus);
    if (options.marks)
        left = *options.marks;
    const QList<Participant> participants = participantsOf(store, options);
    QList<ParticipantAnalysis> analysed;
    int done = 0;
    for (const Participant& who : participants) {
        if (!left.contains(who.subject, who.version)) {
            ParticipantAnalysis a = readParticipant(store, who, options, marks);
            if (!a.periods.isEmpty())
                analysed.append(a);
        }
        if (options.progress)
            options.progress(++done, int(participants.size()));
    }
    if (leftOut)
        *leftOut = left;
    return analysed;
}

QList<ParticipantAnalysis> loadAnalysis(store::Store& store, const AnalysisOptions& options, LeftOut* leftOut)
{
    LeftOut left;
    const QList<ParticipantAnalysis> analysed = analyseParticipants(store, options, &left);
    if (leftOut)
        *leftOut = left;
    if (std::none_of(analysed.cbegin(), analysed.cend(),
                     [](const ParticipantAnalysis& a) { return a.completePeriods() > 0; })) {
        QStringList asked;
        if (!options.version.isEmpty())
            asked.append(QStringLiteral(" of version \"%1\"").arg(options.version));
        if (!options.subject.isEmpty())
            asked.append(QStringLiteral(" named \"%1\"").arg(options.subject));
        throw ToolError(QStringLiteral("No participant%1 has completed a period.%2")
                            .arg(asked.join(QString()), left.total() > 0 ? QLatin1Char(' ') + left.note() : QString()));
    }
    return analysed;
}

} // namespace aquilevel::tools
