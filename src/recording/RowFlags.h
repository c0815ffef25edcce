#pragma once

#include "config/ExperimentSetup.h"
#include "store/RecordSet.h"
#include "session/TankState.h"

namespace aquilevel::recording {

// Yes/no columns are written only when yes (as 1); the column's default says no.
inline void setFlag(store::RecordSet& row, const char* column, bool value)
{
    if (value)
        row.setField(QString::fromLatin1(column), 1);
}

// The four flow flags of the period and the display mode, in the order the event log
// and the trial summary both write them.
inline void setFlowFlags(store::RecordSet& row, const TankState& tank,
                         const config::ExperimentSetup& setup)
{
    setFlag(row, "IsUserInFlow", tank.IsUserInFlow);
    setFlag(row, "IsUserOutFlow", tank.IsUserOutFlow);
    setFlag(row, "IsEnvInFlow", tank.IsEnvInFlow);
    setFlag(row, "IsEnvOutFlow", tank.IsEnvOutFlow);
    setFlag(row, "graphicalMode", setup.graphicalMode);
}

} // namespace aquilevel::recording
