#include "rainfall_transform/clark_uh_py.hpp"

#include "arguments.hpp"
#include "rainfall_transform/clark_uh.hpp"
#include "unlocked.hpp"
#include "utils/time_series_py.hpp"

namespace hydrokit::py {

namespace {

constexpr auto parameters =
    signature("run_clark_uh()", 4, "rainfall", "basin_area", "tc", "storage_r");

PyObject* run_clark_uh(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        auto arguments = parameters.bind(args, nargs, kwnames);
        const auto& rainfall = arguments.get<IncrementalSeries>(0);
        const double basin_area = arguments.get<double>(1);
        const auto tc = arguments.get<Timedelta>(2);
        const auto storage_r = arguments.get<Timedelta>(3);
        const double tc_seconds = tc.duration().as_seconds();
        const double storage_seconds = storage_r.duration().as_seconds();
        // Each rainfall step adds the whole unit hydrograph, about as long as tc and storage.
        const uint64_t ordinates =
            work_count((tc_seconds + storage_seconds) / rainfall.time_step) + 1;
        return to_python(unlocked(work_of(rainfall.data.size() + 1, ordinates), [&] {
            return hydrokit::run_clark_uh(rainfall, basin_area, tc_seconds, storage_seconds);
        }));
    });
}

}  // namespace

PyMethodDef run_clark_uh_function = {
    "run_clark_uh",
    as_method(run_clark_uh),
    METH_FASTCALL | METH_KEYWORDS,
    "run_clark_uh(rainfall, basin_area, tc, storage_r)\n--\n\n"
    "Transforms excess rainfall into a runoff hydrograph using the Clark unit hydrograph.\n\n"
    "# Arguments\n\n"
    "* `rainfall` - Excess rainfall series (inches per time step).\n"
    "* `basin_area` - Drainage area in acres.\n"
    "* `tc` - Time of concentration. Controls the duration and shape of the\n"
    "  translation hydrograph.\n"
    "* `storage_r` - Linear reservoir storage coefficient. Controls attenuation.\n\n"
    "# Returns\n\n"
    "A `ContinuousTimeSeries` (kind=discharge, cfs) at the same time step as `rainfall`.",
};

}  // namespace hydrokit::py
