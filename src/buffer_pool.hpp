// The memory of series values and of the large vectors of computations, recycled from one call
// to the next, by any thread.
//
// The kernel hands a fresh multi-megabyte allocation to the program a page at a time, one fault
// per 4 KiB: about 2,000 of them per 10^6 values, several times the cost of routing them. A
// script that builds a long series, routes it and drops both, call after call, would pay those
// faults every time. The C library's heap does not help reliably: it gives large blocks back to
// the kernel at once, or keeps them in per-thread arenas that grow with the number of threads.
//
// So large buffers come straight from the kernel and go back to a small pool when they die; the
// next request of the same size, from whatever thread, takes one from there. Recycling stays
// invisible: a buffer is handed only to a request of its own size (in whole pages), so no value
// holds more memory than it needs, and the pool keeps at most `most_kept_bytes` between calls.
#pragma once

#include <cstddef>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace hydrokit {

// Fewer values than this live in the C library's heap, like any small allocation.
inline constexpr size_t smallest_pooled_values = size_t{1} << 16;
// What the pool may keep idle in the whole process: 128 MiB, what the C library's heaps may
// leave untrimmed for two threads (64 MiB each). Four runs on a pool of two threads, whose three
// 10^6-value outputs each stay alive until the last run ends, take no fresh page: faults taken
// by two threads at once cost several times what they cost one.
inline constexpr size_t most_kept_bytes = size_t{128} << 20;

// The allocator of `Values`. Elements made without a value are left as the memory holds them
// (zeros from the kernel, or what a recycled buffer held): a computation that writes every value
// before reading it saves zeroing megabytes. Ask for zeros explicitly.
struct BufferAllocator {
    using value_type = double;
    template <class U>
    struct rebind {
        using other = BufferAllocator;
    };

    double* allocate(size_t count);
    void deallocate(double* values, size_t count) noexcept;

    template <class U>
    void construct(U* place) {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }

    bool operator==(const BufferAllocator&) const { return true; }
};

// Values of a series, or as many as a series has.
using Values = std::vector<double, BufferAllocator>;

// An empty vector with room for `capacity` values.
Values reserved_values(size_t capacity);

// `count` zeros.
Values zeroed_values(size_t count);

// `count` values of no particular worth, for a computation that writes every one of them
// before reading it.
Values values_to_overwrite(size_t count);

// A copy of `values`, made in blocks between polls for an interrupt.
Values copied_values(std::span<const double> values);

// Moves `values` into a buffer of their size when theirs is larger, as after a reservation for
// a length that was never reached.
void fit_capacity(Values& values);

}  // namespace hydrokit
