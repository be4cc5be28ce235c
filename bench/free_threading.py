"""Short calls on two threads: batches of 20,000 calls of a 240-value Muskingum routing (3
sub-reaches) and a 240-value KGE on float64 arrays, and the storm runs of examples/ensemble.py's
chain, one batch per thread of a ThreadPoolExecutor(2), against the same two batches one after
the other; the inputs private to each batch or shared by both. A pure-Python loop beside them
shows what the interpreter itself scales to. Without the interpreter lock (3.14t) the calls can
use both cores.

numpy locks an array while it lends out its memory, so threads reading one shared array take
turns at every call; a view of it per thread is locked on its own. The KGE rows show both.

`make bench` runs this file under each interpreter it compares (a free-threaded 3.14t and a
3.14 with the lock, built from the same source archive) and puts the figures in its results;
`python bench/free_threading.py` prints them for the interpreter that runs it, and `--json`
writes them for the benchmark."""

import json
import pathlib
import random
import statistics
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from datetime import timedelta

import numpy as np

import hydrokit
import report

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
import ensemble  # noqa: E402

CALLS = 20_000
WORKERS = 2
VALUES = 240
ROUNDS = 15
SEED = 20261209
# The pure-Python loop runs a recurrence of the same length in local floats; fewer calls keep
# its batch about as long as the others, as do the ensemble's parameter sets.
PYTHON_CALLS = 2000
ENSEMBLE_SETS = 500
ENSEMBLE_STORMS = 8
HOUR = timedelta(hours=1)


def hydrograph():
    t = np.arange(VALUES, dtype=np.float64)
    return 20.0 + 500.0 * (t / 30.0) * np.exp(1.0 - t / 30.0)


def routing_inputs():
    return (hydrokit.utils.ContinuousTimeSeries(hydrograph(), HOUR, "discharge"),
            timedelta(hours=6))


def routing_batch(series, k):
    route = hydrokit.reach.run_muskingum_routing

    def batch():
        for _ in range(CALLS):
            route(series, k, 0.2, 3, 20.0)
    return batch


def kge_inputs():
    observed = hydrograph()
    return observed * 1.05 + np.sin(np.arange(VALUES)), observed


def kge_batch(simulated, observed):
    kge = hydrokit.metrics.calculate_kge

    def batch():
        for _ in range(CALLS):
            kge(simulated, observed)
    return batch


def python_batch():
    steps = range(VALUES)

    def batch():
        for _ in range(PYTHON_CALLS):
            outflow = 20.0
            for _ in steps:
                outflow = 0.6 * outflow + 8.0
    return batch


def ensemble_inputs():
    return (ensemble.make_storms(ENSEMBLE_STORMS),)


def ensemble_batch(storms):
    parameter_sets = ensemble.sample_parameter_sets(ENSEMBLE_SETS)
    return lambda: ensemble.score_parameter_sets(parameter_sets, storms)


def views(arrays):
    return tuple(array.view() for array in arrays)


# How a batch gets its inputs: made for it alone, the same objects for every batch, or a view
# each of the same arrays.
SHARINGS = {
    "private": lambda make: [make() for _ in range(WORKERS)],
    "shared": lambda make: [make()] * WORKERS,
    "views of shared arrays": lambda make: [views(arrays) for arrays in [make()] * WORKERS],
}
CONTROL = "pure-Python loop of float arithmetic (control)"
# Each work: its inputs, its batch, the sharings it is timed with and the calls (storm runs for
# the ensemble) that one batch makes.
WORK = {
    f"Muskingum, {VALUES} values, 3 sub-reaches": (routing_inputs, routing_batch,
                                                    ("private", "shared"), CALLS),
    f"KGE, two float64 arrays of {VALUES}": (kge_inputs, kge_batch,
                                              ("private", "shared", "views of shared arrays"),
                                              CALLS),
    "examples/ensemble.py, storm runs of its chain": (ensemble_inputs, ensemble_batch,
                                                       ("shared",),
                                                       ENSEMBLE_SETS * ENSEMBLE_STORMS),
    CONTROL: (tuple, python_batch, ("private",), PYTHON_CALLS),
}


def contenders(pool):
    """For every work and sharing: the two batches in sequence and on the pool."""
    calls = {}
    for work, (make_inputs, make_batch, sharings, _) in WORK.items():
        for sharing in sharings:
            batches = [make_batch(*inputs) for inputs in SHARINGS[sharing](make_inputs)]
            calls[(work, sharing, "sequence")] = lambda b=batches: [batch() for batch in b]
            calls[(work, sharing, "threads")] = lambda b=batches: [
                future.result() for future in [pool.submit(batch) for batch in b]]
    return calls


def measure():
    draw = random.Random(SEED)
    with ThreadPoolExecutor(WORKERS) as pool:
        calls = contenders(pool)
        samples = {key: [] for key in calls}
        order = list(calls)
        for round_number in range(ROUNDS + 1):
            draw.shuffle(order)
            for key in order:
                start = time.perf_counter()
                calls[key]()
                if round_number > 0:  # the first round warms every contender up alike
                    samples[key].append(time.perf_counter() - start)
    medians = {key: statistics.median(times) for key, times in samples.items()}
    rows = []
    for (work, sharing, mode), seconds in medians.items():
        if mode != "sequence":
            continue
        calls_made = WORKERS * WORK[work][3]
        rows.append({"work": work, "inputs": sharing, "sequence": seconds,
                     "threads": medians[(work, sharing, "threads")],
                     "per_call": seconds / calls_made,
                     "scaling": seconds / medians[(work, sharing, "threads")]})
    return {"python": sys.version.split()[0], "free_threaded": not sys._is_gil_enabled(),
            "rows": rows}


# Issue 26's targets: scaling on 3.14t (on a machine where the control reaches QUIET_CONTROL),
# and one hydrokit call's cost there against the same call with the lock.
SCALING_TARGET = 1.7
QUIET_CONTROL = 1.8
PER_CALL_CEILING = 1.10


def measure_under(pythons):
    """This file's figures under each interpreter in `pythons` that exists, by its path."""
    measured = {}
    for python in pythons:
        if not pathlib.Path(python).exists():
            continue
        print(f"  free threading: {python}", file=sys.stderr, flush=True)
        out = subprocess.run([python, __file__, "--json"], capture_output=True, text=True,
                             check=True).stdout
        measured[python] = json.loads(out)
    return measured


def section(measured):
    """The Markdown of the section and its summary lines."""
    method = (f"{WORKERS} batches of {CALLS:,} calls one after the other against the same "
              f"batches submitted together to a ThreadPoolExecutor({WORKERS}), so that "
              f"{WORKERS:.1f}× is both cores busy; inputs private to each batch or shared by "
              f"both, or a view each of the same arrays (numpy locks an array while it lends "
              f"out its memory; a view is locked on its own). The ensemble's batches are "
              f"{ENSEMBLE_SETS} parameter sets each over the same {ENSEMBLE_STORMS} storms, as "
              f"its thread mode runs them; one call there is a storm run. Medians over {ROUNDS} "
              "rounds, contenders shuffled in each, after a "
              "warm-up round. The control is a pure-Python loop: what the interpreter and the "
              "machine give at that moment (about 1.8× or more on a quiet machine). Both "
              "interpreters are built from the same CPython 3.14.7 source archive, without "
              "PGO or LTO.")
    if not measured:
        return "\n\n".join(["## Short calls on two threads, with and without the lock",
                             method, "Not measured: no .venv-3.14t or .venv-3.14-gil (`make "
                             "build PY=3.14t`, `make build PY=3.14-gil`)."]), []
    cells, per_call, met, targets = [], {}, 0, 0
    for result in measured.values():
        name = f"{result['python']}{'t, lock off' if result['free_threaded'] else ', lock on'}"
        for row in result["rows"]:
            target = "—"
            verdict = "—"
            if result["free_threaded"] and row["work"] != CONTROL:
                targets += 1
                target = f"≥ {SCALING_TARGET:g}×"
                verdict = "yes" if row["scaling"] >= SCALING_TARGET else "**no**"
                met += verdict == "yes"
            cells.append([row["work"], row["inputs"], name,
                          f"{row['per_call'] * 1e6:.3f} µs", report.duration(row["sequence"]),
                          report.duration(row["threads"]), f"{row['scaling']:.2f}×", target,
                          verdict])
            per_call.setdefault((row["work"], row["inputs"]), {})[result["free_threaded"]] = \
                row["per_call"]
    lines = []
    for (work, inputs), by_build in per_call.items():
        if len(by_build) < 2 or work == CONTROL:
            continue
        ratio = by_build[True] / by_build[False]
        # The ceiling is for one hydrokit call; a storm run is mostly the interpreter's glue.
        verdict = ""
        if WORK[work][3] == CALLS:
            targets += 1
            met += ratio <= PER_CALL_CEILING
            verdict = (f" (target ≤ {PER_CALL_CEILING:.2f}×: "
                       f"{'yes' if ratio <= PER_CALL_CEILING else '**no**'})")
        lines.append(f"- {work}, inputs {inputs}: one call on 3.14t costs {ratio:.2f}× the "
                     f"call with the lock{verdict}.")
    for result in measured.values():
        if result["free_threaded"]:
            control = next(row["scaling"] for row in result["rows"] if row["work"] == CONTROL)
            quiet = "quiet" if control >= QUIET_CONTROL else "**not quiet**"
            lines.append(f"- The control scaled {control:.2f}× on 3.14t in this run: the machine "
                         f"was {quiet} (a quiet one gives ≥ {QUIET_CONTROL:g}×).")
    header = ["work", "inputs", "interpreter", "one call", "2 batches in sequence",
              "on 2 threads", "scaling", "target", "met"]
    text = "\n\n".join(["## Short calls on two threads, with and without the lock", method,
                         report.table(header, cells), "\n".join(lines)])
    return text, [f"Free-threading targets met: {met} of {targets}."]


def main():
    measured = measure()
    if "--json" in sys.argv:
        json.dump(measured, sys.stdout)
        return
    print(f"Python {measured['python']}, lock "
          f"{'off' if measured['free_threaded'] else 'on'}")
    for row in measured["rows"]:
        print(f"{row['work']}, inputs {row['inputs']}: {row['per_call'] * 1e6:.2f} µs a call, "
              f"{row['scaling']:.2f}× on {WORKERS} threads")


if __name__ == "__main__":
    main()
