// Python class SpecifiedDischargeInfo.
#pragma once

#include "classes.hpp"
#include "reservoir_routing/reservoir_utils/specified_discharge.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<SpecifiedDischargeInfo> : BoundClass<SpecifiedDischargeInfo> {
    static constexpr const char* name = "SpecifiedDischargeInfo";
    static PyTypeObject* type();
};

}  // namespace hydrokit::py
