// Piecewise-linear lookup on a curve given as paired abscissae and ordinates.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace hydrokit {

// Each element above the one before it; a NaN anywhere fails.
bool strictly_increasing(std::span<const double> values);
// Each element at or above the one before it; a NaN anywhere fails.
bool non_decreasing(std::span<const double> values);

// The ordinate at `x` on the curve (x_values, y_values). Below the first abscissa the result
// is `fill_below`, above the last `fill_above`; an absent fill gives no value. The curve is
// checked on every call: unequal lengths, fewer than two points, abscissae not strictly
// increasing and ordinates decreasing are broken preconditions (Panic), and so is a NaN `x`.
std::optional<double> linear_interpolate(std::span<const double> x_values,
                                         std::span<const double> y_values, double x,
                                         std::optional<double> fill_below,
                                         std::optional<double> fill_above);

// A curve looked up many times in a row, as a routing loop does at every second. The curve is
// checked once, when the lookup is made; each search first tries the segment found by the
// previous one, since a reservoir's state moves little from one second to the next. Results
// and failures are exactly those of `linear_interpolate`: a curve that fails its checks
// raises the same Panic at every lookup.
class CurveLookup {
  public:
    CurveLookup(std::span<const double> x_values, std::span<const double> y_values);

    std::optional<double> operator()(double x, std::optional<double> fill_below,
                                     std::optional<double> fill_above);

    // Whether the curve passed the checks of `linear_interpolate`.
    bool valid() const { return valid_; }

  private:
    std::span<const double> x_values_;
    std::span<const double> y_values_;
    bool valid_;
    size_t hint_ = 1;  // insertion index or exact hit of the previous search
};

}  // namespace hydrokit
