#include "reservoir_routing/level_pool_py.hpp"

#include <bit>

#include "arguments.hpp"
#include "reservoir_routing/reservoir_utils/discharge_info_py.hpp"
#include "reservoir_routing/reservoir_utils/elevation_storage_py.hpp"
#include "unlocked.hpp"
#include "utils/time_series_py.hpp"

namespace hydrokit::py {

namespace {

constexpr auto routing_parameters =
    signature("run_level_pool_routing()", 4, "inflow", "initial_elevation", "elevation_storage",
              "discharge_info");

PyObject* run_level_pool_routing(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return guarded([&] {
        auto arguments = routing_parameters.bind(args, nargs, kwnames);
        const auto& inflow = arguments.get<ContinuousSeries>(0);
        const double initial_elevation = arguments.get<double>(1);
        const auto& curve = arguments.get<ElevationStorage>(2);
        // The outlets are read where they live, each held from the moment it is converted.
        const auto held_outlets = arguments.get<NamedMap<Held<DischargeRef>>>(3);
        NamedMap<DischargeRef> outlets;
        outlets.reserve(held_outlets.size());
        // Each outlet's first release searches its whole rating curve by halving.
        uint64_t first_searches = 0;
        for (const auto& [name, outlet] : held_outlets) {
            outlets.emplace_back(name, outlet.value);
            first_searches += 1 + std::bit_width(rating_points(outlet.value));
        }
        // The pool is integrated second by second between recorded steps, each second
        // updating the pool and asking every outlet for its release.
        const uint64_t seconds = inflow.time_step > 0 ? static_cast<uint64_t>(inflow.time_step) : 1;
        const uint64_t seconds_work =
            work_of(work_of(inflow.data.size(), seconds), outlets.size() + 1);
        const uint64_t work =
            seconds_work > UINT64_MAX - first_searches ? UINT64_MAX : seconds_work + first_searches;
        return to_python(unlocked(work, [&] {
            return hydrokit::run_level_pool_routing(inflow, initial_elevation, curve, outlets);
        }));
    });
}

using Result = LevelPoolResult;

PyGetSetDef attributes[] = {
    {"reservoir_storage", get_field<Result, &Result::reservoir_storage>, nullptr,
     "Reservoir storage volume at each output time step.", nullptr},
    {"reservoir_elevation", get_field<Result, &Result::reservoir_elevation>, nullptr,
     "Water surface elevation at each output time step.", nullptr},
    {"reservoir_total_outflow", get_field<Result, &Result::reservoir_total_outflow>, nullptr,
     "Combined outflow from all outlets at each output time step.", nullptr},
    {"reservoir_individual_outflows", get_field<Result, &Result::reservoir_individual_outflows>,
     nullptr, "Per-outlet outflow time series keyed by outlet name.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDescription description = {
    "builtins.LevelPoolResult",
    "Results from a level pool routing simulation.",
    Py_TPFLAGS_BASETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    {},
    nullptr,
    attributes,
};

}  // namespace

PyMethodDef run_level_pool_routing_function = {
    "run_level_pool_routing",
    as_method(run_level_pool_routing),
    METH_FASTCALL | METH_KEYWORDS,
    "run_level_pool_routing(inflow, initial_elevation, elevation_storage, discharge_info)\n--\n\n"
    "Performs level pool (modified Puls) routing for a reservoir.\n\n"
    "Integrates the mass balance equation `dS/dt = I - O` over the inflow\n"
    "hydrograph duration. Output vectors are recorded at the original inflow time\n"
    "step.\n\n"
    "# Errors\n\n"
    "Returns a `PyValueError` if any outlet's discharge calculation fails or if\n"
    "the initial elevation is outside the elevation-storage curve range.",
};

PyTypeObject* PythonClass<LevelPoolResult>::type() {
    return create(description);
}

}  // namespace hydrokit::py
