#include "session/StartVersion.h"

#include "config/ConfigCheck.h"
#include "config/ConfigLoader.h"
#include "session/EndGame.h"
#include "session/Prompter.h"
#include "session/Session.h"

namespace aquilevel {

namespace {

[[noreturn]] void reportAndEnd(Session& session, const config::ConfigProblems& problems)
{
    session.prompter().inform(kProgramTitle, config::describe(problems));
    EndGame(session);
}

} // namespace

void LoadCheckedSetup(Session& session)
{
    SessionState& s = session.state;
    const config::ConfigProblems problems = config::checkVersion(session.store(), s.Version);
    if (!problems.isEmpty())
        reportAndEnd(session, problems);
    try {
        s.setup = config::LoadSetup(session.store(), s.Version);
    } catch (const config::ConfigError& error) {
        reportAndEnd(session, error.problems());
    }
    s.tank.BackOrder = task::periodArray(s.setup);
    s.tank.ForwardDischarge = task::periodArray(s.setup);
}

void LoadSessionConfiguration(Session& session)
{
    SessionState& s = session.state;
    store::Store& store = session.store();
    s.MarkLabels = config::LoadScaleLabels(store, s.Version, s.setup.numMarks);
    s.TopLabelValue = config::LoadTopLabel(store, s.Version, s.TopLabelValue);
    try {
        config::LoadScenario(store, s.setup, s.EnvInFlow, s.EnvOutFlow);
    } catch (const config::ConfigError& error) {
        reportAndEnd(session, error.problems());
    }
}

} // namespace aquilevel
