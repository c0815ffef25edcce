#include "session/EndGame.h"

#include "config/Languages.h"
#include "config/NumberFormat.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Session.h"

#include <QCoreApplication>

#include <cstdlib>

namespace aquilevel {

QString earningsMessage(double totBonus, const QString& currencyWord, int decimals)
{
    // The default word is the program's own and translated; a lab's own word is its own.
    const QString word =
        currencyWord == QLatin1String("dollars") ? QCoreApplication::translate("EndGame", "dollars") : currencyWord;
    //: %1 the amount, %2 the currency's word.
    return QCoreApplication::translate("EndGame",
                                       "The game is over and you have earned %1 %2. Thank you for your "
                                       "participation. Please call the experimenter for further instructions.")
        .arg(config::shownDecimal(config::formatPadded(totBonus, decimals)), word);
}

void EndGame(Session& session)
{
    const SessionState& s = session.state;
    // What the step that ends the session has written is kept before anything waits for
    // a person (and before the process ends).
    session.store().endGroups();
    if (!s.AbortSession && !s.LoginQuit) {
        const bool firstEnd = !session.ending();
        session.setEnding();
        if (!s.AllPeriodsDone && firstEnd && session.questionnaire())
            session.questionnaire()();
        session.prompter().inform(kProgramTitle, earningsMessage(s.tank.TotBonus, s.setup.CurrencyWord, s.setup.CurrencyDecimals));
    }
    EndProcess(session, 0);
}

void EndProcess(Session& session, int exitCode)
{
    session.hold().release();
    session.presence().close();
    session.processEnd().terminate(exitCode);
    std::abort(); // terminate() never returns
}

void EndAfterStoreFailure(Session& session)
{
    const SessionState& s = session.state;
    if (s.Trial > 0 || s.AbortSession || s.LoginQuit || session.ending())
        EndGame(session);
    session.setEnding();
    session.prompter().inform(
        kProgramTitle,
        QCoreApplication::translate("EndGame",
                                    "The session ended before any period was played: the experiment database "
                                    "at %1 could not be used. Nothing more was stored.\n\nPlease call the "
                                    "experimenter.")
            .arg(session.store().engine().location()),
        Prompter::Icon::Critical);
    EndProcess(session, 1);
}

} // namespace aquilevel
