// Kling-Gupta efficiency of a simulated series against an observed one.
#pragma once

#include <span>

namespace hydrokit {

// 1 minus the distance of (correlation, bias ratio, variability ratio) from (1, 1, 1). With
// `use_log` both series are scored as ln(v + 1e-6). Fails when `observed` is empty or the
// lengths differ; NaN and infinite values propagate into the result.
double kling_gupta_efficiency(std::span<const double> simulated, std::span<const double> observed,
                              bool use_log);

}  // namespace hydrokit
