#include "reservoir_routing/reservoir_utils/controlled_discharge.hpp"

#include <cmath>

#include "reservoir_routing/reservoir_utils/rating_release.hpp"
#include "reservoir_routing/reservoir_utils/release_context.hpp"

namespace hydrokit {

ControlledDischargeInfo ControlledDischargeInfo::normalised(ElevationDischarge elevation_discharge,
                                                            std::optional<double> minimum_elevation,
                                                            std::optional<double> maximum_elevation,
                                                            std::optional<double> maximum_release) {
    const double first = elevation_discharge.elevation.front();
    const double last = elevation_discharge.elevation.back();
    const double minimum = minimum_elevation ? std::fmax(*minimum_elevation, first) : first;
    std::optional<double> maximum;
    if (maximum_elevation) maximum = std::fmin(*maximum_elevation, last);
    return {std::move(elevation_discharge), minimum, maximum, maximum_release};
}

double controlled_release(const ControlledDischargeInfo& outlet, double elevation,
                          CurveLookup& rating) {
    if (shut_by_gates(elevation, outlet.minimum_elevation, outlet.maximum_elevation)) return 0.0;
    return capped_release(rated_release(outlet.elevation_discharge, elevation, rating),
                          outlet.maximum_release);
}

}  // namespace hydrokit
