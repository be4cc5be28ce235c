// Python class ConstantDischargeInfo.
#pragma once

#include "classes.hpp"
#include "reservoir_routing/reservoir_utils/constant_discharge.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<ConstantDischargeInfo> : BoundClass<ConstantDischargeInfo> {
    static constexpr const char* name = "ConstantDischargeInfo";
    static PyTypeObject* type();
};

}  // namespace hydrokit::py
