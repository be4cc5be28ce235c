// Long computations run without the interpreter lock, so that other Python threads (a thread
// pool, a Dask worker, a progress bar) go on meanwhile and every core can be used.
//
// What runs unlocked touches no Python object: the core reads private copies, immutable
// instances the call holds, or buffers whose exporter it holds, and writes only its own
// results. The lock is taken back to poll for signals, and when the computation ends, to
// build the results. A free-threaded interpreter has no lock: there the same calls detach the
// thread from it, so that a collection, which waits for every attached thread, goes on.
#pragma once

#include <cstdint>

#include "ref.hpp"

namespace hydrokit::py {

// Units of work (values times passes or sub-steps) below which a call keeps the lock. Releasing
// and retaking it costs about a tenth of a microsecond alone and a switch interval when another
// thread wants it; 2^14 units take tens of microseconds, so what a call of a few hundred values
// saves by keeping the lock is more than what it could lend another thread.
inline constexpr uint64_t least_unlocked_work = uint64_t{1} << 14;

// `a * b`, or the largest count when the product does not fit.
constexpr uint64_t work_of(uint64_t a, uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

// A count of work given as a floating-point number (seconds over a time step), saturated.
constexpr uint64_t work_count(double units) {
    return units < 0x1p63 ? (units > 0 ? static_cast<uint64_t>(units) : 0) : UINT64_MAX;
}

// Holds the interpreter lock released for its lifetime.
class LockReleased {
  public:
    LockReleased();
    ~LockReleased();
    LockReleased(const LockReleased&) = delete;
    LockReleased& operator=(const LockReleased&) = delete;
};

// Runs `compute()` without the lock when `work` reaches `least_unlocked_work`; its result is
// built before the lock is taken back.
template <class Compute>
decltype(auto) unlocked(uint64_t work, Compute&& compute) {
    if (work < least_unlocked_work) return compute();
    const LockReleased released;
    return compute();
}

// Lets long computations of the core stop when a signal handler raises: PyErr_CheckSignals
// under the lock, and from the main thread only, every `unlocked_poll_interval`, when unlocked.
void install_interrupt_poll();

}  // namespace hydrokit::py
