#include "rainfall_loss/deficit_constant_py.hpp"

#include "arguments.hpp"
#include "unlocked.hpp"
#include "utils/time_series_py.hpp"

namespace hydrokit::py {

namespace {

PyGetSetDef result_attributes[] = {
    {"excess", get_field<DeficitConstantResult, &DeficitConstantResult::excess>, nullptr,
     "Excess rainfall that becomes surface runoff (inches per time step).", nullptr},
    {"loss", get_field<DeficitConstantResult, &DeficitConstantResult::loss>, nullptr,
     "Total infiltrated depth per time step (constant loss + deficit fill, inches).", nullptr},
    {"deficit", get_field<DeficitConstantResult, &DeficitConstantResult::deficit>, nullptr,
     "Running soil moisture deficit at the end of each time step (inches).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Instances come only from run_deficit_and_constant.
const ClassDescription result_class = {
    "builtins.DeficitConstantResult",
    "Results from the deficit-and-constant rainfall loss model.",
    Py_TPFLAGS_BASETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    {},
    nullptr,
    result_attributes,
};

constexpr auto parameters =
    signature("run_deficit_and_constant()", 5, "rainfall", "initial_deficit", "max_deficit",
              "constant_loss_per_hr", "time_to_dry");

PyObject* run_deficit_and_constant(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return guarded([&] {
        auto arguments = parameters.bind(args, nargs, kwnames);
        const auto& rainfall = arguments.get<IncrementalSeries>(0);
        const double initial_deficit = arguments.get<double>(1);
        const double max_deficit = arguments.get<double>(2);
        const double constant_loss_per_hr = arguments.get<double>(3);
        const auto time_to_dry = arguments.get<Timedelta>(4);
        const double time_to_dry_seconds = time_to_dry.duration().as_seconds();
        return to_python(unlocked(rainfall.data.size(), [&] {
            return hydrokit::run_deficit_and_constant(rainfall, initial_deficit, max_deficit,
                                                      constant_loss_per_hr, time_to_dry_seconds);
        }));
    });
}

}  // namespace

PyTypeObject* PythonClass<DeficitConstantResult>::type() {
    return create(result_class);
}

PyMethodDef run_deficit_and_constant_function = {
    "run_deficit_and_constant",
    as_method(run_deficit_and_constant),
    METH_FASTCALL | METH_KEYWORDS,
    "run_deficit_and_constant(rainfall, initial_deficit, max_deficit, constant_loss_per_hr, "
    "time_to_dry)\n--\n\n"
    "Separates gross rainfall into excess runoff and infiltration losses using the\n"
    "deficit-and-constant model.\n\n"
    "# Arguments\n\n"
    "* `rainfall` - Gross rainfall time series (inches per time step).\n"
    "* `initial_deficit` - Starting soil moisture deficit (inches).\n"
    "* `max_deficit` - Maximum soil moisture storage capacity (inches).\n"
    "* `constant_loss_per_hr` - Constant infiltration rate (inches/hour).\n"
    "* `time_to_dry` - Characteristic drying time for deficit recovery.\n\n"
    "# Returns\n\n"
    "A `DeficitConstantResult` with `excess`, `loss`, and `deficit` series.",
};

}  // namespace hydrokit::py
