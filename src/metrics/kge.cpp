#include "metrics/kge.hpp"

#include <cmath>
#include <vector>

#include "buffer_pool.hpp"
#include "error.hpp"
#include "interrupt.hpp"

namespace hydrokit {

namespace {

// The offset of the log transform and the floor of the ratios' denominators: it keeps a
// constant or zero-mean observation from dividing by zero.
constexpr double guard = 1e-6;

// Both series' logarithms, into `simulated_logs` and `observed_logs`, summed in index order
// as they are taken, each sum on its own: the additions wait on nothing but the logarithms,
// and no second pass reads the logarithms back from memory for them.
void log_transformed(std::span<const double> simulated, std::span<const double> observed,
                     Values& simulated_logs, Values& observed_logs, double& sim_sum,
                     double& obs_sum) {
    in_blocks(observed.size(), interrupt_interval / 2, [&](size_t begin, size_t end) {
        double sim = sim_sum;
        double obs = obs_sum;
        for (size_t i = begin; i < end; ++i) {
            const double sim_log = std::log(simulated[i] + guard);
            const double obs_log = std::log(observed[i] + guard);
            simulated_logs[i] = sim_log;
            observed_logs[i] = obs_log;
            sim += sim_log;
            obs += obs_log;
        }
        sim_sum = sim;
        obs_sum = obs;
    });
}

// The efficiency of two series of equal, non-zero length whose sums are `sim_sum` and
// `obs_sum`.
[[gnu::always_inline]] inline double efficiency(std::span<const double> simulated,
                                                std::span<const double> observed, double sim_sum,
                                                double obs_sum) {
    const size_t n = observed.size();
    const double count = static_cast<double>(n);
    const double mean_sim = sim_sum / count;
    const double mean_obs = obs_sum / count;
    double sim_squares = 0.0;
    double cross_products = 0.0;
    double obs_squares = 0.0;
    in_blocks(n, interrupt_interval, [&](size_t begin, size_t end) {
        double sim = sim_squares;
        double cross = cross_products;
        double obs = obs_squares;
        for (size_t i = begin; i < end; ++i) {
            const double sim_deviation = simulated[i] - mean_sim;
            const double obs_deviation = observed[i] - mean_obs;
            sim += sim_deviation * sim_deviation;
            cross += obs_deviation * sim_deviation;
            obs += obs_deviation * obs_deviation;
        }
        sim_squares = sim;
        cross_products = cross;
        obs_squares = obs;
    });

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

}  // namespace

double kling_gupta_efficiency(std::span<const double> simulated, std::span<const double> observed,
                              bool use_log) {
    if (observed.empty()) throw ValueError("Observed series is empty.");
    if (simulated.size() != observed.size()) throw ValueError("Series length mismatch.");
    double sim_sum = 0.0;
    double obs_sum = 0.0;
    if (use_log) {
        Values simulated_logs = values_to_overwrite(observed.size());
        Values observed_logs = values_to_overwrite(observed.size());
        log_transformed(simulated, observed, simulated_logs, observed_logs, sim_sum, obs_sum);
        return efficiency(simulated_logs, observed_logs, sim_sum, obs_sum);
    }
    // Each sum runs in index order on its own; taken in one loop, the two chains of additions
    // overlap instead of one waiting for the other. The sums live in locals within a block, so
    // that no store to them can be mistaken for one to the series.
    in_blocks(observed.size(), interrupt_interval, [&](size_t begin, size_t end) {
        double sim = sim_sum;
        double obs = obs_sum;
        for (size_t i = begin; i < end; ++i) {
            sim += simulated[i];
            obs += observed[i];
        }
        sim_sum = sim;
        obs_sum = obs;
    });
    return efficiency(simulated, observed, sim_sum, obs_sum);
}

}  // namespace hydrokit
