// Muskingum channel routing: outflow from a reach whose storage is a weighted mix of inflow
// and outflow, K (X I + (1 - X) O).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "buffer_pool.hpp"
#include "instruction_sets.hpp"
#include "utils/time_series.hpp"

namespace hydrokit {

// The weights of one routing step: O[t] = C2 O[t-1] + (C0 I[t] + C1 I[t-1]).
struct RoutingCoefficients {
    double c0;
    double c1;
    double c2;
};

// Coefficients for storage constant `k_seconds`, weighting `x` and step `dt_seconds`.
RoutingCoefficients routing_coefficients(double k_seconds, double x, double dt_seconds);

// One step of the recurrence, the inflow terms summed first.
inline double route_step(const RoutingCoefficients& c, double previous_outflow, double inflow,
                         double previous_inflow) {
    return c.c2 * previous_outflow + (c.c0 * inflow + c.c1 * previous_inflow);
}

// `passes` routing passes, each one's outflow the next one's inflow: as many outflow values
// as inflow values, the first being `start_outflow` after every pass. Throws Panic for an
// empty inflow, which has no first value to pair with the start; polls for interruption.
Values routing_passes(std::span<const double> inflow, const RoutingCoefficients& c,
                      double start_outflow, uint64_t passes);

// The vector instructions the passes can be routed with; every choice gives the same values.
// Elsewhere than x86-64 the passes are interleaved in scalar registers only.
enum class RoutingLanes {
    scalar,
#if defined(HYDROKIT_X86_KERNELS)
    avx2,
    avx512,
#endif
};

// The widest this processor offers.
RoutingLanes widest_routing_lanes();

// The same passes with the given instructions, which the processor must offer.
Values routing_passes(std::span<const double> inflow, const RoutingCoefficients& c,
                      double start_outflow, uint64_t passes, RoutingLanes lanes);

// Weightings outside [0, 0.5] (or NaN) still route, but deserve a word to the caller.
bool x_in_recommended_range(double x);
inline constexpr const char* x_range_advice = "`x` is outside the recommended range [0.0, 0.5].";

// Routes `inflow` through `sub_reaches` equal segments of a reach with storage constant
// `k_reach_seconds`; each segment's outflow is the next one's inflow. Refuses a count below 1.
ContinuousSeries run_muskingum_routing(const ContinuousSeries& inflow, double k_reach_seconds,
                                       double x, int64_t sub_reaches, double initial_outflow);

}  // namespace hydrokit
