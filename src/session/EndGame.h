#pragma once

#include <QString>

namespace aquilevel {

class Session;

// The one way a session ends. Unless it was abandoned (the experimenter's password or
// Quit at the login), it shows the questionnaire when due and the earnings message;
// then the program ends at once, without any window's close handlers.
[[noreturn]] void EndGame(Session& session);

// The end after a database failure that the person declined to retry. Once periods were
// played it is EndGame's. Before any (a wrong key, a plain or damaged file, a folder that
// cannot be written at the registration) there is nothing to ask or pay for: a message
// for the experimenter, and the program ends with status 1.
[[noreturn]] void EndAfterStoreFailure(Session& session);

// Gives this station's hold of the participant up and ends the program with `exitCode`.
[[noreturn]] void EndProcess(Session& session, int exitCode);

// "The game is over and you have earned 05.00 dollars. ...", in the version's currency:
// `decimals` after the point (at least two digits before it).
QString earningsMessage(double totBonus, const QString& currencyWord = QStringLiteral("dollars"), int decimals = 2);

} // namespace aquilevel
