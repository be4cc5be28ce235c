// Python function run_level_pool_routing and its result class LevelPoolResult.
#pragma once

#include "classes.hpp"
#include "reservoir_routing/level_pool.hpp"

namespace hydrokit::py {

template <>
struct PythonClass<LevelPoolResult> : BoundClass<LevelPoolResult> {
    static constexpr const char* name = "LevelPoolResult";
    static PyTypeObject* type();
};

extern PyMethodDef run_level_pool_routing_function;

}  // namespace hydrokit::py
