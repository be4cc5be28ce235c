#include "exceptions.hpp"

#include <cstdio>

#include "once.hpp"

namespace hydrokit::py {

namespace {

Once<PyObject> panic_type;

const char* const panic_doc =
    "Raised when the native code of an extension fails.\n\n"
    "Like SystemExit, it derives from BaseException, so that it propagates to the top\n"
    "and usually ends the interpreter instead of being caught as an ordinary error.";

// The path of a source file from its `src/` folder on, whatever directory it was built in.
std::string_view relative_source(std::string_view path) {
    size_t at = path.rfind("/src/");
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

}  // namespace

void set_message(PyObject* exception_type, std::string_view message) {
    // Built with its length, so a caller's text with an embedded NUL survives whole.
    PyObject* text =
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (text == nullptr) return;
    PyErr_SetObject(exception_type, text);
    Py_DECREF(text);
}

bool ordinary_error_pending() {
    return PyErr_ExceptionMatches(PyExc_Exception) && !PyErr_ExceptionMatches(PyExc_MemoryError);
}

void raise(PyObject* exception_type, const std::string& message) {
    set_message(exception_type, message);
    throw PythonError{};
}

void raise_type_mismatch(PyObject* value, std::string_view expected) {
    const std::string expected_name(expected);
    if (value == Py_None) {
        raise(PyExc_TypeError, "'None' is not an instance of '" + expected_name + "'");
    }
    PyObject* name = PyType_GetQualName(Py_TYPE(value));
    if (name == nullptr) {
        if (!ordinary_error_pending()) throw PythonError{};
        PyErr_Clear();
        name = PyUnicode_FromString("<failed to extract type name>");
        if (name == nullptr) throw PythonError{};
    }
    // %U keeps the name exactly as the type holds it, NUL and surrogates included.
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name,
                 expected_name.c_str());
    Py_DECREF(name);
    throw PythonError{};
}

void name_argument_in_type_error(const char* name) {
    PyObject* original = PyErr_GetRaisedException();
    if (original == nullptr ||
        !Py_IS_TYPE(original, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        PyErr_SetRaisedException(original);
        return;
    }
    PyObject* renamed = nullptr;
    if (PyObject* message = PyObject_Str(original)) {
        renamed = PyUnicode_FromFormat("argument '%s': %U", name, message);
        Py_DECREF(message);
    }
    PyObject* exception = renamed ? PyObject_CallOneArg(PyExc_TypeError, renamed) : nullptr;
    Py_XDECREF(renamed);
    if (exception == nullptr) {
        Py_DECREF(original);
        return;  // the failure to build the message is what the caller sees
    }
    PyException_SetCause(exception, PyException_GetCause(original));
    Py_DECREF(original);
    PyErr_SetRaisedException(exception);
}

void warn(const char* message) {
    Ref warnings = Ref::steal(PyImport_ImportModule("warnings"));
    Ref text = Ref::steal(PyUnicode_FromString(message));
    Ref name = Ref::steal(PyUnicode_FromString("warn"));
    Ref::steal(PyObject_CallMethodOneArg(warnings.get(), name.get(), text.get()));
}

PyObject* panic_exception_type() {
    return panic_type.get([] {
        return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_doc,
                                         PyExc_BaseException, nullptr);
    });
}

void set_error(const ValueError& error) {
    set_message(PyExc_ValueError, error.message());
}

void set_error(const RuntimeError& error) {
    set_message(PyExc_RuntimeError, error.message());
}

void set_error(const Panic& panic) {
    std::fprintf(stderr, "hydrokit: internal check failed at %.*s:%u: %s\n",
                 static_cast<int>(relative_source(panic.where.file_name()).size()),
                 relative_source(panic.where.file_name()).data(), panic.where.line(), panic.what());
    std::fflush(stderr);
    if (PyObject* type = panic_exception_type()) set_message(type, panic.message());
}

void set_unexpected_error(const char* what) {
    set_error(Panic(what));
}

}  // namespace hydrokit::py
