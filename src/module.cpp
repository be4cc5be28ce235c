// The seven initialisation entry points and the builders of the module tree.
#include "baseflow/linear_reservoir_py.hpp"
#include "exceptions.hpp"
#include "metrics/kge_py.hpp"
#include "module_tree.hpp"
#include "rainfall_loss/deficit_constant_py.hpp"
#include "rainfall_transform/clark_uh_py.hpp"
#include "reach_routing/muskingum_py.hpp"
#include "reservoir_routing/level_pool_py.hpp"
#include "reservoir_routing/reservoir_utils/discharge_info_py.hpp"
#include "reservoir_routing/reservoir_utils/elevation_discharge_py.hpp"
#include "reservoir_routing/reservoir_utils/elevation_storage_py.hpp"
#include "unlocked.hpp"
#include "utils/time_series_py.hpp"

namespace hydrokit::py {

namespace {

// Content builders: each fills one submodule, and the standalone module of the same content.

void init_reach(PyObject* module) {
    add_function(module, run_muskingum_routing_function);
}

void init_reservoir(PyObject* module) {
    Ref utils = new_module("reservoir_utils");
    add_class(utils.get(), PythonClass<ElevationDischarge>::type());
    add_class(utils.get(), PythonClass<ElevationStorage>::type());
    add_class(utils.get(), PythonClass<ControlledDischargeInfo>::type());
    add_class(utils.get(), PythonClass<UnControlledDischargeInfo>::type());
    add_class(utils.get(), PythonClass<SpecifiedDischargeInfo>::type());
    add_class(utils.get(), PythonClass<ConstantDischargeInfo>::type());
    add_submodule(module, utils.get());
    add_function(module, run_level_pool_routing_function);
    add_class(module, PythonClass<LevelPoolResult>::type());
}

void init_transform(PyObject* module) {
    add_function(module, run_clark_uh_function);
}

void init_loss(PyObject* module) {
    add_class(module, PythonClass<DeficitConstantResult>::type());
    add_function(module, run_deficit_and_constant_function);
}

void init_baseflow(PyObject* module) {
    add_function(module, run_linear_reservoir_function);
    add_class(module, PythonClass<LinearReservoir>::type());
}

void init_metrics(PyObject* module) {
    add_function(module, calculate_kge_function);
}

void build_submodule(PyObject* top, const char* name, void (*fill)(PyObject*)) {
    Ref module = new_module(name);
    fill(module.get());
    add_submodule(top, module.get());
}

void build_hydrokit(PyObject* top) {
    Ref utils = new_module("utils");
    add_class(utils.get(), PythonClass<ContinuousSeries>::type());
    add_class(utils.get(), PythonClass<IncrementalSeries>::type());
    add_submodule(top, utils.get());
    build_submodule(top, "reach", init_reach);
    build_submodule(top, "reservoir", init_reservoir);
    build_submodule(top, "rainfall_transform", init_transform);
    build_submodule(top, "rainfall_loss", init_loss);
    build_submodule(top, "baseflow", init_baseflow);
    build_submodule(top, "metrics", init_metrics);
}

// The type objects are created once per process and belong to the main interpreter, which
// outlives every other; a subinterpreter is refused at import, whatever the order of imports.
void require_main_interpreter() {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return;
    raise(PyExc_ImportError,
          "hydrokit can only be imported in the main interpreter, not in a subinterpreter");
}

template <void (*Build)(PyObject*)>
int execute(PyObject* module) {
    return guarded([&] {
        if (!PyModule_Check(module)) {
            raise_type_mismatch(module, "module");
        }
        require_main_interpreter();
        install_interrupt_poll();
        Build(module);
        return 0;
    });
}

template <void (*Build)(PyObject*)>
PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute<Build>)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

template <void (*Build)(PyObject*)>
PyModuleDef definition(const char* name) {
    return {PyModuleDef_HEAD_INIT, name, "", 0, nullptr, slots<Build>, nullptr, nullptr, nullptr};
}

PyModuleDef hydrokit_module = definition<build_hydrokit>("hydrokit");
PyModuleDef reach_module = definition<init_reach>("init_reach");
PyModuleDef reservoir_module = definition<init_reservoir>("init_reservoir");
PyModuleDef transform_module = definition<init_transform>("init_transform");
PyModuleDef loss_module = definition<init_loss>("init_loss");
PyModuleDef baseflow_module = definition<init_baseflow>("init_baseflow");
PyModuleDef metrics_module = definition<init_metrics>("init_metrics");

}  // namespace

}  // namespace hydrokit::py

using namespace hydrokit::py;

PyMODINIT_FUNC PyInit_hydrokit() {
    return PyModuleDef_Init(&hydrokit_module);
}
PyMODINIT_FUNC PyInit_init_reach() {
    return PyModuleDef_Init(&reach_module);
}
PyMODINIT_FUNC PyInit_init_reservoir() {
    return PyModuleDef_Init(&reservoir_module);
}
PyMODINIT_FUNC PyInit_init_transform() {
    return PyModuleDef_Init(&transform_module);
}
PyMODINIT_FUNC PyInit_init_loss() {
    return PyModuleDef_Init(&loss_module);
}
PyMODINIT_FUNC PyInit_init_baseflow() {
    return PyModuleDef_Init(&baseflow_module);
}
PyMODINIT_FUNC PyInit_init_metrics() {
    return PyModuleDef_Init(&metrics_module);
}
