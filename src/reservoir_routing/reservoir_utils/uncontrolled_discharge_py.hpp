// Python class UnControlledDischargeInfo.
#pragma once

#include "classes.hpp"
#include "reservoir_routing/reservoir_utils/uncontrolled_discharge.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<UnControlledDischargeInfo> : BoundClass<UnControlledDischargeInfo> {
    static constexpr const char* name = "UnControlledDischargeInfo";
    static PyTypeObject* type();
};

}  // namespace hydrokit::py
