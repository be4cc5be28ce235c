#include "reach_routing/muskingum.hpp"

#include <algorithm>

#include "buffer_pool.hpp"
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

// Routes `passes` passes in groups of at most `widest`, each group reading the previous one's
// outflow: `route_group(group, source, target, countdown)` routes values [1, n) of `source`
// through `group` passes into `target`.
template <class RouteGroup>
Values grouped_passes(std::span<const double> inflow, double start_outflow, uint64_t passes,
                      uint64_t widest, RouteGroup&& route_group) {
    Values outflow = values_to_overwrite(inflow.size());
    outflow[0] = start_outflow;
    const double* source = inflow.data();
    InterruptCountdown countdown;
    for (uint64_t remaining = passes; remaining > 0;) {
        const uint64_t group = std::min(remaining, widest);
        route_group(group, source, outflow.data(), countdown);
        source = outflow.data();
        remaining -= group;
    }
    return outflow;
}

Values scalar_passes(std::span<const double> inflow, const RoutingCoefficients& c,
                     double start_outflow, uint64_t passes) {
    return grouped_passes(
        inflow, start_outflow, passes, passes_per_group,
        [&](uint64_t group, const double* source, double* target, InterruptCountdown& countdown) {
            route_group_of<1, 2, 3, 4, 5, 6, 7, 8>(group, c, source, target, inflow.size(),
                                                   start_outflow, countdown);
        });
}

#if defined(HYDROKIT_X86_KERNELS)
// A wavefront across vector lanes: global lane k routes pass k, `skew` steps behind lane
// k - 1, so at wavefront step s it computes time t = s - skew k. Its own previous outflow is
// its own result of step s - 1; its inflow, pass k - 1 at time t, is lane k - 1's result of
// step s - skew, and its previous inflow is the inflow it took one step earlier. Every lane
// does exactly the scalar step. The own-lane recurrence (a multiply and an add) is the
// latency chain; a skew of two gives the lane shift on the way down (a shuffle, a multiply
// and two adds) two steps' time, so it never waits.
constexpr size_t skew = 2;

using Double4 = double __attribute__((vector_size(32)));
using Double8 = double __attribute__((vector_size(64)));

// Sets `shifted` to [from_above's last lane, lanes[0], ..., lanes[L - 2]]: every value moves
// one lane down. (Returned through a reference: a vector return value would depend on the
// caller's instruction set.)
[[gnu::always_inline]] inline void shift_down(Double4& shifted, const Double4& lanes,
                                              const Double4& from_above) {
    shifted = __builtin_shufflevector(lanes, from_above, 7, 0, 1, 2);
}

[[gnu::always_inline]] inline void shift_down(Double8& shifted, const Double8& lanes,
                                              const Double8& from_above) {
    shifted = __builtin_shufflevector(lanes, from_above, 15, 0, 1, 2, 3, 4, 5, 6);
}

// Sets every lane of `lanes` to `value` (adding it to zero lanes would turn -0 into +0).
template <class Vec>
[[gnu::always_inline]] inline void broadcast(Vec& lanes, double value) {
    for (size_t i = 0; i < sizeof(Vec) / sizeof(double); ++i) lanes[i] = value;
}

// The routing weights in every lane.
template <class Vec>
struct LaneCoefficients {
    Vec c0;
    Vec c1;
    Vec c2;
};

// The state of a wavefront of `Vectors` vectors after some step s: each lane's outflow of
// steps s and s - 1, and the inflow it took at step s.
template <class Vec, int Vectors>
struct Wavefront {
    Vec outflow[Vectors];
    Vec earlier_outflow[Vectors];
    Vec inflow[Vectors];
};

// One wavefront step, the first lane taking `source_value` as its inflow.
template <class Vec, int Vectors>
[[gnu::always_inline]] inline void wavefront_step(Wavefront<Vec, Vectors>& w,
                                                  const LaneCoefficients<Vec>& c,
                                                  double source_value) {
    Vec source_lanes;
    broadcast(source_lanes, source_value);
    Vec inflow[Vectors];
    shift_down(inflow[0], w.earlier_outflow[0], source_lanes);
#pragma GCC unroll 8
    for (int j = 1; j < Vectors; ++j) {
        shift_down(inflow[j], w.earlier_outflow[j], w.earlier_outflow[j - 1]);
    }
#pragma GCC unroll 8
    for (int j = 0; j < Vectors; ++j) {
        const Vec routed = c.c2 * w.outflow[j] + (c.c0 * inflow[j] + c.c1 * w.inflow[j]);
        w.earlier_outflow[j] = w.outflow[j];
        w.outflow[j] = routed;
        w.inflow[j] = inflow[j];
    }
}

// Steps [begin, end) in which every lane up to `last_lane` routes a time in [1, n): no lane
// waits for its start and the source lasts. No call happens inside, so the state stays in
// registers.
template <class Vec, int Vectors>
[[gnu::always_inline]] inline void wavefront_steady_steps(Wavefront<Vec, Vectors>& state,
                                                          const LaneCoefficients<Vec>& weights,
                                                          const double* source, double* target,
                                                          size_t last_lane, size_t begin,
                                                          size_t end) {
    constexpr size_t lanes = sizeof(Vec) / sizeof(double);
    // Local copies: a store to `target` cannot change them, so they stay in registers.
    Wavefront<Vec, Vectors> w = state;
    const LaneCoefficients<Vec> c = weights;
    const size_t lag = skew * last_lane;
    const size_t lane = last_lane - (Vectors - 1) * lanes;
    for (size_t s = begin; s < end; ++s) {
        wavefront_step(w, c, source[s]);
        target[s - lag] = w.outflow[Vectors - 1][lane];
    }
    state = w;
}

// Steps at the ends of the series: lanes not yet at time 1 hold the start value, the first
// lane takes the last source value once the source is exhausted, and only times in [1, n)
// are written.
template <class Vec, int Vectors>
[[gnu::always_inline]] inline void wavefront_edge_steps(
    Wavefront<Vec, Vectors>& w, const LaneCoefficients<Vec>& c, const double* source,
    double* target, size_t n, double start_outflow, size_t last_lane, size_t begin, size_t end) {
    constexpr size_t lanes = sizeof(Vec) / sizeof(double);
    const size_t lag = skew * last_lane;
    for (size_t s = begin; s < end; ++s) {
        wavefront_step(w, c, source[std::min(s, n - 1)]);
        for (int j = 0; j < Vectors; ++j) {
            for (size_t i = 0; i < lanes; ++i) {
                if (skew * (j * lanes + i) >= s) w.outflow[j][i] = start_outflow;
            }
        }
        if (s > lag && s - lag < n)
            target[s - lag] = w.outflow[Vectors - 1][last_lane - (Vectors - 1) * lanes];
    }
}

// Routes values [1, n) of `source` through `passes` (at most the wavefront's lanes)
// sub-reaches into `target` (which may be `source`: a value is read before its time is
// written), polling between blocks.
template <class Vec, int Vectors>
[[gnu::always_inline]] inline void route_wavefront(const RoutingCoefficients& c,
                                                   const double* source, double* target, size_t n,
                                                   double start_outflow, size_t passes,
                                                   InterruptCountdown& countdown) {
    Wavefront<Vec, Vectors> w;
    for (int j = 0; j < Vectors; ++j) {
        broadcast(w.outflow[j], start_outflow);
        w.earlier_outflow[j] = w.outflow[j];
        w.inflow[j] = w.outflow[j];
    }
    w.inflow[0][0] = source[0];
    LaneCoefficients<Vec> lane_c;
    broadcast(lane_c.c0, c.c0);
    broadcast(lane_c.c1, c.c1);
    broadcast(lane_c.c2, c.c2);
    const size_t last_lane = passes - 1;
    const size_t lag = skew * last_lane;
    // Steps [1, lag] fill the wavefront, [lag + 1, n) run it full, [n, n + lag) drain it
    // (a short series goes straight from filling to draining).
    const size_t steady_begin = lag + 1;
    const size_t steady_end = std::max(steady_begin, n);
    const size_t steps_end = n + lag;
    countdown.add(lag * passes);
    wavefront_edge_steps(w, lane_c, source, target, n, start_outflow, last_lane, 1, steady_begin);
    const size_t block = interrupt_interval / passes;
    for (size_t begin = steady_begin; begin < steady_end; begin += block) {
        const size_t end = std::min(steady_end, begin + block);
        countdown.add((end - begin) * passes);
        wavefront_steady_steps(w, lane_c, source, target, last_lane, begin, end);
    }
    countdown.add((steps_end - steady_end) * passes);
    wavefront_edge_steps(w, lane_c, source, target, n, start_outflow, last_lane, steady_end,
                         steps_end);
}

// The wavefront compiled for each instruction set, chosen at run time: the library itself is
// built for the baseline processor.
template <int Vectors>
[[gnu::target("avx2"), gnu::noinline]] void route_wavefront_avx2(
    const RoutingCoefficients& c, const double* source, double* target, size_t n,
    double start_outflow, size_t passes, InterruptCountdown& countdown) {
    route_wavefront<Double4, Vectors>(c, source, target, n, start_outflow, passes, countdown);
}

template <int Vectors>
[[gnu::target("avx512f"), gnu::noinline]] void route_wavefront_avx512(
    const RoutingCoefficients& c, const double* source, double* target, size_t n,
    double start_outflow, size_t passes, InterruptCountdown& countdown) {
    route_wavefront<Double8, Vectors>(c, source, target, n, start_outflow, passes, countdown);
}

using WavefrontGroup = void (*)(const RoutingCoefficients&, const double*, double*, size_t, double,
                                size_t, InterruptCountdown&);

// The routine for a group of `passes` passes (at most 12) in 256-bit vectors.
WavefrontGroup avx2_group(uint64_t passes) {
    constexpr WavefrontGroup by_vectors[] = {route_wavefront_avx2<1>, route_wavefront_avx2<2>,
                                             route_wavefront_avx2<3>};
    return by_vectors[(passes - 1) / 4];
}

// The routine for a group of `passes` passes (at most 32) in 512-bit vectors. Up to eight
// passes the own-lane latency chain bounds either width, and two 256-bit vectors measure at
// least as fast as one 512-bit vector (faster where the processor splits 512-bit operations).
WavefrontGroup avx512_group(uint64_t passes) {
    constexpr WavefrontGroup by_vectors[] = {route_wavefront_avx512<1>, route_wavefront_avx512<2>,
                                             route_wavefront_avx512<3>, route_wavefront_avx512<4>};
    return passes <= 8 ? avx2_group(passes) : by_vectors[(passes - 1) / 8];
}

// Routes `passes` passes in wavefront groups of at most `widest`.
Values wavefront_passes(std::span<const double> inflow, const RoutingCoefficients& c,
                        double start_outflow, uint64_t passes, uint64_t widest,
                        WavefrontGroup (*routine_for)(uint64_t)) {
    return grouped_passes(
        inflow, start_outflow, passes, widest,
        [&](uint64_t group, const double* source, double* target, InterruptCountdown& countdown) {
            routine_for(group)(c, source, target, inflow.size(), start_outflow, group, countdown);
        });
}
#endif

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

RoutingLanes widest_routing_lanes() {
#if defined(HYDROKIT_X86_KERNELS)
    if (__builtin_cpu_supports("avx512f")) return RoutingLanes::avx512;
    if (__builtin_cpu_supports("avx2")) return RoutingLanes::avx2;
#endif
    return RoutingLanes::scalar;
}

Values routing_passes(std::span<const double> inflow, const RoutingCoefficients& c,
                      double start_outflow, uint64_t passes, RoutingLanes lanes) {
    if (inflow.empty()) throw Panic("index out of bounds: the len is 0 but the index is 0");
    // A single value is the start value after any number of passes.
    if (inflow.size() == 1) return {start_outflow};
    // One pass is a single latency chain: lanes cannot help it.
    if (passes == 1) lanes = RoutingLanes::scalar;
    switch (lanes) {
#if defined(HYDROKIT_X86_KERNELS)
        case RoutingLanes::avx512:
            return wavefront_passes(inflow, c, start_outflow, passes, 32, avx512_group);
        case RoutingLanes::avx2:
            return wavefront_passes(inflow, c, start_outflow, passes, 12, avx2_group);
#endif
        case RoutingLanes::scalar:
            break;
    }
    return scalar_passes(inflow, c, start_outflow, passes);
}

Values routing_passes(std::span<const double> inflow, const RoutingCoefficients& c,
                      double start_outflow, uint64_t passes) {
    static const RoutingLanes widest = widest_routing_lanes();
    return routing_passes(inflow, c, start_outflow, passes, widest);
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
    return ContinuousSeries{
        {routing_passes(inflow.data, c, initial_outflow, static_cast<uint64_t>(sub_reaches)),
         "discharge", inflow.time_step}};
}

}  // namespace hydrokit
