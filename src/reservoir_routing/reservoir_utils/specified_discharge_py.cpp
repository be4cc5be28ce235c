#include "reservoir_routing/reservoir_utils/specified_discharge_py.hpp"

#include "arguments.hpp"
#include "constructor.hpp"
#include "utils/time_series_py.hpp"

namespace hydrokit::py {

namespace {

using Outlet = SpecifiedDischargeInfo;

constexpr auto constructor_parameters =
    signature("SpecifiedDischargeInfo.__new__()", 1, "discharge", "minimum_elevation",
              "maximum_elevation", "maximum_release");

Ref new_instance(PyTypeObject* type, const Arguments<4>& arguments) {
    Outlet outlet;
    outlet.discharge = arguments.get<ContinuousSeries>(0);
    outlet.minimum_elevation = arguments.get_optional<double>(1);
    outlet.maximum_elevation = arguments.get_optional<double>(2);
    outlet.maximum_release = arguments.get_optional<double>(3);
    return wrap_value(type, std::move(outlet));
}

PyGetSetDef attributes[] = {
    {"discharge", get_field<Outlet, &Outlet::discharge>, nullptr,
     "Time series of prescribed outflow values (kind=discharge).", nullptr},
    {"minimum_elevation", get_field<Outlet, &Outlet::minimum_elevation>, nullptr, nullptr, nullptr},
    {"maximum_elevation", get_field<Outlet, &Outlet::maximum_elevation>, nullptr, nullptr, nullptr},
    {"maximum_release", get_field<Outlet, &Outlet::maximum_release>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDescription description = {
    "builtins.SpecifiedDischargeInfo",
    "SpecifiedDischargeInfo(discharge, minimum_elevation=None, maximum_elevation=None, "
    "maximum_release=None)\n--\n\n"
    "Time-varying specified discharge outlet.\n\n"
    "Discharge is read directly from a `ContinuousTimeSeries` at each simulation\n"
    "time step, optionally gated by elevation bounds and a maximum release cap.",
    Py_TPFLAGS_BASETYPE,
    constructor<constructor_parameters, new_instance>,
    nullptr,
    attributes,
};

}  // namespace

PyTypeObject* PythonClass<SpecifiedDischargeInfo>::type() {
    return create(description);
}

}  // namespace hydrokit::py
