#include "task/InitSession.h"

#include "task/InterruptedPeriod.h"
#include "session/Resume.h"
#include "session/Session.h"
#include "session/StartVersion.h"

namespace aquilevel {

void InitSession(Session& session)
{
    SessionState& s = session.state;
    if (s.Trial == 0) {
        startNewSession(s.tank, s.setup);
    } else {
        // The goal is the version's; the event rows store it only for the analysis.
        s.tank.GoalAmount = s.setup.GoalLinePoisition;
        // A resumed session keeps the totals, the money and the amount it was restored
        // with; the initial orders are spread over the first periods exactly as at the
        // start, so that a session interrupted within the first delay periods still
        // delivers those that were due.
        TankState fresh;
        startNewSession(fresh, s.setup);
        s.tank.BackOrder = fresh.BackOrder;
        s.tank.ForwardDischarge = fresh.ForwardDischarge;
    }
    s.tank.UserInFlow = periodArray(s.setup);
    s.tank.UserOutFlow = periodArray(s.setup);
    if (s.Trial != 0)
        ReloadPendingOrders(session);
    if (!s.IsNewSubject)
        FinishInterruptedPeriod(session);
}

void StartNewParticipant(Session& session)
{
    SessionState& s = session.state;
    s.IsNewSubject = true;
    s.Condition = s.setup.condition();
    LoadSessionConfiguration(session);
    InitSession(session);
}

} // namespace aquilevel
