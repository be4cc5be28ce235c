#include "doubles_argument.hpp"

#include <utility>

#include "buffer_pool.hpp"

namespace hydrokit::py {

DoublesArgument::DoublesArgument(DoublesArgument&& other) noexcept
    : owned_(std::move(other.owned_)),
      buffer_(std::move(other.buffer_)),
      values_(buffer_.view.obj ? other.values_ : std::span<const double>(owned_)) {}

std::optional<DoublesArgument> DoublesArgument::view(PyObject* value) {
    // A list or a tuple is told apart before anything is made for a view.
    Py_buffer view;
    if (!view_double_buffer(value, view)) return std::nullopt;
    std::optional<DoublesArgument> doubles{DoublesArgument()};
    doubles->buffer_.view = view;
    doubles->values_ = doubles->buffer_.values();
    return doubles;
}

void DoublesArgument::keep() {
    if (!buffer_.view.obj) return;
    // The view stays held until the copy is whole: an interrupted copy releases it with the rest.
    owned_ = copied_values(values_);
    PyBuffer_Release(&buffer_.view);
    values_ = owned_;
}

// Made in the object returned: a view moved out of another object would copy its buffer's
// description twice more on every call.
DoublesArgument DoublesArgument::of(PyObject* value) {
    DoublesArgument doubles;
    if (view_double_buffer(value, doubles.buffer_.view)) {
        doubles.values_ = doubles.buffer_.values();
    } else {
        doubles.owned_ = From<Values>::convert(value);
        doubles.values_ = doubles.owned_;
    }
    return doubles;
}

DoublesArgument From<DoublesArgument>::convert(PyObject* value) {
    return DoublesArgument::of(value);
}

}  // namespace hydrokit::py
