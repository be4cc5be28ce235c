// Python classes ContinuousTimeSeries and IncrementalTimeSeries.
#pragma once

#include "classes.hpp"
#include "utils/time_series.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<ContinuousSeries> : BoundClass<ContinuousSeries> {
    static constexpr const char* name = "ContinuousTimeSeries";
    static PyTypeObject* type();
};

template <>
struct PythonClass<IncrementalSeries> : BoundClass<IncrementalSeries> {
    static constexpr const char* name = "IncrementalTimeSeries";
    static PyTypeObject* type();
};

}  // namespace hydrokit::py
