// Python class ElevationDischarge.
#pragma once

#include "classes.hpp"
#include "reservoir_routing/reservoir_utils/elevation_discharge.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<ElevationDischarge> : BoundClass<ElevationDischarge> {
    static constexpr const char* name = "ElevationDischarge";
    static PyTypeObject* type();
};

}  // namespace hydrokit::py
