#include "baseflow/linear_reservoir.hpp"

#include <string>
#include <utility>
#include <vector>

#include "error.hpp"
#include "utils/number_format.hpp"

namespace hydrokit {

namespace {

// Acre-inches per hour to cubic feet per second.
constexpr double acre_inch_per_hour_in_cfs = 1.00833;

// Fractions may add up to slightly more than one after rounding by the caller.
constexpr double fraction_sum_tolerance = 1.000001;

void check_fraction_sum(const NamedMap<LinearReservoir>& reservoirs) {
    if (reservoirs.empty()) return;
    double sum = 0.0;
    for (const auto& [name, layer] : reservoirs) sum += layer.gw_fraction;
    if (sum > fraction_sum_tolerance) {
        throw ValueError("Total fraction " + format_number(sum) + " > 1.0");
    }
}

// Outflow of the last reservoir of one layer's chain at every step.
std::vector<double> route_layer(const LinearReservoir& layer, const std::vector<double>& rainfall,
                                double dt_h, double half, double discharge_factor) {
    const double k_per_res =
        (static_cast<double>(layer.k_duration) / 3600.0) / static_cast<double>(layer.num_reservoir);
    // Beyond this point the weight on the stored discharge turns negative and the outflow
    // oscillates.
    if (half > k_per_res) {
        throw ValueError("Stability Error: k_per_res (" + format_fixed(k_per_res, 4) +
                         ") < 0.5*dt (" + format_fixed(half, 4) +
                         "). Increase k_hr or num_reservoir.");
    }
    const double inflow_weight = dt_h / (k_per_res + half);
    const double storage_weight = 1.0 - inflow_weight;
    std::vector<double> state(layer.num_reservoir, layer.initial_q);
    std::vector<double> outflow;
    outflow.reserve(rainfall.size());
    for (const double depth : rainfall) {
        double flow = ((depth * layer.gw_fraction) / dt_h) * discharge_factor;
        for (double& reservoir : state) {
            flow = flow * inflow_weight + reservoir * storage_weight;
            reservoir = flow;
        }
        outflow.push_back(flow);
    }
    return outflow;
}

ContinuousSeries discharge_series(std::vector<double> values, int32_t time_step) {
    return ContinuousSeries{{std::move(values), "discharge", time_step}};
}

}  // namespace

LinearReservoir make_linear_reservoir(Duration k_duration, double gw_fraction, double initial_q,
                                      uint64_t num_reservoir) {
    const int32_t k_seconds = saturating_seconds_i32(k_duration.as_seconds());
    if (k_seconds <= 0) throw ValueError("k_duration must be > 0");
    if (gw_fraction < 0.0 || gw_fraction > 1.0) {
        throw ValueError("gw_fraction must be between 0 and 1");
    }
    if (num_reservoir == 0) throw ValueError("num_reservoir must be at least 1");
    return LinearReservoir{k_seconds, gw_fraction, initial_q, num_reservoir};
}

Baseflow route_linear_reservoirs(double basin_area, const IncrementalSeries& rainfall,
                                 const NamedMap<LinearReservoir>& reservoirs) {
    const double dt_h = static_cast<double>(rainfall.time_step) / 3600.0;
    const double half = 0.5 * dt_h;
    const double discharge_factor = basin_area * acre_inch_per_hour_in_cfs;
    check_fraction_sum(reservoirs);
    std::vector<double> total(rainfall.data.size(), 0.0);
    NamedMap<ContinuousSeries> layers;
    layers.reserve(reservoirs.size());
    for (const auto& [name, layer] : reservoirs) {
        std::vector<double> outflow =
            route_layer(layer, rainfall.data, dt_h, half, discharge_factor);
        for (size_t t = 0; t < total.size(); ++t) total[t] = outflow[t] + total[t];
        layers.emplace_back(name, discharge_series(std::move(outflow), rainfall.time_step));
    }
    return Baseflow{discharge_series(std::move(total), rainfall.time_step), std::move(layers)};
}

}  // namespace hydrokit
