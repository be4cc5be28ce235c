#include "reservoir_routing/reservoir_utils/constant_discharge.hpp"

#include "reservoir_routing/reservoir_utils/release_context.hpp"

namespace hydrokit {

double constant_release(const ConstantDischargeInfo& outlet, double elevation) {
    if (shut_by_gates(elevation, outlet.minimum_elevation, outlet.maximum_elevation)) return 0.0;
    return outlet.discharge;
}

}  // namespace hydrokit
