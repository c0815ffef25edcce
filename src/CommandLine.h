#pragma once

namespace aquilevel {

// Runs the program as its command line asks: a participant's session by default, or
// one of the experimenter's commands.
int runProgram(int argc, char** argv);

} // namespace aquilevel
