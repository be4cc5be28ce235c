// A sequence argument read as doubles, in place when that cannot be told apart from a copy.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "conversions.hpp"

namespace hydrokit::py {

// The doubles of a sequence argument: viewed in place when the value is an exact float64 array
// (numpy array, array.array, memoryview), otherwise copied by the sequence rule. A view equals
// the copy only while no Python code runs, so a binding calls `keep()` before any conversion
// that may run Python code.
class DoublesArgument {
  public:
    explicit DoublesArgument(Values values) : owned_(std::move(values)), values_(owned_) {}
    DoublesArgument(DoublesArgument&& other) noexcept;
    DoublesArgument& operator=(DoublesArgument&&) = delete;

    // The value's buffer, viewed without running Python code, or nothing when it is not a
    // one-dimensional C-contiguous array of native doubles of an exact array type.
    static std::optional<DoublesArgument> view(PyObject* value);
    // The value's doubles: viewed where `view` can, otherwise copied by the sequence rule.
    static DoublesArgument of(PyObject* value);

    std::span<const double> values() const { return values_; }
    // Turns a view into a private copy.
    void keep();

  private:
    DoublesArgument() = default;
    Values owned_;
    HeldBuffer buffer_;
    std::span<const double> values_;
};

template <>
struct From<DoublesArgument> {
    static DoublesArgument convert(PyObject* value);
};

}  // namespace hydrokit::py
