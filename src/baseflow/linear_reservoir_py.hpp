// Python class LinearReservoir and function run_linear_reservoir.
#pragma once

#include "baseflow/linear_reservoir.hpp"
#include "classes.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<LinearReservoir> : BoundClass<LinearReservoir> {
    static constexpr const char* name = "LinearReservoir";
    static PyTypeObject* type();
    // A copy, each settable field read whole: Python may set them while a call reads them.
    static LinearReservoir value(PyObject* self);
};

extern PyMethodDef run_linear_reservoir_function;

}  // namespace hydrokit::py
