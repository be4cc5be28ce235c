#include "reservoir_routing/reservoir_utils/elevation_discharge_py.hpp"

#include "arguments.hpp"
#include "constructor.hpp"

namespace hydrokit::py {

namespace {

constexpr auto constructor_parameters =
    signature("ElevationDischarge.__new__()", 2, "elevation", "discharge");

Ref new_instance(PyTypeObject* type, const Arguments<2>& arguments) {
    auto elevation = arguments.get<Values>(0);
    auto discharge = arguments.get<Values>(1);
    return wrap_value(type,
                      ElevationDischarge::checked(std::move(elevation), std::move(discharge)));
}

PyGetSetDef attributes[] = {
    {"elevation", get_field<ElevationDischarge, &ElevationDischarge::elevation>, nullptr, nullptr,
     nullptr},
    {"discharge", get_field<ElevationDischarge, &ElevationDischarge::discharge>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDescription description = {
    "builtins.ElevationDischarge",
    "ElevationDischarge(elevation, discharge)\n--\n\n"
    "Elevation-discharge rating curve for a reservoir outlet.\n\n"
    "Stores paired elevation and discharge vectors used by outlet structs to look\n"
    "up the flow rate at a given water surface elevation via linear interpolation.\n\n"
    "# Fields\n\n"
    "* `elevation` - Sorted unique elevation values in ascending order.\n"
    "* `discharge` - Discharge values in ascending order, each corresponding\n"
    "  to the paired elevation (e.g., cfs).",
    Py_TPFLAGS_BASETYPE,
    constructor<constructor_parameters, new_instance>,
    nullptr,
    attributes,
};

}  // namespace

PyTypeObject* PythonClass<ElevationDischarge>::type() {
    return create(description);
}

}  // namespace hydrokit::py
