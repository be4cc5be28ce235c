"""A Monte Carlo ensemble: N parameter sets x M storms through the whole basin chain.

For every parameter set and every storm: deficit-and-constant loss -> Clark runoff ->
linear-reservoir baseflow -> Muskingum reach -> KGE against the storm's gauge record (a
synthetic one, made by the same chain from a "true" parameter set plus rating noise). The
glue between the steps is numpy, which reads every series in place (`numpy.asarray(series)`),
and nothing is made twice: each storm's rain series once per task, each set's durations and
groundwater layer once for all its storms (docs/performance.md, calibration loops).
The same task function scores chunks of parameter sets in four ways:
- serial: one core, the baseline;
- threads: every core (or `--workers N`), with concurrent.futures.ThreadPoolExecutor in this
  process. A storm run is a handful of calls on 96 values, and calls that short keep the
  interpreter lock: with the lock threads gain little here, and long calls are where they pay
  off (examples/long_record.py); on a free-threaded Python (3.14t) the storm runs use every
  core;
- processes: every core (or `--workers N`), with concurrent.futures.ProcessPoolExecutor;
- dask: Dask's distributed scheduler, a LocalCluster of single-threaded worker processes
  (one per core, or `--workers N`), or an existing cluster given as
  `--scheduler tcp://host:8786` (its workers need hydrokit installed).
hydrokit's objects cannot be pickled, so nothing of hydrokit crosses a process boundary:
the task receives numpy arrays and numbers, builds the series inside the worker and returns
plain floats.

Run it with `make demo`; it writes ensemble.png next to itself (or into `--out DIR`).
`--sets N --storms M` set the size, `--workers` the processes, `--modes` picks modes and
`--help` lists the options.
"""

import math
import os
import pickle
import random
import sys
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from datetime import timedelta

import numpy as np

# The task reaches the submodules through the package: Dask ships the task function to its
# workers by value, with `hydrokit` as a module to import there (`import hydrokit.utils`
# does not work, the submodules are attributes).
import hydrokit
import plotting
from plotting import positive_int

AREA_ACRES = 40 * 640.0
STEP = timedelta(hours=1)
WINDOW_STEPS = 96  # hours scored per storm: the storm and its recession
MODES = ("serial", "threads", "processes", "dask")

# Name, lower and upper bound, and the value that made the synthetic gauge records.
PARAMETERS = (
    ("initial_deficit", "in", 0.0, 1.5, 0.6),
    ("max_deficit", "in", 0.5, 3.0, 1.8),
    ("constant_loss_per_hr", "in/h", 0.01, 0.25, 0.08),
    ("tc", "h", 2.0, 12.0, 6.0),
    ("storage_r", "h", 1.0, 15.0, 8.0),
    ("gw_fraction", "", 0.05, 0.6, 0.3),
    ("muskingum_k", "h", 1.0, 10.0, 4.0),
    ("muskingum_x", "", 0.0, 0.5, 0.2),
)
TRUE_SET = tuple(true for *_, true in PARAMETERS)
GROUNDWATER_K = timedelta(days=8)
DRYING_TIME = timedelta(days=3)
BASEFLOW_BEFORE_STORM_CFS = 60.0


def storm_series(rain):
    """A storm's WINDOW_STEPS hourly depths as the series that every parameter set reads."""
    return hydrokit.utils.IncrementalTimeSeries(rain, STEP, "rainfall")


def set_up(parameters):
    """A parameter set as its storms use it: the durations and the groundwater layer are made
    once for all of them."""
    (initial_deficit, max_deficit, constant_loss, tc_hours, storage_hours, gw_fraction,
     k_hours, x) = parameters
    layers = {"groundwater": hydrokit.baseflow.LinearReservoir(
        GROUNDWATER_K, gw_fraction, BASEFLOW_BEFORE_STORM_CFS)}
    return (initial_deficit, max_deficit, constant_loss, timedelta(hours=tc_hours),
            timedelta(hours=storage_hours), layers, timedelta(hours=k_hours), x)


def route_storm(model, gross):
    """Outlet hydrograph (cfs, a series) of one storm's series under one set's model."""
    initial_deficit, max_deficit, constant_loss, tc, storage_r, layers, k, x = model
    losses = hydrokit.rainfall_loss.run_deficit_and_constant(
        gross, initial_deficit, max_deficit, constant_loss, DRYING_TIME)
    # numpy views the series without copying them; the Clark hydrograph runs on past the
    # window, the slice keeps the window's hours. Surface value k is the flow at k hours,
    # baseflow value k at k + 1 hours: the baseflow goes one place later, behind its start.
    surface = np.asarray(hydrokit.rainfall_transform.run_clark_uh(
        losses.excess, AREA_ACRES, tc, storage_r))
    baseflow, _ = hydrokit.baseflow.run_linear_reservoir(AREA_ACRES, losses.loss, layers)
    flow = np.empty(WINDOW_STEPS)
    np.add(surface[1:WINDOW_STEPS], np.asarray(baseflow)[:-1], out=flow[1:])
    # The first flow in plain float arithmetic, cheaper than numpy's scalars; it also starts
    # the routing.
    flow[0] = start = float(surface[0]) + BASEFLOW_BEFORE_STORM_CFS
    return hydrokit.reach.run_muskingum_routing(
        hydrokit.utils.ContinuousTimeSeries(flow, STEP, "discharge"), k, x, 1, start)


def simulate_storm(parameters, rain):
    """Outlet hydrograph (cfs, a numpy array) of one storm for one set, from its WINDOW_STEPS
    hourly depths."""
    return np.asarray(route_storm(set_up(parameters), storm_series(rain)))


def score_parameter_sets(parameter_sets, storms):
    """The task of every mode: KGE of each set on each storm, as lists of plain floats.

    `parameter_sets` is a list of tuples of floats and `storms` a list of dicts of float64
    arrays; the hydrokit series are built here, inside the worker, each storm's once. Each task
    reads the observations through views of its own: numpy locks an array while it lends out
    its memory, and tasks on other threads reading the same array would wait for each other.
    The simulated series goes to the score as a memoryview, which lends the series' values
    more cheaply than a numpy view does.
    """
    gauged = [(storm_series(storm["rain"]), storm["observed"].view()) for storm in storms]
    return [[hydrokit.metrics.calculate_kge(memoryview(route_storm(model, gross)), observed)
             for gross, observed in gauged]
            for model in map(set_up, parameter_sets)]


def make_storms(count, seed=1974):
    """Hourly storms of 6 to 30 hours and 1 to 5 in, with gauge records from TRUE_SET."""
    draw = random.Random(seed)
    storms = []
    for _ in range(count):
        hours = draw.randint(6, 30)
        depth = draw.uniform(1.0, 5.0)
        peak_at = draw.uniform(0.2, 0.7) * hours
        shape = [math.exp(-((h + 0.5 - peak_at) / (0.3 * hours)) ** 2) for h in range(hours)]
        rain = np.zeros(WINDOW_STEPS)
        rain[:hours] = [depth * s / sum(shape) for s in shape]
        routed = simulate_storm(TRUE_SET, rain)
        observed = np.array([q * (1.0 + draw.gauss(0.0, 0.05)) for q in routed])
        storms.append({"rain": rain, "observed": observed})
    return storms


def sample_parameter_sets(count, seed=42):
    draw = random.Random(seed)
    return [tuple(draw.uniform(low, high) for _, _, low, high, _ in PARAMETERS)
            for _ in range(count)]


def chunks_of(parameter_sets, workers):
    """A few chunks per worker keep every core busy to the end without a task per set."""
    size = max(1, math.ceil(len(parameter_sets) / (4 * workers)))
    return [parameter_sets[i:i + size] for i in range(0, len(parameter_sets), size)]


def run_serial(parameter_sets, storms, _workers, _scheduler):
    chunks = chunks_of(parameter_sets, 1)
    start = time.perf_counter()
    results = [score_parameter_sets(chunk, storms) for chunk in chunks]
    return 1, len(chunks), 0.0, time.perf_counter() - start, results


def run_pool(executor, parameter_sets, storms, workers):
    chunks = chunks_of(parameter_sets, workers)
    start = time.perf_counter()
    with executor(max_workers=workers) as pool:
        # Start-up: the workers; processes also import this script and hydrokit.
        list(pool.map(score_parameter_sets, [[]] * workers, [storms] * workers))
        ready = time.perf_counter()
        results = list(pool.map(score_parameter_sets, chunks, [storms] * len(chunks)))
        done = time.perf_counter()
    return workers, len(chunks), ready - start, done - ready, results


def run_threads(parameter_sets, storms, workers, _scheduler):
    return run_pool(ThreadPoolExecutor, parameter_sets, storms, workers)


def run_processes(parameter_sets, storms, workers, _scheduler):
    return run_pool(ProcessPoolExecutor, parameter_sets, storms, workers)


def run_dask(parameter_sets, storms, workers, scheduler):
    from dask.distributed import Client, LocalCluster

    start = time.perf_counter()
    if scheduler:
        cluster = None
        client = Client(scheduler)
        client.wait_for_workers(1)
    else:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
        client.wait_for_workers(workers)
    try:
        worker_count = len(client.scheduler_info()["workers"])
        chunks = chunks_of(parameter_sets, worker_count)
        # Start-up as for the process pool: every worker receives and runs the task once.
        client.run(score_parameter_sets, [], storms)
        # The storms go to every worker once instead of once per task.
        [storms_on_workers] = client.scatter([storms], broadcast=True)
        ready = time.perf_counter()
        futures = client.map(score_parameter_sets, chunks, storms=storms_on_workers)
        results = client.gather(futures)
        done = time.perf_counter()
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return worker_count, len(chunks), ready - start, done - ready, results


RUNNERS = {"serial": run_serial, "threads": run_threads, "processes": run_processes,
           "dask": run_dask}


def dask_missing():
    try:
        import dask.distributed  # noqa: F401
    except ImportError as error:
        return f"dask.distributed is not installed ({error}); `make demo` installs it"
    return None


def show_that_series_do_not_pickle():
    series = hydrokit.utils.ContinuousTimeSeries([1.0, 2.0], STEP, "discharge")
    try:
        pickle.dumps(series)
    except TypeError as error:
        print(f"pickling a series raises TypeError: {error}")
    else:
        print("pickling a series worked: plain lists are no longer the only way in")


def mean(values):
    return sum(values) / len(values)


def parse_options(parser):
    parser.add_argument("--sets", type=positive_int, default=20000,
                        help="parameter sets (N)")
    parser.add_argument("--storms", type=positive_int, default=8, help="storms (M)")
    parser.add_argument("--workers", type=positive_int, default=os.process_cpu_count() or 1,
                        help="threads of the thread pool, worker processes of the process "
                             "pool and the LocalCluster (default: one per core)")
    parser.add_argument("--modes", default=",".join(MODES),
                        help="comma-separated, from: " + ", ".join(MODES))
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of a running Dask scheduler, e.g. tcp://host:8786 "
                             "(default: a LocalCluster on this machine)")


def main():
    arguments = plotting.parse_arguments(__doc__.splitlines()[0], parse_options)
    modes = plotting.chosen_modes(arguments.modes, MODES)
    workers = arguments.workers

    storms = make_storms(arguments.storms)
    parameter_sets = sample_parameter_sets(arguments.sets)
    print(f"ensemble: {len(parameter_sets)} parameter sets x {len(storms)} storms = "
          f"{len(parameter_sets) * len(storms)} storm runs of loss -> Clark -> baseflow -> "
          f"Muskingum -> KGE, {os.process_cpu_count()} cores")
    show_that_series_do_not_pickle()

    runs = len(parameter_sets) * len(storms)
    print(f"{'mode':<10} {'workers':>7} {'tasks':>5} {'start-up s':>10} {'run s':>7} "
          f"{'runs/s':>8} {'speed-up':>8}  {'mean KGE':>16}")
    scores_by_mode = {}
    serial_seconds = None
    for mode in modes:
        if mode == "dask" and (reason := dask_missing()):
            print(f"{'dask':<10} skipped: {reason}")
            continue
        used, tasks, startup, seconds, results = RUNNERS[mode](
            parameter_sets, storms, workers, arguments.scheduler)
        scores = [row for chunk in results for row in chunk]
        scores_by_mode[mode] = scores
        if mode == "serial":
            serial_seconds = seconds
        speed_up = f"{serial_seconds / seconds:8.2f}" if serial_seconds else f"{'-':>8}"
        overall = mean([mean(row) for row in scores])
        print(f"{mode:<10} {used:>7} {tasks:>5} {startup:10.2f} {seconds:7.2f} "
              f"{runs / seconds:8.0f} {speed_up}  {overall:16.12f}")

    if not scores_by_mode:
        sys.exit("no mode ran")
    reference = next(iter(scores_by_mode.values()))
    # repr writes a float so that it reads back bit for bit, and a NaN equals a NaN.
    if len({repr(scores) for scores in scores_by_mode.values()}) > 1:
        sys.exit("the modes disagree: KGE values differ between " + ", ".join(scores_by_mode))
    print(f"KGE of every set on every storm identical in {len(scores_by_mode)} modes: "
          f"{', '.join(scores_by_mode)}")

    set_scores = [mean(row) for row in reference]
    best = max(range(len(set_scores)), key=set_scores.__getitem__)
    print(f"best set #{best}: mean KGE {set_scores[best]:.4f} over {len(storms)} storms")
    for (name, unit, _, _, true), value in zip(PARAMETERS, parameter_sets[best]):
        print(f"  {name:<21} {value:8.3f} {unit:<5} (true {true:g})")
    plot(parameter_sets, set_scores, best, arguments.out)


def plot(parameter_sets, set_scores, best, out_dir):
    plt = plotting.pyplot()
    if plt is None:
        return
    # Dotty plots: one dot per set against each of its parameters; the best hundredth of
    # the sets stands out, and a flat top shows a parameter the storms cannot pin down.
    cut = sorted(set_scores, reverse=True)[max(0, len(set_scores) // 100 - 1)]
    top = [score >= cut for score in set_scores]
    figure, axes = plt.subplots(2, 4, sharey=True, figsize=(11, 6), layout="constrained")
    for index, ((name, unit, low, high, true), axis) in enumerate(
            zip(PARAMETERS, axes.flat)):
        values = [parameters[index] for parameters in parameter_sets]
        for chosen, color, label in ((False, "tab:blue", "all sets"),
                                     (True, "tab:orange", "best 1 %")):
            axis.scatter([v for v, t in zip(values, top) if t is chosen],
                         [k for k, t in zip(set_scores, top) if t is chosen],
                         s=3, alpha=0.5, color=color, linewidths=0, label=label)
        axis.axvline(true, color="tab:red", linewidth=1.2, label="true value")
        axis.plot(values[best], set_scores[best], "*", color="black", markersize=11,
                  label="best set")
        # A margin beyond the sampled range, so that a best set on its edge shows whole.
        margin = 0.04 * (high - low)
        axis.set_xlim(low - margin, high + margin)
        axis.set_xlabel(f"{name} ({unit})" if unit else name)
    for axis in axes[:, 0]:
        axis.set_ylabel("mean KGE over the storms")
    axes[0, 0].set_ylim(0.0, 1.0)
    # One legend for all panels, below them: every panel is covered with dots.
    legend = figure.legend(*axes[0, 0].get_legend_handles_labels(), loc="outside lower center",
                           ncols=4, fontsize=9)
    for handle in legend.legend_handles[:2]:
        handle.set_sizes([20])
    figure.suptitle(f"Monte Carlo ensemble: {len(parameter_sets)} parameter sets, each "
                    f"scored on every storm (sets with a mean KGE below 0 lie under "
                    f"the axes)")
    plotting.save(figure, "ensemble.png", out_dir)


if __name__ == "__main__":
    main()
