// Large buffers of values recycled within a thread.
//
// The kernel hands a fresh multi-megabyte allocation to the program a page at a time, one fault
// per 4 KiB, and the C library returns freed memory to the kernel once enough of it gathers at
// the top of the heap. A script that builds a long series, routes it and drops both, call after
// call, would pay those faults every time: about 4,000 of them per 10^6-value call, several
// times the cost of the routing itself. So series give their buffers back here when they die,
// and conversions and computations take their large vectors from here.
#pragma once

#include <cstddef>
#include <vector>

namespace hydrokit {

// An empty vector with room for at least `capacity` values.
std::vector<double> reserved_values(size_t capacity);

// `count` zeros.
std::vector<double> zeroed_values(size_t count);

// `count` values of no particular worth (zeros, or what a recycled buffer held), for a
// computation that writes every one of them before reading it: saves zeroing megabytes.
std::vector<double> values_to_overwrite(size_t count);

// Keeps the buffer of `values` for a later request when it is large enough to be worth it.
void give_back(std::vector<double>&& values);

}  // namespace hydrokit
