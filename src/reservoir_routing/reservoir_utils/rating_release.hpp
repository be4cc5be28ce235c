// Reading an outlet's rating curve, shared by the gated outlet and the spillway.
#pragma once

#include "reservoir_routing/reservoir_utils/elevation_discharge.hpp"
#include "utils/general.hpp"

namespace hydrokit {

// The discharge at `elevation` on `curve`, read through `rating` (a lookup on that curve):
// nothing below the curve, ValueError above it.
double rated_release(const ElevationDischarge& curve, double elevation, CurveLookup& rating);

}  // namespace hydrokit
