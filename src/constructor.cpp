#include "constructor.hpp"

namespace hydrokit::py {

bool constructs_by(PyTypeObject* type, newfunc constructor) {
    return type->tp_new == constructor && type->tp_init == PyBaseObject_Type.tp_init;
}

Ref call_through_type(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    const Py_ssize_t positional = PyVectorcall_NARGS(nargsf);
    Ref tuple = Ref::steal(PyTuple_New(positional));
    for (Py_ssize_t i = 0; i < positional; ++i) {
        PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
    }
    Ref keywords;
    const Py_ssize_t named = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    if (named > 0) {
        keywords = Ref::steal(PyDict_New());
        for (Py_ssize_t i = 0; i < named; ++i) {
            check(
                PyDict_SetItem(keywords.get(), PyTuple_GET_ITEM(kwnames, i), args[positional + i]));
        }
    }
    return Ref::steal(PyType_Type.tp_call(type, tuple.get(), keywords.get()));
}

}  // namespace hydrokit::py
