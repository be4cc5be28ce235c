#include "unlocked.hpp"

#include <atomic>
#include <chrono>

#include "interrupt.hpp"

#if __has_include(<pthread.h>)
#include <pthread.h>
#define HYDROKIT_HAS_PTHREAD_ATFORK 1
#endif

namespace hydrokit::py {

namespace {

using Clock = std::chrono::steady_clock;

// Taking the lock back may wait a whole switch interval (5 ms) while another thread holds it,
// so an unlocked computation polls at most this often: well inside the half second in which
// Ctrl-C must end a call.
constexpr auto unlocked_poll_interval = std::chrono::milliseconds(50);

// Only this thread runs signal handlers; elsewhere an unlocked computation never polls. Read
// by unlocked computations on any thread while a module's initialisation or a fork writes it.
std::atomic<unsigned long> main_thread{0};

// This thread's state while it runs without the lock, null while it holds it (also for the
// length of a poll, whose handlers and finalizers may call this library again).
thread_local PyThreadState* released_state = nullptr;
thread_local Clock::time_point last_unlocked_poll;

bool signal_raised() {
    if (released_state == nullptr) return PyErr_CheckSignals() != 0;
    if (PyThread_get_thread_ident() != main_thread.load(std::memory_order_relaxed)) return false;
    const Clock::time_point now = Clock::now();
    if (now - last_unlocked_poll < unlocked_poll_interval) return false;
    PyThreadState* state = released_state;
    released_state = nullptr;
    PyEval_RestoreThread(state);
    // A raised exception stays set in the thread state while the lock is released again.
    const bool raised = PyErr_CheckSignals() != 0;
    released_state = PyEval_SaveThread();
    last_unlocked_poll = Clock::now();
    return raised;
}

#if HYDROKIT_HAS_PTHREAD_ATFORK
// In a child, the thread that forked is the only one left, and the interpreter makes it the
// one that runs signal handlers.
void after_fork_in_child() {
    main_thread.store(PyThread_get_thread_ident(), std::memory_order_relaxed);
}
#endif

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
    const unsigned long main_ident = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) throw PythonError{};
    main_thread.store(main_ident, std::memory_order_relaxed);
#if HYDROKIT_HAS_PTHREAD_ATFORK
    // A flag rather than std::call_once, whose pthread_once would ask for glibc 2.34.
    static std::atomic<bool> fork_handler_registered{false};
    if (!fork_handler_registered.exchange(true)) {
        pthread_atfork(nullptr, nullptr, after_fork_in_child);
    }
#endif
    interrupt_poll.store(signal_raised, std::memory_order_relaxed);
}

}  // namespace hydrokit::py
