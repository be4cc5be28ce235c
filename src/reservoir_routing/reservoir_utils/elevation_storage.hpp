// A reservoir's elevation-storage rating curve.
#pragma once

#include <optional>
#include <vector>

#include "buffer_pool.hpp"

namespace hydrokit {

struct ElevationStorage {
    Values elevation;  // strictly increasing
    Values storage;    // paired with `elevation`, strictly increasing

    // Checks the pairing and the ordering of both vectors (ValueError). A curve of fewer
    // than two points is accepted here; its lookups fail.
    static ElevationStorage checked(Values elevation, Values storage);

    // ValueError when `elevation` is off the curve.
    double storage_at(double elevation) const;
    // ValueError when `storage` is off the curve.
    double elevation_at(double storage) const;
};

// The lookups' results, or their ValueError when the looked-up value was off the curve.
double require_storage(std::optional<double> storage, double elevation);
double require_elevation(std::optional<double> elevation, double storage);

}  // namespace hydrokit
