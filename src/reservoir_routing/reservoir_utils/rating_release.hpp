// Reading an outlet's rating curve, shared by the gated outlet and the spillway.
#pragma once

#include "reservoir_routing/reservoir_utils/elevation_discharge.hpp"
#include "utils/general.hpp"

namespace hydrokit {

// The ValueError of an elevation above the rating curve's last one, `last`.
[[noreturn]] void throw_above_rating(double elevation, double last);

// The discharge at `elevation` on `curve`, read through `rating` (a lookup on that curve):
// nothing below the curve, ValueError above it.
[[gnu::always_inline]] inline double rated_release(const ElevationDischarge& curve,
                                                   double elevation, CurveLookup& rating) {
    const double last = curve.elevation.back();
    if (elevation > last) throw_above_rating(elevation, last);
    if (elevation < curve.elevation.front()) return 0.0;
    // At or below the last elevation, so the lookup always has a value (a NaN elevation
    // fails inside the lookup).
    return rating(elevation, 0.0, std::nullopt).value();
}

}  // namespace hydrokit
