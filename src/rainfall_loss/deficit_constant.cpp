#include "rainfall_loss/deficit_constant.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "buffer_pool.hpp"
#include "interrupt.hpp"
#include "utils/min_max.hpp"

namespace hydrokit {

namespace {

IncrementalSeries rainfall_series(Values values, int32_t time_step) {
    return IncrementalSeries{{std::move(values), "rainfall", time_step}};
}

struct LossParameters {
    double max_deficit;
    double step_loss_capacity;
    double recovery_fraction;
};

struct LossOutputs {
    double* excess;
    double* loss;
    double* deficit;
};

// Minimum and maximum of ordered operands by compare and select, with no call in the loop (a
// call would push the deficit out of its register); a NaN operand is only noted, and the block
// that met one is worked out again with `ExactMinMax`.
struct OrderedMinMax {
    bool met_nan = false;
    double min(double x, double y) {
        met_nan |= std::isunordered(x, y);
        return ordered_min(x, y);
    }
    double max(double x, double y) {
        met_nan |= std::isunordered(x, y);
        return ordered_max(x, y);
    }
};

struct ExactMinMax {
    double min(double x, double y) { return min_number(x, y); }
    double max(double x, double y) { return max_number(x, y); }
};

// Steps [begin, end) from `deficit`; returns the deficit after the last one. For ordered
// operands both kinds of minimum and maximum give the same values.
template <class MinMax>
double split_steps(const double* rain_in, size_t begin, size_t end, double deficit,
                   const LossParameters& p, const LossOutputs& out, MinMax& pick) {
    for (size_t t = begin; t < end; ++t) {
        const double rain = rain_in[t];
        const double recovered = pick.min(
            deficit + pick.max(p.max_deficit - deficit, 0.0) * p.recovery_fraction, p.max_deficit);
        // Both outcomes are worked out and one is picked, so that a random pattern of wet and
        // dry steps costs no mispredicted branches.
        const double constant_loss = pick.min(rain, p.step_loss_capacity);
        const double remaining = rain - constant_loss;
        const double filled = pick.min(remaining, recovered);
        const bool wet = rain > 0;  // NaN rain counts as a dry step
        deficit = wet ? recovered - filled : recovered;
        out.loss[t] = wet ? filled + constant_loss : 0.0;
        out.excess[t] = wet ? remaining - filled : 0.0;
        out.deficit[t] = deficit;
    }
    return deficit;
}

// Steps per block: a block that meets a NaN is redone, so blocks stay short.
constexpr size_t steps_per_block = 4096;

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
    Values excess = values_to_overwrite(n);
    Values loss = values_to_overwrite(n);
    Values deficit_at_end = values_to_overwrite(n);
    const double* const rain_in = rainfall.data.data();

    // The minimum and maximum ignore a NaN operand, so a NaN parameter does not poison the
    // deficit.
    const LossParameters parameters{max_deficit, step_loss_capacity, recovery_fraction};
    const LossOutputs outputs{excess.data(), loss.data(), deficit_at_end.data()};
    double deficit = initial_deficit;
    InterruptCountdown countdown;
    for (size_t begin = 0; begin < n; begin += steps_per_block) {
        const size_t end = std::min(n, begin + steps_per_block);
        countdown.add(end - begin);
        OrderedMinMax ordered;
        const double after =
            split_steps(rain_in, begin, end, deficit, parameters, outputs, ordered);
        if (ordered.met_nan) [[unlikely]] {
            ExactMinMax exact;
            deficit = split_steps(rain_in, begin, end, deficit, parameters, outputs, exact);
        } else {
            deficit = after;
        }
    }

    return {
        .excess = rainfall_series(std::move(excess), rainfall.time_step),
        .loss = rainfall_series(std::move(loss), rainfall.time_step),
        .deficit = rainfall_series(std::move(deficit_at_end), rainfall.time_step),
    };
}

}  // namespace hydrokit
