#pragma once

#include <QString>
#include <QStringList>

namespace aquilevel::tools {

struct ToolContext;

// The `bot` command: plays one whole participant-paced session of a version through the
// real trial screen, offscreen and with every stage interval at 1 ms, typing orders from
// a CSV file or a named policy, and prints the participant's summary.
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

// A non-negative number as the boxes take it: plain decimals, no exponent.
QString typedNumber(double value);

} // namespace aquilevel::tools
