#include "utils/time_series.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "buffer_pool.hpp"
#include "error.hpp"
#include "interrupt.hpp"
#include "utils/number_format.hpp"

namespace hydrokit {

int32_t saturating_seconds_i32(double seconds) {
    if (std::isnan(seconds)) return 0;
    constexpr double lowest = std::numeric_limits<int32_t>::min();
    constexpr double highest = std::numeric_limits<int32_t>::max();
    if (seconds <= lowest) return std::numeric_limits<int32_t>::min();
    if (seconds >= highest) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(seconds);
}

void check_kind(std::string_view kind) {
    if (std::find(series_kinds.begin(), series_kinds.end(), kind) != series_kinds.end()) return;
    std::string listed;
    for (std::string_view name : series_kinds) {
        if (!listed.empty()) listed += ", ";
        listed += '"';
        listed += name;
        listed += '"';
    }
    throw ValueError("kind must be one of [" + listed + "]; got '" + std::string(kind) + "'");
}

int32_t time_step_seconds(Duration step) {
    int32_t seconds = saturating_seconds_i32(step.as_seconds());
    if (seconds < 1) throw ValueError("time_step must be > 0");
    return seconds;
}

int64_t ContinuousSeries::span() const {
    // An empty series spans nothing; a duration is never negative.
    if (data.empty()) return 0;
    return static_cast<int64_t>(time_step) * (static_cast<int64_t>(data.size()) - 1);
}

double ContinuousSeries::value_at(double duration) const {
    const int64_t max = span();
    if (duration < -1e-6) {
        throw ValueError("`duration` " + format_number(duration) + " is less than 0.");
    }
    if (duration > static_cast<double>(max) + 1e-6 || data.empty()) {
        throw ValueError("`duration` " + format_number(duration) + " is out of range (max " +
                         std::to_string(max) + ").");
    }
    // Offsets within a microsecond outside the span read the end points; a NaN offset stays
    // NaN and so interpolates to NaN.
    const double t = std::min(std::max(duration, 0.0), static_cast<double>(max));
    const double position = t / static_cast<double>(time_step);
    const double floor = std::floor(position);
    const size_t i = floor > 0 ? static_cast<size_t>(floor) : 0;
    if (i < data.size() - 1) {
        return (data[i + 1] - data[i]) * (position - static_cast<double>(i)) + data[i];
    }
    return data.back();
}

int64_t IncrementalSeries::total_duration() const {
    return static_cast<int64_t>(time_step) * static_cast<int64_t>(data.size());
}

IncrementalSeries IncrementalSeries::disaggregate(int32_t target_step) const {
    if (target_step < 30) throw ValueError("target_step must be >= 30 seconds.");
    if (time_step % target_step != 0) {
        throw ValueError("Original time_step (" + std::to_string(time_step) +
                         ") must be a multiple of target_step (" + std::to_string(target_step) +
                         ").");
    }
    const int32_t parts = time_step / target_step;
    const double fraction = static_cast<double>(target_step) / static_cast<double>(time_step);
    IncrementalSeries finer;
    finer.kind = kind;
    finer.time_step = target_step;
    finer.data = reserved_values(data.size() * static_cast<size_t>(parts));
    // A long step split into short ones can make billions of values: filled between polls,
    // counted across steps so that short splits do not poll for every step.
    InterruptCountdown countdown;
    for (double value : data) {
        const double part = value * fraction;
        for (size_t begin = 0; begin < static_cast<size_t>(parts);) {
            const size_t end = std::min(static_cast<size_t>(parts), begin + interrupt_interval);
            finer.data.insert(finer.data.end(), end - begin, part);
            countdown.add(end - begin);
            begin = end;
        }
    }
    return finer;
}

}  // namespace hydrokit
