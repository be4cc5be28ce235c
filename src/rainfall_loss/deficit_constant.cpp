#include "rainfall_loss/deficit_constant.hpp"

#include <cmath>
#include <vector>

#include "utils/min_max.hpp"

namespace hydrokit {

namespace {

IncrementalSeries rainfall_series(std::vector<double> values, int32_t time_step) {
    IncrementalSeries series;
    series.data = std::move(values);
    series.kind = "rainfall";
    series.time_step = time_step;
    return series;
}

}  // namespace

DeficitConstantResult run_deficit_and_constant(const IncrementalSeries& rainfall,
                                               double initial_deficit, double max_deficit,
                                               double constant_loss_per_hr,
                                               double time_to_dry_seconds) {
    const double step_hours = static_cast<double>(rainfall.time_step) / 3600.0;
    const double step_loss_capacity = constant_loss_per_hr * step_hours;
    // Exponential recovery: the fraction of the gap to max_deficit that one step closes.
    const double recovery_fraction =
        time_to_dry_seconds > 0 ? 1.0 - std::exp(step_hours / (time_to_dry_seconds / -3600.0))
                                : 0.0;

    const size_t n = rainfall.data.size();
    // Sized up front and written through plain pointers, so that the loop's state stays in
    // registers rather than around the growth path of push_back.
    std::vector<double> excess(n), loss(n), deficit_at_end(n);
    double* const excess_out = excess.data();
    double* const loss_out = loss.data();
    double* const deficit_out = deficit_at_end.data();
    const double* const rain_in = rainfall.data.data();

    // The minimum and maximum ignore a NaN operand, so a NaN parameter does not poison the
    // deficit.
    double deficit = initial_deficit;
    for (size_t t = 0; t < n; ++t) {
        const double rain = rain_in[t];
        const double recovered = min_number(
            deficit + max_number(max_deficit - deficit, 0.0) * recovery_fraction, max_deficit);
        // Both outcomes are worked out and one is picked, so that a random pattern of wet and
        // dry steps costs no mispredicted branches.
        const double constant_loss = min_number(rain, step_loss_capacity);
        const double remaining = rain - constant_loss;
        const double filled = min_number(remaining, recovered);
        const bool wet = rain > 0;  // NaN rain counts as a dry step
        deficit = wet ? recovered - filled : recovered;
        loss_out[t] = wet ? filled + constant_loss : 0.0;
        excess_out[t] = wet ? remaining - filled : 0.0;
        deficit_out[t] = deficit;
    }

    return {
        .excess = rainfall_series(std::move(excess), rainfall.time_step),
        .loss = rainfall_series(std::move(loss), rainfall.time_step),
        .deficit = rainfall_series(std::move(deficit_at_end), rainfall.time_step),
    };
}

}  // namespace hydrokit
