#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "check.hpp"
#include "utils/min_max.hpp"

namespace {

using Limits = std::numeric_limits<double>;

// Every pair of these, in both orders: signed zeros, infinities, subnormals, ties, and NaN
// of both signs, quiet and signalling, with payloads.
std::vector<double> awkward_values() {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  2.5,
                                  Limits::infinity(),
                                  -Limits::infinity(),
                                  Limits::denorm_min(),
                                  -Limits::denorm_min(),
                                  Limits::max(),
                                  Limits::lowest(),
                                  Limits::quiet_NaN(),
                                  -Limits::quiet_NaN(),
                                  Limits::signaling_NaN()};
    values.push_back(std::bit_cast<double>(uint64_t{0x7ff8000000000123}));
    values.push_back(std::bit_cast<double>(uint64_t{0xfff0000000000456}));
    return values;
}

// The same bits; where C leaves the result open (zeros of opposite signs, two NaNs) the
// same class of value.
bool agrees(double ours, double library, double x, double y) {
    if (x == 0.0 && y == 0.0 && std::signbit(x) != std::signbit(y)) return ours == 0.0;
    if (std::isnan(x) && std::isnan(y)) return std::isnan(ours) && std::isnan(library);
    return std::bit_cast<uint64_t>(ours) == std::bit_cast<uint64_t>(library);
}

}  // namespace

CORE_TEST(min_and_max_match_the_library) {
    const std::vector<double> values = awkward_values();
    for (const double a : values) {
        for (const double b : values) {
            // Read back through volatile so that the library is really called.
            volatile double x = a;
            volatile double y = b;
            CHECK(agrees(hydrokit::min_number(x, y), std::fmin(x, y), a, b));
            CHECK(agrees(hydrokit::max_number(x, y), std::fmax(x, y), a, b));
        }
    }
    // Equal operands give the first, whatever the library does with them.
    CHECK(std::signbit(hydrokit::min_number(-0.0, 0.0)) &&
          !std::signbit(hydrokit::min_number(0.0, -0.0)));
    CHECK(std::signbit(hydrokit::max_number(-0.0, 0.0)) &&
          !std::signbit(hydrokit::max_number(0.0, -0.0)));
}
