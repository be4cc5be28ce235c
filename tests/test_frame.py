"""The module tree, the shared class properties and the argument conventions.

The conventions are reached through the two series classes, the only entry
points that exist in every build of the module tree.
"""

import array
import gc
import importlib.machinery
import importlib.util
import inspect
import math
import operator
import re
import types
import weakref
from datetime import timedelta

import numpy as np
import pytest

import hydrokit

ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries

HOUR = timedelta(hours=1)
SERIES_CLASSES = [ContinuousTimeSeries, IncrementalTimeSeries]

SUBMODULES = [
    "utils",
    "reach",
    "reservoir",
    "rainfall_transform",
    "rainfall_loss",
    "baseflow",
    "metrics",
]

# Standalone module name -> the submodule of hydrokit holding the same content.
STANDALONE = {
    "init_reach": "reach",
    "init_reservoir": "reservoir",
    "init_transform": "rainfall_transform",
    "init_loss": "rainfall_loss",
    "init_baseflow": "baseflow",
    "init_metrics": "metrics",
}


def error_of(call, *args):
    """The message the interpreter itself gives for a refused value."""
    with pytest.raises(TypeError) as excinfo:
        call(*args)
    return str(excinfo.value)


def public_names(module):
    return {name for name in dir(module) if not name.startswith("_")}


def load_standalone(name):
    loader = importlib.machinery.ExtensionFileLoader(name, hydrokit.__file__)
    spec = importlib.util.spec_from_file_location(name, hydrokit.__file__, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


# ---------------------------------------------------------------- module tree


def test_top_module():
    assert hydrokit.__all__ == SUBMODULES
    assert hydrokit.__name__ == "hydrokit"
    assert hydrokit.__doc__ == ""
    assert public_names(hydrokit) == set(SUBMODULES)


def test_utils_all_in_registration_order():
    assert hydrokit.utils.__all__ == ["ContinuousTimeSeries", "IncrementalTimeSeries"]
    assert hydrokit.utils.ContinuousTimeSeries is ContinuousTimeSeries


def test_reservoir_utils_is_the_first_reservoir_name():
    reservoir = hydrokit.reservoir
    assert reservoir.__all__ == ["reservoir_utils", "run_level_pool_routing", "LevelPoolResult"]
    assert reservoir.reservoir_utils.__all__ == [
        "ElevationDischarge", "ElevationStorage", "ControlledDischargeInfo",
        "UnControlledDischargeInfo", "SpecifiedDischargeInfo", "ConstantDischargeInfo"]
    assert hydrokit.reach.__all__ == ["run_muskingum_routing"]
    assert hydrokit.rainfall_transform.__all__ == ["run_clark_uh"]
    assert isinstance(reservoir.reservoir_utils, types.ModuleType)
    assert reservoir.reservoir_utils.__name__ == "reservoir_utils"
    assert reservoir.reservoir_utils.__doc__ is None


@pytest.mark.parametrize("name", SUBMODULES)
def test_submodule_attributes(name):
    module = getattr(hydrokit, name)
    assert isinstance(module, types.ModuleType)
    assert module.__name__ == name
    assert module.__doc__ is None
    assert not hasattr(module, "__file__")
    assert not hasattr(module, "__path__")
    assert getattr(module, "__spec__", None) is None
    assert public_names(module) == set(getattr(module, "__all__", []))


def test_submodules_are_not_importable_by_dotted_name():
    with pytest.raises(ModuleNotFoundError):
        __import__("hydrokit.utils")
    from hydrokit import utils

    assert utils is hydrokit.utils


@pytest.fixture(scope="module")
def standalone_modules():
    return {name: load_standalone(name) for name in STANDALONE}


@pytest.mark.parametrize("name", sorted(STANDALONE))
def test_standalone_module_mirrors_submodule(standalone_modules, name):
    standalone = standalone_modules[name]
    submodule = getattr(hydrokit, STANDALONE[name])
    assert standalone.__name__ == name
    assert standalone.__doc__ == ""
    assert getattr(standalone, "__all__", None) == getattr(submodule, "__all__", None)
    assert public_names(standalone) == public_names(submodule)
    for attribute in public_names(submodule):
        if isinstance(getattr(submodule, attribute), type):
            assert getattr(standalone, attribute) is getattr(submodule, attribute)


def test_standalone_reservoir_holds_its_nested_module(standalone_modules):
    standalone = standalone_modules["init_reservoir"]
    assert standalone.__all__[0] == "reservoir_utils"
    nested = standalone.reservoir_utils
    assert isinstance(nested, types.ModuleType)
    assert nested is not hydrokit.reservoir.reservoir_utils
    assert nested.__name__ == "reservoir_utils"
    shared = hydrokit.reservoir.reservoir_utils
    assert public_names(nested) == public_names(shared)
    for attribute in public_names(shared):
        assert getattr(nested, attribute) is getattr(shared, attribute)


# ------------------------------------------------------------ class properties


def make(cls, data=(1.0, 2.0), time_step=HOUR, kind="rainfall"):
    return cls(data, time_step, kind)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_type_identity(cls):
    name = cls.__name__
    assert cls.__qualname__ == name
    assert cls.__module__ == "builtins"
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert cls.__bases__ == (object,)
    assert "__init__" not in cls.__dict__


@pytest.mark.parametrize(
    "cls, members",
    [
        (ContinuousTimeSeries, {"data", "kind", "time_step", "total_duration"}),
        (IncrementalTimeSeries, {"data", "kind", "time_step", "total_duration", "disaggregate"}),
    ],
)
def test_public_members(cls, members):
    assert public_names(cls) == members


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_instances_have_no_dict_weakref_or_gc(cls):
    series = make(cls)
    assert not hasattr(series, "__dict__")
    with pytest.raises(AttributeError):
        series.note = 1
    with pytest.raises(TypeError):
        weakref.ref(series)
    assert not gc.is_tracked(series)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "attribute, value", [("data", []), ("kind", "volume"), ("time_step", HOUR)]
)
def test_read_only_attributes(cls, attribute, value):
    series = make(cls)
    with pytest.raises(AttributeError):
        setattr(series, attribute, value)
    with pytest.raises(AttributeError):
        delattr(series, attribute)
    assert series.data == [1.0, 2.0]
    assert series.kind == "rainfall"
    assert series.time_step == HOUR


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_identity_semantics(cls):
    first, second = make(cls), make(cls)
    assert first == first
    assert first != second
    assert hash(first) == object.__hash__(first)
    assert repr(first) == object.__repr__(first)
    assert repr(first).startswith(f"<builtins.{cls.__name__} object at 0x")
    with pytest.raises(TypeError):
        len(first)
    with pytest.raises(TypeError):
        iter(first)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_getters_build_fresh_objects(cls):
    series = make(cls, data=[1, 2, 3])
    data = series.data
    assert type(data) is list
    assert [type(value) for value in data] == [float, float, float]
    assert series.data is not data
    data.append(4.0)
    data[0] = -1.0
    assert series.data == [1.0, 2.0, 3.0]
    assert series.time_step is not series.time_step
    assert type(series.time_step) is timedelta
    assert type(series.kind) is str


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_time_step_reads_back_normalised(cls):
    step = make(cls, time_step=timedelta(days=2)).time_step
    assert step == timedelta(days=2)
    assert (step.days, step.seconds, step.microseconds) == (2, 0, 0)
    step = make(cls, time_step=timedelta(seconds=90061)).time_step
    assert (step.days, step.seconds, step.microseconds) == (1, 3661, 0)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_subclass_is_constructed_as_itself(cls):
    class Gauged(cls):
        pass

    class Recorded(Gauged):
        def __new__(klass, data):
            return super().__new__(klass, data, HOUR, "discharge")

    gauged = Gauged([1.0, 2.0], HOUR, "rainfall")
    assert type(gauged) is Gauged
    assert gauged.data == [1.0, 2.0]
    assert gauged.total_duration() == make(cls).total_duration()
    recorded = Recorded([3.0])
    assert type(recorded) is Recorded
    assert (recorded.data, recorded.kind) == ([3.0], "discharge")
    assert type(cls.__new__(Gauged, [5.0], HOUR, "volume")) is Gauged


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_type_attributes_are_writable(cls):
    cls.station = "upper gauge"
    try:
        assert make(cls).station == "upper gauge"
    finally:
        del cls.station
    assert not hasattr(cls, "station")


# ----------------------------------------------------------------- docstrings

CONTINUOUS_DOC = (
    "A uniformly-spaced time series where each value represents a quantity at a\n"
    "discrete point in time (e.g. discharge, elevation, storage).\n\n"
    "Total duration spans first to last point: `time_step * (len(data) - 1)`.\n"
    "Supports linear interpolation between points."
)
INCREMENTAL_DOC = (
    "A uniformly-spaced time series where each value represents a quantity\n"
    "accumulated over one time step interval (e.g. rainfall depth, volume added).\n\n"
    "Total duration spans all intervals: `time_step * len(data)`.\n"
    "Supports disaggregation to a finer time step."
)


@pytest.mark.parametrize(
    "callable_, doc, text_signature, signature",
    [
        (ContinuousTimeSeries, CONTINUOUS_DOC, "(data, time_step, kind)", "(data, time_step, kind)"),
        (IncrementalTimeSeries, INCREMENTAL_DOC, "(data, time_step, kind)", "(data, time_step, kind)"),
        (
            ContinuousTimeSeries.total_duration,
            "Total duration from first to last data point (seconds).", "($self)", "(self, /)",
        ),
        (
            IncrementalTimeSeries.total_duration,
            "Total duration spanning all time step intervals (seconds).", "($self)", "(self, /)",
        ),
        (
            IncrementalTimeSeries.disaggregate,
            "Disaggregates to a finer `target_step` (seconds) by uniformly\n"
            "distributing each bucket's value. Total depth is preserved.",
            "($self, target_step)",
            "(self, /, target_step)",
        ),
    ],
)
def test_docstrings_and_signatures(callable_, doc, text_signature, signature):
    assert callable_.__doc__ == doc
    assert callable_.__text_signature__ == text_signature
    assert str(inspect.signature(callable_)) == signature


def test_bound_method_signature():
    assert str(inspect.signature(make(IncrementalTimeSeries).disaggregate)) == "(target_step)"
    assert str(inspect.signature(make(ContinuousTimeSeries).total_duration)) == "()"


# ---------------------------------------------------------- argument matching


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1, 2, 3, 4), {}, "takes 3 positional arguments but 4 were given"),
        ((1, 2, 3, 4, 5), {"bogus": 1}, "takes 3 positional arguments but 5 were given"),
        (([1.0], HOUR, "rainfall"), {"step": 1}, "got an unexpected keyword argument 'step'"),
        ((), {"Data": [1.0]}, "got an unexpected keyword argument 'Data'"),
        (("not data",), {"bogus": 1}, "got an unexpected keyword argument 'bogus'"),
        (([1.0], HOUR), {"kind\x00": "rainfall"}, "got an unexpected keyword argument 'kind\x00'"),
        (([1.0], HOUR, "rainfall"), {"\ud800": 1}, "got an unexpected keyword argument '\ud800'"),
        (([1.0],), {"data": [2.0], "time_step": HOUR, "kind": "x"}, "got multiple values for argument 'data'"),
        (([1.0], HOUR, "rainfall"), {"kind": "volume"}, "got multiple values for argument 'kind'"),
        ((), {}, "missing 3 required positional arguments: 'data', 'time_step', and 'kind'"),
        (([1.0],), {}, "missing 2 required positional arguments: 'time_step' and 'kind'"),
        ((), {"kind": "rainfall"}, "missing 2 required positional arguments: 'data' and 'time_step'"),
        (([1.0], HOUR), {}, "missing 1 required positional argument: 'kind'"),
        ((), {"data": [1.0], "kind": 5}, "missing 1 required positional argument: 'time_step'"),
        (("not data",), {}, "missing 2 required positional arguments: 'time_step' and 'kind'"),
    ],
)
def test_constructor_matching(cls, args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        cls(*args, **kwargs)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == f"{cls.__name__}.__new__() {message}"


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_constructor_takes_keywords_in_any_order(cls):
    series = cls(kind="elevation", data=[4.0], time_step=HOUR)
    assert (series.data, series.kind, series.time_step) == ([4.0], "elevation", HOUR)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((900, 900), {}, "takes 1 positional arguments but 2 were given"),
        ((), {}, "missing 1 required positional argument: 'target_step'"),
        ((), {"step": 900}, "got an unexpected keyword argument 'step'"),
        ((900,), {"target_step": 900}, "got multiple values for argument 'target_step'"),
        (("900",), {"extra": 1}, "got an unexpected keyword argument 'extra'"),
        ((), {"target_step\x00": 900}, "got an unexpected keyword argument 'target_step\x00'"),
    ],
)
def test_disaggregate_matching(args, kwargs, message):
    series = make(IncrementalTimeSeries)
    with pytest.raises(TypeError) as excinfo:
        series.disaggregate(*args, **kwargs)
    assert str(excinfo.value) == f"IncrementalTimeSeries.disaggregate() {message}"


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((), {"seconds": 1}), ((None,), {})])
def test_total_duration_takes_no_arguments(cls, args, kwargs):
    with pytest.raises(TypeError):
        make(cls).total_duration(*args, **kwargs)


# ------------------------------------------------------------ vector of doubles


class Gauge:
    """A reading that knows its value only through __float__."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Steps:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Readings:
    """A minimal sequence: __len__ and __getitem__ only."""

    def __init__(self, values, length=None):
        self.values = values
        self.length = len(values) if length is None else length

    def __len__(self):
        return self.length

    def __getitem__(self, index):
        return self.values[index]


class UnsizedReadings(Readings):
    def __len__(self):
        raise TypeError("gauge count unavailable")


float32_values = np.array([0.1, 2.5, -3.3], dtype=np.float32)


@pytest.mark.parametrize(
    "data, expected",
    [
        ((1.0, 2.5), [1.0, 2.5]),
        (range(3), [0.0, 1.0, 2.0]),
        ([1, 2**53 + 1, -4], [1.0, float(2**53 + 1), -4.0]),
        ([True, False, True], [1.0, 0.0, 1.0]),
        ([Gauge(2.25), Steps(7)], [2.25, 7.0]),
        ([np.float64(0.5), np.int32(3), np.float32(0.1)], [0.5, 3.0, float(np.float32(0.1))]),
        (np.array([0.1, 0.2, 0.3]), [0.1, 0.2, 0.3]),
        (np.arange(10.0)[::3], [0.0, 3.0, 6.0, 9.0]),
        (np.array([[1.0, 2.0], [3.0, 4.0]])[:, 1], [2.0, 4.0]),
        (float32_values, [float(value) for value in float32_values]),
        (np.array([5, -6], dtype=np.int64), [5.0, -6.0]),
        (np.array([], dtype=np.float64), []),
        (array.array("d", [1.5, -0.25]), [1.5, -0.25]),
        (array.array("i", [3, 4]), [3.0, 4.0]),
        (b"\x00\x01\xff", [0.0, 1.0, 255.0]),
        (bytearray(b"\x02"), [2.0]),
        (Readings([1.0, 2.0, 3.0]), [1.0, 2.0, 3.0]),
        (Readings([1.0, 2.0, 3.0], length=1), [1.0, 2.0, 3.0]),
        (UnsizedReadings([4.0, 5.0]), [4.0, 5.0]),
        # An overstated length is only a sizing hint, never a reason to refuse the data.
        (Readings([1.0, 2.0], length=2**40), [1.0, 2.0]),
        (Readings([1.0, 2.0], length=2**62), [1.0, 2.0]),
        ([], []),
    ],
)
def test_data_accepted(data, expected):
    for cls in SERIES_CLASSES:
        assert make(cls, data=data).data == expected


def test_special_values_stored_unchanged():
    data = make(ContinuousTimeSeries, data=[math.nan, math.inf, -math.inf, -0.0]).data
    assert math.isnan(data[0])
    assert data[1:3] == [math.inf, -math.inf]
    assert math.copysign(1.0, data[3]) == -1.0


def test_caller_data_is_copied():
    readings = [1.0, 2.0]
    series = make(ContinuousTimeSeries, data=readings)
    readings[0] = 99.0
    assert series.data == [1.0, 2.0]


def generator():
    yield 1.0


@pytest.mark.parametrize(
    "data, message",
    [
        ("123", "Can't extract `str` to `Vec`"),
        ("", "Can't extract `str` to `Vec`"),
        (type("Station", (str,), {})("abc"), "Can't extract `str` to `Vec`"),
        ({1.0, 2.0}, "'set' object is not an instance of 'Sequence'"),
        (frozenset([1.0]), "'frozenset' object is not an instance of 'Sequence'"),
        ({0: 1.0}, "'dict' object is not an instance of 'Sequence'"),
        (generator(), "'generator' object is not an instance of 'Sequence'"),
        (iter([1.0]), "'list_iterator' object is not an instance of 'Sequence'"),
        (None, "'None' is not an instance of 'Sequence'"),
        (5.0, "'float' object is not an instance of 'Sequence'"),
        (Gauge, "'type' object is not an instance of 'Sequence'"),
        (Gauge(1.0), "'Gauge' object is not an instance of 'Sequence'"),
    ],
)
def test_data_refused(data, message):
    for cls in SERIES_CLASSES:
        with pytest.raises(TypeError) as excinfo:
            make(cls, data=data)
        assert type(excinfo.value) is TypeError
        assert str(excinfo.value) == f"argument 'data': {message}"


class Outer:
    class Record:
        pass


class Logger:
    pass


Logger.__qualname__ = "Logger\x00v2"


@pytest.mark.parametrize(
    "value, type_name", [(Outer.Record(), "Outer.Record"), (Logger(), "Logger\x00v2")]
)
def test_mismatch_shows_the_whole_qualified_name(value, type_name):
    with pytest.raises(TypeError) as excinfo:
        make(ContinuousTimeSeries, data=value)
    assert str(excinfo.value) == (
        f"argument 'data': '{type_name}' object is not an instance of 'Sequence'"
    )


@pytest.mark.parametrize(
    "item",
    ["1.0", None, b"1", [1.0], Gauge("2.0"), np.array([1.0, 2.0])],
)
def test_unconvertible_item_is_named(item):
    expected = "argument 'data': " + error_of(math.isnan, item)
    for cls in SERIES_CLASSES:
        with pytest.raises(TypeError) as excinfo:
            make(cls, data=[1.0, item, 3.0])
        assert type(excinfo.value) is TypeError
        assert str(excinfo.value) == expected


def test_two_dimensional_array_is_refused():
    grid = np.array([[1.0, 2.0], [3.0, 4.0]])
    expected = "argument 'data': " + error_of(math.isnan, grid[0])
    with pytest.raises(TypeError) as excinfo:
        make(ContinuousTimeSeries, data=grid)
    assert str(excinfo.value) == expected


class Failing(Readings):
    def __init__(self, error):
        super().__init__([1.0, 2.0, 3.0])
        self.error = error

    def __getitem__(self, index):
        if index == 1:
            raise self.error
        return super().__getitem__(index)


@pytest.mark.parametrize(
    "error",
    [ValueError("gauge offline"), KeyError("station"), RuntimeError("telemetry lost")],
)
def test_iteration_error_propagates_unchanged(error):
    with pytest.raises(type(error)) as excinfo:
        make(ContinuousTimeSeries, data=Failing(error))
    assert excinfo.value is error
    assert not str(excinfo.value).startswith("argument")


def test_iteration_type_error_is_named():
    with pytest.raises(TypeError) as excinfo:
        make(ContinuousTimeSeries, data=Failing(TypeError("bad reading")))
    assert str(excinfo.value) == "argument 'data': bad reading"


class TypeErrorVariant(TypeError):
    pass


def raising_gauge(error):
    class Broken:
        def __float__(self):
            raise error

    return Broken()


def test_type_error_subclass_passes_unchanged():
    error = TypeErrorVariant("sensor mismatch")
    with pytest.raises(TypeErrorVariant) as excinfo:
        make(ContinuousTimeSeries, data=[raising_gauge(error)])
    assert excinfo.value is error
    assert str(excinfo.value) == "sensor mismatch"


def test_type_error_rewritten_with_its_cause():
    cause = ValueError("x")
    try:
        raise TypeError("unreadable") from cause
    except TypeError as error:
        original = error
    with pytest.raises(TypeError) as excinfo:
        make(ContinuousTimeSeries, data=[raising_gauge(original)])
    assert excinfo.value is not original
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == "argument 'data': unreadable"
    assert excinfo.value.__cause__ is cause


def test_type_error_without_cause_gets_none():
    with pytest.raises(TypeError) as excinfo:
        make(ContinuousTimeSeries, data=[raising_gauge(TypeError("plain"))])
    assert str(excinfo.value) == "argument 'data': plain"
    assert excinfo.value.__cause__ is None


@pytest.mark.parametrize(
    "item, error_type",
    [
        (raising_gauge(ValueError("calibration")), ValueError),
        (10**400, OverflowError),
    ],
)
def test_other_item_failures_are_unchanged(item, error_type):
    with pytest.raises(error_type) as excinfo:
        make(IncrementalTimeSeries, data=[item])
    assert type(excinfo.value) is error_type
    assert not str(excinfo.value).startswith("argument")


# ------------------------------------------------------------------ timedelta


class Interval(timedelta):
    pass


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_timedelta_subclass_accepted(cls):
    series = make(cls, time_step=Interval(minutes=15))
    assert series.time_step == timedelta(minutes=15)
    assert type(series.time_step) is timedelta


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "time_step",
    [timedelta(seconds=-1), timedelta(microseconds=-1), timedelta(days=-3), Interval(hours=-1)],
)
def test_negative_timedelta(cls, time_step):
    with pytest.raises(ValueError) as excinfo:
        make(cls, time_step=time_step)
    message = str(excinfo.value)
    assert type(excinfo.value) is ValueError
    assert "negative" in message
    assert "time_step" not in message
    assert "argument" not in message


# ----------------------------------------------------------------------- text


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "parameter, value, message",
    [
        ("time_step", 3600.0, "'float' object is not an instance of 'timedelta'"),
        ("time_step", 3600, "'int' object is not an instance of 'timedelta'"),
        ("time_step", None, "'None' is not an instance of 'timedelta'"),
        ("time_step", "1:00:00", "'str' object is not an instance of 'timedelta'"),
        ("time_step", np.timedelta64(1, "h"), "'timedelta64' object is not an instance of 'timedelta'"),
        ("kind", 5, "'int' object is not an instance of 'str'"),
        ("kind", None, "'None' is not an instance of 'str'"),
        ("kind", b"rainfall", "'bytes' object is not an instance of 'str'"),
        ("kind", ["rainfall"], "'list' object is not an instance of 'str'"),
    ],
)
def test_type_mismatch_names_the_parameter(cls, parameter, value, message):
    with pytest.raises(TypeError) as excinfo:
        make(cls, **{parameter: value})
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == f"argument '{parameter}': {message}"


def test_each_failure_raises_a_fresh_exception():
    errors = []
    for _ in range(2):
        with pytest.raises(TypeError) as excinfo:
            make(ContinuousTimeSeries, kind=5)
        errors.append(excinfo.value)
    assert errors[0] is not errors[1]
    assert errors[0].args == errors[1].args == ("argument 'kind': 'int' object is not an instance of 'str'",)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_unencodable_kind(cls):
    with pytest.raises(UnicodeEncodeError) as excinfo:
        make(cls, kind="\ud800")
    assert type(excinfo.value) is UnicodeEncodeError
    assert not str(excinfo.value).startswith("argument")


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_kind_str_subclass_accepted(cls):
    class KindName(str):
        pass

    series = make(cls, kind=KindName("volume"))
    assert series.kind == "volume"
    assert type(series.kind) is str


# ------------------------------------------------------- signed 32-bit integer


@pytest.mark.parametrize(
    "target_step, seconds",
    [(Steps(900), 900), (np.int64(1800), 1800), (type("Secs", (int,), {})(1200), 1200)],
)
def test_target_step_integers_accepted(target_step, seconds):
    result = make(IncrementalTimeSeries).disaggregate(target_step)
    assert result.time_step == timedelta(seconds=seconds)


@pytest.mark.parametrize("target_step", [2**31, -(2**31) - 1, 2**64, Steps(2**40)])
def test_target_step_overflow(target_step):
    with pytest.raises(OverflowError) as excinfo:
        make(IncrementalTimeSeries).disaggregate(target_step)
    assert not str(excinfo.value).startswith("argument")


@pytest.mark.parametrize("target_step", [900.0, "900", None, np.float64(900.0)])
def test_target_step_not_integer(target_step):
    expected = "argument 'target_step': " + error_of(operator.index, target_step)
    with pytest.raises(TypeError) as excinfo:
        make(IncrementalTimeSeries).disaggregate(target_step)
    assert str(excinfo.value) == expected


@pytest.mark.parametrize("target_step", [True, -(2**31), 29])
def test_target_step_in_range_reaches_the_check(target_step):
    with pytest.raises(ValueError) as excinfo:
        make(IncrementalTimeSeries).disaggregate(target_step)
    assert str(excinfo.value) == "target_step must be >= 30 seconds."


def test_largest_target_step_reaches_the_multiple_check():
    with pytest.raises(ValueError) as excinfo:
        make(IncrementalTimeSeries).disaggregate(2**31 - 1)
    assert str(excinfo.value) == (
        "Original time_step (3600) must be a multiple of target_step (2147483647)."
    )


# ---------------------------------------------------------------- internal failures


def panic_from_a_one_point_curve():
    curve = hydrokit.reservoir.reservoir_utils.ElevationStorage([1.0], [5.0])
    try:
        curve.get_storage(1.0)
    except Exception:
        pytest.fail("an internal failure must not be caught as an ordinary Exception")
    except BaseException as error:
        return error
    pytest.fail("no internal failure raised")


def test_panic_exception_class(capfd):
    first, second = panic_from_a_one_point_curve(), panic_from_a_one_point_curve()
    panic = type(first)
    assert type(second) is panic and first is not second
    assert (panic.__module__, panic.__name__, panic.__bases__) == (
        "pyo3_runtime", "PanicException", (BaseException,))
    assert first.args == ("x_values and y_values each must have at least 2 elements.",)
    assert "BaseException" in panic.__doc__ and "SystemExit" in panic.__doc__
    for module in [hydrokit, *(getattr(hydrokit, name) for name in SUBMODULES)]:
        assert panic not in vars(module).values()
    # Each failure also leaves a one-line diagnostic naming the source location.
    diagnostics = capfd.readouterr().err.splitlines()
    assert len(diagnostics) == 2
    assert all(re.fullmatch(r"hydrokit: internal check failed at src/utils/general\.cpp:\d+: "
                            r"x_values and y_values each must have at least 2 elements\.", line)
               for line in diagnostics)
