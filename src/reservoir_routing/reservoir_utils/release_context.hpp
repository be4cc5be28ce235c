// The reservoir state an outlet releases for, and the gate and cap rules that several outlet
// kinds share.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "utils/min_max.hpp"

namespace hydrokit {

struct ReleaseContext {
    std::optional<int64_t> duration_secs;  // elapsed simulation time, whole seconds
    double elevation;                      // current water-surface elevation
};

// Outside the elevation band the outlet is shut. The bounds themselves are inside, and a NaN
// elevation is never shut out (every comparison with it is false).
inline bool shut_by_gates(double elevation, std::optional<double> minimum_elevation,
                          std::optional<double> maximum_elevation) {
    if (minimum_elevation && elevation < *minimum_elevation) return true;
    return maximum_elevation && elevation > *maximum_elevation;
}

// An absent cap leaves the release as it is; a present one is a minimum that ignores a NaN
// operand.
inline double capped_release(double release, std::optional<double> maximum_release) {
    return maximum_release ? min_number(release, *maximum_release) : release;
}

}  // namespace hydrokit
