#include "metrics/kge.hpp"

#include <cmath>
#include <vector>

#include "error.hpp"

namespace hydrokit {

namespace {

// The offset of the log transform and the floor of the ratios' denominators: it keeps a
// constant or zero-mean observation from dividing by zero.
constexpr double guard = 1e-6;

std::vector<double> log_transformed(std::span<const double> values) {
    std::vector<double> logs(values.size());
    for (size_t i = 0; i < values.size(); ++i) logs[i] = std::log(values[i] + guard);
    return logs;
}

}  // namespace

double kling_gupta_efficiency(std::span<const double> simulated, std::span<const double> observed,
                              bool use_log) {
    if (observed.empty()) throw ValueError("Observed series is empty.");
    if (simulated.size() != observed.size()) throw ValueError("Series length mismatch.");
    if (use_log) {
        const std::vector<double> simulated_logs = log_transformed(simulated);
        const std::vector<double> observed_logs = log_transformed(observed);
        return kling_gupta_efficiency(simulated_logs, observed_logs, false);
    }
    const double count = static_cast<double>(observed.size());
    // Each sum runs in index order on its own; taken in one loop, the two chains of additions
    // overlap instead of one waiting for the other.
    double sim_sum = 0.0;
    double obs_sum = 0.0;
    for (size_t i = 0; i < observed.size(); ++i) {
        sim_sum += simulated[i];
        obs_sum += observed[i];
    }
    const double mean_sim = sim_sum / count;
    const double mean_obs = obs_sum / count;
    double sim_squares = 0.0;
    double cross_products = 0.0;
    double obs_squares = 0.0;
    for (size_t i = 0; i < observed.size(); ++i) {
        const double sim_deviation = simulated[i] - mean_sim;
        const double obs_deviation = observed[i] - mean_obs;
        sim_squares += sim_deviation * sim_deviation;
        cross_products += obs_deviation * sim_deviation;
        obs_squares += obs_deviation * obs_deviation;
    }

    // Squares are products: x * x is the correctly rounded square, which pow need not be.
    const double deviation_norms = std::sqrt(obs_squares * sim_squares);
    const double correlation = cross_products / deviation_norms;
    // A series without spread has no defined correlation; it scores as r = 0.
    const double correlation_term =
        deviation_norms < guard ? 1.0 : (correlation - 1.0) * (correlation - 1.0);

    const double bias_denominator = std::fabs(mean_obs) < guard ? guard : mean_obs;
    const double bias = mean_sim / bias_denominator;

    const double sim_spread = std::sqrt(sim_squares / count);
    const double obs_spread = std::sqrt(obs_squares / count);
    // Written as a comparison so that a NaN spread stays NaN rather than becoming the floor.
    const double variability = sim_spread / (obs_spread < guard ? guard : obs_spread);

    return 1.0 - std::sqrt((variability - 1.0) * (variability - 1.0) +
                           ((bias - 1.0) * (bias - 1.0) + correlation_term));
}

}  // namespace hydrokit
