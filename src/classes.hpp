// Python classes whose instances hold one C++ value, and the once-per-process type objects.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "conversions.hpp"
#include "once.hpp"
#include "utils/time_series.hpp"

namespace hydrokit::py {

// The types stay mutable, so `object.__new__` can allocate an instance behind the
// constructor's back: its memory is zeroed and `constructed` stays false until a value is
// built in it.
template <class T>
struct Instance {
    PyObject_HEAD bool constructed;
    T value;
};

// "'<qualname>' object was not initialized by its constructor".
[[noreturn]] void raise_unconstructed(PyObject* self);

// The value held by `self`, or TypeError when no constructor built one.
template <class T>
T& value_of(PyObject* self) {
    auto* instance = reinterpret_cast<Instance<T>*>(self);
    if (!instance->constructed) raise_unconstructed(self);
    return instance->value;
}

template <class T>
void end_value(PyObject* self);

// A new instance of `type` (the class itself or a subclass) holding `value`, moved in when
// given as an rvalue.
template <class T>
Ref wrap_value(PyTypeObject* type, T&& value) {
    using Value = std::remove_cvref_t<T>;
    // A class made in Python from one of ours does not inherit tp_del: it gets ours before the
    // first of its instances that holds a value is made, so that every such instance ends it.
    std::atomic_ref<destructor> end(type->tp_del);
    if (end.load(std::memory_order_relaxed) == nullptr) {
        end.store(end_value<Value>, std::memory_order_relaxed);
    }
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    auto* instance = reinterpret_cast<Instance<Value>*>(self.get());
    new (&instance->value) Value(std::forward<T>(value));
    instance->constructed = true;
    return self;
}

// Ends an instance's value as the instance dies. The interpreter's deallocation of instances of
// heap types then frees the memory and releases the class. It releases the class through the
// calling thread's own count on a free-threaded build, where a Py_DECREF of the class here
// would have every thread that frees instances write the class's shared count.
template <class T>
void end_value(PyObject* self) {
    auto* instance = reinterpret_cast<Instance<T>*>(self);
    if (instance->constructed) instance->value.~T();
}

// How Python makes an instance: `by_call` when the class itself is called, by the vectorcall
// protocol, with no argument tuple made; `by_new` for `Class.__new__(cls, ...)` and for calls
// of subclasses. Both null when Python may not instantiate the class.
struct Constructor {
    newfunc by_new = nullptr;
    vectorcallfunc by_call = nullptr;
};

// The static description of one class. The arrays it points to live as long as the process.
struct ClassDescription {
    const char* name;  // "builtins.<Class>": every class shows the module "builtins"
    const char* doc;
    unsigned long flags;  // on top of Py_TPFLAGS_DEFAULT
    Constructor constructor;
    PyMethodDef* methods;
    PyGetSetDef* attributes;
    // The buffer protocol, for the classes that export their values.
    getbufferproc get_buffer = nullptr;
    releasebufferproc release_buffer = nullptr;
};

// Builds a type from its description, or sets RuntimeError "An error occurred while
// initializing class <Class>" caused by the underlying failure and returns null.
PyTypeObject* create_class(const ClassDescription& description, int basic_size,
                           destructor end_value);

// Everything a binding needs to expose core type T as a Python class: PythonClass<T>
// specialisations derive from this and add `name` and `type()`.
template <class T>
struct BoundClass {
    // Read in place: instances are immutable while a call holds a reference to them.
    static const T& value(PyObject* self) { return value_of<T>(self); }
    static Ref wrap(PyTypeObject* type, T&& value) { return wrap_value(type, std::move(value)); }
    // The class's type object, created from `description` at the first request.
    static PyTypeObject* create(const ClassDescription& description) {
        static Once<PyTypeObject> type;
        return type.get(
            [&] { return create_class(description, sizeof(Instance<T>), end_value<T>); });
    }
};

// The calling convention METH_FASTCALL | METH_KEYWORDS, stored in a PyMethodDef.
using FastcallMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
inline PyCFunction as_method(FastcallMethod method) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

// A read-only attribute that returns a new Python object built from one field.
template <class T, auto Field>
PyObject* get_field(PyObject* self, void*) {
    return guarded([&] { return to_python(value_of<T>(self).*Field); });
}

// A field that Python may set while other threads read it, as calls copying the instance do
// (at once, on an interpreter without the global lock): read and written whole, each access
// one atomic load or store.
template <class Field>
Field load_settable(Field& field) {
    return std::atomic_ref<Field>(field).load(std::memory_order_relaxed);
}

template <class T, auto Field>
PyObject* get_settable_field(PyObject* self, void*) {
    return guarded([&] { return to_python(load_settable(value_of<T>(self).*Field)); });
}

// A writable attribute stored in one field. The new value is converted like an argument named
// after the attribute, so its TypeError reads "argument '<name>': ..."; the attribute's name
// travels in the closure. Deletion is refused.
template <class T, auto Field>
int set_field(PyObject* self, PyObject* value, void* closure) {
    return guarded([&] {
        if (value == nullptr) raise(PyExc_AttributeError, "property has no deleter");
        T& target = value_of<T>(self);
        using FieldType = std::remove_cvref_t<decltype(target.*Field)>;
        try {
            const FieldType converted = From<FieldType>::convert(value);
            std::atomic_ref<FieldType>(target.*Field).store(converted, std::memory_order_relaxed);
        } catch (const PythonError&) {
            name_argument_in_type_error(static_cast<const char*>(closure));
            throw;
        }
        return 0;
    });
}

// The table entry of a read-write attribute: the getter of `get_settable_field`, the setter of
// `set_field`.
template <class T, auto Field>
constexpr PyGetSetDef read_write_field(const char* name, const char* doc) {
    return {name, get_settable_field<T, Field>, set_field<T, Field>, doc, const_cast<char*>(name)};
}

}  // namespace hydrokit::py
