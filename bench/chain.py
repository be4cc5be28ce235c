"""The basin chain of examples/ensemble.py as a calibration study runs it: every parameter set
through loss -> Clark -> baseflow -> Muskingum -> KGE on every storm. Three ways to write it:
the example as it stands, the same chain with the leanest glue a user would write around
hydrokit, and the whole chain hand-written in numba."""

import pathlib
import sys
from datetime import timedelta

import numpy as np

import hydrokit
import report
from case import Case, Contender

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
import ensemble  # noqa: E402

SETS = 4000
STORMS = 8
STEP = ensemble.STEP
DRY = timedelta(days=3)
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries
ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
split = hydrokit.rainfall_loss.run_deficit_and_constant
clark = hydrokit.rainfall_transform.run_clark_uh
baseflow = hydrokit.baseflow.run_linear_reservoir
LinearReservoir = hydrokit.baseflow.LinearReservoir
route = hydrokit.reach.run_muskingum_routing
kge = hydrokit.metrics.calculate_kge


def lean_scores(parameter_sets, storms):
    """The chain with nothing made twice: each storm's series once, each set's durations and
    layer once, results read as numpy views, the simulated series scored through a memoryview,
    arrays passed where a call takes them and plain floats where it takes a number."""
    area, before, window = ensemble.AREA_ACRES, ensemble.BASEFLOW_BEFORE_STORM_CFS, \
        ensemble.WINDOW_STEPS
    gauged = [(IncrementalTimeSeries(storm["rain"], STEP, "rainfall"), storm["observed"])
              for storm in storms]
    flow = np.empty(window)
    later = flow[1:]
    scores = []
    for (initial, most, rate, tc_hours, storage_hours, fraction, k_hours,
         x) in parameter_sets:
        tc, storage = timedelta(hours=tc_hours), timedelta(hours=storage_hours)
        k = timedelta(hours=k_hours)
        layers = {"groundwater": LinearReservoir(ensemble.GROUNDWATER_K, fraction, before)}
        row = []
        for gross, observed in gauged:
            losses = split(gross, initial, most, rate, DRY)
            surface = np.asarray(clark(losses.excess, area, tc, storage))
            total = np.asarray(baseflow(area, losses.loss, layers)[0])
            # Runoff value t is the flow at t hours, baseflow value t at t + 1.
            np.add(surface[1:window], total[:-1], out=later)
            flow[0] = start = float(surface[0]) + before
            routed = route(ContinuousTimeSeries(flow, STEP, "discharge"), k, x, 1, start)
            row.append(kge(memoryview(routed), observed))
        scores.append(row)
    return scores


def seconds(duration):
    """A timedelta's length in seconds as hydrokit reads it: whole seconds, then the fraction."""
    return float(duration.days * 86400 + duration.seconds) + duration.microseconds * 1000 / 1e9


def numba_inputs(parameter_sets, storms):
    """The sets as rows with the durations in the seconds hydrokit computes with (the
    example hands it timedeltas, which hold microseconds), the storms as rows of arrays."""
    rows = []
    for (initial, most, rate, tc_hours, storage_hours, fraction, k_hours,
         x) in parameter_sets:
        rows.append((initial, most, rate, seconds(timedelta(hours=tc_hours)),
                     seconds(timedelta(hours=storage_hours)), fraction,
                     seconds(timedelta(hours=k_hours)), x))
    return (np.array(rows), np.array([storm["rain"] for storm in storms]),
            np.array([storm["observed"] for storm in storms]))


def scores_values(scores):
    return [np.asarray(scores, dtype=np.float64)]


def basin_chain():
    import numba_peers  # numba is a benchmark package: the tests read this file without it

    storms = ensemble.make_storms(STORMS)
    parameter_sets = ensemble.sample_parameter_sets(SETS)
    sets, rains, observed = numba_inputs(parameter_sets, storms)
    constants = (ensemble.AREA_ACRES, DRY.total_seconds(),
                 ensemble.GROUNDWATER_K.total_seconds(), ensemble.BASEFLOW_BEFORE_STORM_CFS,
                 STEP.total_seconds())
    lean = Contender("hydrokit, lean glue", lambda: lean_scores(parameter_sets, storms),
                     scores_values)
    peers = [
        Contender("examples/ensemble.py as written",
                  lambda: ensemble.score_parameter_sets(parameter_sets, storms), scores_values,
                  ceiling=1.2),
        Contender("numba, whole chain", lambda: numba_peers.basin_scores(
            sets, rains, observed, *constants), scores_values, target=1 / 1.3),
    ]

    def rates(medians):
        return ["basin chain: " + ", ".join(
            f"{name} {report.rate(SETS / seconds)} sets/s "
            f"({seconds / (SETS * STORMS) * 1e6:.2f} µs a storm)"
            for name, seconds in medians.items()) + "."]

    return Case(f"basin chain, {SETS:,} sets x {STORMS} storms of {ensemble.WINDOW_STEPS} "
                "hourly values", lean, peers,
                ["basin chain: the numba chain gets its durations in seconds made beforehand; "
                 "the hydrokit chains make their timedeltas inside the timing."],
                timing_notes=rates)
