#pragma once

namespace aquilevel {

class Session;

struct StartupOptions {
    int splashMilliseconds = 1000;
};

// The start of a session, from the splash window to the first screen of the task.
void Main(Session& session, const StartupOptions& options = {});

} // namespace aquilevel
