#include "reservoir_routing/reservoir_utils/uncontrolled_discharge_py.hpp"

#include "arguments.hpp"
#include "constructor.hpp"
#include "reservoir_routing/reservoir_utils/elevation_discharge_py.hpp"

namespace hydrokit::py {

namespace {

using Outlet = UnControlledDischargeInfo;

constexpr auto constructor_parameters =
    signature("UnControlledDischargeInfo.__new__()", 1, "elevation_discharge", "elevation_offset");

Ref new_instance(PyTypeObject* type, const Arguments<2>& arguments) {
    Outlet outlet;
    outlet.elevation_discharge = arguments.get<ElevationDischarge>(0);
    outlet.elevation_offset = arguments.get_optional<double>(1);
    return wrap_value(type, std::move(outlet));
}

PyGetSetDef attributes[] = {
    {"elevation_discharge", get_field<Outlet, &Outlet::elevation_discharge>, nullptr,
     "Rating curve mapping elevation to discharge.", nullptr},
    {"elevation_offset", get_field<Outlet, &Outlet::elevation_offset>, nullptr,
     "Additive offset applied to the reservoir elevation before curve lookup.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDescription description = {
    "builtins.UnControlledDischargeInfo",
    "UnControlledDischargeInfo(elevation_discharge, elevation_offset=None)\n--\n\n"
    "Uncontrolled spillway outlet.\n\n"
    "Discharge follows an elevation-discharge rating curve without operator\n"
    "control. An optional `elevation_offset` shifts the effective reservoir\n"
    "elevation before the rating-curve lookup — useful for modeling a weir crest\n"
    "that sits at a different datum than the storage curve.\n\n"
    "Zero discharge is returned when the (offset-adjusted) elevation is below\n"
    "the first entry in the rating curve.",
    Py_TPFLAGS_BASETYPE,
    constructor<constructor_parameters, new_instance>,
    nullptr,
    attributes,
};

}  // namespace

PyTypeObject* PythonClass<UnControlledDischargeInfo>::type() {
    return create(description);
}

}  // namespace hydrokit::py
