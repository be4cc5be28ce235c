#include "reservoir_routing/reservoir_utils/elevation_discharge.hpp"

#include "error.hpp"
#include "utils/general.hpp"

namespace hydrokit {

ElevationDischarge ElevationDischarge::checked(Values elevation, Values discharge) {
    if (elevation.size() != discharge.size()) {
        throw ValueError("`elevation` and `discharge` must have the same length");
    }
    if (elevation.size() < 2) {
        throw ValueError("`elevation` and `discharge` each must have at least 2 elements.");
    }
    if (!strictly_increasing(elevation)) {
        throw ValueError("`elevation` must must be sorted and can't have duplicates");
    }
    if (!non_decreasing(discharge)) throw ValueError("`discharge` must must be sorted");
    return {std::move(elevation), std::move(discharge)};
}

}  // namespace hydrokit
