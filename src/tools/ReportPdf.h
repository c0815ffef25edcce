#pragma once

#include "tools/AnalysisData.h"
#include "tools/SessionReport.h"

#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

class QPainter;

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

// The PDF report of a version: its figures on the first page (the table of participants
// running on over further pages when long), then one page per participant with the
// session's pictures and the decision rule fitted to the participant's orders.

struct ReportParticipant {
    SessionData session; // the completed periods, as the pictures draw them
    QList<RulePeriod> rulePeriods;
    RuleFit rule;
    double meanDistance = 0; // mean absolute distance from the goal after a completed period
};

struct VersionReport {
    QString version;
    QString database;
    QDateTime written;
    QList<ReportParticipant> participants; // in the order of their names
    QString leftOutNote;                   // empty when nobody was left out
};

// The participants' analyses as the report shows them: only completed periods count (a
// session ended within a period leaves that period out). Throws ToolError when none of
// them completed a period.
VersionReport versionReport(const QList<ParticipantAnalysis>& analysed, int maxTrial, const QString& units);

// Reads the version with loadAnalysis, which leaves the marked participants out as
// `leftOut` asks, and the version's number of periods and units from its setup.
VersionReport loadVersionReport(store::Store& store, const QString& version, LeftOut& leftOut);

// What the first page says of the version.
struct VersionFigures {
    int participants = 0;
    double meanInBand = 0;
    int fewestInBand = 0, mostInBand = 0;
    double meanDistance = 0;  // the mean of the participants' own means
    QList<double> alphas;     // of the participants whose rule was fitted, in their order
    QList<double> betas;
    double medianAlpha = 0, medianBeta = 0;
    QStringList unfitted;     // no rule could be fitted
    QStringList lowFit;       // fitted, R squared below kLowRSquared
};
VersionFigures versionFigures(const VersionReport& report);

// A page's printable area in the pictures' pixels (A4 landscape, 12 mm margins); the
// PDF scales it onto the page, so one pixel is about 0.28 mm.
inline constexpr QSize kReportPage{960, 654};

int reportPageCount(const VersionReport& report, QSize page = kReportPage);
// Draws page `index` (from 0) into the rectangle from (0, 0) of `page`'s size.
void drawReportPage(QPainter& painter, const VersionReport& report, int index, QSize page = kReportPage);

// Writes the report under a temporary name beside `path` and renames it into place.
// Returns the number of pages. Throws ToolError, leaving `path` as it was, when it cannot.
int writeReportPdf(const VersionReport& report, const QString& path);

} // namespace aquilevel::tools
