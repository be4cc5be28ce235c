"""Rating curves, outlets and their releases."""

import math
from datetime import timedelta

import pytest

import hydrokit

utils = hydrokit.reservoir.reservoir_utils
ElevationStorage = utils.ElevationStorage
ElevationDischarge = utils.ElevationDischarge
ControlledDischargeInfo = utils.ControlledDischargeInfo
UnControlledDischargeInfo = utils.UnControlledDischargeInfo
SpecifiedDischargeInfo = utils.SpecifiedDischargeInfo
ConstantDischargeInfo = utils.ConstantDischargeInfo
ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries

NAN = float("nan")


def panic_message(call):
    """The message of the PanicException that `call` raises."""
    try:
        call()
    except BaseException as error:  # PanicException derives from BaseException only
        assert type(error).__name__ == "PanicException"
        assert type(error).__module__ == "pyo3_runtime"
        assert not isinstance(error, Exception)
        return str(error)
    pytest.fail("no PanicException")


def release(outlet, elevation, seconds=1):
    """The outlet's release at a pool elevation after `seconds` of simulation: the first
    recorded outflow of a routing whose first sub-step falls at that time."""
    inflow = ContinuousTimeSeries([0.0, 0.0], timedelta(seconds=seconds), "discharge")
    pool = ElevationStorage([0, 1000], [0, 1e6])
    result = hydrokit.reservoir.run_level_pool_routing(inflow, elevation, pool, {"o": outlet})
    return result.reservoir_total_outflow.data[0]


# Elevation-storage curve

CURVE = ElevationStorage([100, 110], [0, 1000])


@pytest.mark.parametrize(
    "lookup, value, expected",
    [
        ("get_storage", 105, 500.0),
        ("get_storage", 100, 0.0),
        ("get_storage", 110, 1000.0),
        ("get_elevation", 250, 102.5),
        ("get_elevation", 0, 100.0),
        ("get_elevation", 1000, 110.0),
    ],
)
def test_storage_curve_interpolates_both_ways(lookup, value, expected):
    assert getattr(CURVE, lookup)(value) == expected


def test_storage_curve_uses_the_stated_formula():
    curve = ElevationStorage([0.1, 0.7], [0.3, 1.9])
    assert curve.get_storage(0.4) == ((0.4 - 0.1) / (0.7 - 0.1)) * (1.9 - 0.3) + 0.3
    assert curve.get_elevation(storage=1.1) == ((1.1 - 0.3) / (1.9 - 0.3)) * (0.7 - 0.1) + 0.1


@pytest.mark.parametrize(
    "lookup, value, message",
    [
        ("get_storage", 99.5, "`elevation` 99.5 is outside the range of the elevation-storage curve."),
        ("get_storage", 111, "`elevation` 111 is outside the range of the elevation-storage curve."),
        ("get_storage", -0.0, "`elevation` -0 is outside the range of the elevation-storage curve."),
        ("get_storage", math.inf, "`elevation` inf is outside the range of the elevation-storage curve."),
        ("get_elevation", -1, "`storage` -1 is outside the range of the elevation-storage curve."),
        ("get_elevation", 1000.5, "`storage` 1000.5 is outside the range of the elevation-storage curve."),
    ],
)
def test_storage_curve_refuses_values_off_the_curve(lookup, value, message):
    with pytest.raises(ValueError) as excinfo:
        getattr(CURVE, lookup)(value)
    assert str(excinfo.value) == message


@pytest.mark.parametrize(
    "elevation, storage, message",
    [
        ([2, 1], [1], "`elevation` and `storage` must have the same length"),
        ([1, 1], [1, 2], "`elevation` must must be sorted and can't have duplicates"),
        ([1, NAN], [1, 2], "`elevation` must must be sorted and can't have duplicates"),
        ([2, 1], [2, 1], "`elevation` must must be sorted and can't have duplicates"),
        ([1, 2], [5, 5], "`storage` must must be sorted and can't have duplicates"),
        ([1, 2], [NAN, 5], "`storage` must must be sorted and can't have duplicates"),
    ],
)
def test_storage_curve_construction_is_checked(elevation, storage, message):
    with pytest.raises(ValueError) as excinfo:
        ElevationStorage(elevation, storage)
    assert str(excinfo.value) == message


@pytest.mark.parametrize("points", [[], [5.0]])
@pytest.mark.parametrize("lookup", ["get_storage", "get_elevation"])
def test_short_storage_curve_constructs_but_cannot_be_read(points, lookup):
    curve = ElevationStorage(points, points)
    assert curve.elevation == points
    message = panic_message(lambda: getattr(curve, lookup)(5.0))
    assert message == "x_values and y_values each must have at least 2 elements."


@pytest.mark.parametrize("lookup", ["get_storage", "get_elevation"])
def test_nan_lookup_is_a_broken_precondition(lookup):
    message = panic_message(lambda: getattr(CURVE, lookup)(NAN))
    assert message == "called `Option::unwrap()` on a `None` value"


def test_storage_curve_lookup_arguments():
    assert CURVE.get_storage(elevation=105) == 500.0
    with pytest.raises(TypeError) as excinfo:
        CURVE.get_storage()
    assert str(excinfo.value) == (
        "ElevationStorage.get_storage() missing 1 required positional argument: 'elevation'"
    )
    with pytest.raises(TypeError) as excinfo:
        ElevationStorage("abc", [1])
    assert str(excinfo.value) == "argument 'elevation': Can't extract `str` to `Vec`"


@pytest.mark.parametrize("cls", [ElevationStorage, ElevationDischarge])
def test_curve_attributes_are_fresh_read_only_lists(cls):
    curve = cls((1, 2, 3), range(3))
    first = curve.elevation
    assert first == [1.0, 2.0, 3.0] and first is not curve.elevation
    first.append(4.0)
    assert curve.elevation == [1.0, 2.0, 3.0]
    second_name = "storage" if cls is ElevationStorage else "discharge"
    assert getattr(curve, second_name) == [0.0, 1.0, 2.0]
    with pytest.raises(AttributeError):
        curve.elevation = []
    assert cls.elevation.__doc__ is None and getattr(cls, second_name).__doc__ is None


# Elevation-discharge curve


@pytest.mark.parametrize(
    "elevation, discharge, message",
    [
        ([100], [0], "`elevation` and `discharge` each must have at least 2 elements."),
        ([], [], "`elevation` and `discharge` each must have at least 2 elements."),
        ([100, 101], [0], "`elevation` and `discharge` must have the same length"),
        ([100, 100], [0, 1], "`elevation` must must be sorted and can't have duplicates"),
        ([100, NAN], [0, 1], "`elevation` must must be sorted and can't have duplicates"),
        ([100, 101], [5, 4], "`discharge` must must be sorted"),
        ([100, 101], [0, NAN], "`discharge` must must be sorted"),
    ],
)
def test_discharge_curve_construction_is_checked(elevation, discharge, message):
    with pytest.raises(ValueError) as excinfo:
        ElevationDischarge(elevation, discharge)
    assert str(excinfo.value) == message


def test_discharge_curve_accepts_a_flat_start():
    curve = ElevationDischarge([100, 101, 102], [0, 0, 50])
    assert curve.discharge == [0.0, 0.0, 50.0]


# Outlets: construction and attributes

GATE_CURVE = ElevationDischarge([100, 110], [0, 50])


@pytest.mark.parametrize(
    "keywords, minimum, maximum",
    [
        ({}, 100.0, None),
        ({"minimum_elevation": 90}, 100.0, None),
        ({"minimum_elevation": 104}, 104.0, None),
        ({"minimum_elevation": NAN}, 100.0, None),
        ({"maximum_elevation": 120}, 100.0, 110.0),
        ({"maximum_elevation": 108}, 100.0, 108.0),
        ({"maximum_elevation": NAN}, 100.0, 110.0),
        ({"minimum_elevation": None, "maximum_elevation": None}, 100.0, None),
    ],
)
def test_controlled_gates_are_narrowed_to_the_curve(keywords, minimum, maximum):
    gate = ControlledDischargeInfo(GATE_CURVE, **keywords)
    assert gate.minimum_elevation == minimum
    assert gate.maximum_elevation == maximum
    assert gate.maximum_release is None


def test_outlets_store_their_arguments():
    constant = ConstantDischargeInfo(3, maximum_elevation=-1.5)
    assert (constant.discharge, constant.minimum_elevation, constant.maximum_elevation) == (
        3.0,
        None,
        -1.5,
    )
    spillway = UnControlledDischargeInfo(GATE_CURVE, elevation_offset=-5)
    assert spillway.elevation_offset == -5.0
    assert UnControlledDischargeInfo(GATE_CURVE).elevation_offset is None
    series = ContinuousTimeSeries([1, 2], timedelta(hours=1), "volume")
    specified = SpecifiedDischargeInfo(series, 1, None, maximum_release=7)
    assert (specified.minimum_elevation, specified.maximum_elevation) == (1.0, None)
    assert specified.maximum_release == 7.0
    assert ControlledDischargeInfo(GATE_CURVE, maximum_release=-2).maximum_release == -2.0


class CurveSubclass(ElevationDischarge):
    pass


class SeriesSubclass(ContinuousTimeSeries):
    pass


def test_outlets_hold_copies_and_return_fresh_objects():
    curve = CurveSubclass([100, 110], [0, 50])
    gate = ControlledDischargeInfo(curve)
    spillway = UnControlledDischargeInfo(curve)
    for outlet in (gate, spillway):
        first = outlet.elevation_discharge
        assert type(first) is ElevationDischarge
        assert first is not curve and first is not outlet.elevation_discharge
        assert (first.elevation, first.discharge) == ([100.0, 110.0], [0.0, 50.0])
    series = SeriesSubclass([1, 2, 3], timedelta(minutes=5), "elevation")
    specified = SpecifiedDischargeInfo(series)
    read = specified.discharge
    assert type(read) is ContinuousTimeSeries and read is not specified.discharge
    assert (read.data, read.time_step, read.kind) == ([1.0, 2.0, 3.0], timedelta(minutes=5), "elevation")


@pytest.mark.parametrize(
    "build, message",
    [
        (lambda: ControlledDischargeInfo("x"),
         "argument 'elevation_discharge': 'str' object is not an instance of 'ElevationDischarge'"),
        (lambda: UnControlledDischargeInfo(ElevationStorage([1, 2], [1, 2])),
         "argument 'elevation_discharge': 'ElevationStorage' object is not an instance of "
         "'ElevationDischarge'"),
        (lambda: SpecifiedDischargeInfo(None),
         "argument 'discharge': 'None' is not an instance of 'ContinuousTimeSeries'"),
        (lambda: ControlledDischargeInfo(GATE_CURVE, maximum=1),
         "ControlledDischargeInfo.__new__() got an unexpected keyword argument 'maximum'"),
    ],
)
def test_outlet_argument_errors(build, message):
    with pytest.raises(TypeError) as excinfo:
        build()
    assert str(excinfo.value) == message


def test_optional_outlet_arguments_name_themselves():
    with pytest.raises(TypeError) as excinfo:
        ConstantDischargeInfo(1.0, minimum_elevation="low")
    assert str(excinfo.value).startswith("argument 'minimum_elevation': ")


@pytest.mark.parametrize(
    "cls, attribute, doc",
    [
        (ConstantDischargeInfo, "discharge", "Constant discharge rate (e.g., cfs)."),
        (ConstantDischargeInfo, "maximum_elevation", "Elevation above which no discharge occurs."),
        (SpecifiedDischargeInfo, "discharge",
         "Time series of prescribed outflow values (kind=discharge)."),
        (SpecifiedDischargeInfo, "minimum_elevation", None),
        (SpecifiedDischargeInfo, "maximum_release", None),
        (ControlledDischargeInfo, "maximum_release", "Cap on the maximum allowable discharge."),
        (ControlledDischargeInfo, "elevation_discharge",
         "Rating curve mapping elevation to discharge."),
        (UnControlledDischargeInfo, "elevation_offset",
         "Additive offset applied to the reservoir elevation before curve lookup."),
    ],
)
def test_attribute_docstrings(cls, attribute, doc):
    assert getattr(cls, attribute).__doc__ == doc


def test_class_docstrings_keep_their_characters():
    assert UnControlledDischargeInfo.__text_signature__ == "(elevation_discharge, elevation_offset=None)"
    assert "before the rating-curve lookup — useful for modeling a weir crest\n" in (
        UnControlledDischargeInfo.__doc__
    )
    assert "(e.g., ft³ when inflow is in cfs).\n" in ElevationStorage.__doc__
    assert ElevationStorage.get_elevation.__doc__.endswith(
        "# Panics\n\nPanics if `storage` is outside the range of the stored curve."
    )


# Releases


@pytest.mark.parametrize(
    "keywords, elevation, expected",
    [
        ({}, 105, 25.0),
        ({}, 100, 0.0),
        ({}, 110, 50.0),
        ({"maximum_release": 10}, 105, 10.0),
        ({"maximum_release": NAN}, 105, 25.0),
        ({}, 99.9, 0.0),
        ({"minimum_elevation": 104}, 103.9, 0.0),
        ({"maximum_elevation": 120}, 110.5, 0.0),
        ({"maximum_elevation": 106}, 106, 30.0),
        ({"maximum_elevation": 106}, 106.5, 0.0),
    ],
)
def test_controlled_release(keywords, elevation, expected):
    assert release(ControlledDischargeInfo(GATE_CURVE, **keywords), elevation) == expected


@pytest.mark.parametrize(
    "outlet, elevation, message",
    [
        (ControlledDischargeInfo(GATE_CURVE), 110.5,
         "elevation 110.5 is above the maximum of the elevation-discharge curve (110)."),
        (UnControlledDischargeInfo(GATE_CURVE, elevation_offset=-5), 116,
         "elevation 111 is above the maximum of the elevation-discharge curve (110)."),
        (UnControlledDischargeInfo(GATE_CURVE), 110.25,
         "elevation 110.25 is above the maximum of the elevation-discharge curve (110)."),
    ],
)
def test_rating_outlets_refuse_elevations_above_their_curve(outlet, elevation, message):
    with pytest.raises(ValueError) as excinfo:
        release(outlet, elevation)
    assert str(excinfo.value) == message


@pytest.mark.parametrize(
    "offset, elevation, expected",
    [(-5, 107, 10.0), (None, 107, 35.0), (None, 99.5, 0.0), (2.5, 97.5, 0.0), (2.5, 100, 12.5)],
)
def test_uncontrolled_release(offset, elevation, expected):
    assert release(UnControlledDischargeInfo(GATE_CURVE, offset), elevation) == expected


@pytest.mark.parametrize(
    "keywords, elevation, expected",
    [
        ({"minimum_elevation": 100}, 100, 4.5),
        ({"minimum_elevation": 100}, 99.999, 0.0),
        ({"maximum_elevation": 105}, 105, 4.5),
        ({"maximum_elevation": 105}, 105.001, 0.0),
        ({"minimum_elevation": NAN, "maximum_elevation": NAN}, 50, 4.5),
    ],
)
def test_constant_release(keywords, elevation, expected):
    assert release(ConstantDischargeInfo(4.5, **keywords), elevation) == expected


PRESCRIBED = ContinuousTimeSeries([5, 8, 20], timedelta(hours=1), "discharge")


@pytest.mark.parametrize(
    "keywords, seconds, expected",
    [
        ({}, 7200, 20.0),
        ({}, 5400, 14.0),
        ({}, 3600, 8.0),
        ({"maximum_release": 12}, 7200, 12.0),
        ({"maximum_release": 12}, 3600, 8.0),
        ({"maximum_release": NAN}, 7200, 20.0),
        ({"minimum_elevation": 600}, 7200, 0.0),
        ({"minimum_elevation": 600}, 9000, 0.0),
        ({"maximum_elevation": 400}, 9000, 0.0),
    ],
)
def test_specified_release(keywords, seconds, expected):
    assert release(SpecifiedDischargeInfo(PRESCRIBED, **keywords), 500, seconds) == expected


def test_specified_release_past_its_series():
    with pytest.raises(ValueError) as excinfo:
        release(SpecifiedDischargeInfo(PRESCRIBED), 500, 7201)
    assert str(excinfo.value) == (
        "simulation duration 7201s exceeds the specified discharge series length (7200s)."
    )
