#include "buffer_export.hpp"

namespace hydrokit::py {

namespace {

// An empty vector may have no storage at all, but a buffer's pointer must be valid.
double no_values = 0.0;

}  // namespace

int export_values(PyObject* owner, const Values& values, Py_buffer* view, int flags) {
    if (flags & PyBUF_WRITABLE) {
        PyErr_SetString(PyExc_BufferError, "series values are read-only");
        view->obj = nullptr;
        return -1;
    }
    // The length lives with the view: a series is immutable, but views may outlast any
    // place of ours that could hold it.
    auto* shape = static_cast<Py_ssize_t*>(PyMem_Malloc(sizeof(Py_ssize_t)));
    if (shape == nullptr) {
        PyErr_NoMemory();
        view->obj = nullptr;
        return -1;
    }
    *shape = static_cast<Py_ssize_t>(values.size());
    view->buf = values.empty() ? &no_values : const_cast<double*>(values.data());
    view->obj = Py_NewRef(owner);
    view->len = *shape * static_cast<Py_ssize_t>(sizeof(double));
    view->itemsize = sizeof(double);
    view->readonly = 1;
    view->ndim = 1;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>("d") : nullptr;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &view->itemsize : nullptr;
    view->suboffsets = nullptr;
    view->internal = shape;
    return 0;
}

void release_values(PyObject*, Py_buffer* view) {
    PyMem_Free(view->internal);
}

}  // namespace hydrokit::py
