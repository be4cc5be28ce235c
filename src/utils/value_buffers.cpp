#include "utils/value_buffers.hpp"

#include <algorithm>

namespace hydrokit {

namespace {

// Below this many values the C library keeps freed memory in its heap anyway.
constexpr size_t smallest_kept = size_t{1} << 16;
// What one thread may hold on to between calls: a few series of a few million values.
constexpr size_t most_buffers = 4;
constexpr size_t most_values = size_t{32} << 20;

struct Pool {
    std::vector<std::vector<double>> buffers;
    size_t values = 0;
};

thread_local Pool pool;

// The smallest kept buffer that holds `capacity` values, taken out of the pool with the values
// it held.
std::vector<double> take(size_t capacity) {
    auto best = pool.buffers.end();
    for (auto it = pool.buffers.begin(); it != pool.buffers.end(); ++it) {
        if (it->capacity() >= capacity &&
            (best == pool.buffers.end() || it->capacity() < best->capacity())) {
            best = it;
        }
    }
    std::vector<double> values;
    if (best != pool.buffers.end()) {
        values = std::move(*best);
        pool.buffers.erase(best);
        pool.values -= values.capacity();
    }
    return values;
}

}  // namespace

std::vector<double> reserved_values(size_t capacity) {
    std::vector<double> values;
    if (capacity >= smallest_kept) values = take(capacity);
    values.clear();
    values.reserve(capacity);
    return values;
}

std::vector<double> zeroed_values(size_t count) {
    std::vector<double> values = reserved_values(count);
    values.resize(count);
    return values;
}

std::vector<double> values_to_overwrite(size_t count) {
    std::vector<double> values;
    if (count >= smallest_kept) values = take(count);
    // Only values beyond what the recycled buffer held are set, to zero.
    values.resize(count);
    return values;
}

void give_back(std::vector<double>&& values) {
    const size_t capacity = values.capacity();
    if (capacity < smallest_kept || capacity > most_values) return;
    pool.buffers.push_back(std::move(values));
    pool.values += capacity;
    // The smallest buffers go first: the large ones save the most faults.
    while (pool.buffers.size() > most_buffers || pool.values > most_values) {
        auto smallest = std::min_element(
            pool.buffers.begin(), pool.buffers.end(),
            [](const auto& a, const auto& b) { return a.capacity() < b.capacity(); });
        pool.values -= smallest->capacity();
        pool.buffers.erase(smallest);
    }
}

}  // namespace hydrokit
