#include "unlocked.hpp"

#include <chrono>

#include "interrupt.hpp"

namespace hydrokit::py {

namespace {

using Clock = std::chrono::steady_clock;

// Taking the lock back may wait a whole switch interval (5 ms) while another thread holds it,
// so an unlocked computation polls at most this often: well inside the half second in which
// Ctrl-C must end a call.
constexpr auto unlocked_poll_interval = std::chrono::milliseconds(50);

// Only this thread runs signal handlers; elsewhere an unlocked computation never polls.
unsigned long main_thread = 0;

// This thread's state while it runs without the lock, null while it holds it.
thread_local PyThreadState* released_state = nullptr;
thread_local Clock::time_point last_unlocked_poll;

bool signal_raised() {
    if (released_state == nullptr) return PyErr_CheckSignals() != 0;
    if (PyThread_get_thread_ident() != main_thread) return false;
    const Clock::time_point now = Clock::now();
    if (now - last_unlocked_poll < unlocked_poll_interval) return false;
    PyEval_RestoreThread(released_state);
    // A raised exception stays set in the thread state while the lock is released again.
    const bool raised = PyErr_CheckSignals() != 0;
    released_state = PyEval_SaveThread();
    last_unlocked_poll = Clock::now();
    return raised;
}

}  // namespace

LockReleased::LockReleased() {
    last_unlocked_poll = Clock::now();
    released_state = PyEval_SaveThread();
}

LockReleased::~LockReleased() {
    PyThreadState* state = released_state;
    released_state = nullptr;
    PyEval_RestoreThread(state);
}

void install_interrupt_poll() {
    Ref threading = Ref::steal(PyImport_ImportModule("threading"));
    Ref main = Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
    Ref ident = Ref::steal(PyObject_GetAttrString(main.get(), "ident"));
    main_thread = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) throw PythonError{};
    interrupt_poll.store(signal_raised, std::memory_order_relaxed);
}

}  // namespace hydrokit::py
