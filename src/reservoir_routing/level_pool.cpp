#include "reservoir_routing/level_pool.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "buffer_pool.hpp"
#include "error.hpp"
#include "interrupt.hpp"

namespace hydrokit {

namespace {

ContinuousSeries series(Values data, int32_t time_step, const char* kind) {
    ContinuousSeries result;
    result.data = std::move(data);
    result.kind = kind;
    result.time_step = time_step;
    return result;
}

// The pool elevation at `storage`. A NaN storage (a missing inflow value, a NaN release) is
// reported as off the curve instead of being searched for, so a run never carries on from a
// storage it cannot know.
[[gnu::always_inline]] inline double elevation_at(CurveLookup& storage_to_elevation,
                                                  double storage) {
    double elevation;
    if ((std::isnan(storage) && storage_to_elevation.valid()) ||
        !storage_to_elevation.on_curve(storage, elevation)) {
        return require_elevation(std::nullopt, storage);
    }
    return elevation;
}

// Beyond 2^53 seconds the sub-step times and their quotients by the step are no longer
// exact, so the interval of a second can no longer be told from its index.
constexpr int64_t exact_seconds = int64_t{1} << 53;

constexpr double h = 1.0;  // the integration step, one second

// The inflow between points k and k + 1, read at the seconds of [k dt, (k + 1) dt): the
// interpolation of `value_at` with its index and difference worked out once.
struct InflowInterval {
    const ContinuousSeries& inflow;
    double step_seconds;
    bool exact;  // false past 2^53 seconds, where `value_at` itself is used
    double index;
    double base;
    double rise;

    [[gnu::always_inline]] double at(int64_t t) const {
        if (!exact) return inflow.value_at(static_cast<double>(t));
        const double position = static_cast<double>(t) / step_seconds;
        return rise * (position - index) + base;
    }
};

// The pool between two seconds.
struct PoolState {
    double storage;
    double elevation;
    double previous_inflow;
};

// Seconds [begin, end) of one inflow interval, none of them recorded and none the first of
// the run: the outflow at the start of each second from the current elevation, then the
// update by the inflow at its end. Kept apart from the recording so that the whole state
// stays in registers.
[[gnu::noinline]] PoolState quiet_seconds(PoolState pool, int64_t begin, int64_t end,
                                          const InflowInterval& interval, std::span<OutletRun> runs,
                                          CurveLookup& storage_to_elevation) {
    double storage = pool.storage;
    double elevation = pool.elevation;
    double previous_inflow = pool.previous_inflow;
    for (int64_t t = begin; t < end; ++t) {
        double total = 0.0;
        for (OutletRun& run : runs) total = total + run.release(t, elevation);
        const double current_inflow = interval.at(t);
        storage = storage + ((previous_inflow + current_inflow) * 0.5) * h - total * h;
        // The pool cannot hold less than nothing; a NaN is kept for the lookup to report.
        if (storage < 0.0) storage = 0.0;
        elevation = elevation_at(storage_to_elevation, storage);
        previous_inflow = current_inflow;
    }
    return {storage, elevation, previous_inflow};
}

}  // namespace

LevelPoolResult run_level_pool_routing(const ContinuousSeries& inflow, double initial_elevation,
                                       const ElevationStorage& elevation_storage,
                                       const NamedMap<DischargeRef>& outlets) {
    const size_t n = inflow.data.size();
    const int32_t dt = inflow.time_step;

    Values storage_out = reserved_values(n);
    Values elevation_out = reserved_values(n);
    Values total_out = reserved_values(n);
    std::vector<Values> outlet_out(outlets.size());
    for (auto& values : outlet_out) values = reserved_values(n);

    elevation_out.push_back(initial_elevation);
    double storage = elevation_storage.storage_at(initial_elevation);
    storage_out.push_back(storage);
    double elevation = initial_elevation;
    if (n == 0) throw Panic("index out of bounds: the len is 0 but the index is 0");
    if (dt == 0) throw Panic("assertion failed: step != 0");
    if (dt < 0) throw Panic("assertion failed: step > 0");

    // The first lookup has checked the curve; later ones search from the previous segment.
    CurveLookup storage_to_elevation(elevation_storage.storage, elevation_storage.elevation);
    std::vector<OutletRun> runs;
    runs.reserve(outlets.size());
    InterruptCountdown setting_up;
    for (const auto& [name, outlet] : outlets) {
        setting_up.add(1);
        runs.emplace_back(outlet);
    }

    const int64_t step = dt;
    const int64_t span = static_cast<int64_t>(n - 1) * step;
    const double step_seconds = static_cast<double>(step);
    const bool intervals_exact = span < exact_seconds - step;

    // A recorded second, the first of each inflow interval: as in `quiet_seconds`, with the
    // releases and the state written out.
    double previous_inflow = inflow.data[0];
    auto recorded_second = [&](int64_t t, double current_inflow) {
        double total = 0.0;
        for (size_t k = 0; k < runs.size(); ++k) {
            const double release = runs[k].release(t, elevation);
            total = total + release;
            outlet_out[k].push_back(release);
        }
        total_out.push_back(total);
        // The first second records the outflow of the initial state and leaves it unchanged.
        if (t == step) return;

        storage = storage + ((previous_inflow + current_inflow) * 0.5) * h - total * h;
        if (storage < 0.0) storage = 0.0;
        elevation = elevation_at(storage_to_elevation, storage);
        storage_out.push_back(storage);
        elevation_out.push_back(elevation);
        previous_inflow = current_inflow;
    };

    // The seconds of inflow interval k, [k dt, (k + 1) dt), read the inflow between points k
    // and k + 1; the last second of the run reads the last point. The first second of each
    // interval is recorded.
    // A second's work is the pool's update and one release per outlet: with thousands of
    // outlets, a block of seconds between polls is that much shorter.
    const size_t work_per_second = runs.size() + 1;
    const int64_t block_seconds =
        std::max<int64_t>(1, static_cast<int64_t>((size_t{1} << 16) / work_per_second));
    InterruptCountdown countdown;
    for (size_t k = 1; k < n; ++k) {
        const int64_t start = static_cast<int64_t>(k) * step;
        countdown.add(work_per_second);
        if (k == n - 1) {
            recorded_second(start, inflow.value_at(static_cast<double>(start)));
            break;
        }
        const InflowInterval interval{inflow,          step_seconds,
                                      intervals_exact, static_cast<double>(k),
                                      inflow.data[k],  inflow.data[k + 1] - inflow.data[k]};
        recorded_second(start, interval.at(start));
        for (int64_t begin = start + 1; begin < start + step;) {
            const int64_t end = std::min(start + step, begin + block_seconds);
            countdown.add(static_cast<size_t>(end - begin) * work_per_second);
            const PoolState pool = quiet_seconds({storage, elevation, previous_inflow}, begin, end,
                                                 interval, runs, storage_to_elevation);
            storage = pool.storage;
            elevation = pool.elevation;
            previous_inflow = pool.previous_inflow;
            begin = end;
        }
    }

    LevelPoolResult result{
        series(std::move(storage_out), dt, "volume"),
        series(std::move(elevation_out), dt, "elevation"),
        series(std::move(total_out), dt, "discharge"),
        {},
    };
    // Without a single recorded second there are no outlet series at all.
    if (span >= step) {
        result.reservoir_individual_outflows.reserve(outlets.size());
        for (size_t k = 0; k < outlets.size(); ++k) {
            result.reservoir_individual_outflows.emplace_back(
                outlets[k].first, series(std::move(outlet_out[k]), dt, "discharge"));
        }
    }
    return result;
}

}  // namespace hydrokit
