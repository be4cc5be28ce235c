// An outlet releasing a prescribed discharge series inside an elevation band.
#pragma once

#include <optional>

#include "reservoir_routing/reservoir_utils/release_context.hpp"
#include "utils/time_series.hpp"

namespace hydrokit {

struct SpecifiedDischargeInfo {
    ContinuousSeries discharge;
    std::optional<double> minimum_elevation;
    std::optional<double> maximum_elevation;
    std::optional<double> maximum_release;
};

// The series value at the elapsed time, capped by `maximum_release`. RuntimeError without an
// elapsed time; ValueError past the end of the series unless the gates shut the outlet.
double specified_release(const SpecifiedDischargeInfo& outlet, const ReleaseContext& context);

// The ValueError of an elapsed time `t` past the series' `span` seconds.
[[noreturn]] void throw_past_series(double t, int64_t span);

}  // namespace hydrokit
