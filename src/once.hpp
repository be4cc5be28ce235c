// Process-wide Python objects created on first use.
#pragma once

#include <atomic>

#include "ref.hpp"

namespace hydrokit::py {

// Creates its object once per process and keeps it for the life of the process. Creating may
// run Python code (an import, a collection whose finalizers call this library again, a thread
// switch), so no lock is held meanwhile: a nested or concurrent request creates an object of its
// own, the first one finished is kept, and the others are discarded. Every caller sees the
// kept one.
template <class T>
class Once {
  public:
    // Returns the object, creating it with `create()` (a new reference, or null with an
    // exception set) when it does not exist yet; a creation that lost the race goes to
    // `discard`.
    template <class Create, class Discard>
    T* get(Create&& create, Discard&& discard) {
        T* kept = object_.load(std::memory_order_acquire);
        if (kept != nullptr) return kept;
        T* created = create();
        if (created == nullptr) return nullptr;
        if (object_.compare_exchange_strong(kept, created, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
            return created;
        }
        discard(created);
        return kept;
    }

    // The same for a Python object, whose discarded copies are released.
    template <class Create>
    T* get(Create&& create) {
        return get(std::forward<Create>(create),
                   [](T* object) { Py_DECREF(reinterpret_cast<PyObject*>(object)); });
    }

  private:
    std::atomic<T*> object_{nullptr};
};

}  // namespace hydrokit::py
