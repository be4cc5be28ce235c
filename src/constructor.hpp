// A class's constructor written once for both ways Python makes an instance (`Constructor`).
#pragma once

#include "arguments.hpp"
#include "classes.hpp"

namespace hydrokit::py {

// Whether calling `type` runs only `constructor`: false once Python code has replaced the
// class's `__new__` or given it an `__init__`.
bool constructs_by(PyTypeObject* type, newfunc constructor);
// Calls `type` as the interpreter calls any class, its arguments gathered into a tuple and a
// dict.
Ref call_through_type(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames);

// `make(type, arguments)` builds the new instance from arguments bound to `parameters`.
template <const auto& parameters, auto make>
PyObject* construct_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return make(type, parameters.bind(args, kwargs)); });
}

template <const auto& parameters, auto make>
PyObject* construct_call(PyObject* callable, PyObject* const* args, size_t nargsf,
                         PyObject* kwnames) {
    return guarded([&] {
        auto* type = reinterpret_cast<PyTypeObject*>(callable);
        if (!constructs_by(type, construct_new<parameters, make>)) {
            return call_through_type(callable, args, nargsf, kwnames);
        }
        return make(type, parameters.bind(args, static_cast<Py_ssize_t>(nargsf), kwnames));
    });
}

template <const auto& parameters, auto make>
constexpr Constructor constructor = {construct_new<parameters, make>,
                                     construct_call<parameters, make>};

}  // namespace hydrokit::py
