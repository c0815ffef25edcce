#pragma once

#include "session/SessionState.h"
#include "task/PeriodView.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace aquilevel::store {
class Row;
class Store;
} // namespace aquilevel::store

namespace aquilevel::tools {

// One stored event row of a session as the trial screen showed it: the row's tank state
// and the picture of the period at that moment, shown through the drawing's own
// TankDrawing::showStage.
struct ReplayFrame {
    qint32 period = 0;
    qint32 eventId = 0;
    QString eventType;
    // The stage the trial screen showed the row's step with.
    task::Stage stage = task::Stage::PeriodOpened;
    // The row is the last of its step: the screen showed this until the next step. A row
    // inside a step (the inflow delivered, the outflow next) was never on the screen.
    bool endsStep = true;
    // The row's values, the amount and the goal in the held form the drawing reads.
    TankState tank;
    double envInFlow = 0;  // the environment's rates of the period
    double envOutFlow = 0;
    double userInFlow = 0; // the orders typed in the period
    double userOutFlow = 0;
    double deliveredIn = 0; // what the pipeline has brought to the tank in the period so far
    double deliveredOut = 0;
    task::PeriodPicture picture;
};

// The columns of datExperimentTrials the frames are made of.
const QStringList& replayColumns();

// The frames of a participant's event rows (replayColumns(), in the order of the
// events); the instructions' "Continue Clicked" rows are no tank states and are left
// out. `unitScale` is the version's twips per scale mark (TankModel::takeHeldForm).
QList<ReplayFrame> replayFrames(const QList<store::Row>& rows, double unitScale);

// A stored session ready to be replayed: the version's setup, scale and scenario with the
// tank as the task opened (held form), and a frame for each tank row.
struct ReplaySession {
    SessionState start;
    QList<ReplayFrame> frames;
};

// Reads the version's configuration and the participant's rows (in one read
// transaction), changing nothing. Throws ToolError when the participant has no tank rows
// in the version, or the version cannot be read.
ReplaySession loadReplay(store::Store& store, const QString& version, const QString& subject);

} // namespace aquilevel::tools
