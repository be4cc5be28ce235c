#include "reservoir_routing/level_pool.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "error.hpp"

namespace hydrokit {

namespace {

ContinuousSeries series(std::vector<double> data, int32_t time_step, const char* kind) {
    ContinuousSeries result;
    result.data = std::move(data);
    result.kind = kind;
    result.time_step = time_step;
    return result;
}

std::vector<double> reserved(size_t capacity) {
    std::vector<double> values;
    values.reserve(capacity);
    return values;
}

// The pool elevation at `storage`. A NaN storage (a missing inflow value, a NaN release) is
// reported as off the curve instead of being searched for, so a run never carries on from a
// storage it cannot know.
double elevation_at(CurveLookup& storage_to_elevation, double storage) {
    if (std::isnan(storage) && storage_to_elevation.valid()) {
        return require_elevation(std::nullopt, storage);
    }
    return require_elevation(storage_to_elevation(storage, std::nullopt, std::nullopt), storage);
}

}  // namespace

LevelPoolResult run_level_pool_routing(const ContinuousSeries& inflow, double initial_elevation,
                                       const ElevationStorage& elevation_storage,
                                       const NamedMap<DischargeInfo>& outlets) {
    const size_t n = inflow.data.size();
    const int32_t dt = inflow.time_step;
    constexpr double h = 1.0;  // the integration step, one second

    std::vector<double> storage_out = reserved(n);
    std::vector<double> elevation_out = reserved(n);
    std::vector<double> total_out = reserved(n);
    std::vector<std::vector<double>> outlet_out(outlets.size());
    for (auto& values : outlet_out) values.reserve(n);

    elevation_out.push_back(initial_elevation);
    double storage = elevation_storage.storage_at(initial_elevation);
    storage_out.push_back(storage);
    double elevation = initial_elevation;
    if (n == 0) throw Panic("index out of bounds: the len is 0 but the index is 0");
    if (dt == 0) throw Panic("assertion failed: step != 0");
    double previous_inflow = inflow.data[0];

    // The first lookup has checked the curve; later ones search from the previous segment.
    CurveLookup storage_to_elevation(elevation_storage.storage, elevation_storage.elevation);
    std::vector<OutletRun> runs;
    runs.reserve(outlets.size());
    for (const auto& [name, outlet] : outlets) runs.emplace_back(outlet);

    const int64_t step = dt;
    const int64_t span = static_cast<int64_t>(n - 1) * step;
    for (int64_t t = step; t <= span; ++t) {
        const bool recorded = t % step == 0;
        const ReleaseContext context{t, elevation};
        double total = 0.0;
        for (size_t k = 0; k < runs.size(); ++k) {
            const double release = runs[k].release(context);
            total = total + release;
            if (recorded) outlet_out[k].push_back(release);
        }
        if (recorded) total_out.push_back(total);
        // The first second records the outflow of the initial state and leaves it unchanged.
        if (t == step) continue;

        const double current_inflow = inflow.value_at(static_cast<double>(t));
        storage = storage + ((previous_inflow + current_inflow) * 0.5) * h - total * h;
        // The pool cannot hold less than nothing; a NaN is kept for the lookup to report.
        if (storage < 0.0) storage = 0.0;
        elevation = elevation_at(storage_to_elevation, storage);
        if (recorded) {
            storage_out.push_back(storage);
            elevation_out.push_back(elevation);
        }
        previous_inflow = current_inflow;
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
