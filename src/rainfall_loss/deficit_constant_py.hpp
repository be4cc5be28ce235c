// Python class DeficitConstantResult and function run_deficit_and_constant in
// hydrokit.rainfall_loss.
#pragma once

#include "classes.hpp"
#include "rainfall_loss/deficit_constant.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<DeficitConstantResult> : BoundClass<DeficitConstantResult> {
    static constexpr const char* name = "DeficitConstantResult";
    static PyTypeObject* type();
};

extern PyMethodDef run_deficit_and_constant_function;

}  // namespace hydrokit::py
