// A non-negative span of time as whole seconds plus nanoseconds: the form in which time
// constants and time steps arrive from callers.
#pragma once

#include <cstdint>

namespace hydrokit {

struct Duration {
    uint64_t seconds = 0;
    uint32_t nanoseconds = 0;

    // Whole seconds and nanoseconds are each converted to double first, so fractions of a
    // second survive even for very long spans.
    double as_seconds() const {
        return static_cast<double>(seconds) + static_cast<double>(nanoseconds) / 1e9;
    }
};

// Truncation toward zero into a signed 32-bit count of seconds: NaN gives 0, values beyond
// the range saturate.
int32_t saturating_seconds_i32(double seconds);

}  // namespace hydrokit
