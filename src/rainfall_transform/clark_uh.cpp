#include "rainfall_transform/clark_uh.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "error.hpp"
#include "reach_routing/muskingum.hpp"

namespace hydrokit {

namespace {

// A linear reservoir is Muskingum routing with no inflow weighting.
constexpr double reservoir_weighting = 0.0;

// Recession steps allowed beyond the translation hydrograph before giving up.
constexpr uint64_t max_recession_steps = 10'000'000;

// Relative size below which the runoff still to come is dropped from the unit hydrograph.
constexpr double recession_tolerance = 1e-9;

}  // namespace

double time_area_fraction(double x) {
    x = std::fmin(x, 1.0);
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

std::vector<double> translation_hydrograph(double basin_area, double tc_seconds,
                                           double dt_seconds) {
    const uint64_t m = translation_ordinate_count(tc_seconds, dt_seconds);
    std::vector<double> ordinates;
    ordinates.reserve(m);
    double previous_fraction = 0.0;
    for (uint64_t i = 1; i <= m; ++i) {
        const double x = (static_cast<double>(i) * dt_seconds) / tc_seconds;
        const double fraction = time_area_fraction(x);
        // Acre-inches per hour to cfs.
        ordinates.push_back(((fraction - previous_fraction) * basin_area) * 1.00833 /
                            (dt_seconds / 3600.0));
        previous_fraction = fraction;
    }
    return ordinates;
}

std::vector<double> clark_unit_hydrograph(double basin_area, double tc_seconds,
                                          double storage_seconds, double dt_seconds) {
    const std::vector<double> translation =
        translation_hydrograph(basin_area, tc_seconds, dt_seconds);
    const uint64_t m = translation.size();

    // The reservoir starts at rest: inflow 0 at t = 0, then the translation ordinates.
    std::vector<double> inflow;
    inflow.reserve(m + 1);
    inflow.push_back(0.0);
    inflow.insert(inflow.end(), translation.begin(), translation.end());
    std::vector<double> ordinates =
        routing_pass(inflow, storage_seconds, reservoir_weighting, dt_seconds, 0.0);

    double volume = 0.0;
    for (const double ordinate : ordinates) volume += ordinate;

    // Past the last translation ordinate the recession is geometric with ratio C2, so
    // |U[t]| |C2| / (1 - C2) is the runoff still to come. A NaN anywhere ends the recession.
    const RoutingCoefficients c =
        routing_coefficients(storage_seconds, reservoir_weighting, dt_seconds);
    double previous_inflow = inflow.back();
    for (uint64_t t = m + 1; t <= m + max_recession_steps; ++t) {
        const double ordinate = route_step(c, ordinates.back(), 0.0, previous_inflow);
        previous_inflow = 0.0;
        ordinates.push_back(ordinate);
        volume += ordinate;
        const double still_to_come = std::fabs(ordinate) * std::fabs(c.c2) / (1.0 - c.c2);
        if (!(still_to_come > recession_tolerance * std::fabs(volume))) return ordinates;
    }
    throw ValueError(
        "storage_r is too long for the time step: the unit hydrograph does not decay within " +
        std::to_string(max_recession_steps) + " steps");
}

ContinuousSeries run_clark_uh(const IncrementalSeries& rainfall, double basin_area,
                              double tc_seconds, double storage_seconds) {
    const double dt_seconds = static_cast<double>(rainfall.time_step);
    const std::vector<double>& excess = rainfall.data;
    ContinuousSeries runoff;
    runoff.kind = "discharge";
    runoff.time_step = rainfall.time_step;
    if (tc_seconds <= 0 || dt_seconds <= 0) {
        runoff.data.assign(excess.size(), 0.0);
        return runoff;
    }

    const std::vector<double> unit =
        clark_unit_hydrograph(basin_area, tc_seconds, storage_seconds, dt_seconds);
    runoff.data.assign(excess.size() + unit.size() - 1, 0.0);
    for (size_t i = 0; i < excess.size(); ++i) {
        const double depth = excess[i];
        if (depth == 0.0) continue;  // also -0.0; NaN is spread on purpose
        double* out = runoff.data.data() + i;
        for (size_t j = 0; j < unit.size(); ++j) out[j] = unit[j] * depth + out[j];
    }
    return runoff;
}

}  // namespace hydrokit
