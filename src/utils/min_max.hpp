// The C library's fmin and fmax (a NaN operand gives the other one), with the common cases
// settled inline by compare and select instead of a library call in every step of a loop.
#pragma once

#include <cmath>

namespace hydrokit {

namespace min_max_detail {

// Out of line and cold, so that the rare library call does not make a loop keep its state in
// memory around it.
[[gnu::cold, gnu::noinline]] inline double library_fmin(double x, double y) {
    return std::fmin(x, y);
}

[[gnu::cold, gnu::noinline]] inline double library_fmax(double x, double y) {
    return std::fmax(x, y);
}

}  // namespace min_max_detail

// The minimum and maximum of operands that are not NaN, by one compare and select, equal ones
// included: the first is returned, which for zeros of opposite signs is a choice that C leaves
// open (C libraries differ there, and compilers treat fmin as commutative).
[[gnu::always_inline]] inline double ordered_min(double x, double y) {
    return y < x ? y : x;
}

[[gnu::always_inline]] inline double ordered_max(double x, double y) {
    return y > x ? y : x;
}

// A NaN operand goes to the library, whose handling of signalling NaN is kept. The only branch
// is the rare NaN one, so a loop pays no misprediction whichever operand is smaller.
[[gnu::always_inline]] inline double min_number(double x, double y) {
    if (!std::isunordered(x, y)) [[likely]]
        return ordered_min(x, y);
    return min_max_detail::library_fmin(x, y);
}

[[gnu::always_inline]] inline double max_number(double x, double y) {
    if (!std::isunordered(x, y)) [[likely]]
        return ordered_max(x, y);
    return min_max_detail::library_fmax(x, y);
}

}  // namespace hydrokit
