#include "rainfall_transform/clark_uh.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "buffer_pool.hpp"
#include "error.hpp"
#include "instruction_sets.hpp"
#include "interrupt.hpp"
#include "reach_routing/muskingum.hpp"
#include "utils/min_max.hpp"

#if __has_include(<pthread.h>)
#include <pthread.h>
#define HYDROKIT_HAS_PTHREAD_KEYS 1
#endif

namespace hydrokit {

namespace {

// A linear reservoir is Muskingum routing with no inflow weighting.
constexpr double reservoir_weighting = 0.0;

// Recession steps allowed beyond the translation hydrograph before giving up.
constexpr uint64_t max_recession_steps = 10'000'000;

// Relative size below which the runoff still to come is dropped from the unit hydrograph.
constexpr double recession_tolerance = 1e-9;

// Translation ordinates between two polls: each costs two powers.
constexpr size_t translation_block = size_t{1} << 15;

// The convolution adds U[j] * depth to Q[i + j] for every rain step i in ascending order,
// each element on its own in the written order (no fused multiply-add), so vector lanes of any
// width give the same values as the scalar loop. Each instruction set gets lanes of its own
// vector unit's width, chosen once when the convolution first runs: the compiler splits lanes
// wider than the unit and stores them through the stack, which cost the convolution a third
// of its time on AVX2.
#if defined(HYDROKIT_VECTOR_TYPES)
using Double2 = double __attribute__((vector_size(16)));
using Double4 = double __attribute__((vector_size(32)));
using Double8 = double __attribute__((vector_size(64)));
#else
// Without vector types the loops below run one element at a time.
using Double2 = double;
#endif

// The runoff and the unit hydrograph are read and written at any double's address; copies
// compile to unaligned vector moves. (Filled through a reference: a vector return value would
// depend on the caller's instruction set.)
template <class Lanes>
[[gnu::always_inline]] inline void load(Lanes& lanes, const double* at) {
    std::memcpy(&lanes, at, sizeof lanes);
}

template <class Lanes>
[[gnu::always_inline]] inline void store(double* at, const Lanes& lanes) {
    std::memcpy(at, &lanes, sizeof lanes);
}

// Doubles per step of the vector loops, in lanes of the unit's width.
constexpr size_t block = 8;

// Rain steps whose contributions are added in one sweep over the runoff: each element is
// loaded and stored once for all of them instead of once per step. Each step still costs a
// load of the unit hydrograph, so more steps per sweep gain little once the loads of the
// runoff are a small share; eight keep the depths and the lanes within sixteen vector
// registers.
constexpr size_t fused_steps = 8;

// runoff[j] = unit[j] * depth + runoff[j] for j in [0, count).
template <class Lanes>
[[gnu::always_inline]] inline void add_scaled_in(double* __restrict runoff,
                                                 const double* __restrict unit, size_t count,
                                                 double depth) {
    constexpr size_t width = sizeof(Lanes) / sizeof(double);
    size_t j = 0;
    for (; j + width <= count; j += width) {
        Lanes q, u;
        load(q, runoff + j);
        load(u, unit + j);
        store(runoff + j, u * depth + q);
    }
    for (; j < count; ++j) runoff[j] = unit[j] * depth + runoff[j];
}

// runoff[j] gets units[0][j] * depths[0], then units[1][j] * depths[1], ... for j in
// [0, count): the same additions in the same order as one add_scaled_in per step.
template <class Lanes>
[[gnu::always_inline]] inline void add_scaled_fused_in(double* __restrict runoff,
                                                       const double* const (&units)[fused_steps],
                                                       size_t count,
                                                       const double (&depths)[fused_steps]) {
    constexpr size_t width = sizeof(Lanes) / sizeof(double);
    constexpr size_t parts = block / width;
    const double* u[fused_steps];
    double d[fused_steps];
#pragma GCC unroll 8
    for (size_t r = 0; r < fused_steps; ++r) {
        u[r] = units[r];
        d[r] = depths[r];
    }
    size_t j = 0;
    for (; j + block <= count; j += block) {
        Lanes q[parts];
#pragma GCC unroll 8
        for (size_t p = 0; p < parts; ++p) load(q[p], runoff + j + p * width);
#pragma GCC unroll 8
        for (size_t r = 0; r < fused_steps; ++r) {
#pragma GCC unroll 8
            for (size_t p = 0; p < parts; ++p) {
                Lanes unit;
                load(unit, u[r] + j + p * width);
                q[p] = unit * d[r] + q[p];
            }
        }
#pragma GCC unroll 8
        for (size_t p = 0; p < parts; ++p) store(runoff + j + p * width, q[p]);
    }
    for (; j < count; ++j) {
        double q = runoff[j];
#pragma GCC unroll 8
        for (size_t r = 0; r < fused_steps; ++r) q = u[r][j] * d[r] + q;
        runoff[j] = q;
    }
}

using AddScaled = void (*)(double*, const double*, size_t, double);
using AddScaledFused = void (*)(double*, const double* const (&)[fused_steps], size_t,
                                const double (&)[fused_steps]);

struct ConvolutionKernels {
    AddScaled add_scaled;
    AddScaledFused add_scaled_fused;
};

void add_scaled_baseline(double* runoff, const double* unit, size_t count, double depth) {
    add_scaled_in<Double2>(runoff, unit, count, depth);
}

void add_scaled_fused_baseline(double* runoff, const double* const (&units)[fused_steps],
                               size_t count, const double (&depths)[fused_steps]) {
    add_scaled_fused_in<Double2>(runoff, units, count, depths);
}

#if defined(HYDROKIT_X86_KERNELS)
[[gnu::target("avx2")]] void add_scaled_avx2(double* runoff, const double* unit, size_t count,
                                             double depth) {
    add_scaled_in<Double4>(runoff, unit, count, depth);
}

[[gnu::target("avx2")]] void add_scaled_fused_avx2(double* runoff,
                                                   const double* const (&units)[fused_steps],
                                                   size_t count,
                                                   const double (&depths)[fused_steps]) {
    add_scaled_fused_in<Double4>(runoff, units, count, depths);
}

[[gnu::target("avx512f")]] void add_scaled_avx512(double* runoff, const double* unit, size_t count,
                                                  double depth) {
    add_scaled_in<Double8>(runoff, unit, count, depth);
}

[[gnu::target("avx512f")]] void add_scaled_fused_avx512(double* runoff,
                                                        const double* const (&units)[fused_steps],
                                                        size_t count,
                                                        const double (&depths)[fused_steps]) {
    add_scaled_fused_in<Double8>(runoff, units, count, depths);
}
#endif

// The widest vector unit of this machine's that the library was built for, as Muskingum
// routing finds it.
const ConvolutionKernels& convolution_kernels() {
    static const ConvolutionKernels chosen = [] {
        switch (widest_routing_lanes()) {
#if defined(HYDROKIT_X86_KERNELS)
            case RoutingLanes::avx512:
                return ConvolutionKernels{add_scaled_avx512, add_scaled_fused_avx512};
            case RoutingLanes::avx2:
                return ConvolutionKernels{add_scaled_avx2, add_scaled_fused_avx2};
#endif
            case RoutingLanes::scalar:
                break;
        }
        return ConvolutionKernels{add_scaled_baseline, add_scaled_fused_baseline};
    }();
    return chosen;
}

// Adds the unit hydrograph scaled by the rain of the steps `at` (ascending, all within one
// unit length of the first) to the runoff. Below the last step's start and past the first
// step's end only some steps reach; there they are added one after another, in order.
void add_fused_steps(const ConvolutionKernels& kernels, Values& runoff, const Values& unit,
                     const size_t (&at)[fused_steps], const double (&depths)[fused_steps]) {
    const size_t m = unit.size();
    double* q = runoff.data();
    const double* u = unit.data();
    const size_t first = at[0];
    const size_t last = at[fused_steps - 1];
    const double* units[fused_steps];
    for (size_t r = 0; r < fused_steps; ++r) {
        kernels.add_scaled(q + at[r], u, last - at[r], depths[r]);
        units[r] = u + (last - at[r]);
    }
    kernels.add_scaled_fused(q + last, units, first + m - last, depths);
    for (size_t r = 0; r < fused_steps; ++r) {
        kernels.add_scaled(q + first + m, u + (first + m - at[r]), at[r] - first, depths[r]);
    }
}

// About how many recession steps follow a translation hydrograph that ends at `outflow` with
// `volume` so far: the geometric tail |U| C2^t shrinks below the tolerance after
// log(tolerance volume (1 - C2) / (|U| C2)) / log(C2) steps. An estimate for sizing the
// storage only, a few to spare: a longer one than `largest_recession_guess` grows as it goes,
// so that a meaningless estimate (a zero volume) cannot ask for millions of values.
constexpr double largest_recession_guess = 65536.0;

size_t expected_recession_steps(double c2, double outflow, double volume) {
    constexpr size_t spare = 8;
    const double steps =
        std::log(recession_tolerance * std::fabs(volume) * (1.0 - c2) / (std::fabs(outflow) * c2)) /
        std::log(c2);
    if (!(steps >= 0.0)) return spare;
    return static_cast<size_t>(min_number(steps, largest_recession_guess)) + spare;
}

// The state of a recession: the last outflow, the volume so far and the last inflow.
struct Recession {
    double outflow;
    double volume;
    double previous_inflow;
};

// Routes recession steps into written[count, end) until the runoff still to come is
// negligible, a NaN included; returns whether it was, `count` past the step that ended it. No
// call happens inside, so the state stays in registers.
[[gnu::noinline]] bool recede(const RoutingCoefficients c, Recession& state, double* written,
                              size_t& count, size_t end) {
    double outflow = state.outflow;
    double volume = state.volume;
    double previous_inflow = state.previous_inflow;
    size_t at = count;
    bool ended = false;
    while (at < end) {
        outflow = route_step(c, outflow, 0.0, previous_inflow);
        previous_inflow = 0.0;
        written[at++] = outflow;
        volume += outflow;
        const double still_to_come = std::fabs(outflow) * std::fabs(c.c2) / (1.0 - c.c2);
        if (!(still_to_come > recession_tolerance * std::fabs(volume))) {
            ended = true;
            break;
        }
    }
    state.outflow = outflow;
    state.volume = volume;
    state.previous_inflow = previous_inflow;
    count = at;
    return ended;
}

// The unit hydrograph of this thread's last call, kept when short. A calibration scores each
// parameter set on several storms, every call with the same tc and storage_r, and for a short
// storm building the unit hydrograph costs more than the convolution. Keys compare bit for
// bit, so a kept hydrograph is exactly the one that would be built. A call borrows the kept
// one and gives it back when done: a signal handler that calls again meanwhile finds none
// and builds its own.
struct UnitKey {
    double basin_area;
    double tc_seconds;
    double storage_seconds;
    double dt_seconds;

    bool operator==(const UnitKey& other) const {
        return std::memcmp(this, &other, sizeof(UnitKey)) == 0;
    }
};

// At most 32 KiB per thread stay kept between calls.
constexpr size_t largest_kept_unit = 4096;

struct KeptUnit {
    UnitKey key{};
    Values unit;
};

#if HYDROKIT_HAS_PTHREAD_KEYS
// Each thread's kept hydrograph is found through a key whose destructor frees it when the
// thread ends: a thread_local with a destructor would ask for glibc 2.18, newer than the
// wheels promise.
void free_kept_unit(void* kept) {
    delete static_cast<KeptUnit*>(kept);
}

struct KeptUnitKey {
    pthread_key_t key;
    bool made;
};

// This thread's kept hydrograph, or null when there is no room for one (nothing is kept then).
KeptUnit* thread_kept_unit() {
    static const KeptUnitKey slot = [] {
        KeptUnitKey made{};
        made.made = pthread_key_create(&made.key, free_kept_unit) == 0;
        return made;
    }();
    if (!slot.made) return nullptr;
    auto* kept = static_cast<KeptUnit*>(pthread_getspecific(slot.key));
    if (kept != nullptr) return kept;
    kept = new (std::nothrow) KeptUnit;
    if (kept != nullptr && pthread_setspecific(slot.key, kept) != 0) {
        delete kept;
        return nullptr;
    }
    return kept;
}
#else
KeptUnit* thread_kept_unit() {
    thread_local KeptUnit kept;
    return &kept;
}
#endif

Values borrowed_unit(const UnitKey& key) {
    KeptUnit* kept = thread_kept_unit();
    if (kept != nullptr && !kept->unit.empty() && kept->key == key) {
        return std::exchange(kept->unit, Values{});
    }
    return clark_unit_hydrograph(key.basin_area, key.tc_seconds, key.storage_seconds,
                                 key.dt_seconds);
}

void give_back_unit(const UnitKey& key, Values&& unit) {
    if (unit.capacity() > largest_kept_unit) return;
    KeptUnit* kept = thread_kept_unit();
    if (kept == nullptr) return;
    kept->key = key;
    kept->unit = std::move(unit);
}

}  // namespace

double time_area_fraction(double x) {
    x = min_number(x, 1.0);
    if (x < 0.5) return std::pow(x, 1.5) * 1.414;
    return std::pow(1.0 - x, 1.5) * (-1.414) + 1.0;
}

uint64_t translation_ordinate_count(double tc_seconds, double dt_seconds) {
    const double count = std::ceil(tc_seconds / dt_seconds);
    if (!(count > 0)) return 0;
    // 2^64 is the first double beyond the range.
    if (count >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(count);
}

Values clark_unit_hydrograph(double basin_area, double tc_seconds, double storage_seconds,
                             double dt_seconds) {
    const uint64_t m = translation_ordinate_count(tc_seconds, dt_seconds);
    const RoutingCoefficients c =
        routing_coefficients(storage_seconds, reservoir_weighting, dt_seconds);
    // The start at rest, the translation ordinates and at least one step of recession.
    if (m > Values().max_size() - 2) throw std::bad_alloc();
    Values ordinates = values_to_overwrite(m + 2);
    double* written = ordinates.data();

    // The reservoir starts at rest: inflow 0 and outflow 0 at t = 0. Each translation
    // ordinate is routed as soon as it is made.
    written[0] = 0.0;
    double volume = 0.0 + 0.0;
    double previous_fraction = 0.0;
    double previous_inflow = 0.0;
    double outflow = 0.0;
    in_blocks(m, translation_block, [&](size_t begin, size_t end) {
        for (uint64_t i = begin + 1; i <= end; ++i) {
            const double x = (static_cast<double>(i) * dt_seconds) / tc_seconds;
            const double fraction = time_area_fraction(x);
            // Acre-inches per hour to cfs.
            const double inflow =
                ((fraction - previous_fraction) * basin_area) * 1.00833 / (dt_seconds / 3600.0);
            previous_fraction = fraction;
            outflow = route_step(c, outflow, inflow, previous_inflow);
            previous_inflow = inflow;
            written[i] = outflow;
            volume += outflow;
        }
    });

    // A storage constant of at most half a step gives C2 <= 0: the recession alternates in
    // sign (or stops) from one step to the next, an artefact of the scheme rather than runoff.
    // One step of it is kept, holding the whole geometric remainder U C2 / (1 - C2).
    if (c.c2 <= 0.0) {
        double last = route_step(c, outflow, 0.0, previous_inflow);
        last = last + last * c.c2 / (1.0 - c.c2);
        written[m + 1] = last;
        return ordinates;
    }

    // Past the last translation ordinate the recession is geometric with ratio C2, so
    // |U[t]| |C2| / (1 - C2) is the runoff still to come. The ordinates are written in place
    // into storage sized ahead of them, in runs between polls and growth steps.
    Recession recession{outflow, volume, previous_inflow};
    size_t count = m + 1;
    size_t room = count + expected_recession_steps(c.c2, outflow, volume);
    ordinates.resize(room);
    for (uint64_t steps = 0; steps < max_recession_steps;) {
        if (steps > 0 && steps % interrupt_interval == 0) check_interrupt();
        if (count == room) {
            room = count + count / 2 + 1;
            ordinates.resize(room);
        }
        const size_t run =
            std::min<uint64_t>({room - count, interrupt_interval - steps % interrupt_interval,
                                max_recession_steps - steps});
        const size_t before = count;
        const bool ended = recede(c, recession, ordinates.data(), count, count + run);
        steps += count - before;
        if (ended) {
            ordinates.resize(count);
            return ordinates;
        }
    }
    throw ValueError(
        "storage_r is too long for the time step: the unit hydrograph does not decay within " +
        std::to_string(max_recession_steps) + " steps");
}

ContinuousSeries run_clark_uh(const IncrementalSeries& rainfall, double basin_area,
                              double tc_seconds, double storage_seconds) {
    const double dt_seconds = static_cast<double>(rainfall.time_step);
    const Values& excess = rainfall.data;
    ContinuousSeries runoff{{{}, "discharge", rainfall.time_step}};
    if (tc_seconds <= 0 || dt_seconds <= 0) {
        runoff.data = zeroed_values(excess.size());
        return runoff;
    }

    const UnitKey key{basin_area, tc_seconds, storage_seconds, dt_seconds};
    Values unit = borrowed_unit(key);
    runoff.data = zeroed_values(excess.size() + unit.size() - 1);
    const size_t m = unit.size();
    const ConvolutionKernels& kernels = convolution_kernels();
    InterruptCountdown countdown;
    size_t at[fused_steps];
    double depths[fused_steps];
    size_t gathered = 0;
    for (size_t i = 0; i < excess.size(); ++i) {
        if (excess[i] == 0.0) continue;  // also -0.0; NaN is spread on purpose
        at[gathered] = i;
        depths[gathered] = excess[i];
        ++gathered;
        if (gathered == fused_steps && at[fused_steps - 1] - at[0] < m) {
            countdown.add(m * fused_steps);
            add_fused_steps(kernels, runoff.data, unit, at, depths);
            gathered = 0;
        } else if (gathered == fused_steps) {
            // Too far apart to share a sweep: the first goes alone, the others wait.
            countdown.add(m);
            kernels.add_scaled(runoff.data.data() + at[0], unit.data(), m, depths[0]);
            for (size_t r = 1; r < fused_steps; ++r) {
                at[r - 1] = at[r];
                depths[r - 1] = depths[r];
            }
            --gathered;
        }
    }
    for (size_t r = 0; r < gathered; ++r) {
        kernels.add_scaled(runoff.data.data() + at[r], unit.data(), m, depths[r]);
    }
    give_back_unit(key, std::move(unit));
    return runoff;
}

}  // namespace hydrokit
