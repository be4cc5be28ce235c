"""Side-by-side timing: every contender of a case runs once per round, in the same process, so
that load from elsewhere on the machine falls on all of them alike; the median over the rounds
is reported, never a single run. The order within a round is shuffled (from a fixed seed, so a
rerun times the same sequence): what ran just before decides whose inputs are in the caches,
and no contender always follows the same neighbour."""

import gc
import random
import statistics
import time

MIN_ROUNDS = 5
MAX_ROUNDS = 31
# Fast cases get more rounds, up to this much time per case, for steadier medians on a machine
# shared with other work.
ROUND_BUDGET_SECONDS = 5.0
# Untimed calls of every contender before the timed rounds, in shuffled rounds as well: numba
# compiles in the first, and each contender's code and inputs have been in the caches alike.
WARM_UP_ROUNDS = 2
SEED = 20261209


def shuffled_rounds(names, rounds, draw):
    """`rounds` orders of `names`, each shuffled by `draw`."""
    for _ in range(rounds):
        order = list(names)
        draw.shuffle(order)
        yield order


def warm_up(calls, seed=SEED):
    """WARM_UP_ROUNDS untimed calls of each, in shuffled order; returns each one's last
    result."""
    results = {}
    for order in shuffled_rounds(calls, WARM_UP_ROUNDS, random.Random(seed)):
        for name in order:
            results[name] = None
            results[name] = calls[name]()
    return results


def median_seconds(calls, collect_between_rounds=True, seed=SEED):
    """Median wall time of every zero-argument call in `calls`, over interleaved rounds, each
    in an order of its own.

    Garbage collection is paused while timing, as timeit does, and a result is released only
    after its timer has stopped; garbage is collected between rounds unless
    `collect_between_rounds` is false, and once at the end. Returns (medians by name, number
    of rounds)."""
    samples = {name: [] for name in calls}
    draw = random.Random(seed)
    started = time.perf_counter()
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        rounds = 0
        while rounds < MIN_ROUNDS or (
            rounds < MAX_ROUNDS and time.perf_counter() - started < ROUND_BUDGET_SECONDS
        ):
            [order] = shuffled_rounds(calls, 1, draw)
            for name in order:
                call = calls[name]
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
