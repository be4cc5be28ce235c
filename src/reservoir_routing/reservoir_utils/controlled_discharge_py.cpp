#include "reservoir_routing/reservoir_utils/controlled_discharge_py.hpp"

#include "arguments.hpp"
#include "constructor.hpp"
#include "reservoir_routing/reservoir_utils/elevation_discharge_py.hpp"

namespace hydrokit::py {

namespace {

using Outlet = ControlledDischargeInfo;

constexpr auto constructor_parameters =
    signature("ControlledDischargeInfo.__new__()", 1, "elevation_discharge", "minimum_elevation",
              "maximum_elevation", "maximum_release");

Ref new_instance(PyTypeObject* type, const Arguments<4>& arguments) {
    auto curve = arguments.get<ElevationDischarge>(0);
    auto minimum_elevation = arguments.get_optional<double>(1);
    auto maximum_elevation = arguments.get_optional<double>(2);
    auto maximum_release = arguments.get_optional<double>(3);
    return wrap_value(type, Outlet::normalised(std::move(curve), minimum_elevation,
                                               maximum_elevation, maximum_release));
}

PyGetSetDef attributes[] = {
    {"elevation_discharge", get_field<Outlet, &Outlet::elevation_discharge>, nullptr,
     "Rating curve mapping elevation to discharge.", nullptr},
    {"minimum_elevation", get_field<Outlet, &Outlet::minimum_elevation>, nullptr,
     "Elevation below which no discharge occurs.", nullptr},
    {"maximum_elevation", get_field<Outlet, &Outlet::maximum_elevation>, nullptr,
     "Elevation above which no discharge occurs.", nullptr},
    {"maximum_release", get_field<Outlet, &Outlet::maximum_release>, nullptr,
     "Cap on the maximum allowable discharge.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDescription description = {
    "builtins.ControlledDischargeInfo",
    "ControlledDischargeInfo(elevation_discharge, minimum_elevation=None, "
    "maximum_elevation=None, maximum_release=None)\n--\n\n"
    "Controlled release outlet (e.g., gate, valve, conduit).\n\n"
    "Discharge is determined by an elevation-discharge rating curve and can be\n"
    "bounded by minimum/maximum elevation gates and a maximum release cap.\n"
    "When the reservoir elevation is below `minimum_elevation` or above\n"
    "`maximum_elevation`, the outlet releases zero flow.\n\n"
    "The `minimum_elevation` defaults to the lowest elevation in the rating curve\n"
    "if not provided, ensuring no negative-elevation lookups occur.",
    Py_TPFLAGS_BASETYPE,
    constructor<constructor_parameters, new_instance>,
    nullptr,
    attributes,
};

}  // namespace

PyTypeObject* PythonClass<ControlledDischargeInfo>::type() {
    return create(description);
}

}  // namespace hydrokit::py
