#include "arguments.hpp"

#include <string>

#include "critical_section.hpp"

namespace hydrokit::py {

namespace {

std::string quoted_list(const std::vector<const char*>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        text += "'" + std::string(names[i]) + "'";
    }
    return text;
}

void check_positional_count(const char* label, size_t parameters, size_t required, size_t given) {
    if (given <= parameters) return;
    std::string takes = required == parameters ? std::to_string(parameters)
                                               : "from " + std::to_string(required) + " to " +
                                                     std::to_string(parameters);
    raise(PyExc_TypeError, std::string(label) + " takes " + takes + " positional arguments but " +
                               std::to_string(given) + " " + (given == 1 ? "was" : "were") +
                               " given");
}

void place_keyword(const char* label, std::span<const char* const> names, PyObject* keyword,
                   PyObject* value, std::span<PyObject*> values) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (!PyUnicode_EqualToUTF8(keyword, names[i])) continue;
        if (values[i] != nullptr) {
            raise(PyExc_TypeError,
                  std::string(label) + " got multiple values for argument '" + names[i] + "'");
        }
        values[i] = value;
        return;
    }
    // %U shows the keyword exactly as given, even with a NUL or a lone surrogate in it.
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", label, keyword);
    throw PythonError{};
}

void check_required(const char* label, std::span<const char* const> names, size_t required,
                    std::span<PyObject*> values) {
    std::vector<const char*> missing;
    for (size_t i = 0; i < required; ++i) {
        if (values[i] == nullptr) missing.push_back(names[i]);
    }
    if (missing.empty()) return;
    raise(PyExc_TypeError, std::string(label) + " missing " + std::to_string(missing.size()) +
                               " required positional argument" + (missing.size() == 1 ? "" : "s") +
                               ": " + quoted_list(missing));
}

}  // namespace

void match_vectorcall(const char* label, std::span<const char* const> names, size_t required,
                      PyObject* const* args, size_t nargsf, PyObject* kwnames,
                      std::span<PyObject*> values) {
    const size_t positional = static_cast<size_t>(PyVectorcall_NARGS(nargsf));
    check_positional_count(label, names.size(), required, positional);
    for (size_t i = 0; i < positional; ++i) values[i] = args[i];
    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        place_keyword(label, names, PyTuple_GET_ITEM(kwnames, k), args[positional + k], values);
    }
    check_required(label, names, required, values);
}

void match_tuple(const char* label, std::span<const char* const> names, size_t required,
                 PyObject* args, PyObject* kwargs, std::span<PyObject*> values,
                 std::span<Ref> holds) {
    // The values lent by the dict are held before another thread may take them out of it.
    const CriticalSection section(kwargs);
    // The interpreter checks keyword types for function calls but not for constructors.
    if (kwargs != nullptr && !PyArg_ValidateKeywordArguments(kwargs)) throw PythonError{};
    const size_t positional = static_cast<size_t>(PyTuple_GET_SIZE(args));
    check_positional_count(label, names.size(), required, positional);
    for (size_t i = 0; i < positional; ++i) values[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* keyword;
        PyObject* value;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            place_keyword(label, names, keyword, value, values);
        }
    }
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i]) holds[i] = Ref::borrow(values[i]);
    }
    check_required(label, names, required, values);
}

}  // namespace hydrokit::py
