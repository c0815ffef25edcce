#pragma once

#include <QString>

#include <array>

namespace aquilevel::task {

// The four water streams of the tank drawing, by the numbers the drawing and the
// animation pass around, and the number of the tank itself.
enum PipeRegion { UserInflowRegion = 0, UserOutflowRegion = 1, EnvInflowRegion = 2, EnvOutflowRegion = 3 };
constexpr int kTankNumber = 0;

// Where a flow is along its pipe in the discrete display: entering (the first cell lit
// with its quantity), arrived (the second cell), or nothing in the pipe.
enum class PipeAt { Empty, Entering, Arrived };

struct FlowPicture {
    PipeAt at = PipeAt::Empty;
    // The flow tag beside the pipe shows the quantity on red (inflow) or green
    // (outflow); otherwise it is empty on black.
    bool tagged = false;
    double quantity = 0;
};

// What the trial screen shows of a period beyond the state's own values: the flows in
// their pipes, the water streams and the status line. The model keeps it up to date.
struct PeriodPicture {
    FlowPicture userIn, userOut, envIn, envOut;
    std::array<bool, 4> streams{}; // by PipeRegion
    QString status;
};

// The moments of a period at which the screen shows something new.
enum class Stage {
    Submitted,          // Submit is off until the period takes the orders
    PeriodOpened,       // the orders are taken: the boxes are off, the counter moves
    ClockTicked,        // time-driven play: the clock opened the next period
    EnvironmentActs,    // the environment's flows act on the tank
    EnvironmentArrives, // the environment's flows reach the end of their pipes
    EnvironmentGone,    // the environment's pipes are empty again
    EnvironmentCosted,  // time-driven play: the environment step closed with its cost
    OrdersDue,          // the orders that fall due enter their pipes
    OrdersDelivered,    // they reach the tank
    PeriodClosed,       // cost and bonus are in: the next orders can be typed
    Stopped,            // the session is over: nothing can be typed any more
};

// The two order boxes as they stand.
struct Orders {
    double inflow = 0; // an empty box is 0
    double outflow = 0;
    bool inflowEmpty = false;
    bool outflowEmpty = false;
};

// What a period's cycle shows through: the trial screen, or nothing at all.
class PeriodView {
public:
    virtual ~PeriodView() = default;
    virtual Orders orders() const = 0;
    // Shows a stage: the picture, and the parts of the session state the stage changed.
    virtual void showStage(Stage stage, const PeriodPicture& picture) = 0;
};

} // namespace aquilevel::task
