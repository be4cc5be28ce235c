// Matching a call's arguments to a fixed list of positional-or-keyword parameters, and
// converting each one with the parameter's name in its type error.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>

#include "conversions.hpp"
#include "exceptions.hpp"

namespace hydrokit::py {

// Matches arguments to `names` (the first `required` of them are required) or raises the
// interpreter-style TypeError labelled with `label` ("run_clark_uh()",
// "ElevationStorage.__new__()"). `values` receives borrowed references, null where absent. The
// caller of a vectorcall holds its arguments until the call returns; the keywords of a
// constructor live in a dict that Python code may empty meanwhile, so `match_tuple` also takes
// a reference of the call's own to every value, into `holds`.
void match_vectorcall(const char* label, std::span<const char* const> names, size_t required,
                      PyObject* const* args, size_t nargsf, PyObject* kwnames,
                      std::span<PyObject*> values);
void match_tuple(const char* label, std::span<const char* const> names, size_t required,
                 PyObject* args, PyObject* kwargs, std::span<PyObject*> values,
                 std::span<Ref> holds);

// The matched arguments of one call. Conversions go through `get`, which names the parameter
// in a conversion's TypeError.
template <size_t N>
class Arguments {
  public:
    // `holds` keeps the values alive where their caller may not (a constructor's keywords),
    // instances being read where they live.
    Arguments(const std::array<const char*, N>& names, const std::array<PyObject*, N>& values,
              std::array<Ref, N> holds = {})
        : names_(names), values_(values), holds_(std::move(holds)) {}

    // Instances of the module's classes come back as references to their values, valid for
    // the call; everything else as a converted value.
    template <class T>
    decltype(auto) get(size_t index) const {
        return convert<T>(index, values_[index]);
    }

    // The object passed for a parameter (borrowed), null when absent.
    PyObject* value(size_t index) const { return values_[index]; }

    // A parameter whose default is not None: the default applies only when nothing was passed.
    template <class T>
    T get_or(size_t index, T fallback) const {
        return values_[index] ? get<T>(index) : fallback;
    }

    // A parameter whose default is None: absent and None both give no value.
    template <class T>
    std::optional<T> get_optional(size_t index) const {
        PyObject* value = values_[index];
        if (value == nullptr || value == Py_None) return std::nullopt;
        return get<T>(index);
    }

  private:
    template <class T>
    decltype(auto) convert(size_t index, PyObject* value) const {
        try {
            return From<T>::convert(value);
        } catch (const PythonError&) {
            name_argument_in_type_error(names_[index]);
            throw;
        }
    }

    const std::array<const char*, N>& names_;
    std::array<PyObject*, N> values_;
    std::array<Ref, N> holds_;
};

// The parameter list of one callable, declared once next to its binding.
template <size_t N>
struct Signature {
    const char* label;
    size_t required;
    std::array<const char*, N> names;

    // The arguments of a METH_FASTCALL | METH_KEYWORDS call.
    Arguments<N> bind(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) const {
        std::array<PyObject*, N> values{};
        const size_t positional = static_cast<size_t>(PyVectorcall_NARGS(nargsf));
        // Every required parameter given by position, as calls in a loop mostly are: nothing to
        // match and nothing missing.
        if (kwnames == nullptr && positional >= required && positional <= N) {
            std::copy_n(args, positional, values.begin());
        } else {
            match_vectorcall(label, names, required, args, static_cast<size_t>(nargsf), kwnames,
                             values);
        }
        return Arguments<N>(names, values);
    }
    // The arguments of a constructor (tp_new).
    Arguments<N> bind(PyObject* args, PyObject* kwargs) const {
        std::array<PyObject*, N> values{};
        std::array<Ref, N> holds;
        match_tuple(label, names, required, args, kwargs, values, holds);
        return Arguments<N>(names, values, std::move(holds));
    }
};

template <class... Names>
constexpr Signature<sizeof...(Names)> signature(const char* label, size_t required,
                                                Names... names) {
    return {label, required, {names...}};
}

}  // namespace hydrokit::py
