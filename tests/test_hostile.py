"""Hostile input at every parameter of every callable.

One argument at a time is replaced by something a careless or malicious caller could
pass: the wrong type, an object whose protocols raise (interrupts included), a
sequence that changes while it is read, subclasses, instances no constructor built,
look-alikes of the expected type, numpy arrays of every layout. Whatever happens, only
the documented exceptions may come out, an interrupt comes out as the very object that
was raised, and a type error names the parameter.
"""

import array
import warnings
from datetime import timedelta

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as nps

from catalog import (
    CONSTRUCTIBLE, ENTRIES, HOUR, PARAMETERS, RESULT_CLASSES, SETTERS, ConstantDischargeInfo,
    ContinuousTimeSeries, ElevationDischarge, IncrementalTimeSeries, LinearReservoir,
    SpecifiedDischargeInfo, hydrograph, hydrokit, layer, outlets, panic_exception, pool,
    rainfall, spillway, uninitialised)
from test_array_inputs import outcome, outcome_of_items

# A NaN looked up on a rating curve is an internal failure by design, hence the panic.
DOCUMENTED = (TypeError, ValueError, OverflowError, RuntimeError, UnicodeEncodeError, Warning,
              panic_exception())


class Interrupted(BaseException):
    """Any exception outside the Exception hierarchy, like a signal handler's own."""


# Exceptions that must always reach the caller as they were raised.
MUST_PROPAGATE = (KeyboardInterrupt, MemoryError, Interrupted)
INJECTED = [ValueError, TypeError, ZeroDivisionError, KeyError, *MUST_PROPAGATE]


class Tracker:
    """Raises the injected exception and remembers each one it raised."""

    def __init__(self, error_type, raised=None):
        self.error_type = error_type
        self.raised = [] if raised is None else raised

    def fire(self, *_):
        error = self.error_type("raised by the caller's object")
        self.raised.append(error)
        raise error


# ------------------------------------------------------------ hostile objects


def raising(tracker, *protocols, values=(1.0, 2.0, 3.0)):
    """An object offering the sequence and number protocols, the named ones raising."""
    values = list(values)
    namespace = {
        "__len__": lambda self: len(values),
        "__getitem__": lambda self, index: values[index],
        "__float__": lambda self: 1.0,
        "__index__": lambda self: 1,
    }
    for protocol in protocols:
        if protocol == "__class__":
            namespace["__class__"] = property(tracker.fire)
        else:
            namespace[protocol] = tracker.fire
    return type("Hostile", (), namespace)()


PROTOCOL_SETS = [
    ("__float__",), ("__index__",), ("__float__", "__index__"), ("__len__",), ("__iter__",),
    ("__getitem__",), ("__len__", "__getitem__"), ("__buffer__",), ("__bool__",),
    ("__class__",),
]


class ListOf(list):
    pass


class TupleOf(tuple):
    pass


class Layers(dict):
    pass


def hostile_subclasses(tracker):
    fire = tracker.fire
    return [
        type("Depth", (float,), {"__float__": fire, "__index__": fire})(2.0),
        type("Count", (int,), {"__index__": fire, "__float__": fire})(2),
        type("Label", (str,), {"__str__": fire, "__eq__": fire, "__hash__": fire})("discharge"),
        type("Step", (timedelta,), {"__eq__": fire, "__hash__": fire})(hours=1),
        type("Values", (list,), {"__iter__": fire, "__len__": fire, "__getitem__": fire})([1.0]),
        type("Pair", (tuple,), {"__iter__": fire, "__len__": fire})((1.0, 2.0)),
        type("Table", (dict,), {"__iter__": fire, "items": fire, "keys": fire, "values": fire,
                                "__getitem__": fire, "__len__": fire})({"shallow": layer()}),
    ]


def self_clearing():
    """A list whose second item empties the list while it is being read."""
    readings = [1.0]

    class Clearing:
        def __float__(self):
            readings.clear()
            return 2.0

    readings += [Clearing(), 3.0, 4.0]
    return readings


def self_growing():
    readings = [1.0]

    class Growing:
        def __float__(self):
            readings.extend([5.0] * 100)
            return 2.0

    readings += [Growing(), 3.0]
    return readings


def self_shrinking_sequence():
    """A sequence whose length shrinks to nothing while it is read."""
    values = [1.0, 2.0, 3.0, 4.0]

    class Shrinking:
        def __len__(self):
            return 4

        def __getitem__(self, index):
            item = values[index]
            values.clear()
            return item

    return Shrinking()


@pytest.mark.parametrize("changing", [self_clearing, self_growing, self_shrinking_sequence])
def test_sequence_changed_while_read_gives_what_iteration_gives(changing):
    expected = [float(item) for item in changing()]
    assert ContinuousTimeSeries(changing(), HOUR, "discharge").data == expected
    assert hydrokit.metrics.calculate_kge(changing(), expected) == (
        hydrokit.metrics.calculate_kge(expected, expected))


def regrow_ndarray(values):
    values.resize(100_000, refcheck=False)  # moves the data to a new allocation
    values[:] = 7.0


def regrow_array(values):
    values.extend([7.0] * 100_000)


@pytest.mark.parametrize(
    "sim, regrow",
    [(np.array([1.0, 2.0, 4.0]), regrow_ndarray), (array.array("d", [1.0, 2.0, 4.0]), regrow_array)],
    ids=["ndarray", "array"],
)
def test_array_reallocated_while_the_next_argument_is_read(sim, regrow):
    # sim is converted first; reading obs runs Python code that moves sim's memory.
    class Regrowing:
        def __float__(self):
            regrow(sim)
            return 2.0

    expected = hydrokit.metrics.calculate_kge([1.0, 2.0, 4.0], [1.0, 2.0, 4.0])
    assert hydrokit.metrics.calculate_kge(sim, [1.0, Regrowing(), 4.0]) == expected
    assert len(sim) > 3 and sim[-1] == 7.0


def clearing_then_raising(tracker):
    readings = []

    class Breaking:
        def __float__(self):
            readings.clear()
            tracker.fire()

    readings += [1.0, Breaking(), 2.0]
    return readings


def lookalike(name, module, tracker):
    return type(name, (), {"__module__": module, "__bool__": tracker.fire})()


class NoModule(type):
    @property
    def __module__(cls):
        raise AttributeError("no module recorded")


def impostor(cls):
    return type("Impostor", (), {"__class__": property(lambda self: cls)})()


PLAIN = [
    None, 0, -1, 2**70, 1.5, float("nan"), float("inf"), True, "discharge", "\ud800", "",
    b"discharge", bytearray(b"\x01"), [], [1.0], [1.0, "2"], [None], [[1.0]], (), {}, {"a": 1},
    {1: 2}, {"a": None}, set(), frozenset([1.0]), object(), HOUR, timedelta(0),
    timedelta(seconds=-1), timedelta(microseconds=1), np.float64(1.5), np.int64(2),
    np.bool_(True), np.float32("nan"), 1 + 2j, int, len, Ellipsis, range(3), iter([1.0]),
    memoryview(b"\x00" * 8), array.array("d", [1.0, 2.0]), array.array("b", [1]),
]

ARRAYS = [
    np.array(2.5), np.zeros((2, 2)), np.asfortranarray(np.ones((2, 3))), np.arange(6.0)[::2],
    np.array([1, 2], dtype=np.int64), np.array([0.1], dtype=np.float32),
    np.array([True, False]), np.array([1.0, object()], dtype=object),
    np.array(["1.0"]), np.array([1.0], dtype=">f8"), np.zeros(2, dtype=[("stage", "f8")]),
    np.ma.masked_array([1.0, -9999.0, 3.0], mask=[0, 1, 0]),
    np.ma.masked_array([[1.0]], mask=[[1]]), np.arange(3.0).view(type("Sub", (np.ndarray,), {})),
    memoryview(np.ones((2, 2))),
]
with warnings.catch_warnings():
    warnings.simplefilter("ignore", PendingDeprecationWarning)
    ARRAYS.append(np.asmatrix(np.ones((2, 2))))


def valid_instances():
    level_pool = hydrokit.reservoir.run_level_pool_routing(hydrograph(), 101.0, pool(), outlets())
    deficit = hydrokit.rainfall_loss.run_deficit_and_constant(
        rainfall(), 0.2, 1.0, 0.05, timedelta(days=2))
    return [hydrograph(), rainfall(), pool(), spillway(), layer(), *outlets().values(),
            level_pool, level_pool.reservoir_storage, deficit]


def hostile_values(tracker):
    """Every hostile value for one parameter, in a fixed order; all fresh objects."""
    values = [*PLAIN, *ARRAYS, *valid_instances()]
    values += [uninitialised(cls) for cls in CONSTRUCTIBLE + RESULT_CLASSES]
    values += [impostor(cls) for cls in (ContinuousTimeSeries, IncrementalTimeSeries,
                                         ElevationDischarge, ConstantDischargeInfo,
                                         LinearReservoir, timedelta, str, dict, list, float)]
    values += [lookalike(name, module, tracker) for name in ("bool_", "bool")
               for module in ("numpy", b"numpy", 7, None)]
    values.append(NoModule("bool_", (), {})())
    values += [raising(tracker, *protocols) for protocols in PROTOCOL_SETS]
    values += [[1.0, raising(tracker, *protocols)] for protocols in PROTOCOL_SETS]
    values += hostile_subclasses(tracker)
    values += [self_clearing(), self_growing(), self_shrinking_sequence(),
               clearing_then_raising(tracker)]
    values += [{"shallow": raising(tracker, *protocols)} for protocols in PROTOCOL_SETS[:3]]
    values += [Layers(shallow=layer()), {"\ud800": layer()}, {b"shallow": layer()},
               {"gate": SpecifiedDischargeInfo(hydrograph())}, {"spill": spillway()}]
    return values


# ------------------------------------------------------------------ the checks


def attempt(call):
    """Run a call with warnings turned into errors; return the exception or None."""
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        try:
            call()
        except BaseException as error:  # every outcome is judged by `verdict`
            return error
    return None


def verdict(error, raised, parameter):
    """Why the outcome breaks the rules, or None when it keeps them.

    `raised` lists the injected exceptions that the caller's objects raised, in order.
    """
    interrupts = [injected for injected in raised if isinstance(injected, MUST_PROPAGATE)]
    if interrupts and error is not interrupts[0]:
        return f"{interrupts[0]!r} was raised but the call ended with {error!r}"
    if error is None or any(error is injected for injected in raised):
        return None
    if not isinstance(error, DOCUMENTED):
        return f"undocumented {type(error).__name__}: {error}"
    if type(error) is TypeError and not str(error).startswith(f"argument '{parameter}': "):
        return f"type error without the parameter name: {error}"
    return None


def check_all(call_with, parameter, error_types=INJECTED):
    failures = []
    for error_type in error_types:
        tracker = Tracker(error_type)
        for position, value in enumerate(hostile_values(tracker)):
            tracker.raised.clear()
            error = attempt(lambda: call_with(value, position % 2 == 0))
            problem = verdict(error, tracker.raised, parameter)
            if problem:
                failures.append(f"{value!r:.60} ({error_type.__name__}): {problem}")
    return failures


@pytest.mark.parametrize("entry, parameter", PARAMETERS,
                         ids=[f"{e.label}-{p.name}" for e, p in PARAMETERS])
def test_parameter_resists_hostile_values(entry, parameter):
    names = [p.name for p in entry.parameters]

    def call_with(value, by_keyword):
        arguments = entry.arguments()
        arguments[parameter.name] = value
        if by_keyword:
            return entry.target()(**arguments)
        return entry.target()(*(arguments[name] for name in names))

    assert check_all(call_with, parameter.name) == []


@pytest.mark.parametrize("name, _kind", SETTERS)
def test_setter_resists_hostile_values(name, _kind):
    reservoir = layer()
    before = getattr(reservoir, name)

    def call_with(value, _):
        try:
            setattr(reservoir, name, value)
        except BaseException:
            assert getattr(reservoir, name) == before
            raise
        setattr(reservoir, name, before)

    assert check_all(call_with, name) == []


# --------------------------------------------------- composed with hypothesis

SEQUENCE_PARAMETERS = [(e, p) for e, p in PARAMETERS if p.kind == "sequence"]

ITEM_KINDS = st.one_of(
    st.floats(), st.integers(-(2**70), 2**70), st.booleans(),
    st.sampled_from(["1.0", None, b"1", [1.0], np.float32(0.5), np.int8(-3), np.bool_(False)]),
    st.tuples(st.sampled_from(INJECTED), st.sampled_from(PROTOCOL_SETS)),
)


class Readings:
    """A sequence through __len__ and __getitem__, with a length that may lie or fail."""

    def __init__(self, values, length, raised):
        self.values, self.length, self.raised = values, length, raised

    def __len__(self):
        if isinstance(self.length, type):
            Tracker(self.length, self.raised).fire()
        return self.length

    def __getitem__(self, index):
        return self.values[index]


CONTAINERS = ["list", "tuple", "list-subclass", "tuple-subclass", "readings", "object-array"]
LENGTHS = st.one_of(st.integers(-1, 10), st.just(2**80), st.sampled_from(INJECTED))


def build(container, items, length, raised):
    if container == "list":
        return list(items)
    if container == "tuple":
        return tuple(items)
    if container == "list-subclass":
        return ListOf(items)
    if container == "tuple-subclass":
        return TupleOf(items)
    if container == "readings":
        return Readings(list(items), length, raised)
    values = np.empty(len(items), dtype=object)
    for index, item in enumerate(items):
        values[index] = item
    return values


@settings(max_examples=150, deadline=None)
@given(
    target=st.sampled_from(SEQUENCE_PARAMETERS),
    drawn=st.lists(ITEM_KINDS, max_size=6),
    container=st.sampled_from(CONTAINERS),
    length=LENGTHS,
)
def test_sequence_of_hostile_items(target, drawn, container, length):
    entry, parameter = target
    raised = []
    items = [raising(Tracker(item[0], raised), *item[1]) if isinstance(item, tuple) else item
             for item in drawn]
    arguments = entry.arguments()
    arguments[parameter.name] = build(container, items, length, raised)
    raised.clear()
    error = attempt(lambda: entry.target()(**arguments))
    assert verdict(error, raised, parameter.name) is None


# Float64 is the dtype that can be read in place, so it is drawn most often.
DTYPES = st.sampled_from(["<f8", "<f8", "<f8", ">f8", "<f4", "<f2", "<i8", "<u1", "?", "<c16"])


@st.composite
def arrays(draw):
    dims = draw(st.sampled_from([1, 1, 1, 0, 2]))
    values = draw(nps.arrays(DTYPES, nps.array_shapes(min_dims=dims, max_dims=dims, max_side=5)))
    layout = draw(st.sampled_from(["as-is", "fortran", "transposed", "strided", "masked",
                                   "masked", "subclass", "memoryview"]))
    if layout == "fortran":
        return np.asfortranarray(values)
    if layout == "transposed":
        return values.T
    if layout == "strided":
        return values[::2] if values.ndim else values
    if layout == "masked":
        return np.ma.masked_array(values, mask=draw(nps.arrays("?", values.shape)))
    if layout == "subclass":
        return values.view(type("Gauged", (np.ndarray,), {}))
    if layout == "memoryview" and values.dtype.isnative and values.dtype.kind != "c":
        return memoryview(values)
    return values


@settings(max_examples=150, deadline=None)
@given(arrays())
def test_array_reads_like_its_items(values):
    assert outcome(values) == outcome_of_items(values)


NON_STR_KEYS = st.one_of(st.integers(), st.binary(max_size=3), st.none(), st.floats(),
                         st.tuples(st.text(max_size=2)), st.frozensets(st.integers(), max_size=2))


@settings(max_examples=100, deadline=None)
@given(entry=st.sampled_from(ENTRIES), key=NON_STR_KEYS, where=st.integers(0, 6),
       value=st.sampled_from([1.0, "x", None, HOUR]))
def test_non_str_keyword_anywhere(entry, key, where, value):
    keywords = list(entry.arguments().items())
    keywords.insert(min(where, len(keywords)), (key, value))
    with pytest.raises(TypeError) as excinfo:
        entry.target()(**dict(keywords))
    assert str(excinfo.value) == "keywords must be strings"


# A getter, setter or method taken from the class and applied to a foreign object.
DESCRIPTORS = [(cls, name) for cls in CONSTRUCTIBLE + RESULT_CLASSES for name in sorted(vars(cls))
               if not name.startswith("_")]


@pytest.mark.parametrize("cls, name", DESCRIPTORS,
                         ids=[f"{cls.__name__}.{name}" for cls, name in DESCRIPTORS])
def test_descriptor_applied_to_a_foreign_object(cls, name):
    descriptor = vars(cls)[name]
    arguments = {"disaggregate": (900,), "get_storage": (103.0,), "get_elevation": (5.0e5,)}
    failures = []
    for error_type in INJECTED:
        tracker = Tracker(error_type)
        for value in hostile_values(tracker):
            if value is None and not callable(descriptor):
                continue  # __get__(None, cls) is class access: it returns the descriptor
            if callable(descriptor):
                error = attempt(lambda: descriptor(value, *arguments.get(name, ())))
            elif hasattr(descriptor, "__set__") and name in dict(SETTERS):
                error = attempt(lambda: descriptor.__set__(value, 1))
            else:
                error = attempt(lambda: descriptor.__get__(value, cls))
            own = issubclass(type(value), cls)
            if error is None and not own:
                failures.append(f"{value!r:.60} was accepted")
            elif error is not None and type(error) is not TypeError and not (
                    own and isinstance(error, DOCUMENTED)):
                failures.append(f"{value!r:.60}: {error!r}")
            assert tracker.raised == []
    assert failures == []
