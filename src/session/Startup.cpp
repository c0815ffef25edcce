#include "session/Startup.h"

#include "config/ConfigLoader.h"
#include "session/EndGame.h"
#include "session/InitSession.h"
#include "session/Prompter.h"
#include "session/Session.h"
#include "session/Splash.h"
#include "session/StartVersion.h"
#include "task/TrialScreen.h"

#include <QDateTime>

namespace aquilevel {

namespace {

// Stands in for the login screen until it exists: the first version of the list, an
// unnamed new participant. Remove together with its call below.
void takeFirstVersion(Session& session)
{
    SessionState& s = session.state;
    if (s.versions.isEmpty()) {
        session.prompter().inform(
            kProgramTitle,
            QStringLiteral("The experiment database at %1 holds no version in tblSetup.")
                .arg(session.store().engine().location()));
        s.LoginQuit = true;
        EndGame(session);
    }
    s.Version = s.versions.first();
    s.Subject.clear();
    LoadCheckedSetup(session);
    s.IsNewSubject = true;
    s.Trial = 0;
}

} // namespace

void Main(Session& session, const StartupOptions& options)
{
    // Never closed by the program: it stays behind the other windows until the end.
    auto* splash = new Splash;
    splash->showFor(options.splashMilliseconds);

    session.random().seed(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    session.state.versions = config::LoadVersions(session.store());

    takeFirstVersion(session);

    LoadSessionConfiguration(session);
    InitSession(session);

    // A new participant reads the instructions here (to come).

    // From here on the program lives in the trial screen's handlers.
    auto* screen = new task::TrialScreen(session);
    screen->load();
    screen->show();
}

} // namespace aquilevel
