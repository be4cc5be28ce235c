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

namespace curve_detail {

// Where `x` falls among strictly increasing abscissae: an exact hit at `index`, or the
// insertion index (the number of abscissae below `x`).
struct Position {
    bool exact;
    size_t index;
};

// The halving search over the whole curve; a NaN `x` is a broken precondition (Panic).
Position binary_search(std::span<const double> x_values, double x);

// The result of a lookup at a known position. Inline, so that a caller in a routing loop keeps
// the optional in registers instead of passing it through memory.
[[gnu::always_inline]] inline std::optional<double> value_at(std::span<const double> x_values,
                                                             std::span<const double> y_values,
                                                             Position position, double x,
                                                             std::optional<double> fill_below,
                                                             std::optional<double> fill_above) {
    const size_t i = position.index;
    if (position.exact) return y_values[i];
    if (i == 0) return fill_below;
    if (i == x_values.size()) return fill_above;
    const double x0 = x_values[i - 1];
    const double x1 = x_values[i];
    const double y0 = y_values[i - 1];
    const double y1 = y_values[i];
    return ((x - x0) / (x1 - x0)) * (y1 - y0) + y0;
}

}  // namespace curve_detail

// A curve looked up many times in a row, as a routing loop does at every second. The curve is
// checked once, when the lookup is made; each search first tries the segment found by the
// previous one, since a reservoir's state moves little from one second to the next. Results
// and failures are exactly those of `linear_interpolate`: a curve that fails its checks
// raises the same Panic at every lookup.
class CurveLookup {
  public:
    CurveLookup(std::span<const double> x_values, std::span<const double> y_values);

    // A lookup on a curve that passed these checks when it was built and cannot change since
    // (an outlet's rating curve): only its length is confirmed, so making one costs the same
    // for a curve of a million points as for one of two.
    static CurveLookup of_checked(std::span<const double> x_values,
                                  std::span<const double> y_values);

    [[gnu::always_inline]] std::optional<double> operator()(double x,
                                                            std::optional<double> fill_below,
                                                            std::optional<double> fill_above) {
        if (!valid_) return linear_interpolate(x_values_, y_values_, x, fill_below, fill_above);
        return curve_detail::value_at(x_values_, y_values_, locate(x), x, fill_below, fill_above);
    }

    // The lookup without fills: true with the ordinate in `y` when `x` is on the curve, false
    // off it. Failures are those of the lookup.
    [[gnu::always_inline]] bool on_curve(double x, double& y) {
        if (!valid_) {
            const std::optional<double> value =
                linear_interpolate(x_values_, y_values_, x, std::nullopt, std::nullopt);
            if (value) y = *value;
            return value.has_value();
        }
        const curve_detail::Position position = locate(x);
        const size_t i = position.index;
        if (position.exact) {
            y = y_values_[i];
            return true;
        }
        if (i == 0 || i == x_values_.size()) return false;
        const double x0 = x_values_[i - 1];
        const double x1 = x_values_[i];
        const double y0 = y_values_[i - 1];
        const double y1 = y_values_[i];
        y = ((x - x0) / (x1 - x0)) * (y1 - y0) + y0;
        return true;
    }

    // Whether the curve passed the checks of `linear_interpolate`.
    bool valid() const { return valid_; }

  private:
    CurveLookup(std::span<const double> x_values, std::span<const double> y_values, bool valid)
        : x_values_(x_values), y_values_(y_values), valid_(valid) {}

    // The abscissae strictly increase, so the position of `x` is unique and any search that
    // finds it agrees with the binary search; a NaN fails both tests and goes to the search,
    // which reports it.
    [[gnu::always_inline]] curve_detail::Position locate(double x) {
        curve_detail::Position position;
        if (hint_ < x_values_.size() && x_values_[hint_] == x) {
            position = {true, hint_};
        } else if (hint_ > 0 && hint_ < x_values_.size() && x_values_[hint_ - 1] < x &&
                   x < x_values_[hint_]) {
            position = {false, hint_};
        } else {
            position = curve_detail::binary_search(x_values_, x);
        }
        hint_ = position.index;
        return position;
    }

    std::span<const double> x_values_;
    std::span<const double> y_values_;
    bool valid_;
    size_t hint_ = 1;  // insertion index or exact hit of the previous search
};

}  // namespace hydrokit
