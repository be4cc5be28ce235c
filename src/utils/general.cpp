#include "utils/general.hpp"

#include "error.hpp"

namespace hydrokit {

namespace {

enum class Order { less, equal, greater };

// An ordered comparison of an abscissa with the looked-up value; NaN has no order.
Order compare(double element, double x) {
    if (element < x) return Order::less;
    if (element > x) return Order::greater;
    if (element == x) return Order::equal;
    throw Panic("called `Option::unwrap()` on a `None` value");
}

enum class CurveFault { none, lengths, too_short, x_unsorted, y_unsorted };

CurveFault find_fault(std::span<const double> x_values, std::span<const double> y_values) {
    if (x_values.size() != y_values.size()) return CurveFault::lengths;
    if (x_values.size() < 2) return CurveFault::too_short;
    if (!strictly_increasing(x_values)) return CurveFault::x_unsorted;
    if (!non_decreasing(y_values)) return CurveFault::y_unsorted;
    return CurveFault::none;
}

void require_sound_curve(std::span<const double> x_values, std::span<const double> y_values) {
    switch (find_fault(x_values, y_values)) {
        case CurveFault::none:
            return;
        case CurveFault::lengths:
            throw Panic("length of `x_values` and `y_values` should be same.");
        case CurveFault::too_short:
            throw Panic("x_values and y_values each must have at least 2 elements.");
        case CurveFault::x_unsorted:
            throw Panic("`x_values` must must be sorted and can't have duplicates");
        case CurveFault::y_unsorted:
            throw Panic("`y_values` must must be sorted");
    }
}

}  // namespace

// Both tests are written as "later above earlier" so that a NaN fails them.
bool strictly_increasing(std::span<const double> values) {
    for (size_t i = 1; i < values.size(); ++i) {
        if (!(values[i] > values[i - 1])) return false;
    }
    return true;
}

bool non_decreasing(std::span<const double> values) {
    for (size_t i = 1; i < values.size(); ++i) {
        if (!(values[i] >= values[i - 1])) return false;
    }
    return true;
}

std::optional<double> linear_interpolate(std::span<const double> x_values,
                                         std::span<const double> y_values, double x,
                                         std::optional<double> fill_below,
                                         std::optional<double> fill_above) {
    require_sound_curve(x_values, y_values);
    return curve_detail::value_at(x_values, y_values, curve_detail::binary_search(x_values, x), x,
                                  fill_below, fill_above);
}

CurveLookup::CurveLookup(std::span<const double> x_values, std::span<const double> y_values)
    : CurveLookup(x_values, y_values, find_fault(x_values, y_values) == CurveFault::none) {}

CurveLookup CurveLookup::of_checked(std::span<const double> x_values,
                                    std::span<const double> y_values) {
    return {x_values, y_values, x_values.size() == y_values.size() && x_values.size() >= 2};
}

// Halves the window [base, base + size) until one element is left, moving `base` up whenever
// the probed element is not above `x`, then compares once more at `base`.
curve_detail::Position curve_detail::binary_search(std::span<const double> x_values, double x) {
    size_t size = x_values.size();
    if (size == 0) return {false, 0};
    size_t base = 0;
    while (size > 1) {
        const size_t half = size / 2;
        const size_t middle = base + half;
        if (compare(x_values[middle], x) != Order::greater) base = middle;
        size -= half;
    }
    const Order last = compare(x_values[base], x);
    if (last == Order::equal) return {true, base};
    return {false, base + (last == Order::less ? 1 : 0)};
}

}  // namespace hydrokit
