// Level pool routing of an inflow hydrograph through a reservoir with named outlets.
#pragma once

#include "reservoir_routing/reservoir_utils/discharge_info.hpp"
#include "reservoir_routing/reservoir_utils/elevation_storage.hpp"
#include "utils/named_map.hpp"
#include "utils/time_series.hpp"

namespace hydrokit {

struct LevelPoolResult {
    ContinuousSeries reservoir_storage;                        // kind "volume"
    ContinuousSeries reservoir_elevation;                      // kind "elevation"
    ContinuousSeries reservoir_total_outflow;                  // kind "discharge"
    NamedMap<ContinuousSeries> reservoir_individual_outflows;  // kind "discharge", outlet order
};

// Integrates dS/dt = I - O on a one-second step from `initial_elevation`, recording at the
// inflow's time step. Outlets are evaluated and summed in the order given.
LevelPoolResult run_level_pool_routing(const ContinuousSeries& inflow, double initial_elevation,
                                       const ElevationStorage& elevation_storage,
                                       const NamedMap<DischargeRef>& outlets);

}  // namespace hydrokit
