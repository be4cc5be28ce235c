#include "classes.hpp"

#include <string>
#include <vector>

namespace hydrokit::py {

void raise_unconstructed(PyObject* self) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(self)));
    PyErr_Format(PyExc_TypeError, "'%U' object was not initialized by its constructor", name.get());
    throw PythonError{};
}

PyTypeObject* create_class(const ClassDescription& description, int basic_size,
                           destructor end_value) {
    // No tp_dealloc of its own: the interpreter's runs `end_value` first (tp_del: never
    // reachable from Python, unlike tp_finalize's `__del__`).
    std::vector<PyType_Slot> slots = {
        {Py_tp_doc, const_cast<char*>(description.doc)},
        {Py_tp_del, reinterpret_cast<void*>(end_value)},
    };
    if (description.constructor.by_new) {
        slots.push_back({Py_tp_new, reinterpret_cast<void*>(description.constructor.by_new)});
    }
    if (description.methods) slots.push_back({Py_tp_methods, description.methods});
    if (description.attributes) slots.push_back({Py_tp_getset, description.attributes});
    if (description.get_buffer) {
        slots.push_back({Py_bf_getbuffer, reinterpret_cast<void*>(description.get_buffer)});
        slots.push_back({Py_bf_releasebuffer, reinterpret_cast<void*>(description.release_buffer)});
    }
    slots.push_back({0, nullptr});
    PyType_Spec spec = {description.name, basic_size, 0,
                        static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | description.flags),
                        slots.data()};
    PyObject* type = PyType_FromSpec(&spec);
    if (type != nullptr) {
        reinterpret_cast<PyTypeObject*>(type)->tp_vectorcall = description.constructor.by_call;
    } else {
        PyObject* cause = PyErr_GetRaisedException();
        std::string class_name = description.name;
        class_name = class_name.substr(class_name.rfind('.') + 1);
        PyErr_Format(PyExc_RuntimeError, "An error occurred while initializing class %s",
                     class_name.c_str());
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, cause);
        PyErr_SetRaisedException(error);
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace hydrokit::py
