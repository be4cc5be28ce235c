// Process-wide Python objects created on first use.
#pragma once

#include "ref.hpp"

namespace hydrokit::py {

// Creates its object once per process, even when threads race for it. PyMutex detaches the
// waiting thread from the interpreter, so the creating thread may run Python code (a
// collection, an import) without deadlocking the waiter. The object is kept for the life of
// the process.
template <class T>
class Once {
  public:
    // Returns the object, creating it with `create()` (a new reference, or null with an
    // exception set) when it does not exist yet.
    template <class Create>
    T* get(Create&& create) {
        PyMutex_Lock(&mutex_);
        if (object_ == nullptr) object_ = create();
        T* object = object_;
        PyMutex_Unlock(&mutex_);
        return object;
    }

  private:
    PyMutex mutex_{};
    T* object_ = nullptr;
};

}  // namespace hydrokit::py
