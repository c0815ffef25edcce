#include "Startup.h"

#include "config/ConfigLoader.h"
#include "materials/InstructionScreen.h"
#include "materials/QuestionnaireAnswers.h"
#include "session/EndGame.h"
#include "task/InitSession.h"
#include "task/InterruptedPeriod.h"
#include "session/LoginScreen.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Resume.h"
#include "session/Session.h"
#include "session/Splash.h"
#include "session/StartVersion.h"
#include "store/Store.h"
#include "task/TrialScreen.h"

#include <QApplication>
#include <QDateTime>

namespace aquilevel {

namespace {

// Without any version there is nothing to choose at the login.
void requireVersions(Session& session)
{
    if (!session.state.versions.isEmpty())
        return;
    session.prompter().inform(
        kProgramTitle, QCoreApplication::translate("Startup", "The experiment database at %1 holds no version in tblSetup.")
                           .arg(session.store().engine().location()));
    session.state.LoginQuit = true;
    EndGame(session);
}

} // namespace

void RequestStop(Session& session, int number)
{
    if (session.ending())
        return;
    if (session.store().isBusy()) { // in the middle of a write: once it is done
        session.store().whenIdle(qApp, [&session, number] { RequestStop(session, number); });
        return;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* screen = qobject_cast<task::TrialScreen*>(w); screen && screen->isVisible()) {
            screen->close(); // the gate; its refusal keeps the screen open
            return;
        }
    }
    EndProcess(session, 128 + number);
}

void Main(Session& session, const StartupOptions& options)
{
    // Never closed by the program: it stays behind the other windows until the end.
    auto* splash = new Splash;
    splash->showFor(options.splashMilliseconds);

    session.random().seed(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    // Nothing is written into a file whose pages are damaged. The pages a session reads
    // and writes are checked, not the whole history (which grows to seconds of reading).
    try {
        store::refuseDamage(session.store().engine(), store::Sweep::SessionPages);
    } catch (const store::DamagedDatabase& error) {
        session.prompter().inform(kProgramTitle, error.message(), Prompter::Icon::Critical);
        EndProcess(session, 1);
    }
    session.state.versions = config::LoadVersions(session.store());

    requireVersions(session);
    LoginScreen::run(session);

    try {
        if (session.state.IsNewSubject) {
            StartNewParticipant(session);
        } else {
            LoadSessionConfiguration(session);
            InitSession(session);
        }
    } catch (const ResumeError& error) {
        // The orders still on their way cannot be read back: resuming would deliver
        // wrong amounts, so the session stops here with nothing written.
        session.prompter().inform(kProgramTitle, error.message(), Prompter::Icon::Exclamation);
        session.state.AbortSession = true;
        EndGame(session);
    }

    // A returning participant who has played every period: the questionnaire, unless it
    // was answered, and the earnings message. In time-driven play the last period lasts
    // until the clock's next tick: a participant who stopped in it plays the rest of it.
    SessionState& s = session.state;
    if (!s.IsNewSubject && s.Trial >= s.setup.MaxTrial) {
        s.AllPeriodsDone = QuestionnaireAnswered(session.store(), s.Subject, s.Version);
        if (s.AllPeriodsDone || !s.setup.IsTimeDriven || s.Trial > s.setup.MaxTrial)
            EndGame(session);
    }

    // The instructions are read once: by a new participant, and by a registered one whose
    // session stopped before they were left (no event row yet).
    if (s.IsNewSubject || (s.Trial == 0 && LoggedEvents(session).isEmpty()))
        InstructionScreen::run(session);

    // From here on the program lives in the period's cycle and the trial screen.
    auto* screen = new task::TrialScreen(session);
    screen->load();
    screen->showFilling(options.fullScreen);
}

} // namespace aquilevel
