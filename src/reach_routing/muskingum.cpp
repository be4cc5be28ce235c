#include "reach_routing/muskingum.hpp"

#include <algorithm>

#include "error.hpp"
#include "interrupt.hpp"

namespace hydrokit {

namespace {

// Passes routed side by side. Pass k at step t needs pass k - 1 at steps t and t - 1 only, so
// while one value flows down through the group the next ones already start: the passes
// overlap in the pipeline instead of each waiting for the whole of the one before.
constexpr uint64_t passes_per_group = 8;

// The state of `Passes` sub-reaches routed side by side: each one's previous outflow, and
// the previous value of the first one's inflow. A pass's previous inflow is the previous
// outflow of the pass above it, so nothing more is needed.
template <int Passes>
struct PassGroup {
    double previous_outflow[Passes];
    double previous_source;
};

// Routes values [begin, end) of `source` through the group into `target` (which may be
// `source`: each value is read before it is overwritten). No call happens inside, so the whole
// state stays in registers.
template <int Passes>
[[gnu::noinline]] void route_block(PassGroup<Passes>& group, const RoutingCoefficients c,
                                   const double* source, double* target, size_t begin, size_t end) {
    double previous_outflow[Passes];
#pragma GCC unroll 8
    for (int k = 0; k < Passes; ++k) previous_outflow[k] = group.previous_outflow[k];
    double previous_source = group.previous_source;
    for (size_t t = begin; t < end; ++t) {
        const double current_source = source[t];
        double inflow = current_source;
        double previous_inflow = previous_source;
#pragma GCC unroll 8
        for (int k = 0; k < Passes; ++k) {
            const double outflow = previous_outflow[k];
            const double routed = route_step(c, outflow, inflow, previous_inflow);
            previous_inflow = outflow;
            previous_outflow[k] = routed;
            inflow = routed;
        }
        target[t] = inflow;
        previous_source = current_source;
    }
#pragma GCC unroll 8
    for (int k = 0; k < Passes; ++k) group.previous_outflow[k] = previous_outflow[k];
    group.previous_source = previous_source;
}

// Routes values [1, n) of `source` through `Passes` sub-reaches into `target`, polling between
// blocks. Every pass starts from `start_outflow`; the first reads `source[0]` as its previous
// inflow.
template <int Passes>
void route_group(const RoutingCoefficients& c, const double* source, double* target, size_t n,
                 double start_outflow, InterruptCountdown& countdown) {
    PassGroup<Passes> group;
    for (double& outflow : group.previous_outflow) outflow = start_outflow;
    group.previous_source = source[0];
    constexpr size_t block = interrupt_interval / Passes;
    for (size_t begin = 1; begin < n; begin += block) {
        const size_t end = std::min(n, begin + block);
        countdown.add((end - begin) * Passes);
        route_block(group, c, source, target, begin, end);
    }
}

template <int... Passes>
void route_group_of(uint64_t passes, const RoutingCoefficients& c, const double* source,
                    double* target, size_t n, double start_outflow, InterruptCountdown& countdown) {
    (void)((passes == Passes &&
            (route_group<Passes>(c, source, target, n, start_outflow, countdown), true)) ||
           ...);
}

}  // namespace

RoutingCoefficients routing_coefficients(double k_seconds, double x, double dt_seconds) {
    const double a = (1.0 - x) * (k_seconds + k_seconds);
    const double b = (k_seconds + k_seconds) * x;
    const double d = dt_seconds + a;
    return {
        .c0 = (dt_seconds - b) / d,
        .c1 = (b + dt_seconds) / d,
        .c2 = (a - dt_seconds) / d,
    };
}

std::vector<double> routing_passes(std::span<const double> inflow, const RoutingCoefficients& c,
                                   double start_outflow, uint64_t passes) {
    if (inflow.empty()) throw Panic("index out of bounds: the len is 0 but the index is 0");
    const size_t n = inflow.size();
    std::vector<double> outflow(n);
    outflow[0] = start_outflow;
    // A single value is the start value after any number of passes.
    if (n == 1) return outflow;
    const double* source = inflow.data();
    InterruptCountdown countdown;
    for (uint64_t remaining = passes; remaining > 0;) {
        const uint64_t group = std::min(remaining, passes_per_group);
        route_group_of<1, 2, 3, 4, 5, 6, 7, 8>(group, c, source, outflow.data(), n, start_outflow,
                                               countdown);
        source = outflow.data();
        remaining -= group;
    }
    return outflow;
}

bool x_in_recommended_range(double x) {
    return x >= 0.0 && x <= 0.5;
}

ContinuousSeries run_muskingum_routing(const ContinuousSeries& inflow, double k_reach_seconds,
                                       double x, int64_t sub_reaches, double initial_outflow) {
    // Zero segments would make K infinite and every outflow NaN; a negative count would route
    // with a negative storage constant.
    if (sub_reaches < 1) throw ValueError("sub_reaches must be at least 1");
    const double k_seconds = k_reach_seconds / static_cast<double>(sub_reaches);
    const double dt_seconds = static_cast<double>(inflow.time_step);
    const RoutingCoefficients c = routing_coefficients(k_seconds, x, dt_seconds);
    ContinuousSeries result;
    result.data =
        routing_passes(inflow.data, c, initial_outflow, static_cast<uint64_t>(sub_reaches));
    result.kind = "discharge";
    result.time_step = inflow.time_step;
    return result;
}

}  // namespace hydrokit
