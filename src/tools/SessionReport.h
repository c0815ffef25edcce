#pragma once

#include "tools/DecisionRule.h"
#include "tools/LeftOut.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

class QPainter;

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

struct ToolContext;

// The `report` command: draws one participant's session (with --subject) or the
// distribution over all participants of a version into a PNG file.
int runReport(const QStringList& arguments, const ToolContext& context);

// ---------------------------------------------------------------------------------------
// The data of the pictures, read from the event log.

// One completed period of a participant: the last "After Cost Calculation" row of it.
struct ReportPeriod {
    int trial = 0;
    double amount = 0;     // AmountInTank after the period
    double goal = 0;       // GoalAmount
    double lowerBound = 0; // LowerBoundFromGoal
    double upperBound = 0; // UpperBoundFromGoal
    double envNetFlow = 0; // (EnvInFlow - EnvOutFlow) * SimulationTime
    double userInFlow = 0;
    double userOutFlow = 0;
};

// Whether the period ended in the bonus band (the bonus rule's own test).
bool isInBand(const ReportPeriod& period);

struct SessionData {
    QString version;
    QString subject;
    QList<ReportPeriod> periods; // ascending by period
    double earnings = 0;         // TotBonus of the participant's newest row
    int maxTrial = 0;            // the version's MaxTrial; 0 when the setup row is missing
    QString units;               // the version's YUnits; empty when unnamed

    int periodsInBand() const;
    // The goal and band of the newest period (all periods share them in a session).
    double goal() const;
    double bandLow() const;
    double bandHigh() const;
};

// The "After Cost Calculation" rows of one participant, the last row of each period
// taken, read in one query. Throws ToolError when the participant has no rows for the version at all or
// no completed period.
SessionData loadSession(store::Store& store, const QString& version, const QString& subject);

// The mean absolute distance from the goal per period over the participants who
// reached the period, with one standard deviation (n - 1 denominator; 0 for one value).
struct DistributionPoint {
    int trial = 0;
    int participants = 0;
    double meanDistance = 0;
    double standardDeviation = 0;
};

struct DistributionData {
    QString version;
    int participants = 0;
    int maxTrial = 0;
    QString units;
    QList<DistributionPoint> points; // ascending by period
    QList<SessionData> sessions;     // every participant's periods, for the traces
};

DistributionData summarise(const QString& version, const QList<SessionData>& sessions);
// Reads the version's rows in one query. Throws ToolError when no participant of the
// version completed a period. The participants `leftOut` reads (marked ones, unless it
// takes them in) are left out; none when it is null.
DistributionData loadDistribution(store::Store& store, const QString& version, LeftOut* leftOut = nullptr);

// ---------------------------------------------------------------------------------------
// The pictures. Both have an upper and a lower panel over the same periods; the layout
// maps a period and a value to the pixel they are drawn at, so callers (and tests) can
// find what is drawn where.

struct ReportLayout {
    QRectF upper;
    QRectF lower;
    double firstPeriod = 1; // the period at the left edge of the plots' x range ...
    double lastPeriod = 1;  // ... and at the right edge (half a period of room each side)
    double upperMin = 0, upperMax = 1, upperStep = 1;
    double lowerMin = 0, lowerMax = 1, lowerStep = 1;

    double x(double period) const;
    double upperY(double value) const;
    double lowerY(double value) const;
    QPointF upperPoint(double period, double value) const { return {x(period), upperY(value)}; }
    QPointF lowerPoint(double period, double value) const { return {x(period), lowerY(value)}; }
    // The width of one period on the x axis.
    double periodWidth() const;
    // The bar of series `index` (0, 1, 2 from left to right) of `count` bars in a period,
    // from zero to `value`.
    QRectF bar(int period, int index, int count, double value) const;
};

// The colours of the pictures (opaque, so a pixel shows exactly one of them).
namespace reportColours {
inline const QColor background{255, 255, 255};
inline const QColor band{255, 226, 226};
inline const QColor goal{220, 0, 0};
inline const QColor amountLine{40, 70, 140};
inline const QColor inBand{30, 80, 170};
inline const QColor outOfBand{235, 130, 0};
inline const QColor envNet{90, 110, 200};
inline const QColor userIn{255, 0, 0};
inline const QColor userOut{0, 192, 0};
inline const QColor spread{200, 215, 240};
inline const QColor mean{30, 80, 170};
inline const QColor trace{110, 130, 180};
inline const QColor typedOrder{40, 70, 140};
inline const QColor ruleOrder{235, 130, 0};
} // namespace reportColours

inline constexpr QSize kDefaultReportSize{1600, 1000};

// Each picture is drawn for a size in pixels: onto an image of that size, or onto a
// painter (a PDF page's) into the rectangle from (0, 0) of that size in its coordinates.
ReportLayout sessionLayout(const SessionData& data, QSize size);
QImage drawSession(const SessionData& data, QSize size = kDefaultReportSize);
void drawSession(QPainter& painter, const SessionData& data, QSize size);

ReportLayout distributionLayout(const DistributionData& data, QSize size);
QImage drawDistribution(const DistributionData& data, QSize size = kDefaultReportSize);
void drawDistribution(QPainter& painter, const DistributionData& data, QSize size);

// The decision rule fitted to a participant's orders: what the rule orders in each
// period it was fitted on against what the participant typed, under a line of the
// fitted figures. One panel, in the layout's upper rectangle; its x axis matches the
// session picture's of the same width and lastPeriod.
struct RuleChart {
    QString units;
    QList<RulePeriod> periods;
    RuleFit fit;
    int lastPeriod = 1;
};
ReportLayout ruleLayout(const RuleChart& chart, QSize size);
QImage drawRuleFit(const RuleChart& chart, QSize size);
void drawRuleFit(QPainter& painter, const RuleChart& chart, QSize size);

// A range widened to whole steps of 1, 2 or 5 times a power of ten, about `parts` of
// them, with a little room; returns the step. The label of a value on such an axis.
double niceRange(double& low, double& high, int parts);
QString tickText(double value, double step);

// Writes a PNG under a temporary name beside `path` and renames it into place, so that
// `path` never holds half a picture. Throws ToolError (and leaves `path` as it was)
// when the picture cannot be written.
void writePngAtomically(const QImage& image, const QString& path);

} // namespace aquilevel::tools
