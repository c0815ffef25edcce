#pragma once

namespace aquilevel {

class Session;

struct StartupOptions {
    int splashMilliseconds = 1000;
    bool fullScreen = false; // the trial screen full-screen rather than maximised
};

// The start of a session, from the splash window to the first screen of the task.
void Main(Session& session, const StartupOptions& options = {});

// The operating system asks the program to end (signal `number`). On the trial screen
// that is a request to close it: the experimenter's gate opens. Before it (login,
// registration, instructions) the program ends at once, between two steps, so nothing
// is left half-written; once the session is ending it ends by itself.
void RequestStop(Session& session, int number);

} // namespace aquilevel
