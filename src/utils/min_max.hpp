// The C library's fmin and fmax (a NaN operand gives the other one), with the common cases
// settled inline by compare and select instead of a library call in every step of a loop.
#pragma once

#include <cmath>

namespace hydrokit {

// Ordered operands, and equal ones of the same sign (which have the same bits), settle here.
// Zeros of opposite signs and NaN go to the library, whose choice there differs between its
// versions: the result is always the library's own.
[[gnu::always_inline]] inline double min_number(double x, double y) {
    if (x < y) return x;
    if (y < x) return y;
    if (x == y && std::signbit(x) == std::signbit(y)) return x;
    return std::fmin(x, y);
}

[[gnu::always_inline]] inline double max_number(double x, double y) {
    if (x > y) return x;
    if (y > x) return y;
    if (x == y && std::signbit(x) == std::signbit(y)) return x;
    return std::fmax(x, y);
}

}  // namespace hydrokit
