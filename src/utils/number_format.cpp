#include "utils/number_format.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace hydrokit {

namespace {

std::string non_finite(double value) {
    if (std::isnan(value)) return "NaN";
    return value < 0 ? "-inf" : "inf";
}

}  // namespace

std::string format_number(double value) {
    if (!std::isfinite(value)) return non_finite(value);
    // The longest fixed form of a double is about 330 characters (DBL_MAX has 309 digits,
    // the smallest subnormal 324 fractional digits).
    std::array<char, 400> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                std::chars_format::fixed);
    return std::string(buffer.data(), result.ptr);
}

std::string format_fixed(double value, int decimals) {
    if (!std::isfinite(value)) return non_finite(value);
    std::array<char, 400> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                std::chars_format::fixed, decimals);
    return std::string(buffer.data(), result.ptr);
}

}  // namespace hydrokit
