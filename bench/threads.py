"""The threads section: do long calls let a pool of threads use both cores, and does another
Python thread keep running while a long call runs?

`make bench` adds its tables to bench/RESULTS.md; `python bench/threads.py` runs this section
alone and prints them."""

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
from timing import median_seconds

CALLS = 4
WORKERS = 2
# Another thread's progress: repeats, a Muskingum call long enough (about 0.15 s) that handing
# the lock over at its start and end hardly counts, and the least share of its solo rate.
PROGRESS_REPEATS = 7
PROGRESS_SUB_REACHES = 512
PROGRESS_TARGET = 0.8

METHOD = (f"Ratio = time of {CALLS} calls one after another / time of the same {CALLS} calls "
          f"submitted together to a ThreadPoolExecutor({WORKERS}) created beforehand, so that "
          f"{WORKERS:.1f}× is both cores busy and below 1× is slower than one thread. The peers "
          "are the numba loops compiled with nogil=True. Values: the peer's first result "
          "against hydrokit's.")


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


def scaling_row(case):
    with ThreadPoolExecutor(WORKERS) as pool:
        calls = {}
        for role, contender in (("hydrokit", case.hydrokit), ("peer", case.peer)):
            calls[f"{role} in sequence"] = in_sequence(contender.call)
            calls[f"{role} on threads"] = on_threads(pool, contender.call)
        check, consistent = warm_up_and_check(case, calls)
        medians, rounds = median_seconds(calls)
    ratios = {role: medians[f"{role} in sequence"] / medians[f"{role} on threads"]
              for role in ("hydrokit", "peer")}
    return {"case": case.name, "target": case.target, "peer": case.peer.name,
            "medians": medians, "ratios": ratios, "rounds": rounds, "check": check,
            "consistent": consistent,
            "met": "yes" if ratios["hydrokit"] >= case.target else "**no**"}


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
    return scaling, progress_rows()


def section(scaling, progress):
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
    text = "\n\n".join([
        "## Threads",
        f"{METHOD} Medians over {min(rounds)} to {max(rounds)} interleaved rounds per case, "
        f"garbage collection paused while timing. {consistency}",
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
