// Filling modules: every public name is listed in `__all__` before it is set.
#pragma once

#include "ref.hpp"

namespace hydrokit::py {

// Appends `name` to the module's `__all__` (created empty when missing), then sets the
// attribute.
void add_name(PyObject* module, const char* name, PyObject* value);

// Adds a class under its own name; `type` null means its creation failed.
void add_class(PyObject* module, PyTypeObject* type);

// Adds a built-in function bound to `module`, whose `__module__` is the module's name.
void add_function(PyObject* module, PyMethodDef& function);

// Adds `submodule` under the last component of its `__name__`.
void add_submodule(PyObject* module, PyObject* submodule);

// A plain module object: bare `__name__`, `__doc__` None, no file or import spec.
Ref new_module(const char* name);

}  // namespace hydrokit::py
