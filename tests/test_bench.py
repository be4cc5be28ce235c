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
import memory  # noqa: E402
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
