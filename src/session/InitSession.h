#pragma once

namespace aquilevel {

class Session;

// Prepares the tank state once the configuration is loaded: a new session (Trial 0)
// starts from the configured initial state; the order arrays are made for every period.
void InitSession(Session& session);

} // namespace aquilevel
