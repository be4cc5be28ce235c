// A gated outlet (gate, valve, conduit) following its rating curve inside an elevation band.
#pragma once

#include <optional>

#include "reservoir_routing/reservoir_utils/elevation_discharge.hpp"
#include "utils/general.hpp"

namespace hydrokit {

struct ControlledDischargeInfo {
    ElevationDischarge elevation_discharge;
    std::optional<double> minimum_elevation;  // present once normalised
    std::optional<double> maximum_elevation;
    std::optional<double> maximum_release;

    // Narrows the elevation band to the rating curve: the minimum is raised to the curve's
    // first elevation (and defaults to it), the maximum lowered to its last. Both ignore a
    // NaN bound, which then gives the curve's value.
    static ControlledDischargeInfo normalised(ElevationDischarge elevation_discharge,
                                              std::optional<double> minimum_elevation,
                                              std::optional<double> maximum_elevation,
                                              std::optional<double> maximum_release);
};

// The rated discharge at `elevation`, capped by `maximum_release`; `rating` reads the
// outlet's own curve. ValueError above the curve when no maximum elevation shuts the outlet.
double controlled_release(const ControlledDischargeInfo& outlet, double elevation,
                          CurveLookup& rating);

}  // namespace hydrokit
