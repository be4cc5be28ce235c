#include "reservoir_routing/reservoir_utils/elevation_storage.hpp"

#include "error.hpp"
#include "utils/general.hpp"
#include "utils/number_format.hpp"

namespace hydrokit {

ElevationStorage ElevationStorage::checked(Values elevation, Values storage) {
    if (elevation.size() != storage.size()) {
        throw ValueError("`elevation` and `storage` must have the same length");
    }
    if (!strictly_increasing(elevation)) {
        throw ValueError("`elevation` must must be sorted and can't have duplicates");
    }
    if (!strictly_increasing(storage)) {
        throw ValueError("`storage` must must be sorted and can't have duplicates");
    }
    return {std::move(elevation), std::move(storage)};
}

double ElevationStorage::storage_at(double at) const {
    return require_storage(linear_interpolate(elevation, storage, at, std::nullopt, std::nullopt),
                           at);
}

double ElevationStorage::elevation_at(double at) const {
    return require_elevation(linear_interpolate(storage, elevation, at, std::nullopt, std::nullopt),
                             at);
}

double require_storage(std::optional<double> storage, double elevation) {
    if (!storage) {
        throw ValueError("`elevation` " + format_number(elevation) +
                         " is outside the range of the elevation-storage curve.");
    }
    return *storage;
}

double require_elevation(std::optional<double> elevation, double storage) {
    if (!elevation) {
        throw ValueError("`storage` " + format_number(storage) +
                         " is outside the range of the elevation-storage curve.");
    }
    return *elevation;
}

}  // namespace hydrokit
