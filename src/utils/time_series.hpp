// The two uniformly spaced series that every computation takes and returns.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "buffer_pool.hpp"
#include "utils/duration.hpp"

namespace hydrokit {

// What the values of a series measure, in the order in which messages list them.
inline constexpr std::array<std::string_view, 4> series_kinds = {"discharge", "rainfall",
                                                                 "elevation", "volume"};

// The values of a series. A copy (of a result's series, read from Python) moves them in one
// block; the vector's own copy would construct them one by one through the allocator.
class SeriesData : public Values {
  public:
    using Values::Values;
    SeriesData() = default;
    SeriesData(Values&& values) noexcept : Values(std::move(values)) {}
    SeriesData(const SeriesData& other) : Values(values_to_overwrite(other.size())) {
        std::copy(other.begin(), other.end(), begin());
    }
    SeriesData(SeriesData&&) noexcept = default;
    SeriesData& operator=(const SeriesData& other) {
        if (this != &other) *this = SeriesData(other);
        return *this;
    }
    SeriesData& operator=(SeriesData&&) noexcept = default;
};

struct SeriesFields {
    SeriesData data;
    std::string kind;
    int32_t time_step = 1;  // whole seconds, at least 1
};

// Values sampled at the instants 0, time_step, 2 * time_step, ...
struct ContinuousSeries : SeriesFields {
    // Seconds from the first to the last point: time_step * (n - 1), and 0 when empty.
    int64_t span() const;
    // The linearly interpolated value `duration` seconds after the first point.
    double value_at(double duration) const;
};

// Amounts accumulated over the intervals [i * time_step, (i + 1) * time_step).
struct IncrementalSeries : SeriesFields {
    // Seconds covered by all intervals: time_step * n.
    int64_t total_duration() const;
    // Spreads every interval's amount evenly over intervals of `target_step` seconds.
    IncrementalSeries disaggregate(int32_t target_step) const;
};

// Refuses a kind outside `series_kinds`; the comparison is exact.
void check_kind(std::string_view kind);

// The time step of a series built from a caller's duration: whole seconds, at least one.
int32_t time_step_seconds(Duration step);

}  // namespace hydrokit
