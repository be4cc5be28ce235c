// How failures reach Python: the single translation point `guarded`, the argument-type error,
// the type-mismatch message, PanicException and warnings.
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "error.hpp"
#include "interrupt.hpp"
#include "ref.hpp"

namespace hydrokit::py {

// Whether the pending error is an ordinary Exception, one that a conversion may answer for. A
// KeyboardInterrupt, a MemoryError or any BaseException that is not an Exception keeps unwinding
// whatever the conversion was doing.
bool ordinary_error_pending();

// Sets `exception_type` with the UTF-8 `message` as its only argument.
void set_message(PyObject* exception_type, std::string_view message);

// Sets TypeError (or another exception type) with `message` and unwinds.
[[noreturn]] void raise(PyObject* exception_type, const std::string& message);

// "'<qualname>' object is not an instance of '<expected>'" ("'None' is not ..." for None).
[[noreturn]] void raise_type_mismatch(PyObject* value, std::string_view expected);

// When the pending exception is exactly TypeError, replaces it by
// "argument '<name>': <message>", keeping the original's cause. Other exceptions stay.
void name_argument_in_type_error(const char* name);

// `warnings.warn(message)`, looked up at the moment of the call.
void warn(const char* message);

// The process-wide PanicException class (a BaseException), created on first use.
PyObject* panic_exception_type();

// Sets the pending Python exception for a failure of the core.
void set_error(const ValueError& error);
void set_error(const RuntimeError& error);
void set_error(const Panic& panic);
void set_unexpected_error(const char* what);

// Runs one binding body and converts every failure into a set Python exception and the error
// return of the slot: null for objects, -1 for status codes. No C++ exception crosses into the
// interpreter.
template <class Body>
auto guarded(Body&& body) noexcept {
    using Result = decltype(body());
    constexpr bool returns_object = std::is_same_v<Result, Ref>;
    using Return = std::conditional_t<returns_object, PyObject*, Result>;
    const Return failed = [] {
        if constexpr (returns_object) {
            return static_cast<PyObject*>(nullptr);
        } else {
            return Return(-1);
        }
    }();
    try {
        if constexpr (returns_object) {
            return body().release();
        } else {
            return body();
        }
    } catch (const PythonError&) {
    } catch (const Interrupted&) {
        // The signal handler's exception is already set.
    } catch (const ValueError& error) {
        set_error(error);
    } catch (const RuntimeError& error) {
        set_error(error);
    } catch (const Panic& panic) {
        set_error(panic);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        // A container asked for more elements than it can address: a size driven by input.
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        set_unexpected_error(error.what());
    }
    return failed;
}

}  // namespace hydrokit::py
