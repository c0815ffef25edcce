#include "session/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>

namespace aquilevel {

void ImmediateProcessEnd::terminate(int exitCode)
{
    // Every store access has committed before it returned, so nothing is pending;
    // only our own output buffers need flushing before the process goes.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exitCode);
}

} // namespace aquilevel
