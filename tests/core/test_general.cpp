#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "error.hpp"
#include "utils/general.hpp"

using hydrokit::CurveLookup;
using hydrokit::linear_interpolate;
using hydrokit::Panic;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// The outcome of one lookup, as text: the value's bits, "none", or the panic message.
std::string outcome(const std::function<std::optional<double>()>& lookup) {
    try {
        const std::optional<double> value = lookup();
        if (!value) return "none";
        uint64_t bits;
        std::memcpy(&bits, &*value, sizeof bits);
        return std::to_string(bits);
    } catch (const Panic& panic) {
        return std::string("panic: ") + panic.what();
    }
}

std::optional<double> plain(const std::vector<double>& x, const std::vector<double>& y, double at) {
    return linear_interpolate(x, y, at, -1.0, std::nullopt);
}

}  // namespace

CORE_TEST(interpolation_checks_the_curve_in_order) {
    const std::vector<double> one = {1};
    const std::vector<double> two = {1, 2};
    const std::vector<double> three = {1, 2, 3};
    const std::vector<double> repeated = {1, 2, 2, 3};
    const std::vector<double> falling = {3, 2, 1, 0};
    const std::vector<double> empty;
    const std::vector<double> with_nan = {1, not_a_number, 3};
    const auto lookup = [](const std::vector<double>& x, const std::vector<double>& y) {
        return linear_interpolate(x, y, 1.5, std::nullopt, std::nullopt);
    };
    CHECK_THROWS(Panic, "length of `x_values` and `y_values` should be same.", lookup(three, two));
    CHECK_THROWS(Panic, "length of `x_values` and `y_values` should be same.", lookup(one, empty));
    CHECK_THROWS(Panic, "x_values and y_values each must have at least 2 elements.",
                 lookup(empty, empty));
    CHECK_THROWS(Panic, "x_values and y_values each must have at least 2 elements.",
                 lookup(one, one));
    // An unsorted abscissa wins over unsorted ordinates.
    CHECK_THROWS(Panic, "`x_values` must must be sorted and can't have duplicates",
                 lookup(repeated, falling));
    CHECK_THROWS(Panic, "`x_values` must must be sorted and can't have duplicates",
                 lookup(with_nan, three));
    CHECK_THROWS(Panic, "`y_values` must must be sorted", lookup(three, with_nan));
    CHECK_THROWS(Panic, "`y_values` must must be sorted",
                 lookup(three, std::vector<double>{3, 2, 1}));
    CHECK(lookup(three, std::vector<double>{5, 5, 5}) == 5.0);
    CHECK_THROWS(Panic, "called `Option::unwrap()` on a `None` value",
                 linear_interpolate(three, three, not_a_number, 0.0, 0.0));
}

CORE_TEST(interpolation_reads_hits_fills_and_segments) {
    const std::vector<double> x = {0.1, 0.7, 2.0};
    const std::vector<double> y = {3.0, 5.5, 5.5};
    CHECK(linear_interpolate(x, y, 0.1, 9.0, 9.0) == 3.0);
    CHECK(linear_interpolate(x, y, 2.0, 9.0, 9.0) == 5.5);
    CHECK(linear_interpolate(x, y, 0.0999, 9.0, std::nullopt) == 9.0);
    CHECK(!linear_interpolate(x, y, 0.0999, std::nullopt, 9.0));
    CHECK(!linear_interpolate(x, y, 2.0001, 9.0, std::nullopt));
    CHECK(linear_interpolate(x, y, 1.0, 0.0, 0.0) == 5.5);
    // ((x - x0) / (x1 - x0)) * (y1 - y0) + y0, in that grouping.
    CHECK(linear_interpolate(x, y, 0.3, std::nullopt, std::nullopt) ==
          ((0.3 - 0.1) / (0.7 - 0.1)) * (5.5 - 3.0) + 3.0);
}

CORE_TEST(hinted_lookup_matches_the_plain_routine_on_random_curves) {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> step(0.001, 10.0);
    std::uniform_int_distribution<int> length(2, 40);
    for (int curve = 0; curve < 200; ++curve) {
        std::vector<double> x = {step(random) - 5.0};
        std::vector<double> y = {step(random)};
        for (int i = 1, n = length(random); i < n; ++i) {
            x.push_back(x.back() + step(random));
            y.push_back(y.back() + (i % 3 == 0 ? 0.0 : step(random)));
        }
        CurveLookup hinted(x, y);
        std::uniform_real_distribution<double> anywhere(x.front() - 2.0, x.back() + 2.0);
        double walk = x.front();
        for (int probe = 0; probe < 400; ++probe) {
            // Slow walks, as a routing loop makes, mixed with jumps, exact abscissae and NaN.
            double at;
            switch (probe % 5) {
                case 0:
                    at = anywhere(random);
                    break;
                case 1:
                    at = x[static_cast<size_t>(probe) % x.size()];
                    break;
                case 2:
                    at = probe % 50 == 2 ? not_a_number : walk;
                    break;
                default:
                    walk += step(random) * 0.05;
                    at = walk;
            }
            CHECK(outcome([&] { return hinted(at, -1.0, std::nullopt); }) ==
                  outcome([&] { return plain(x, y, at); }));
        }
    }
}

CORE_TEST(hinted_lookup_keeps_the_checks_of_a_faulty_curve) {
    const std::vector<double> one = {1};
    CurveLookup short_curve(one, one);
    CHECK(!short_curve.valid());
    for (int i = 0; i < 2; ++i) {
        CHECK_THROWS(Panic, "x_values and y_values each must have at least 2 elements.",
                     short_curve(1.0, std::nullopt, std::nullopt));
    }
    const std::vector<double> x = {1, 2, 3};
    const std::vector<double> y = {3, 2, 1};
    CurveLookup falling(x, y);
    CHECK_THROWS(Panic, "`y_values` must must be sorted", falling(2.0, std::nullopt, std::nullopt));
}
