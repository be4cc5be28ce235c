// Python class LinearReservoir and function run_linear_reservoir.
#pragma once

#include "baseflow/linear_reservoir.hpp"
#include "classes.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<LinearReservoir> : BoundClass<LinearReservoir> {
    static constexpr const char* name = "LinearReservoir";
    static PyTypeObject* type();
};

extern PyMethodDef run_linear_reservoir_function;

}  // namespace hydrokit::py
