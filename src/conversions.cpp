#include "conversions.hpp"

#include <datetime.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "buffer_pool.hpp"
#include "critical_section.hpp"
#include "interrupt.hpp"
#include "once.hpp"

namespace hydrokit::py {

namespace {

Once<PyDateTime_CAPI> datetime_capsule;

// The interpreter's datetime interface, imported on first use. The datetime.h macros read it
// through the name PyDateTimeAPI: each user declares a local of that name, so the header's
// file-static pointer, which every thread would write, is never written.
PyDateTime_CAPI* datetime_api() {
    // The interface is a static table of the datetime module: a second import finds the same
    // one, and nothing is released.
    PyDateTime_CAPI* api = datetime_capsule.get(
        [] { return static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0)); },
        [](PyDateTime_CAPI*) {});
    if (api == nullptr) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_ImportError, "failed to import `datetime` C API");
        }
        throw PythonError{};
    }
    return api;
}

double item_as_double(PyObject* item) {
    if (PyFloat_CheckExact(item)) return PyFloat_AS_DOUBLE(item);
    double value = PyFloat_AsDouble(item);
    if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
    return value;
}

// Clears a failure that a fallback stands in for (no usable buffer, no type name, no text);
// any other keeps unwinding. Only for failures of steps that run no Python code, where no signal
// handler can have raised meanwhile.
void discard_ordinary_error() {
    if (!ordinary_error_pending()) throw PythonError{};
    PyErr_Clear();
}

// Clears the failure of a length query that means the value has no length, as the
// interpreter's own length hint does. A `__len__` runs Python code, and so may a signal handler
// meanwhile: any other failure, a handler's exception among them, keeps unwinding.
void discard_missing_length() {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PythonError{};
    PyErr_Clear();
}

// The static array type whose name matched last (numpy's): a static type lives as long as the
// process, so its address alone then identifies it, without comparing names on every call.
std::atomic<PyTypeObject*> named_static_array_type{nullptr};

// Types whose items are exactly the doubles of their buffer. A subclass may differ: a numpy
// masked array exports its raw data, masked items included. Immutable types cannot be made from
// Python, so their names cannot be borrowed by a class written in Python.
bool items_are_buffer(PyTypeObject* type) {
    if (type == &PyMemoryView_Type ||
        type == named_static_array_type.load(std::memory_order_relaxed)) {
        return true;
    }
    if (!(type->tp_flags & Py_TPFLAGS_IMMUTABLETYPE)) return false;
    const bool named = std::strcmp(type->tp_name, "numpy.ndarray") == 0 ||
                       std::strcmp(type->tp_name, "array.array") == 0;
    // A heap type (array.array's) may be freed and its address reused by another type.
    if (named && !(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
        named_static_array_type.store(type, std::memory_order_relaxed);
    }
    return named;
}

}  // namespace

bool view_double_buffer(PyObject* value, Py_buffer& view) {
    view.obj = nullptr;
    if (!items_are_buffer(Py_TYPE(value))) return false;
    if (PyObject_GetBuffer(value, &view, PyBUF_FORMAT | PyBUF_ND) < 0) {
        discard_ordinary_error();
        return false;
    }
    // A double is read where it lies only at an address aligned for it; a view of a byte
    // buffer from an odd offset is read through its items instead.
    const bool doubles =
        view.ndim == 1 && view.itemsize == sizeof(double) && view.format &&
        (std::strcmp(view.format, "d") == 0 || std::strcmp(view.format, "@d") == 0) &&
        reinterpret_cast<std::uintptr_t>(view.buf) % alignof(double) == 0;
    if (!doubles) PyBuffer_Release(&view);
    return doubles;
}

namespace {

std::string exception_type_name(PyObject* exception) {
    PyObject* name = PyType_GetName(Py_TYPE(exception));
    const char* text = name ? PyUnicode_AsUTF8(name) : nullptr;
    std::string result = text ? text : "<failed to extract type name>";
    Py_XDECREF(name);
    if (text == nullptr) discard_ordinary_error();
    return result;
}

// The text of a refused conversion's exception. The conversions make theirs with one exact str,
// which is their text and is read as it is: str() would first run the signal handlers, whose
// exception would then pass for a failure of the text and be lost. They run at the next poll.
// The outlet kinds refuse with such exceptions only, so str() and its Python code never run.
std::string exception_message(PyObject* exception) {
    PyObject* args = PyException_GetArgs(exception);
    PyObject* message = nullptr;
    if (args != nullptr && PyTuple_GET_SIZE(args) == 1 &&
        PyUnicode_CheckExact(PyTuple_GET_ITEM(args, 0))) {
        message = Py_NewRef(PyTuple_GET_ITEM(args, 0));
    } else {
        message = PyObject_Str(exception);
    }
    Py_XDECREF(args);
    const char* text = message ? PyUnicode_AsUTF8(message) : nullptr;
    std::string result = text ? text : "<exception str() failed>";
    Py_XDECREF(message);
    if (text == nullptr) discard_ordinary_error();
    return result;
}

}  // namespace

// An item made by an iterator and converted through `__float__` or `__index__` costs tens of
// nanoseconds, a dozen or more units of a computation's work: counted as such, a long range
// stops within milliseconds of Ctrl-C on a slow processor too.
constexpr size_t iterated_item_work = 16;

double From<double>::convert(PyObject* value) {
    return item_as_double(value);
}

Values From<Values>::convert(PyObject* value) {
    if (PyUnicode_Check(value)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(value)) raise_type_mismatch(value, "Sequence");
    Values values;
    if (PyTuple_CheckExact(value)) {
        // A tuple's items never change, and the caller holds the tuple.
        const Py_ssize_t size = PyTuple_GET_SIZE(value);
        values = reserved_values(static_cast<size_t>(size));
        InterruptCountdown countdown;
        for (Py_ssize_t i = 0; i < size; ++i) {
            values.push_back(item_as_double(PyTuple_GET_ITEM(value, i)));
            countdown.add(1);
        }
        return values;
    }
    if (PyList_CheckExact(value)) {
        InterruptCountdown countdown;
        Py_ssize_t i = 0;
        bool read_to_the_end = false;
        {
            // Exact floats are read with the list to itself: another thread's change comes
            // before or after, never amid them. A poll may run a signal handler, which may
            // change the list, so its length is read at every item.
            const CriticalSection section(value);
            values = reserved_values(static_cast<size_t>(PyList_GET_SIZE(value)));
            for (;; ++i) {
                if (i >= PyList_GET_SIZE(value)) {
                    read_to_the_end = true;
                    break;
                }
                PyObject* item = PyList_GET_ITEM(value, i);
                if (!PyFloat_CheckExact(item)) break;
                values.push_back(PyFloat_AS_DOUBLE(item));
                countdown.add(1);
            }
        }
        if (read_to_the_end) {
            fit_capacity(values);
            return values;
        }
        // Any other item converts through Python code, which may change the list: from there
        // the list is read as iteration reads it, each item held while it converts.
        while (PyObject* item = PyList_GetItemRef(value, i++)) {
            Ref held = Ref::steal(item);
            values.push_back(item_as_double(item));
            countdown.add(1);
        }
        if (!PyErr_ExceptionMatches(PyExc_IndexError)) throw PythonError{};
        PyErr_Clear();
        fit_capacity(values);
        return values;
    }
    HeldBuffer held;
    if (view_double_buffer(value, held.view)) return copied_values(held.values());
    // The length only sizes the storage, and a sequence may overstate it: the hint is capped
    // so that a false length cannot exhaust memory, and iteration decides the real count.
    constexpr Py_ssize_t largest_hint = Py_ssize_t{1} << 24;
    const Py_ssize_t size = PySequence_Size(value);
    if (size < 0) {
        discard_missing_length();
    } else {
        values = reserved_values(static_cast<size_t>(std::min(size, largest_hint)));
    }
    Ref iterator = Ref::steal(PyObject_GetIter(value));
    InterruptCountdown countdown;
    while (PyObject* item = PyIter_Next(iterator.get())) {
        Ref held = Ref::steal(item);
        values.push_back(item_as_double(item));
        countdown.add(iterated_item_work);
    }
    if (PyErr_Occurred()) throw PythonError{};
    // Whatever the length hint said, the series keeps room for the values it got.
    fit_capacity(values);
    return values;
}

uint64_t From<uint64_t>::convert(PyObject* value) {
    Ref number = PyLong_Check(value) ? Ref::borrow(value) : Ref::steal(PyNumber_Index(value));
    unsigned long long result = PyLong_AsUnsignedLongLong(number.get());
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
    return result;
}

int64_t From<int64_t>::convert(PyObject* value) {
    long long result = PyLong_AsLongLong(value);
    if (result == -1 && PyErr_Occurred()) throw PythonError{};
    return result;
}

int32_t From<int32_t>::convert(PyObject* value) {
    int result = PyLong_AsInt(value);
    if (result == -1 && PyErr_Occurred()) throw PythonError{};
    return result;
}

namespace {

// numpy's boolean scalar, recognised without importing numpy. Its type is a static type, so its
// name cannot be given to a class written in Python, which can only make heap types.
bool is_numpy_bool(PyTypeObject* type) {
    if (type->tp_flags & Py_TPFLAGS_HEAPTYPE) return false;
    return std::strcmp(type->tp_name, "numpy.bool") == 0 ||
           std::strcmp(type->tp_name, "numpy.bool_") == 0;
}

}  // namespace

bool From<bool>::convert(PyObject* value) {
    if (value == Py_True) return true;
    if (value == Py_False) return false;
    PyTypeObject* type = Py_TYPE(value);
    if (!is_numpy_bool(type)) raise_type_mismatch(value, "bool");
    auto truth = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
    if (truth == nullptr) {
        Ref name = Ref::steal(PyType_GetName(type));
        PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
                     name.get());
        throw PythonError{};
    }
    int result = truth(value);
    if (result < 0) throw PythonError{};
    return result != 0;
}

std::string From<std::string>::convert(PyObject* value) {
    if (!PyUnicode_Check(value)) raise_type_mismatch(value, "str");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value, &size);
    if (text == nullptr) throw PythonError{};
    return std::string(text, static_cast<size_t>(size));
}

Duration Timedelta::duration() const {
    if (days < 0) throw ValueError("Cannot convert a negative timedelta to a duration.");
    return Duration{static_cast<uint64_t>(days) * 86400 + static_cast<uint64_t>(seconds),
                    static_cast<uint32_t>(microseconds) * 1000};
}

Timedelta From<Timedelta>::convert(PyObject* value) {
    PyDateTime_CAPI* const PyDateTimeAPI = datetime_api();
    if (!PyDelta_Check(value)) raise_type_mismatch(value, "timedelta");
    return Timedelta{PyDateTime_DELTA_GET_DAYS(value), PyDateTime_DELTA_GET_SECONDS(value),
                     PyDateTime_DELTA_GET_MICROSECONDS(value)};
}

void check_dict(PyObject* value) {
    if (!PyDict_Check(value)) raise_type_mismatch(value, "dict");
}

std::string dict_key(PyObject* key) {
    return From<std::string>::convert(key);
}

Ref key_named(PyObject* names_of, Py_ssize_t& position, std::string_view name) {
    PyObject* key;
    PyObject* item;
    if (PyDict_Next(names_of, &position, &key, &item) && PyUnicode_CheckExact(key)) {
        Py_ssize_t size;
        const char* text = PyUnicode_AsUTF8AndSize(key, &size);
        if (text == nullptr) {
            PyErr_Clear();
        } else if (std::string_view(text, static_cast<size_t>(size)) == name) {
            return Ref::borrow(key);
        }
    }
    return to_python(name);
}

std::string union_attempt_text(std::string_view union_name, std::string_view kind) {
    std::string text = "TypeError: failed to extract field " + std::string(union_name) +
                       "::" + std::string(kind) + ".0";
    for (PyObject* cause = PyErr_GetRaisedException(); cause != nullptr;) {
        const Ref held = Ref::steal(cause);
        text += ", caused by " + exception_type_name(cause) + ": " + exception_message(cause);
        cause = PyException_GetCause(cause);
    }
    return text;
}

void raise_union_mismatch(std::string_view union_name, std::span<const std::string_view> kinds,
                          const std::vector<std::string>& reasons) {
    std::string message = "failed to extract enum " + std::string(union_name) + " ('";
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (i > 0) message += " | ";
        message += kinds[i];
    }
    message += "')";
    for (size_t i = 0; i < kinds.size(); ++i) {
        message += "\n- variant " + std::string(kinds[i]) + " (" + std::string(kinds[i]) +
                   "): " + reasons[i];
    }
    raise(PyExc_TypeError, message);
}

Ref to_python(double value) {
    return Ref::steal(PyFloat_FromDouble(value));
}

Ref to_python(std::optional<double> value) {
    return value ? to_python(*value) : Ref::borrow(Py_None);
}

Ref to_python(int64_t value) {
    return Ref::steal(PyLong_FromLongLong(value));
}

Ref to_python(uint64_t value) {
    return Ref::steal(PyLong_FromUnsignedLongLong(value));
}

Ref to_python(const Values& values) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
    for (size_t i = 0; i < values.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_python(values[i]).release());
    }
    return list;
}

Ref to_python(std::string_view text) {
    return Ref::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref timedelta_from_seconds(int64_t seconds) {
    PyDateTime_CAPI* const PyDateTimeAPI = datetime_api();
    return Ref::steal(
        PyDelta_FromDSU(static_cast<int>(seconds / 86400), static_cast<int>(seconds % 86400), 0));
}

}  // namespace hydrokit::py
