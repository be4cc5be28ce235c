// Numbers as they appear in messages.
#pragma once

#include <string>

namespace hydrokit {

// Shortest decimal text that reads back as the same double, never in exponent form, with no
// fractional part when the value is whole: 60 for 60.0, 0.0000001 for 1e-7, -0, NaN, inf, -inf.
std::string format_number(double value);

// Fixed notation with exactly `decimals` digits after the point, correctly rounded from the
// exact binary value with ties to even (0.03125 with four decimals is 0.0312).
std::string format_fixed(double value, int decimals);

}  // namespace hydrokit
