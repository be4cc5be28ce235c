"""Which objects are read through their buffer, and which item by item.

Only objects whose items are known to equal their memory (exact float64 ndarrays,
array.array('d'), memoryviews) may be read in place; every other array gives what
its items give.
"""

import array
import math
import struct
import warnings

import numpy as np
import pytest

from catalog import HOUR, ContinuousTimeSeries, hydrokit

calculate_kge = hydrokit.metrics.calculate_kge
OBS = [1.0, 2.0, 3.5]


def read(data):
    return ContinuousTimeSeries(data, HOUR, "discharge").data


def outcome(data):
    """What reading `data` gives: its values as exact bits, or the error it raises."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            values = read(data)
    except Exception as error:
        return type(error), str(error)
    return array.array("d", values).tobytes()


def outcome_of_items(data):
    """What reading the items of `data` one by one gives."""
    try:
        items = list(data)
    except TypeError as error:
        return TypeError, f"argument 'data': {error}"
    except Exception as error:
        return type(error), str(error)
    return outcome(items)


def gauge_record():
    return np.ma.masked_array([1.0, -9999.0, 3.0], mask=[0, 1, 0])


def test_masked_item_reads_as_its_float():
    # numpy turns a masked element into NaN, with a warning, when it is made a float.
    with pytest.warns(UserWarning) as record:
        data = read(gauge_record())
    assert data[0] == 1.0 and math.isnan(data[1]) and data[2] == 3.0
    assert [str(warning.message) for warning in record] == [
        "Warning: converting a masked element to nan."]


def test_masked_item_under_warnings_as_errors():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning) as excinfo:
            read(gauge_record())
    assert str(excinfo.value) == "Warning: converting a masked element to nan."


def test_kge_of_a_masked_record_is_not_the_fill_value():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert math.isnan(calculate_kge(gauge_record(), OBS))
        assert math.isnan(calculate_kge(OBS, gauge_record()))
        unmasked = np.ma.masked_array([1.0, 2.0, 3.0], mask=[0, 0, 0])
        assert calculate_kge(unmasked, OBS) == calculate_kge([1.0, 2.0, 3.0], OBS)


class Calibrated(np.ndarray):
    """An array whose items are its stored values corrected by a factor."""

    def __iter__(self):
        return (float(value) * 2.0 for value in self.view(np.ndarray))

    def __getitem__(self, index):
        return float(self.view(np.ndarray)[index]) * 2.0


class CalibratedArray(array.array):
    def __iter__(self):
        return (value * 2.0 for value in array.array("d", self))

    def __getitem__(self, index):
        return array.array("d", self)[index] * 2.0


@pytest.mark.parametrize(
    "data", [np.array([1.0, 2.5, -3.0]).view(Calibrated), CalibratedArray("d", [1.0, 2.5, -3.0])],
    ids=["ndarray-subclass", "array-subclass"],
)
def test_subclass_is_read_through_its_items(data):
    assert read(data) == [2.0, 5.0, -6.0]


SPECIAL = [0.1, -0.0, math.inf, -math.inf, 5e-324, 1.7976931348623157e308, -2.5]
PAYLOAD_NAN = struct.unpack("<d", struct.pack("<Q", 0x7FF8_0000_0000_1234))[0]


def at_odd_address(values):
    """Native doubles one byte into a byte buffer: no double of them is aligned."""
    raw = bytearray(1) + struct.pack(f"={len(values)}d", *values)
    return memoryview(raw)[1:]


@pytest.mark.parametrize(
    "data",
    [
        np.array(SPECIAL + [PAYLOAD_NAN]),
        array.array("d", SPECIAL + [PAYLOAD_NAN]),
        memoryview(array.array("d", SPECIAL + [PAYLOAD_NAN])),
        memoryview(struct.pack(f"<{len(SPECIAL) + 1}d", *SPECIAL, PAYLOAD_NAN)).cast("d"),
        np.array(SPECIAL + [PAYLOAD_NAN])[::-1][::-1],
        at_odd_address(SPECIAL + [PAYLOAD_NAN]).cast("d"),
        np.frombuffer(at_odd_address(SPECIAL + [PAYLOAD_NAN])),
    ],
    ids=["ndarray", "array", "memoryview", "memoryview-cast", "ndarray-view",
         "memoryview-misaligned", "ndarray-misaligned"],
)
def test_exact_double_buffers_are_read_bit_for_bit(data):
    expected = struct.pack(f"<{len(SPECIAL) + 1}d", *SPECIAL, PAYLOAD_NAN)
    assert array.array("d", read(data)).tobytes() == expected


@pytest.mark.parametrize("wrap", [lambda values: at_odd_address(values).cast("d"),
                                  lambda values: np.frombuffer(at_odd_address(values))],
                         ids=["memoryview", "ndarray"])
def test_misaligned_buffers_score_as_their_values(wrap):
    sim = [1.5, 2.25, 0.5, 4.0, 3.0]
    assert calculate_kge(wrap(sim), wrap(OBS + [2.0, 5.0])) == calculate_kge(sim, OBS + [2.0, 5.0])


GRID = np.arange(12.0).reshape(3, 4)
with warnings.catch_warnings():
    warnings.simplefilter("ignore", PendingDeprecationWarning)
    MATRIX = np.asmatrix(GRID)

ARRAYS = {
    "strided": np.arange(10.0)[::3],
    "reversed": np.arange(5.0)[::-1],
    "column": GRID[:, 1],
    "fortran-2d": np.asfortranarray(GRID),
    "c-2d": GRID,
    "column-vector": GRID[:, :1],
    "no-columns": np.zeros((3, 0)),
    "no-rows": np.zeros((0, 3)),
    "0-d": np.array(2.5),
    "float32": np.array([0.1, -2.5, 3.3], dtype=np.float32),
    "float16": np.array([0.1, 65504.0], dtype=np.float16),
    "big-endian": np.array([0.1, -2.5], dtype=">f8"),
    "int64": np.array([2**53 + 1, -4], dtype=np.int64),
    "uint8": np.array([0, 255], dtype=np.uint8),
    "bool": np.array([True, False]),
    "object": np.array([1.5, 2, np.float32(0.1)], dtype=object),
    "object-text": np.array([1.5, "2"], dtype=object),
    "complex": np.array([1.5 + 2.0j]),
    "text": np.array(["1.5", "2"]),
    "datetime": np.array(["2024-01-01"], dtype="datetime64[D]"),
    "record": np.zeros(2, dtype=[("stage", "f8")]),
    "read-only": np.frombuffer(struct.pack("<2d", 1.5, 2.5)),
    "matrix": MATRIX,
    "masked-2d": np.ma.masked_array(GRID, mask=GRID > 6),
    "memoryview-2d": memoryview(GRID),
    "memoryview-float32": memoryview(np.array([0.1, 2.0], dtype=np.float32)),
    "array-float32": array.array("f", [0.1, 2.0]),
    "array-int": array.array("q", [2**53 + 1, -3]),
}


@pytest.mark.parametrize("data", list(ARRAYS.values()), ids=list(ARRAYS))
def test_array_reads_like_its_items(data):
    assert outcome(data) == outcome_of_items(data)
