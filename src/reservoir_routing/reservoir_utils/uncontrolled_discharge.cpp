#include "reservoir_routing/reservoir_utils/uncontrolled_discharge.hpp"

#include "reservoir_routing/reservoir_utils/rating_release.hpp"

namespace hydrokit {

double uncontrolled_release(const UnControlledDischargeInfo& outlet, double elevation,
                            CurveLookup& rating) {
    const double effective = outlet.elevation_offset.value_or(0.0) + elevation;
    return rated_release(outlet.elevation_discharge, effective, rating);
}

}  // namespace hydrokit
