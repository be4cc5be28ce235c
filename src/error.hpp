// Failures raised by the numerical core. The frame turns each into the matching Python
// exception in one place; the core itself never sees the interpreter.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

namespace hydrokit {

// A documented failure of a computation or of input validation.
struct ValueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failure that is neither bad input nor a broken invariant (an outlet asked for a
// time-dependent release without the elapsed time).
struct RuntimeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A broken internal precondition. It carries where it was detected so that the report on
// standard error points at the check that failed.
struct Panic : std::runtime_error {
    explicit Panic(const std::string& message,
                   std::source_location where = std::source_location::current())
        : std::runtime_error(message), where(where) {}
    std::source_location where;
};

}  // namespace hydrokit
