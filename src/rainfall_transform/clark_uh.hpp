// Clark unit hydrograph: a time-area translation hydrograph attenuated by a linear reservoir,
// convolved with excess rainfall.
#pragma once

#include <cstdint>
#include <vector>

#include "buffer_pool.hpp"
#include "utils/time_series.hpp"

namespace hydrokit {

// Cumulative fraction of the basin area contributing at relative time `x` (x >= 0).
double time_area_fraction(double x);

// Number of translation ordinates, ceil(tc / dt), saturating (negative and NaN give 0).
uint64_t translation_ordinate_count(double tc_seconds, double dt_seconds);

// The translation hydrograph (cfs per inch of excess spread over the concentration time, one
// value per step), starting from rest, routed through a linear reservoir of storage constant
// `storage_seconds` until the remaining recession is negligible: the result holds the runoff
// of one whole inch. Throws ValueError when the recession is too slow to end.
Values clark_unit_hydrograph(double basin_area, double tc_seconds, double storage_seconds,
                             double dt_seconds);

// Runoff hydrograph (cfs, kind "discharge") of `rainfall` excess (inches per step).
ContinuousSeries run_clark_uh(const IncrementalSeries& rainfall, double basin_area,
                              double tc_seconds, double storage_seconds);

}  // namespace hydrokit
