#include "module_tree.hpp"

#include <string>

#include "exceptions.hpp"

namespace hydrokit::py {

namespace {

// The `__all__` list of `module`, created empty when the module has none.
Ref all_list(PyObject* module) {
    PyObject* existing = nullptr;
    check(PyObject_GetOptionalAttrString(module, "__all__", &existing));
    if (existing == nullptr) {
        Ref created = Ref::steal(PyList_New(0));
        check(PyObject_SetAttrString(module, "__all__", created.get()));
        return created;
    }
    Ref all = Ref::steal(existing);
    if (!PyList_Check(all.get())) raise_type_mismatch(all.get(), "list");
    return all;
}

}  // namespace

void add_name(PyObject* module, const char* name, PyObject* value) {
    Ref all = all_list(module);
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        throw Panic("could not append __name__ to __all__");
    }
    check(PyObject_SetAttr(module, text.get(), value));
}

void add_class(PyObject* module, PyTypeObject* type) {
    if (type == nullptr) throw PythonError{};
    Ref name = Ref::steal(PyType_GetName(type));
    const char* text = PyUnicode_AsUTF8(name.get());
    if (text == nullptr) throw PythonError{};
    add_name(module, text, reinterpret_cast<PyObject*>(type));
}

void add_function(PyObject* module, PyMethodDef& function) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    Ref object = Ref::steal(PyCFunction_NewEx(&function, module, module_name.get()));
    if (!object) throw PythonError{};
#if PY_VERSION_HEX >= 0x030E0000
    // Without the interpreter lock, every thread that loads a function would otherwise count
    // its references on the same word, and threads calling it in a loop wait on each other for
    // that word. The functions live as long as their module, so only the collector need free
    // them. A hint: with the lock it does nothing.
    PyUnstable_Object_EnableDeferredRefcount(object.get());
#endif
    add_name(module, function.ml_name, object.get());
}

void add_submodule(PyObject* module, PyObject* submodule) {
    const char* full = PyModule_GetName(submodule);
    if (full == nullptr) throw PythonError{};
    std::string name = full;
    add_name(module, name.substr(name.rfind('.') + 1).c_str(), submodule);
}

Ref new_module(const char* name) {
    Ref text = Ref::steal(PyUnicode_FromString(name));
    return Ref::steal(PyModule_NewObject(text.get()));
}

}  // namespace hydrokit::py
