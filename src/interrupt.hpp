// Stopping a long computation when the caller asks for it (Ctrl-C). The core polls at a
// coarse interval; the frame installs the poll. Without one nothing is ever interrupted.
#pragma once

#include <atomic>
#include <cstddef>

#include "error.hpp"

namespace hydrokit {

// The computation was stopped by the poll. Whoever asked for the stop has already recorded
// why, so this failure carries nothing of its own.
struct Interrupted : Failure {
    Interrupted() : Failure("interrupted") {}
};

// Returns true when the running computation must stop.
using InterruptPoll = bool (*)();

inline std::atomic<InterruptPoll> interrupt_poll{nullptr};

// Throws Interrupted when the installed poll asks for a stop.
inline void check_interrupt() {
    const InterruptPoll poll = interrupt_poll.load(std::memory_order_relaxed);
    if (poll != nullptr && poll()) throw Interrupted();
}

// Units of work (values times passes, sub-steps) between two polls: well under a
// millisecond at a few nanoseconds per unit, rare enough to cost nothing measurable.
inline constexpr size_t interrupt_interval = size_t{1} << 18;

// Counts the work of a loop and polls once per `interrupt_interval` units of it.
class InterruptCountdown {
  public:
    void add(size_t work) {
        if (work < remaining_) {
            remaining_ -= work;
            return;
        }
        remaining_ = interrupt_interval;
        check_interrupt();
    }

  private:
    size_t remaining_ = interrupt_interval;
};

// Runs `body(begin, end)` over [0, count) in blocks of at most `block` items (at least one),
// polling between blocks. The caller has just come from the interpreter, which ran any pending
// handler, so a loop of one block ends before a poll could matter, and pays none.
template <class Body>
void in_blocks(size_t count, size_t block, Body&& body) {
    for (size_t begin = 0; begin < count;) {
        if (begin > 0) check_interrupt();
        const size_t end = count - begin > block ? begin + block : count;
        body(begin, end);
        begin = end;
    }
}

}  // namespace hydrokit
