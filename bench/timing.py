"""Side-by-side timing: every contender of a case runs once per round, in the same process, so
that load from elsewhere on the machine falls on all of them alike; the median over the rounds
is reported, never a single run."""

import gc
import statistics
import time

MIN_ROUNDS = 5
MAX_ROUNDS = 31
# Fast cases get more rounds, up to this much time per case, for steadier medians on a machine
# shared with other work.
ROUND_BUDGET_SECONDS = 5.0


def warm_up(calls):
    """One untimed call each (this is where numba compiles); returns their results."""
    return {name: call() for name, call in calls.items()}


def median_seconds(calls, collect_between_rounds=True):
    """Median wall time of every zero-argument call in `calls`, over interleaved rounds.

    Garbage collection is paused while timing, as timeit does, and a result is released only
    after its timer has stopped; garbage is collected between rounds unless
    `collect_between_rounds` is false, and once at the end. Returns (medians by name, number
    of rounds)."""
    samples = {name: [] for name in calls}
    started = time.perf_counter()
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        rounds = 0
        while rounds < MIN_ROUNDS or (
            rounds < MAX_ROUNDS and time.perf_counter() - started < ROUND_BUDGET_SECONDS
        ):
            for name, call in calls.items():
                begin = time.perf_counter()
                result = call()
                samples[name].append(time.perf_counter() - begin)
                del result
            rounds += 1
            if collect_between_rounds:
                gc.collect()
    finally:
        gc.collect()
        if gc_was_enabled:
            gc.enable()
    return {name: statistics.median(times) for name, times in samples.items()}, rounds
