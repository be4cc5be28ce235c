"""What a call costs besides its arithmetic: every entry point on 1-value inputs, and the
Python around it that a calibration loop also pays (a timedelta made, a series built, a
result read as a numpy view). Each call is timed in batches, all of them interleaved in
shuffled rounds; an empty lambda's cost is taken off."""

import random
import statistics
import timeit
from datetime import timedelta

import numpy as np

import hydrokit
import report
import timing

BATCH = 10_000
ROUNDS = 15
HOUR = timedelta(hours=1)


def calls():
    utils = hydrokit.utils
    rain = utils.IncrementalTimeSeries([0.5], HOUR, "rainfall")
    flow = utils.ContinuousTimeSeries([10.0], HOUR, "discharge")
    dry, tc, storage, k = (timedelta(days=3), timedelta(hours=6), timedelta(hours=8),
                           timedelta(hours=4))
    no_time = timedelta(0)
    others = [timedelta(hours=6 + i / 1000) for i in range(1000)]
    groundwater = timedelta(days=8)
    layers = {"groundwater": hydrokit.baseflow.LinearReservoir(groundwater, 0.3, 60.0)}
    one = np.array([1.0])
    storm = np.linspace(0.0, 1.0, 96)
    result = hydrokit.rainfall_loss.run_deficit_and_constant(rain, 0.5, 2.0, 0.05, dry)
    clark = hydrokit.rainfall_transform.run_clark_uh
    turn = iter(range(1 << 62))
    return {
        "run_deficit_and_constant": lambda: hydrokit.rainfall_loss.run_deficit_and_constant(
            rain, 0.5, 2.0, 0.05, dry),
        "run_clark_uh, tc 0 (no unit hydrograph)": lambda: clark(
            rain, 640.0, no_time, storage),
        "run_clark_uh, tc 6 h, storage_r 8 h as in the call before": lambda: clark(
            rain, 640.0, tc, storage),
        "run_clark_uh, another tc each call": lambda: clark(
            rain, 640.0, others[next(turn) % 1000], storage),
        "run_linear_reservoir, one layer": lambda: hydrokit.baseflow.run_linear_reservoir(
            640.0, rain, layers),
        "run_muskingum_routing": lambda: hydrokit.reach.run_muskingum_routing(
            flow, k, 0.2, 1, 10.0),
        "calculate_kge, float64 arrays": lambda: hydrokit.metrics.calculate_kge(one, one),
        "calculate_kge, lists": lambda: hydrokit.metrics.calculate_kge([1.0], [1.0]),
        "IncrementalTimeSeries from a float64 array of 96": lambda: utils.IncrementalTimeSeries(
            storm, HOUR, "rainfall"),
        "LinearReservoir(k_duration, gw_fraction, initial_q)":
            lambda: hydrokit.baseflow.LinearReservoir(groundwater, 0.3, 60.0),
        "result.excess (a new series)": lambda: result.excess,
        "numpy.asarray(series)": lambda: np.asarray(flow),
        "timedelta(hours=4.5)": lambda: timedelta(hours=4.5),
    }


def measure():
    """Seconds per call of each, less an empty lambda's."""
    contenders = calls() | {"empty lambda": lambda: None}
    samples = {name: [] for name in contenders}
    draw = random.Random(timing.SEED)
    for round_number in range(ROUNDS + 1):
        order = list(contenders)
        draw.shuffle(order)
        for name in order:
            seconds = timeit.timeit(contenders[name], number=BATCH) / BATCH
            if round_number > 0:
                samples[name].append(seconds)
    empty = statistics.median(samples.pop("empty lambda"))
    return {name: statistics.median(times) - empty for name, times in samples.items()}


def section(costs):
    method = (f"Seconds per call in batches of {BATCH:,}, medians over {ROUNDS} shuffled "
              "rounds after a warm-up round, an empty lambda's cost taken off: what a loop "
              "pays besides the arithmetic, on 1-value inputs.")
    table = report.table(["call", "cost"],
                         [[name, f"{seconds * 1e6:.3f} µs"] for name, seconds in costs.items()])
    return "\n\n".join(["## What a call costs", method, table])
