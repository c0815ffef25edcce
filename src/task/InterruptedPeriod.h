#pragma once

namespace aquilevel {

class Session;

// A resumed session takes up where its last stored row left it, which with real stage
// times is most often in the middle of a period. Run once the state is restored, the
// configuration loaded and the pending orders reloaded: finishes the period that was
// interrupted, writing the rows it still owed in the order an uninterrupted session
// writes them, and leaves the state as that session had it at the same moment (the
// flow flags, UserFlowInPlay and EnvActedThisPeriod included). In time-driven play a
// period that the clock had opened without any event row yet is taken up as well.
// The rows are written together, so a crash in here is finished at the next login.
void FinishInterruptedPeriod(Session& session);

} // namespace aquilevel
