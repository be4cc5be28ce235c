// An outlet's elevation-discharge rating curve.
#pragma once

#include <vector>

#include "buffer_pool.hpp"

namespace hydrokit {

struct ElevationDischarge {
    Values elevation;  // strictly increasing, at least two points
    Values discharge;  // paired with `elevation`, non-decreasing

    // Checks pairing, length and ordering (ValueError), so that a built curve always passes
    // the checks of `linear_interpolate`.
    static ElevationDischarge checked(Values elevation, Values discharge);
};

}  // namespace hydrokit
