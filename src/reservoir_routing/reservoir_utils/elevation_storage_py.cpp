#include "reservoir_routing/reservoir_utils/elevation_storage_py.hpp"

#include "arguments.hpp"
#include "constructor.hpp"

namespace hydrokit::py {

namespace {

constexpr auto constructor_parameters =
    signature("ElevationStorage.__new__()", 2, "elevation", "storage");
constexpr auto get_storage_parameters = signature("ElevationStorage.get_storage()", 1, "elevation");
constexpr auto get_elevation_parameters =
    signature("ElevationStorage.get_elevation()", 1, "storage");

Ref new_instance(PyTypeObject* type, const Arguments<2>& arguments) {
    auto elevation = arguments.get<Values>(0);
    auto storage = arguments.get<Values>(1);
    return wrap_value(type, ElevationStorage::checked(std::move(elevation), std::move(storage)));
}

PyObject* get_storage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        auto arguments = get_storage_parameters.bind(args, nargs, kwnames);
        const double elevation = arguments.get<double>(0);
        return to_python(value_of<ElevationStorage>(self).storage_at(elevation));
    });
}

PyObject* get_elevation(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return guarded([&] {
        auto arguments = get_elevation_parameters.bind(args, nargs, kwnames);
        const double storage = arguments.get<double>(0);
        return to_python(value_of<ElevationStorage>(self).elevation_at(storage));
    });
}

PyMethodDef methods[] = {
    {"get_elevation", as_method(get_elevation), METH_FASTCALL | METH_KEYWORDS,
     "get_elevation($self, storage)\n--\n\n"
     "Interpolates the elevation corresponding to a given storage value.\n\n"
     "# Arguments\n\n"
     "* `storage` - Storage value to look up.\n\n"
     "# Returns\n\n"
     "The interpolated elevation.\n\n"
     "# Panics\n\n"
     "Panics if `storage` is outside the range of the stored curve."},
    {"get_storage", as_method(get_storage), METH_FASTCALL | METH_KEYWORDS,
     "get_storage($self, elevation)\n--\n\n"
     "Interpolates the storage corresponding to a given elevation.\n\n"
     "# Arguments\n\n"
     "* `elevation` - Elevation value to look up.\n\n"
     "# Returns\n\n"
     "The interpolated storage, or a `PyValueError` if `elevation` is outside\n"
     "the range of the stored curve."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef attributes[] = {
    {"elevation", get_field<ElevationStorage, &ElevationStorage::elevation>, nullptr, nullptr,
     nullptr},
    {"storage", get_field<ElevationStorage, &ElevationStorage::storage>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDescription description = {
    "builtins.ElevationStorage",
    "ElevationStorage(elevation, storage)\n--\n\n"
    "Elevation-storage rating curve for a reservoir.\n\n"
    "Stores paired elevation and storage vectors and provides linear interpolation\n"
    "in both directions. Storage units must be consistent with the inflow units\n"
    "used in level pool routing (e.g., ft³ when inflow is in cfs).\n\n"
    "# Fields\n\n"
    "* `elevation` - Sorted unique elevation values in ascending order.\n"
    "* `storage` - Sorted unique storage values in ascending order, each\n"
    "  corresponding to the paired elevation.",
    Py_TPFLAGS_BASETYPE,
    constructor<constructor_parameters, new_instance>,
    methods,
    attributes,
};

}  // namespace

PyTypeObject* PythonClass<ElevationStorage>::type() {
    return create(description);
}

}  // namespace hydrokit::py
