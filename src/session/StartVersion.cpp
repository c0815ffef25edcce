#include "session/StartVersion.h"

#include "config/ConfigCheck.h"
#include "config/ConfigLoader.h"
#include "session/EndGame.h"
#include "session/Prompter.h"
#include "session/Session.h"
#include "store/Row.h"
#include "store/Store.h"

namespace aquilevel {

namespace {

// The questionnaire at the end of a session that a broken configuration stopped still
// asks about the version's goal band: whatever of it the setup row holds readably.
void takeGoalBand(Session& session)
{
    SessionState& s = session.state;
    store::Store& store = session.store();
    const std::optional<store::Row> stored =
        config::ReadSetupRow(store, s.Version, QStringLiteral("Loading configuration setup"));
    if (stored) {
        config::ConfigProblems ignored;
        const config::ExperimentSetup row = config::readSetupRow(*stored, s.Version, ignored);
        s.setup.GoalLinePoisition = row.GoalLinePoisition;
        s.setup.LowerBoundFromGoal = row.LowerBoundFromGoal;
        s.setup.UpperBoundFromGoal = row.UpperBoundFromGoal;
        s.tank.GoalAmount = row.GoalLinePoisition;
    }
}

[[noreturn]] void reportAndEnd(Session& session, const config::ConfigProblems& problems)
{
    session.prompter().inform(kProgramTitle, config::describe(problems));
    takeGoalBand(session);
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
    s.tank.BackOrder = periodArray(s.setup);
    s.tank.ForwardDischarge = periodArray(s.setup);
    // The screens from the registration on speak the version's language.
    if (session.languageChoice())
        session.languageChoice()(s.setup.Language);
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
