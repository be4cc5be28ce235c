// An outlet's elevation-discharge rating curve.
#pragma once

#include <vector>

namespace hydrokit {

struct ElevationDischarge {
    std::vector<double> elevation;  // strictly increasing, at least two points
    std::vector<double> discharge;  // paired with `elevation`, non-decreasing

    // Checks pairing, length and ordering (ValueError), so that a built curve always passes
    // the checks of `linear_interpolate`.
    static ElevationDischarge checked(std::vector<double> elevation, std::vector<double> discharge);
};

}  // namespace hydrokit
