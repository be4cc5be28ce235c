// Python class ControlledDischargeInfo.
#pragma once

#include "classes.hpp"
#include "reservoir_routing/reservoir_utils/controlled_discharge.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<ControlledDischargeInfo> : BoundClass<ControlledDischargeInfo> {
    static constexpr const char* name = "ControlledDischargeInfo";
    static PyTypeObject* type();
};

}  // namespace hydrokit::py
