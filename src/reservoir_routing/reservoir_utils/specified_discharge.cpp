#include "reservoir_routing/reservoir_utils/specified_discharge.hpp"

#include <string>

#include "error.hpp"
#include "utils/number_format.hpp"

namespace hydrokit {

double specified_release(const SpecifiedDischargeInfo& outlet, const ReleaseContext& context) {
    if (!context.duration_secs) {
        throw RuntimeError("SpecifiedDischargeInfo requires duration_secs but none was provided.");
    }
    const double t = static_cast<double>(*context.duration_secs);
    // A shut outlet releases nothing, however far past its series the run has gone.
    if (shut_by_gates(context.elevation, outlet.minimum_elevation, outlet.maximum_elevation)) {
        return 0.0;
    }
    const int64_t span = outlet.discharge.span();
    if (t > static_cast<double>(span)) throw_past_series(t, span);
    return capped_release(outlet.discharge.value_at(t), outlet.maximum_release);
}

void throw_past_series(double t, int64_t span) {
    throw ValueError("simulation duration " + format_number(t) +
                     "s exceeds the specified discharge series length (" + std::to_string(span) +
                     "s).");
}

}  // namespace hydrokit
