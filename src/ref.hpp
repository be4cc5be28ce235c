// Owned references to Python objects.
#pragma once

#include "python.hpp"

#include <utility>

namespace hydrokit::py {

// Thrown by frame code when a Python exception has been set and the call must unwind to the
// interpreter boundary, where `guarded` turns it back into an error return.
struct PythonError {};

// Sole owner of one strong reference; borrowed references stay plain `PyObject*`.
class Ref {
  public:
    Ref() = default;
    // Takes over a new reference returned by the C API; a null one means an exception is set.
    static Ref steal(PyObject* object) {
        if (object == nullptr) throw PythonError{};
        return Ref(object);
    }
    // Adds a strong reference to a borrowed object.
    static Ref borrow(PyObject* object) { return Ref(Py_NewRef(object)); }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

// Turns a C API status (-1 with an exception set) into a C++ unwind.
inline void check(int status) {
    if (status < 0) throw PythonError{};
}

}  // namespace hydrokit::py
