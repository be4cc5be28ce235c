// The frame's one include of the CPython C API, and the one place that says which
// interpreters it supports: a call that differs between versions gets its check here, not
// in #if blocks across the frame.
#pragma once

// The build's version, checked before anything of the API is read.
#include <patchlevel.h>

// PyMutex, PyLong_AsInt and PyObject_GetOptionalAttrString arrived in 3.13.
#if PY_VERSION_HEX < 0x030D0000
#error "hydrokit needs CPython 3.13 or newer"
#endif

#define PY_SSIZE_T_CLEAN
#include <Python.h>
