#pragma once

#include <QString>
#include <QStringList>

namespace aquilevel::tools {

struct ToolContext;

// The `bot` command: plays one whole session of a version through the real trial screen,
// offscreen and with every animation stage at 1 ms, typing orders from a CSV file or a
// named policy, and prints the participant's summary. In time-driven play the version's
// clock runs (or the one given) and the bot submits on a schedule, or never.
int runBot(const QStringList& arguments, const ToolContext& context);

// One period's orders as they are typed into the two boxes.
struct BotOrder {
    QString inflow;
    QString outflow;
};

// Reads "inflow,outflow" lines (blank lines and lines starting with # are skipped).
// Each value must be what a participant can type: digits with at most one point.
// Throws ToolError naming the line of the first bad one.
QList<BotOrder> parseOrders(const QString& text);

// The "hold" policy: orders back what the environment's net flow of a period took away
// (a positive net outflow as inflow, a net inflow as outflow), never negative.
BotOrder holdOrder(double envInFlow, double envOutFlow, double simTimeForTP);

// The "anchor" policy, anchoring and adjustment as people order: anchored on the net
// outflow the environment took last period, adjusted by alpha times the gap between
// goal and amount, less beta times what is ordered and still on its way (net inflow
// ordered minus net outflow ordered). A positive result is typed as inflow, a negative
// one as outflow. Amounts in the units the participant sees.
BotOrder anchorOrder(double expectedNetOutflow, double goal, double amount, double onTheWay, double alpha,
                     double beta);

// The net order (inflow typed less outflow typed) an order stands for, and the order a
// net order is typed as: a positive one as inflow, a negative one as outflow.
double netOf(const BotOrder& order);
BotOrder typedNet(double net);

// When to submit in each period of time-driven play: milliseconds after the period
// opens, one value a period (the last one repeated); empty means never.
QList<int> parseSchedule(const QString& text);

// A non-negative number as the boxes take it: plain decimals, no exponent.
QString typedNumber(double value);

} // namespace aquilevel::tools
