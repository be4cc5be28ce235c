#include "reservoir_routing/reservoir_utils/constant_discharge_py.hpp"

#include "arguments.hpp"
#include "constructor.hpp"

namespace hydrokit::py {

namespace {

using Outlet = ConstantDischargeInfo;

constexpr auto constructor_parameters = signature("ConstantDischargeInfo.__new__()", 1, "discharge",
                                                  "minimum_elevation", "maximum_elevation");

Ref new_instance(PyTypeObject* type, const Arguments<3>& arguments) {
    Outlet outlet{};
    outlet.discharge = arguments.get<double>(0);
    outlet.minimum_elevation = arguments.get_optional<double>(1);
    outlet.maximum_elevation = arguments.get_optional<double>(2);
    return wrap_value(type, std::move(outlet));
}

PyGetSetDef attributes[] = {
    {"discharge", get_field<Outlet, &Outlet::discharge>, nullptr,
     "Constant discharge rate (e.g., cfs).", nullptr},
    {"minimum_elevation", get_field<Outlet, &Outlet::minimum_elevation>, nullptr,
     "Elevation below which no discharge occurs.", nullptr},
    {"maximum_elevation", get_field<Outlet, &Outlet::maximum_elevation>, nullptr,
     "Elevation above which no discharge occurs.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDescription description = {
    "builtins.ConstantDischargeInfo",
    "ConstantDischargeInfo(discharge, minimum_elevation=None, maximum_elevation=None)\n--\n\n"
    "Constant-rate discharge outlet.\n\n"
    "Releases a fixed flow rate at every time step, optionally gated by\n"
    "elevation bounds. When the reservoir elevation is outside the specified\n"
    "range, the outlet releases zero flow.",
    Py_TPFLAGS_BASETYPE,
    constructor<constructor_parameters, new_instance>,
    nullptr,
    attributes,
};

}  // namespace

PyTypeObject* PythonClass<ConstantDischargeInfo>::type() {
    return create(description);
}

}  // namespace hydrokit::py
