// A free spillway following its rating curve, optionally on a datum shifted from the pool's.
#pragma once

#include <optional>

#include "reservoir_routing/reservoir_utils/elevation_discharge.hpp"
#include "utils/general.hpp"

namespace hydrokit {

struct UnControlledDischargeInfo {
    ElevationDischarge elevation_discharge;
    std::optional<double> elevation_offset;
};

// The rated discharge at the offset-adjusted elevation; `rating` reads the outlet's own
// curve. ValueError when that elevation is above the curve.
double uncontrolled_release(const UnControlledDischargeInfo& outlet, double elevation,
                            CurveLookup& rating);

}  // namespace hydrokit
