#include "session/InitSession.h"

#include "session/Session.h"

namespace aquilevel {

void InitSession(Session& session)
{
    SessionState& s = session.state;
    if (s.Trial == 0)
        task::startNewSession(s.tank, s.setup);
    s.tank.UserInFlow = task::periodArray(s.setup);
    s.tank.UserOutFlow = task::periodArray(s.setup);
    // A resumed session reloads the orders still on their way here (next: resume).
}

} // namespace aquilevel
