#include "baseflow/linear_reservoir_py.hpp"

#include "arguments.hpp"
#include "constructor.hpp"
#include "unlocked.hpp"
#include "utils/time_series_py.hpp"

namespace hydrokit::py {

namespace {

constexpr auto reservoir_parameters = signature("LinearReservoir.__new__()", 3, "k_duration",
                                                "gw_fraction", "initial_q", "num_reservoir");

Ref new_instance(PyTypeObject* type, const Arguments<4>& arguments) {
    const Timedelta k_duration = arguments.get<Timedelta>(0);
    const double gw_fraction = arguments.get<double>(1);
    const double initial_q = arguments.get<double>(2);
    const uint64_t num_reservoir = arguments.get_or<uint64_t>(3, 1);
    return wrap_value(
        type, make_linear_reservoir(k_duration.duration(), gw_fraction, initial_q, num_reservoir));
}

PyObject* get_k_duration(PyObject* self, void*) {
    return guarded(
        [&] { return timedelta_from_seconds(value_of<LinearReservoir>(self).k_duration); });
}

PyGetSetDef reservoir_attributes[] = {
    {"k_duration", get_k_duration, nullptr,
     "Returns the storage time constant as a Python `timedelta`.", nullptr},
    read_write_field<LinearReservoir, &LinearReservoir::gw_fraction>(
        "gw_fraction",
        "Fraction of rainfall loss that contributes to this reservoir's baseflow.\n"
        "Must be in [0.0, 1.0]."),
    read_write_field<LinearReservoir, &LinearReservoir::initial_q>(
        "initial_q", "Initial discharge at the start of the simulation (e.g., cfs)."),
    read_write_field<LinearReservoir, &LinearReservoir::num_reservoir>(
        "num_reservoir", "Number of linear reservoirs chained in series."),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Not subclassable: no Py_TPFLAGS_BASETYPE.
const ClassDescription reservoir_class = {
    "builtins.LinearReservoir",
    "LinearReservoir(k_duration, gw_fraction, initial_q, num_reservoir=1)\n--\n\n"
    "Configuration for a single linear reservoir groundwater layer.\n\n"
    "A linear reservoir models groundwater storage with the recurrence relation:\n"
    "`Q[t] = C * I[t] + (1 - C) * Q[t-1]`, where `C = dt / (K + 0.5*dt)`.\n"
    "Chaining `num_reservoir` reservoirs in series produces a more peaked,\n"
    "delayed response.",
    0,
    constructor<reservoir_parameters, new_instance>,
    nullptr,
    reservoir_attributes,
};

constexpr auto run_parameters =
    signature("run_linear_reservoir()", 3, "basin_area", "rainfall", "reservoirs");

PyObject* run_linear_reservoir(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                               PyObject* kwnames) {
    return guarded([&] {
        auto arguments = run_parameters.bind(args, nargsf, kwnames);
        const double basin_area = arguments.get<double>(0);
        const auto& rainfall = arguments.get<IncrementalSeries>(1);
        const auto reservoirs = arguments.get<NamedMap<LinearReservoir>>(2);
        uint64_t chained = 1;
        for (const auto& [name, layer] : reservoirs) {
            const uint64_t room = UINT64_MAX - chained;
            chained = layer.num_reservoir > room ? UINT64_MAX : chained + layer.num_reservoir;
        }
        Baseflow baseflow = unlocked(work_of(rainfall.data.size(), chained), [&] {
            return route_linear_reservoirs(basin_area, rainfall, reservoirs);
        });
        Ref total = to_python(std::move(baseflow.total));
        Ref layers = to_python(std::move(baseflow.layers), arguments.value(2));
        Ref pair = Ref::steal(PyTuple_New(2));
        PyTuple_SET_ITEM(pair.get(), 0, total.release());
        PyTuple_SET_ITEM(pair.get(), 1, layers.release());
        return pair;
    });
}

}  // namespace

PyMethodDef run_linear_reservoir_function = {
    "run_linear_reservoir",
    as_method(run_linear_reservoir),
    METH_FASTCALL | METH_KEYWORDS,
    "run_linear_reservoir(basin_area, rainfall, reservoirs)\n--\n\n"
    "Routes infiltrated rainfall through multiple named linear reservoirs to produce "
    "baseflow.\n\n"
    "# Arguments\n\n"
    "* `basin_area` - Drainage area in acres.\n"
    "* `rainfall` - Infiltrated rainfall series (inches per time step).\n"
    "* `reservoirs` - Named linear reservoir configurations.\n\n"
    "# Errors\n\n"
    "Returns a `PyValueError` if sum of all fractions exceeds 1.0,\n"
    "or any reservoir fails its stability check.",
};

PyTypeObject* PythonClass<LinearReservoir>::type() {
    return create(reservoir_class);
}

LinearReservoir PythonClass<LinearReservoir>::value(PyObject* self) {
    LinearReservoir& shared = value_of<LinearReservoir>(self);
    LinearReservoir copy;
    copy.k_duration = shared.k_duration;
    copy.gw_fraction = load_settable(shared.gw_fraction);
    copy.initial_q = load_settable(shared.initial_q);
    copy.num_reservoir = load_settable(shared.num_reservoir);
    return copy;
}

}  // namespace hydrokit::py
