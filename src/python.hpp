// The frame's one include of the CPython C API, and the one place that says which
// interpreters it supports: a call that differs between versions gets its check here, not
// in #if blocks across the frame.
#pragma once

// The build's version and configuration, checked before anything of the API is read.
#include <patchlevel.h>
#include <pyconfig.h>

// PyMutex, PyLong_AsInt and PyObject_GetOptionalAttrString arrived in 3.13.
#if PY_VERSION_HEX < 0x030D0000
#error "hydrokit needs CPython 3.13 or newer"
#endif

// The module tells the interpreter it needs no lock, but the frame has only ever run with one:
// a list another thread resizes during a conversion could be read after it was freed. Until
// that audit exists (docs/concurrency.md), a free-threaded interpreter gets no build at all.
#if defined(Py_GIL_DISABLED)
#error \
    "hydrokit has not been audited for running without the interpreter lock: build it for a CPython with the GIL (python3.X, not python3.Xt); docs/concurrency.md says what the audit takes"
#endif

#define PY_SSIZE_T_CLEAN
#include <Python.h>
