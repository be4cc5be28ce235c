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
    std::vector<double> excess, loss, deficit_at_end;
    excess.reserve(n);
    loss.reserve(n);
    deficit_at_end.reserve(n);

    // The minimum and maximum ignore a NaN operand, so a NaN parameter does not poison the
    // deficit.
    double deficit = initial_deficit;
    for (const double rain : rainfall.data) {
        const double recovered = min_number(
            deficit + max_number(max_deficit - deficit, 0.0) * recovery_fraction, max_deficit);
        if (rain > 0) {  // NaN rain counts as a dry step
            const double constant_loss = min_number(rain, step_loss_capacity);
            const double remaining = rain - constant_loss;
            const double filled = min_number(remaining, recovered);
            deficit = recovered - filled;
            loss.push_back(filled + constant_loss);
            excess.push_back(remaining - filled);
        } else {
            deficit = recovered;
            loss.push_back(0.0);
            excess.push_back(0.0);
        }
        deficit_at_end.push_back(deficit);
    }

    return {
        .excess = rainfall_series(std::move(excess), rainfall.time_step),
        .loss = rainfall_series(std::move(loss), rainfall.time_step),
        .deficit = rainfall_series(std::move(deficit_at_end), rainfall.time_step),
    };
}

}  // namespace hydrokit
