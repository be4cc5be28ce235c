#include "reservoir_routing/reservoir_utils/rating_release.hpp"

#include "error.hpp"
#include "utils/number_format.hpp"

namespace hydrokit {

void throw_above_rating(double elevation, double last) {
    throw ValueError("elevation " + format_number(elevation) +
                     " is above the maximum of the elevation-discharge curve (" +
                     format_number(last) + ").");
}

}  // namespace hydrokit
