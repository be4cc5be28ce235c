// Baseflow from infiltrated rainfall: each groundwater layer is a chain of identical linear
// reservoirs fed by its fraction of the rainfall.
#pragma once

#include <cstdint>

#include "utils/duration.hpp"
#include "utils/named_map.hpp"
#include "utils/time_series.hpp"

namespace hydrokit {

// One groundwater layer.
struct LinearReservoir {
    int32_t k_duration = 0;      // storage constant K of the whole chain, whole seconds
    double gw_fraction = 0.0;    // share of the rainfall that feeds this layer
    double initial_q = 0.0;      // starting discharge of every reservoir in the chain
    uint64_t num_reservoir = 1;  // reservoirs chained in series
};

// A layer whose K is at least one second, whose fraction lies in [0, 1] and whose chain holds
// at least one reservoir; otherwise ValueError.
LinearReservoir make_linear_reservoir(Duration k_duration, double gw_fraction, double initial_q,
                                      uint64_t num_reservoir);

struct Baseflow {
    ContinuousSeries total;  // the layers summed in their order
    NamedMap<ContinuousSeries> layers;
};

// Routes `rainfall` (inches per step over `basin_area` acres) through every layer in order.
// Fails when the fractions add up to more than 1 or when half a time step exceeds a layer's
// per-reservoir storage constant.
Baseflow route_linear_reservoirs(double basin_area, const IncrementalSeries& rainfall,
                                 const NamedMap<LinearReservoir>& reservoirs);

}  // namespace hydrokit
