// Python values to internal values (`From<T>::convert`) and back (`to_python`). A failed
// conversion sets the Python exception and throws PythonError.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "buffer_pool.hpp"
#include "critical_section.hpp"
#include "exceptions.hpp"
#include "utils/duration.hpp"
#include "utils/named_map.hpp"

namespace hydrokit::py {

template <class T>
struct From;

template <>
struct From<double> {
    static double convert(PyObject* value);
};

// Fills `view` with the buffer of an exact numpy array, array.array or memoryview holding a
// one-dimensional, C-contiguous run of native doubles at an address aligned for them, whose
// items are exactly those doubles.
// Returns false, with no view to release, for anything else; runs no Python code.
bool view_double_buffer(PyObject* value, Py_buffer& view);

// A buffer view released when it goes out of scope, if one was taken.
struct HeldBuffer {
    Py_buffer view{};
    HeldBuffer() = default;
    HeldBuffer(HeldBuffer&& other) noexcept : view(std::exchange(other.view, Py_buffer{})) {}
    HeldBuffer& operator=(HeldBuffer&&) = delete;
    ~HeldBuffer() {
        if (view.obj) PyBuffer_Release(&view);
    }
    std::span<const double> values() const {
        return {static_cast<const double*>(view.buf), static_cast<size_t>(view.shape[0])};
    }
};

// The sequence rule: any sequence but `str`, every item converted as a double.
template <>
struct From<Values> {
    static Values convert(PyObject* value);
};

template <>
struct From<uint64_t> {
    static uint64_t convert(PyObject* value);
};

template <>
struct From<int64_t> {
    static int64_t convert(PyObject* value);
};

template <>
struct From<int32_t> {
    static int32_t convert(PyObject* value);
};

// True and False, or numpy's boolean scalar through its truth value; never an int or None.
template <>
struct From<bool> {
    static bool convert(PyObject* value);
};

template <>
struct From<std::string> {
    static std::string convert(PyObject* value);
};

// A `datetime.timedelta` whose type has been checked. Its sign is checked later, when an
// entry point asks for the duration, because entry points do the two at different moments.
struct Timedelta {
    int days = 0;
    int seconds = 0;
    int microseconds = 0;

    // Fails with ValueError for a negative timedelta.
    Duration duration() const;
};

template <>
struct From<Timedelta> {
    static Timedelta convert(PyObject* value);
};

// Instances of the module's classes: `PythonClass<T>` (classes.hpp) names the class.
template <class T>
struct PythonClass;

template <class T>
    requires requires { PythonClass<T>::type(); }
struct From<T> {
    // Whether `convert` takes `value`, told without raising when it does not.
    static bool accepts(PyObject* value) {
        PyTypeObject* type = PythonClass<T>::type();
        if (type == nullptr) throw PythonError{};
        return PyObject_TypeCheck(value, type);
    }
    // The instance's own value, valid while the caller holds the instance (or a copy, for a
    // class whose instances Python may change).
    static decltype(auto) convert(PyObject* value) {
        if (!accepts(value)) raise_type_mismatch(value, PythonClass<T>::name);
        return PythonClass<T>::value(value);
    }
};

// The address of an instance's value, read where it lives; the caller keeps the instance alive
// for as long as it uses the address.
template <class T>
    requires requires { PythonClass<T>::type(); }
struct From<const T*> {
    static bool accepts(PyObject* value) { return From<T>::accepts(value); }
    static const T* convert(PyObject* value) { return &From<T>::convert(value); }
};

// A value read where it lives inside a Python object, with a reference to that object taken
// before the value's address: whatever Python code runs later (a subclass's `keys()`, a signal
// handler emptying the caller's container), the object outlives the call's last read.
template <class T>
struct Held {
    Ref owner;
    T value;
};

template <class T>
struct From<Held<T>> {
    static Held<T> convert(PyObject* value) {
        Ref owner = Ref::borrow(value);
        return {std::move(owner), From<T>::convert(value)};
    }
};

// Requires `value` to be a `dict` (or subclass).
void check_dict(PyObject* value);
// Requires a `str` key and returns its UTF-8 text.
std::string dict_key(PyObject* key);

// Gives every name of `entries` one entry, in the place where it first appears, holding the
// value of its last appearance.
template <class T>
void merge_repeated_names(NamedMap<T>& entries) {
    std::unordered_map<std::string, size_t> position_of;
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        auto [found, inserted] = position_of.try_emplace(entries[i].first, kept);
        if (!inserted) {
            entries[found->second].second = std::move(entries[i].second);
            continue;
        }
        if (kept != i) entries[kept] = std::move(entries[i]);
        ++kept;
    }
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
}

// A `dict` with `str` keys, read in the dict's order. Names are unique: two keys with the same
// text (possible with `str` subclasses that hash differently) are one entry, the later value
// replacing the earlier in the earlier's place, so what is computed is what is returned.
template <class T>
struct From<NamedMap<T>> {
    static NamedMap<T> convert(PyObject* value) {
        check_dict(value);
        // The walk has the dict to itself, and every key and value lent by it is held at once:
        // should the walk be let go of meanwhile, another thread's change cannot free them.
        const CriticalSection section(value);
        NamedMap<T> entries;
        entries.reserve(static_cast<size_t>(PyDict_GET_SIZE(value)));
        // Keys of the exact `str` type differ in their text, as the keys of a dict differ.
        bool only_exact_keys = true;
        Py_ssize_t position = 0;
        PyObject* lent_key;
        PyObject* lent_item;
        while (PyDict_Next(value, &position, &lent_key, &lent_item)) {
            const Ref key = Ref::borrow(lent_key);
            const Ref item = Ref::borrow(lent_item);
            only_exact_keys = only_exact_keys && PyUnicode_CheckExact(key.get());
            std::string name = dict_key(key.get());
            entries.emplace_back(std::move(name), From<T>::convert(item.get()));
        }
        if (!only_exact_keys) merge_repeated_names(entries);
        return entries;
    }
};

// Names for the error of a union conversion: `UnionNames<V>::name` and `::kinds`, one kind per
// alternative of the variant in order.
template <class Variant>
struct UnionNames;

// The union rule: the first alternative whose conversion succeeds wins; when none does,
// the TypeError lists every alternative with the reason it was refused.
std::string union_attempt_text(std::string_view union_name, std::string_view kind);
[[noreturn]] void raise_union_mismatch(std::string_view union_name,
                                       std::span<const std::string_view> kinds,
                                       const std::vector<std::string>& reasons);

template <class... Kinds>
struct From<std::variant<Kinds...>> {
    using Union = std::variant<Kinds...>;

    static Union convert(PyObject* value) {
        if constexpr ((quickly_told<Kinds> && ...)) {
            // Every alternative tells without raising whether it takes the value: the first
            // that does wins, as below, without first writing out why each before it refused.
            std::optional<Union> result;
            if ((take_if_accepted<Kinds>(value, result) || ...) && result) {
                return std::move(*result);
            }
        }
        constexpr auto& kinds = UnionNames<Union>::kinds;
        std::vector<std::string> reasons;
        std::optional<Union> result;
        size_t index = 0;
        (try_kind<Kinds>(value, kinds[index++], result, reasons) || ...);
        if (!result) raise_union_mismatch(UnionNames<Union>::name, kinds, reasons);
        return std::move(*result);
    }

  private:
    template <class Kind>
    static constexpr bool quickly_told = requires(PyObject* value) {
        { From<Kind>::accepts(value) } -> std::same_as<bool>;
    };

    // A refusal after the type test (an instance its constructor never initialised) is left
    // for the full attempt, which writes it out among the others.
    template <class Kind>
    static bool take_if_accepted(PyObject* value, std::optional<Union>& result) {
        if (!From<Kind>::accepts(value)) return false;
        try {
            result.emplace(std::in_place_type<Kind>, From<Kind>::convert(value));
        } catch (const PythonError&) {
            if (!ordinary_error_pending()) throw;
            PyErr_Clear();
        }
        return true;
    }

    template <class Kind>
    static bool try_kind(PyObject* value, std::string_view kind, std::optional<Union>& result,
                         std::vector<std::string>& reasons) {
        try {
            result.emplace(std::in_place_type<Kind>, From<Kind>::convert(value));
            return true;
        } catch (const PythonError&) {
            if (!ordinary_error_pending()) throw;
            reasons.push_back(union_attempt_text(UnionNames<Union>::name, kind));
            return false;
        }
    }
};

Ref to_python(double value);
Ref to_python(std::optional<double> value);
Ref to_python(int64_t value);
Ref to_python(uint64_t value);
Ref to_python(const Values& values);
Ref to_python(std::string_view text);
// A `datetime.timedelta` of whole seconds, normalised to days and seconds.
Ref timedelta_from_seconds(int64_t seconds);

template <class T>
    requires requires { PythonClass<T>::type(); }
Ref to_python(T value) {
    return PythonClass<T>::wrap(PythonClass<T>::type(), std::move(value));
}

// A new `dict` in the map's order, its values copied.
template <class T>
Ref to_python(const NamedMap<T>& entries) {
    Ref dict = Ref::steal(PyDict_New());
    for (const auto& [name, value] : entries) {
        Ref key = to_python(std::string_view(name));
        Ref item = to_python(value);
        check(PyDict_SetItem(dict.get(), key.get(), item.get()));
    }
    return dict;
}

// A new `dict` in the map's order, the values moved out of the map, each key made by
// `key_for(name)`.
template <class T, class KeyFor>
Ref dict_moved_from(NamedMap<T>&& entries, KeyFor key_for) {
    Ref dict = Ref::steal(PyDict_New());
    for (auto& [name, value] : entries) {
        Ref key = key_for(std::string_view(name));
        Ref item = to_python(std::move(value));
        check(PyDict_SetItem(dict.get(), key.get(), item.get()));
    }
    return dict;
}

// A new `dict` in the map's order, the values moved out of the map.
template <class T>
Ref to_python(NamedMap<T>&& entries) {
    return dict_moved_from(std::move(entries),
                           [](std::string_view name) { return to_python(name); });
}

// The key for `name` in a dict made from `names_of`, whose keys the next entry's name was read
// from: the caller's own key, met at `position` in `names_of`, when it is an exact `str` of the
// same text (nothing made or hashed again); otherwise a new `str`.
Ref key_named(PyObject* names_of, Py_ssize_t& position, std::string_view name);

// As `to_python(NamedMap<T>&&)`, keyed as `names_of` is where it can be.
template <class T>
Ref to_python(NamedMap<T>&& entries, PyObject* names_of) {
    const CriticalSection section(names_of);
    Py_ssize_t position = 0;
    return dict_moved_from(std::move(entries), [&](std::string_view name) {
        return key_named(names_of, position, name);
    });
}

}  // namespace hydrokit::py
