#pragma once

#include "config/ExperimentSetup.h"
#include "session/TankState.h"

#include <QStringList>
#include <QVector>

namespace aquilevel {

// Everything one participant's session knows, in one place.
struct SessionState {
    // Who and which version.
    QString Subject;
    QString Version;
    QString Condition;
    qint32 Trial = 0;
    qint32 EventID = 0;

    // Set once during a run, read by EndGame.
    bool IsNewSubject = false;
    bool LoginQuit = false;
    bool AbortSession = false;
    bool AllPeriodsDone = false;
    bool ExitGranted = false;
    bool InTask = false;

    QStringList versions;
    config::ExperimentSetup setup;

    // Loaded once per session.
    QVector<double> EnvInFlow;
    QVector<double> EnvOutFlow;
    QStringList MarkLabels;
    double TopLabelValue = 0;

    TankState tank;
};

} // namespace aquilevel
