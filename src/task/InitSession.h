#pragma once

namespace aquilevel {

class Session;

// Prepares the tank state once the configuration is loaded: a new session (Trial 0)
// starts from the configured initial state; a resumed one keeps its restored money and
// totals, takes the version's goal, gets the initial orders' arrays rebuilt from the
// setup and its orders still on their way reloaded from the event log, and has the
// period it stopped in finished.
void InitSession(Session& session);

// A participant new to the version starts once the version's setup is loaded: marked
// new, under the version's display mode, with its scale and scenario loaded and the
// tank at its start. The login's way, the scripted participant's too.
void StartNewParticipant(Session& session);

} // namespace aquilevel
