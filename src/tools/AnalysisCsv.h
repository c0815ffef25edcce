#pragma once

#include "tools/AnalysisData.h"

#include <QByteArray>

namespace aquilevel::tools {

// The analysis files, as CSV bytes (UTF-8, CRLF, a point in decimals, dates YYYY-MM-DD):
// periods.csv, a row per participant and period, and participants.csv, a row per
// participant with the fitted decision rule. What each column holds is in the codebook.
QByteArray periodsCsv(const QList<ParticipantAnalysis>& participants);
QByteArray participantsCsv(const QList<ParticipantAnalysis>& participants);

// A decimal as the analysis files write it: a point, at most nine decimals, no
// exponent, no trailing zeros; empty for a value that is not a number.
QString decimal(double value);

} // namespace aquilevel::tools
