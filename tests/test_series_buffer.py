import gc
import io
import subprocess
import sys
import textwrap
from datetime import timedelta

import numpy as np
import pytest

from hydrokit import utils

HOUR = timedelta(hours=1)
SERIES_CLASSES = [(utils.ContinuousTimeSeries, "discharge"),
                  (utils.IncrementalTimeSeries, "rainfall")]


@pytest.fixture(params=SERIES_CLASSES, ids=lambda p: p[0].__name__)
def make_series(request):
    cls, kind = request.param
    return lambda values: cls(values, HOUR, kind)


def test_numpy_reads_the_values_without_a_copy(make_series):
    series = make_series([1.0, -0.0, 2.5, float("inf")])
    first, second = np.asarray(series), np.asarray(series)
    assert first.dtype == np.float64 and first.shape == (4,)
    assert np.shares_memory(first, second)
    assert first.tobytes() == np.array([1.0, -0.0, 2.5, float("inf")]).tobytes()
    assert first.base is not None and not first.flags.writeable


def test_view_is_read_only_and_one_dimensional(make_series):
    view = memoryview(make_series([3.0, 4.0]))
    assert (view.format, view.itemsize, view.ndim, view.shape, view.readonly) == (
        "d", 8, 1, (2,), True)
    with pytest.raises(TypeError, match="cannot modify read-only memory"):
        view[0] = 1.0
    series = make_series([1.0])
    with pytest.raises(TypeError, match="read-write bytes-like object"):
        io.BytesIO(b"\xff" * 8).readinto(series)
    assert series.data == [1.0]


def test_view_keeps_the_series_alive(make_series):
    view = memoryview(make_series([5.0, 6.0, 7.0]))
    array = np.asarray(make_series([8.0]))
    gc.collect()
    assert view.tolist() == [5.0, 6.0, 7.0] and array.tolist() == [8.0]
    assert type(view.obj) is type(make_series([]))


def test_empty_series_exports_an_empty_view(make_series):
    assert np.asarray(make_series([])).shape == (0,)
    assert memoryview(make_series([])).tobytes() == b""


def test_data_still_returns_a_new_list(make_series):
    series = make_series([1.0, 2.0])
    values = series.data
    values.append(3.0)
    assert series.data == [1.0, 2.0] and np.asarray(series).tolist() == [1.0, 2.0]


def test_classes_with_replaced_constructors():
    # Replacing __new__ cannot be undone on a built-in type, so the class is spoiled in a
    # process of its own. A call of the class then runs what Python code put there, as does
    # one after an __init__ was added.
    script = textwrap.dedent("""
        from datetime import timedelta
        from hydrokit import utils
        for cls in (utils.ContinuousTimeSeries, utils.IncrementalTimeSeries):
            cls.__init__ = lambda self, *args, **kwargs: print(len(args), sorted(kwargs))
            print(list(memoryview(cls([2.0], timedelta(hours=1), kind="rainfall"))))
            cls.__new__ = staticmethod(lambda c, *args, **kwargs: object.__new__(c))
            try:
                memoryview(cls(kind="rainfall"))
            except TypeError as error:
                print(error)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=60)
    assert result.stdout.splitlines() == [
        "2 ['kind']", "[2.0]", "0 ['kind']",
        "'ContinuousTimeSeries' object was not initialized by its constructor",
        "2 ['kind']", "[2.0]", "0 ['kind']",
        "'IncrementalTimeSeries' object was not initialized by its constructor",
    ], result.stderr
