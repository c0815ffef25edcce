#pragma once

#include "config/NumberFormat.h"

namespace aquilevel::config {

// Whether an amount earns the band bonus: the amount, the band's lower edge (goal minus
// LowerBoundFromGoal) and its upper edge (goal plus UpperBoundFromGoal) are each
// rounded to three decimals first, half up, and the edges belong to the band. All in
// the configured units.
inline bool inBonusBand(double amount, double goal, double lowerBound, double upperBound)
{
    const double low = RoundHalfUp(goal - lowerBound, 1000);
    const double high = RoundHalfUp(goal + upperBound, 1000);
    const double level = RoundHalfUp(amount, 1000);
    return low <= level && level <= high;
}

} // namespace aquilevel::config
