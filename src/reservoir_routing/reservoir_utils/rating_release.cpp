#include "reservoir_routing/reservoir_utils/rating_release.hpp"

#include "error.hpp"
#include "utils/number_format.hpp"

namespace hydrokit {

double rated_release(const ElevationDischarge& curve, double elevation, CurveLookup& rating) {
    const double last = curve.elevation.back();
    if (elevation > last) {
        throw ValueError("elevation " + format_number(elevation) +
                         " is above the maximum of the elevation-discharge curve (" +
                         format_number(last) + ").");
    }
    if (elevation < curve.elevation.front()) return 0.0;
    // At or below the last elevation, so the lookup always has a value (a NaN elevation
    // fails inside the lookup).
    return rating(elevation, 0.0, std::nullopt).value();
}

}  // namespace hydrokit
