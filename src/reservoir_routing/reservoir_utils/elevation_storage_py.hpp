// Python class ElevationStorage.
#pragma once

#include "classes.hpp"
#include "reservoir_routing/reservoir_utils/elevation_storage.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<ElevationStorage> : BoundClass<ElevationStorage> {
    static constexpr const char* name = "ElevationStorage";
    static PyTypeObject* type();
};

}  // namespace hydrokit::py
