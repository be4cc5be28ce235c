"""The threads section: do long calls let a pool of threads use both cores, and does another
Python thread keep running while a long call runs?

`make bench` adds its tables to bench/RESULTS.md; `python bench/threads.py` runs this section
alone and prints them."""

import hashlib
import os
import statistics
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import report
import thread_cases
from case import compare
from inputs import generator
from timing import median_seconds, warm_up

CALLS = 4
WORKERS = 2
# A full collection between rounds keeps one core busy for about 50 ms right before a burst;
# after such a spell this virtual machine's scheduler often wakes both workers on that core and
# leaves the other idle for several milliseconds, whoever's call it is. No user's pool collects
# before every batch, so the section times its rounds back to back; REFERENCE measures how
# much of the scaling the machine itself gives a lock-releasing call of the standard library.
REFERENCE_BYTES = 4 << 20
# How long each thread calls back to back for the steady ratio.
STEADY_SECONDS = 0.5
# Another thread's progress: repeats, a Muskingum call long enough (about 0.15 s) that handing
# the lock over at its start and end hardly counts, and the least share of its solo rate.
PROGRESS_REPEATS = 7
PROGRESS_SUB_REACHES = 512
PROGRESS_TARGET = 0.8

METHOD = (f"Ratio = time of {CALLS} calls one after another / time of the same {CALLS} calls "
          f"submitted together to a ThreadPoolExecutor({WORKERS}) created beforehand, so that "
          f"{WORKERS:.1f}× is both cores busy and below 1× is slower than one thread. Steady = "
          f"{WORKERS} × a call's median time alone / its median time while {WORKERS} pool "
          f"threads each call back to back for {STEADY_SECONDS:g} s, as a long study keeps "
          "them busy. The peers are the numba loops compiled with nogil=True. Values: the "
          "peer's first result against hydrokit's.")


def in_sequence(call):
    return lambda: [call() for _ in range(CALLS)]


def on_threads(pool, call):
    return lambda: [future.result() for future in [pool.submit(call) for _ in range(CALLS)]]


def same_everywhere(contender, results):
    """Whether every result, sequential or threaded, has the values of the first, bit for bit."""
    first = contender.values(results[0])
    return all(compare(first, contender.values(result))[0] for result in results[1:])


def warm_up_and_check(case, calls):
    """One untimed round (numba compiles here); returns the peer's agreement with hydrokit and
    whether the threaded results are those of the sequential calls."""
    results = {name: call() for name, call in calls.items()}
    identical, worst = compare(case.hydrokit.values(results["hydrokit in sequence"][0]),
                               case.peer.values(results["peer in sequence"][0]))
    consistent = all(same_everywhere(contender, results[f"{role} in sequence"]
                                     + results[f"{role} on threads"])
                     for role, contender in (("hydrokit", case.hydrokit), ("peer", case.peer)))
    check = "identical" if identical else f"largest relative difference {worst:.1e}"
    if case.peer.exact and not identical:
        check = f"DIFFERS although computed in the same order: {check}"
    return check, consistent


def per_call_seconds(call, calls):
    """Median seconds of `calls` calls made back to back, each result dropped at once."""
    times = []
    for _ in range(calls):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def steady_ratio(call):
    """Twice a call's median time alone over its median time while every worker calls back to
    back: what a long study that keeps the pool busy gets, with no burst to start or end."""
    alone = per_call_seconds(call, 5)
    calls = max(5, int(STEADY_SECONDS / alone))
    alone = per_call_seconds(call, calls)
    with ThreadPoolExecutor(WORKERS) as pool:
        busy = list(pool.map(lambda _: per_call_seconds(call, calls), range(WORKERS)))
    return WORKERS * alone / max(busy)


def scaling_row(case):
    with ThreadPoolExecutor(WORKERS) as pool:
        calls = {}
        for role, contender in (("hydrokit", case.hydrokit), ("peer", case.peer)):
            calls[f"{role} in sequence"] = in_sequence(contender.call)
            calls[f"{role} on threads"] = on_threads(pool, contender.call)
        check, consistent = warm_up_and_check(case, calls)
        # Each contender's own calls interleave: a peer whose outputs fault in fresh pages on
        # every call would otherwise slow the other's threaded rounds.
        medians, rounds = {}, []
        for role in ("hydrokit", "peer"):
            own = {name: call for name, call in calls.items() if name.startswith(role)}
            role_medians, role_rounds = median_seconds(own, collect_between_rounds=False)
            medians.update(role_medians)
            rounds.append(role_rounds)
    ratios = {role: medians[f"{role} in sequence"] / medians[f"{role} on threads"]
              for role in ("hydrokit", "peer")}
    steady = {role: steady_ratio(contender.call)
              for role, contender in (("hydrokit", case.hydrokit), ("peer", case.peer))}
    return {"case": case.name, "target": case.target, "peer": case.peer.name,
            "medians": medians, "ratios": ratios, "steady": steady, "rounds": min(rounds),
            "check": check, "consistent": consistent,
            "met": "yes" if ratios["hydrokit"] >= case.target else "**no**"}


def reference():
    """SHA-256 of REFERENCE_BYTES, which runs without the lock throughout: seconds per call, and
    its ratio timed back to back and with a collection between rounds."""
    data = bytes(REFERENCE_BYTES)
    call = lambda: hashlib.sha256(data).digest()
    medians = {}
    with ThreadPoolExecutor(WORKERS) as pool:
        calls = {"in sequence": in_sequence(call), "on threads": on_threads(pool, call)}
        warm_up(calls)
        for collect in (False, True):
            medians[collect], _ = median_seconds(calls, collect_between_rounds=collect)
    ratios = {collect: times["in sequence"] / times["on threads"]
              for collect, times in medians.items()}
    return medians[False]["in sequence"] / CALLS, ratios


class Counter(threading.Thread):
    """Counts loop iterations until stopped: the Python work of a progress bar or a heartbeat."""

    def __init__(self):
        super().__init__(daemon=True)
        self.count = 0
        self.running = True

    def run(self):
        while self.running:
            self.count += 1


def rate_during(counter, action):
    before, start = counter.count, time.perf_counter()
    action()
    return (counter.count - before) / (time.perf_counter() - start)


def progress_row(contender, name, target):
    """The counter's rate while the main thread runs `contender`'s call, against its rate
    while the main thread sleeps as long."""
    start = time.perf_counter()
    contender.call()
    seconds = time.perf_counter() - start
    counter = Counter()
    counter.start()
    try:
        solo, during, durations = [], [], []
        for _ in range(PROGRESS_REPEATS):
            solo.append(rate_during(counter, lambda: time.sleep(seconds)))
            start = time.perf_counter()
            during.append(rate_during(counter, contender.call))
            durations.append(time.perf_counter() - start)
    finally:
        counter.running = False
        counter.join()
    share = statistics.median(during) / statistics.median(solo)
    met = "—" if target is None else ("yes" if share >= target else "**no**")
    return {"call": f"{contender.name}: {name}", "seconds": statistics.median(durations),
            "share": share, "target": target, "met": met}


def progress_rows():
    rng = generator()
    ours = thread_cases.muskingum(rng, PROGRESS_SUB_REACHES)
    # The numba loop is several times slower per sub-reach: fewer keep its call about as long.
    peer = thread_cases.muskingum(rng, PROGRESS_SUB_REACHES // 16)
    return [progress_row(ours.hydrokit, ours.name, PROGRESS_TARGET),
            progress_row(peer.peer, peer.name, None)]


def measure():
    """(scaling rows, progress rows), reporting progress on standard error."""
    scaling = []
    for build in thread_cases.all_cases():
        case = build()
        print(f"  threads: {case.name}", file=sys.stderr, flush=True)
        scaling.append(scaling_row(case))
        del case
    print("  threads: another thread's progress", file=sys.stderr, flush=True)
    progress = progress_rows()
    print("  threads: reference", file=sys.stderr, flush=True)
    return scaling, progress, reference()


def section(scaling, progress, reference):
    """The Markdown of the section and its summary lines."""
    rounds = [row["rounds"] for row in scaling]
    differing = [row["case"] for row in scaling if not row["consistent"]]
    consistency = ("Every result computed on the threads is bit for bit the sequential one."
                   if not differing else "Threaded results DIFFER from the sequential ones: "
                   + "; ".join(differing) + ".")
    progress_method = (
        "Another thread's progress: a Python thread counts loop iterations while the main "
        "thread runs the call, against its count while the main thread sleeps as long; "
        f"median rates over {PROGRESS_REPEATS} interleaved repeats.")
    seconds, ratios = reference
    text = "\n\n".join([
        "## Threads",
        f"{METHOD} Medians over {min(rounds)} to {max(rounds)} interleaved rounds per case, "
        f"timed back to back with garbage collection paused. {consistency}",
        f"What the machine gives: `hashlib.sha256` over {REFERENCE_BYTES >> 20} MiB "
        f"({seconds * 1e3:.1f} ms a call, the interpreter lock released throughout) scales "
        f"{ratios[False]:.2f}× timed the same way, and {ratios[True]:.2f}× with a full garbage "
        "collection between rounds.",
        report.threads_table(scaling),
        progress_method,
        report.progress_table(progress),
    ])
    targets = scaling + [row for row in progress if row["target"] is not None]
    met = sum(row["met"] == "yes" for row in targets)
    return text, [f"Thread targets met: {met} of {len(targets)}."]


def main():
    started = time.perf_counter()
    load = os.getloadavg()[0]
    text, summary = section(*measure())
    print(text)
    print("\n" + "\n".join(summary))
    print(f"\nThreads section: {time.perf_counter() - started:.0f} s "
          f"(load average {load:.2f} when it started).")


if __name__ == "__main__":
    main()
