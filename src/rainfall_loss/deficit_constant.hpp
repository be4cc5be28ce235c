// Deficit-and-constant rainfall loss: a soil moisture deficit that rain fills and dry weather
// restores, plus a constant infiltration rate taken from every wet step.
#pragma once

#include "utils/time_series.hpp"

namespace hydrokit {

// Three series as long as the rainfall, at its time step, all of kind "rainfall".
struct DeficitConstantResult {
    IncrementalSeries excess;   // rain left for surface runoff, inches per step
    IncrementalSeries loss;     // constant loss plus deficit fill, inches per step
    IncrementalSeries deficit;  // soil moisture deficit at the end of each step, inches
};

// Splits `rainfall` (inches per step) into excess and loss. The deficit starts at
// `initial_deficit`, recovers towards `max_deficit` with the time constant
// `time_to_dry_seconds` (0: never), and the constant loss is `constant_loss_per_hr` inches/hour.
DeficitConstantResult run_deficit_and_constant(const IncrementalSeries& rainfall,
                                               double initial_deficit, double max_deficit,
                                               double constant_loss_per_hr,
                                               double time_to_dry_seconds);

}  // namespace hydrokit
