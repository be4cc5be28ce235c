#include "utils/time_series_py.hpp"

#include "arguments.hpp"
#include "buffer_export.hpp"
#include "constructor.hpp"
#include "unlocked.hpp"

namespace hydrokit::py {

namespace {

// Construction is the same for both classes; only the label of the argument errors differs.
template <class Series>
Ref new_instance(PyTypeObject* type, const Arguments<3>& arguments) {
    Series series;
    series.data = arguments.template get<Values>(0);
    const Timedelta step = arguments.template get<Timedelta>(1);
    series.kind = arguments.template get<std::string>(2);
    check_kind(series.kind);
    series.time_step = time_step_seconds(step.duration());
    return wrap_value(type, std::move(series));
}

template <class Series>
PyObject* get_time_step(PyObject* self, void*) {
    return guarded([&] { return timedelta_from_seconds(value_of<Series>(self).time_step); });
}

template <class Series>
int get_buffer(PyObject* self, Py_buffer* view, int flags) {
    const Values* values = nullptr;
    const int status = guarded([&] {
        values = &value_of<Series>(self).data;
        return 0;
    });
    if (status < 0) {
        view->obj = nullptr;
        return status;
    }
    return export_values(self, *values, view, flags);
}

template <class Series>
PyGetSetDef series_attributes[] = {
    {"data", get_field<Series, &Series::data>, nullptr, nullptr, nullptr},
    {"kind", get_field<Series, &Series::kind>, nullptr, nullptr, nullptr},
    {"time_step", get_time_step<Series>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ContinuousTimeSeries

constexpr auto continuous_parameters =
    signature("ContinuousTimeSeries.__new__()", 3, "data", "time_step", "kind");

PyObject* continuous_total_duration(PyObject* self, PyObject*) {
    return guarded([&] { return to_python(value_of<ContinuousSeries>(self).span()); });
}

PyMethodDef continuous_methods[] = {
    {"total_duration", continuous_total_duration, METH_NOARGS,
     "total_duration($self)\n--\n\nTotal duration from first to last data point (seconds)."},
    {nullptr, nullptr, 0, nullptr},
};

const ClassDescription continuous_class = {
    "builtins.ContinuousTimeSeries",
    "ContinuousTimeSeries(data, time_step, kind)\n--\n\n"
    "A uniformly-spaced time series where each value represents a quantity at a\n"
    "discrete point in time (e.g. discharge, elevation, storage).\n\n"
    "Total duration spans first to last point: `time_step * (len(data) - 1)`.\n"
    "Supports linear interpolation between points.",
    Py_TPFLAGS_BASETYPE,
    constructor<continuous_parameters, new_instance<ContinuousSeries>>,
    continuous_methods,
    series_attributes<ContinuousSeries>,
    get_buffer<ContinuousSeries>,
    release_values,
};

// IncrementalTimeSeries

constexpr auto incremental_parameters =
    signature("IncrementalTimeSeries.__new__()", 3, "data", "time_step", "kind");
constexpr auto disaggregate_parameters =
    signature("IncrementalTimeSeries.disaggregate()", 1, "target_step");

PyObject* incremental_total_duration(PyObject* self, PyObject*) {
    return guarded([&] { return to_python(value_of<IncrementalSeries>(self).total_duration()); });
}

PyObject* incremental_disaggregate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return guarded([&] {
        auto arguments = disaggregate_parameters.bind(args, nargs, kwnames);
        const int32_t target_step = arguments.get<int32_t>(0);
        const IncrementalSeries& series = value_of<IncrementalSeries>(self);
        const uint64_t parts = target_step > 0 ? series.time_step / target_step + 1 : 1;
        return to_python(unlocked(work_of(series.data.size(), parts),
                                  [&] { return series.disaggregate(target_step); }));
    });
}

PyMethodDef incremental_methods[] = {
    {"total_duration", incremental_total_duration, METH_NOARGS,
     "total_duration($self)\n--\n\nTotal duration spanning all time step intervals (seconds)."},
    {"disaggregate", as_method(incremental_disaggregate), METH_FASTCALL | METH_KEYWORDS,
     "disaggregate($self, target_step)\n--\n\n"
     "Disaggregates to a finer `target_step` (seconds) by uniformly\n"
     "distributing each bucket's value. Total depth is preserved."},
    {nullptr, nullptr, 0, nullptr},
};

const ClassDescription incremental_class = {
    "builtins.IncrementalTimeSeries",
    "IncrementalTimeSeries(data, time_step, kind)\n--\n\n"
    "A uniformly-spaced time series where each value represents a quantity\n"
    "accumulated over one time step interval (e.g. rainfall depth, volume added).\n\n"
    "Total duration spans all intervals: `time_step * len(data)`.\n"
    "Supports disaggregation to a finer time step.",
    Py_TPFLAGS_BASETYPE,
    constructor<incremental_parameters, new_instance<IncrementalSeries>>,
    incremental_methods,
    series_attributes<IncrementalSeries>,
    get_buffer<IncrementalSeries>,
    release_values,
};

}  // namespace

PyTypeObject* PythonClass<ContinuousSeries>::type() {
    return create(continuous_class);
}

PyTypeObject* PythonClass<IncrementalSeries>::type() {
    return create(incremental_class);
}

}  // namespace hydrokit::py
