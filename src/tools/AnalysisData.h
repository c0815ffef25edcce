#pragma once

#include "tools/DecisionRule.h"
#include "tools/LeftOut.h"

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

namespace aquilevel::store {
class Row;
class Store;
} // namespace aquilevel::store

namespace aquilevel::tools {

// One period of a participant as an analysis needs it, worked out from the event log.
struct AnalysisPeriod {
    int period = 0;
    QDate date;               // of the period's last row
    bool complete = false;    // its cost step is stored (a running session's last period may not be)
    double amountStart = 0;   // in the tank when the period opened
    double amountEnd = 0;     // after its cost step
    double goal = 0;
    double bandLow = 0, bandHigh = 0;      // the bonus band's edges
    bool envActed = false;                 // the environment's flows acted on the tank
    double envInflow = 0, envOutflow = 0;  // what they moved (rate x period length); 0 when they did not act
    double orderedInflow = 0, orderedOutflow = 0;     // typed for this period
    bool submitted = false;                           // the participant pressed Submit in this period
    double deliveredInflow = 0, deliveredOutflow = 0; // what reached or left the tank from orders
    double inflowOnTheWayStart = 0, outflowOnTheWayStart = 0; // ordered, not yet arrived, as the period opened
    double inflowOnTheWay = 0, outflowOnTheWay = 0;           // the same after the period
    double cost = 0;  // what the period added to the cost
    double bonus = 0; // what it added to the money
    bool inBand = false;              // false until the period is complete
    std::optional<qint64> decisionMs; // period opened to Submit; none without a Submit
    double money = 0;                 // the money so far (TotBonus)
};

// The stored rows of one participant turned into periods. `rows` are the event log's
// rows in the order of the events with the columns of analysisColumns(); `initial` is
// the amount and the orders on their way the version starts with, used only when the
// first period's rows do not show them.
struct SessionStart {
    double amount = 0;
    double inflowOnTheWay = 0;
    double outflowOnTheWay = 0;
    // Time-driven play: the longest a period can run (the clock's interval and every
    // stage); a Submit later than that after its tick came after a crash. 0: not known.
    qint64 longestPeriodMs = 0;
};
// What a period's summary row (datTrialSummary) says of its times, in local time to the
// second: its start (participant-paced: the trial screen opening, or the previous press)
// and its end (the press that opened it; time-driven: the clock's tick that did).
struct PeriodTimes {
    QDateTime start;
    QDateTime end;
};
const QStringList& analysisColumns();
QList<AnalysisPeriod> periodsOf(const QList<store::Row>& rows, const SessionStart& initial,
                                const QMap<int, PeriodTimes>& times = {});
// The summary rows' times by period (the last row of each), midnight read as not known.
QMap<int, PeriodTimes> periodTimesOf(const QList<store::Row>& summaryRows);

// The periods the decision rule meets, from the second on (the first has no outflow seen
// before it to expect from); those without a Submit only feed the expectation.
QList<RulePeriod> rulePeriodsOf(const QList<AnalysisPeriod>& periods);

// The question-1 answer ("7, reasons") split into rating and reasons.
struct Rating {
    QString rating;
    QString reasons;
};
Rating splitRating(const QString& answer);

// One participant's periods and what they add up to.
struct ParticipantAnalysis {
    QString subject;
    QString version;
    QString station;
    QDate date;      // of the first row
    QString condition;
    QVariant age;    // null when not asked
    QString gender;
    QString major;
    Rating difficulty;
    QString strategy;       // question 2
    QString strategyChange; // question 3
    QString mark;
    QString markReason;
    QList<AnalysisPeriod> periods;
    RuleFit rule;

    int completePeriods() const;
    int periodsInBand() const;
    double meanDistance() const; // mean absolute distance from the goal after each complete period
};

struct AnalysisOptions {
    QString version; // empty: every version
    QString subject; // empty: every participant
    std::optional<double> theta; // the expectation's smoothing weight; fitted when none
    bool includePilots = false;
    bool includeExcluded = false;
    // The moment to read at, for files written beside tables read earlier: the marks
    // read then (instead of reading them anew) and the event log's last row position
    // then (none: every row).
    const LeftOut* marks = nullptr;
    std::optional<qint64> eventsThrough;
    // Told after each participant read: how many of how many.
    std::function<void(int done, int total)> progress;
};

// Reads every participant asked for who has a period, each in a short read of its own,
// in the order of version and name. Marked participants are left out unless taken
// in; `leftOut` says how many.
QList<ParticipantAnalysis> analyseParticipants(store::Store& store, const AnalysisOptions& options,
                                               LeftOut* leftOut = nullptr);
// The same for a command that has nothing to show without them: throws ToolError when
// nobody asked for has a completed period.
QList<ParticipantAnalysis> loadAnalysis(store::Store& store, const AnalysisOptions& options,
                                        LeftOut* leftOut = nullptr);

// What a low R squared is: the rule explains less than half the orders' variation.
inline constexpr double kLowRSquared = 0.5;

} // namespace aquilevel::tools
