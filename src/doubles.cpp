#include "doubles.hpp"

#include <utility>

#include "utils/value_buffers.hpp"

namespace hydrokit::py {

Doubles::Doubles(Doubles&& other) noexcept
    : owned_(std::move(other.owned_)),
      buffer_(std::exchange(other.buffer_, Py_buffer{})),
      values_(buffer_.obj ? other.values_ : std::span<const double>(owned_)) {}

Doubles::~Doubles() {
    if (buffer_.obj) PyBuffer_Release(&buffer_);
    give_back(std::move(owned_));
}

std::optional<Doubles> Doubles::view(PyObject* value) {
    Doubles doubles;
    if (!view_double_buffer(value, doubles.buffer_)) return std::nullopt;
    doubles.values_ = {static_cast<const double*>(doubles.buffer_.buf),
                       static_cast<size_t>(doubles.buffer_.shape[0])};
    return doubles;
}

void Doubles::keep() {
    if (!buffer_.obj) return;
    owned_ = reserved_values(values_.size());
    owned_.assign(values_.begin(), values_.end());
    PyBuffer_Release(&buffer_);
    values_ = owned_;
}

Doubles From<Doubles>::convert(PyObject* value) {
    if (auto viewed = Doubles::view(value)) return std::move(*viewed);
    return Doubles(From<std::vector<double>>::convert(value));
}

}  // namespace hydrokit::py
