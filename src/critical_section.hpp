// Exclusive access to one Python object's contents for the length of a scope, on interpreters
// without the global lock. With the lock it costs nothing: holding the lock is the exclusion.
#pragma once

#include "python.hpp"

namespace hydrokit::py {

// A per-object lock of the free-threaded interpreter, taken for a scope that may unwind by an
// exception. Like the interpreter's own, it is let go while the thread waits for another lock
// or runs code that blocks, and taken again after: exclusion holds between such points only.
class CriticalSection {
  public:
#if defined(Py_GIL_DISABLED)
    // Nothing is locked for a null object.
    explicit CriticalSection(PyObject* object) : locked_(object != nullptr) {
        if (locked_) PyCriticalSection_Begin(&section_, object);
    }
    ~CriticalSection() {
        if (locked_) PyCriticalSection_End(&section_);
    }
#else
    explicit CriticalSection(PyObject*) {}
#endif
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

  private:
#if defined(Py_GIL_DISABLED)
    bool locked_;
    PyCriticalSection section_;
#endif
};

}  // namespace hydrokit::py
