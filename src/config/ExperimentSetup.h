#pragma once

#include "config/ConfigProblem.h"

#include <QString>

namespace aquilevel::store {
class Row;
}

namespace aquilevel::config {

// One version's row of tblSetup, under the names of its columns.
struct ExperimentSetup {
    QString Version;
    qint32 MaxTrial = 0;
    double BaseMoney = 0;
    qint16 numMarks = 0;
    double InitialAmountInTank = 0;
    double GoalLinePoisition = 0;
    double InitialBackOrder = 0;
    double InitialForwardDischarge = 0;
    qint16 inFlowTPAfter = 0;
    qint16 outFlowTPAfter = 0;
    double simTimeForTP = 0;
    qint16 AfterEveryNTrials = 0;
    qint16 ScenarioUsed = 0;
    double CostUnderFlowPerAmount = 0;
    double CostOverFlowPerAmount = 0;
    double BonusAmount = 0;
    QString YUnits;
    QString Language; // the participant's language as a code such as "de"; empty is English
    bool graphicalMode = false;
    // The display mode as a participant's registration names it.
    QString condition() const { return graphicalMode ? QStringLiteral("continuous") : QStringLiteral("discrete"); }
    qint32 userDelay = 0;
    qint32 envDelay = 0;
    double RHEIGHT = 0;
    double RWIDTH = 0;
    double UpperBoundFromGoal = 0;
    double LowerBoundFromGoal = 0;
    qint32 ExperimentTimeForInstructions = 0;
    qint16 MaxNumberOfAScenarioType = 0;
    bool IsTimeDriven = false;
    bool IsBonusOnTimeGap = false;
    bool ShowBackOrder = false;
    bool ShowDischargeOrder = false;
    bool ShowTimePeriods = false;
    double deltaTmeBetweenEnvUsr = 0;
    double TimeBetweenEnvTries = 0;
    qint32 UsrMv = 0;
    qint32 EnvMv = 0;
};

// Reads a tblSetup row field by field. Every field must be
// there and hold a value (YUnits may be Null: it reads as empty); each field that cannot
// be read is added to problems and left at its default.
ExperimentSetup readSetupRow(const store::Row& row, const QString& version,
                             ConfigProblems& problems);

// A yes/no value counts as yes only when it is exactly 1.
bool isYes(const QVariant& value);

} // namespace aquilevel::config
