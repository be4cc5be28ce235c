// A reservoir's elevation-storage rating curve.
#pragma once

#include <optional>
#include <vector>

namespace hydrokit {

struct ElevationStorage {
    std::vector<double> elevation;  // strictly increasing
    std::vector<double> storage;    // paired with `elevation`, strictly increasing

    // Checks the pairing and the ordering of both vectors (ValueError). A curve of fewer
    // than two points is accepted here; its lookups fail.
    static ElevationStorage checked(std::vector<double> elevation, std::vector<double> storage);

    // ValueError when `elevation` is off the curve.
    double storage_at(double elevation) const;
    // ValueError when `storage` is off the curve.
    double elevation_at(double storage) const;
};

// The lookups' results, or their ValueError when the looked-up value was off the curve.
double require_storage(std::optional<double> storage, double elevation);
double require_elevation(std::optional<double> elevation, double storage);

}  // namespace hydrokit
