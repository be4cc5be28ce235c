// Failures raised by the numerical core. The frame turns each into the matching Python
// exception in one place; the core itself never sees the interpreter.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <utility>

namespace hydrokit {

// A failure with its message. The message is kept with its length: it may quote a caller's
// text, embedded NUL characters included.
class Failure : public std::exception {
  public:
    explicit Failure(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

  private:
    std::string message_;
};

// A documented failure of a computation or of input validation.
struct ValueError : Failure {
    using Failure::Failure;
};

// A failure that is neither bad input nor a broken invariant (an outlet asked for a
// time-dependent release without the elapsed time).
struct RuntimeError : Failure {
    using Failure::Failure;
};

// A broken internal precondition. It carries where it was detected so that the report on
// standard error points at the check that failed.
struct Panic : Failure {
    explicit Panic(std::string message,
                   std::source_location where = std::source_location::current())
        : Failure(std::move(message)), where(where) {}
    std::source_location where;
};

}  // namespace hydrokit
