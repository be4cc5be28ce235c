// Read-only export of a vector of doubles through the buffer protocol, so that numpy and
// memoryview see a series' values without copying them.
#pragma once

#include <vector>

#include "buffer_pool.hpp"
#include "ref.hpp"

namespace hydrokit::py {

// Fills `view` with the one-dimensional, read-only doubles of `values`, owned by `owner`, which
// the view keeps alive. Returns 0, or -1 with BufferError set when a writable buffer is asked.
int export_values(PyObject* owner, const Values& values, Py_buffer* view, int flags);

// Frees what `export_values` allocated for the view.
void release_values(PyObject* owner, Py_buffer* view);

}  // namespace hydrokit::py
