"""The benchmark's instruments: how it compares values and measures memory. The timed peers
(numba, scipy) are bench-only and are not imported here."""

import math
import pathlib
import sys
from datetime import timedelta

import numpy as np
import pytest

import hydrokit

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "bench"))
import chain  # noqa: E402
import ensemble  # noqa: E402
import memory  # noqa: E402
import timing  # noqa: E402
from case import compare, series_values  # noqa: E402

ULP = 2.0**-52


@pytest.mark.parametrize(
    ("reference", "values", "expected"),
    [
        ([[1.0, 2.0], [3.0]], [[1.0, 2.0], [3.0]], (True, 0.0)),
        ([[0.0, 5.0]], [[-0.0, 5.0]], (False, 0.0)),
        ([[1.0, 2.0]], [[1.0, 2.0 + 2.0 * ULP]], (False, 2.0 * ULP / (2.0 + 2.0 * ULP))),
        ([[4.0], [-8.0]], [[3.0], [-8.0]], (False, 0.25)),
        ([[math.nan, 1.0]], [[math.nan, 1.0]], (True, 0.0)),
        ([[math.nan, 1.0]], [[1.0, math.nan]], (False, math.inf)),
        ([[1.0, 2.0]], [[1.0, 2.0, 3.0]], (False, math.inf)),
        ([[1.0], [2.0]], [[1.0]], (False, math.inf)),
    ],
    ids=["identical", "signed-zero", "one-ulp", "worst-array", "nan-same", "nan-moved",
         "length", "array-count"],
)
def test_compare_reports_bit_identity_and_largest_relative_difference(reference, values,
                                                                       expected):
    reference = [np.array(r) for r in reference]
    assert compare(reference, [np.array(v) for v in values]) == expected


@pytest.mark.parametrize("series_type", ["ContinuousTimeSeries", "IncrementalTimeSeries"])
def test_series_values_are_the_series_data(series_type):
    series = getattr(hydrokit.utils, series_type)([1.5, -0.0, 3.25], timedelta(hours=1),
                                                  "rainfall")
    values = series_values(series)
    assert values.dtype == np.float64
    assert values.tolist() == [1.5, -0.0, 3.25]
    assert math.copysign(1.0, values[1]) == -1.0


def test_memory_probe_sees_the_allocations_of_the_native_core():
    # tracemalloc would report next to nothing here: the routed series lives in C++ memory.
    measured = memory.run("Muskingum, 1 sub-reach, 10^6 values")
    assert measured["outputs"] == 8_000_000
    assert measured["peak_extra"] >= measured["outputs"] - memory.CONSTANT_ALLOWANCE


def test_rounds_shuffle_the_contenders_from_a_fixed_seed(monkeypatch):
    monkeypatch.setattr(timing, "ROUND_BUDGET_SECONDS", 0.0)
    runs = []
    for _ in range(2):
        order = []
        calls = {name: (lambda name=name: order.append(name)) for name in "abcd"}
        timing.warm_up(calls)
        medians, rounds = timing.median_seconds(calls)
        runs.append(order)
    rounds_seen = [tuple(order[i:i + 4]) for i in range(0, len(order), 4)]
    # Every round calls each once, warm-up rounds included, in orders that change.
    assert len(rounds_seen) == timing.WARM_UP_ROUNDS + rounds == timing.WARM_UP_ROUNDS + 5
    assert all(sorted(r) == list("abcd") for r in rounds_seen)
    assert len(set(rounds_seen)) > 1
    assert runs[0] == runs[1] and set(medians) == set("abcd")


def test_the_lean_chain_scores_as_the_example_does():
    storms, sets = ensemble.make_storms(2), ensemble.sample_parameter_sets(3)
    assert compare([np.array(chain.lean_scores(sets, storms))],
                   [np.array(ensemble.score_parameter_sets(sets, storms))]) == (True, 0.0)
    # The numba chain computes with the seconds hydrokit reads from a timedelta.
    assert chain.seconds(timedelta(hours=1.1)) == 3960.0
    assert chain.seconds(timedelta(days=1, seconds=1, microseconds=7)) == 86401 + 7000 / 1e9
