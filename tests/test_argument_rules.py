"""Argument matching and conversion when the caller's objects misbehave.

Keywords that are not strings, types that pose as numpy's boolean, and exceptions
raised from inside the protocols that a conversion calls.
"""

import re

import numpy as np

import pytest

from catalog import CONSTRUCTIBLE, ENTRIES, HOUR, IncrementalTimeSeries, hydrokit

calculate_kge = hydrokit.metrics.calculate_kge
ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
CONSTRUCTORS = [entry for entry in ENTRIES if entry.label in {c.__name__ for c in CONSTRUCTIBLE}]
SIM, OBS = [1.0, 2.5, 3.0, 2.0], [1.2, 2.0, 3.5, 2.0]


# ------------------------------------------------------------- non-str keywords


@pytest.mark.parametrize("entry", ENTRIES, ids=lambda entry: entry.label)
@pytest.mark.parametrize(
    "keywords",
    [{1: 2}, {b"kind": "rainfall"}, {None: 0}, {("data",): 1.0}, {1.5: 1, "zzz": 1}],
    ids=["int", "bytes", "None", "tuple", "float-then-unknown-name"],
)
def test_non_str_keyword_is_refused(entry, keywords):
    callable_ = entry.target()
    arguments = list(entry.arguments().values())
    with pytest.raises(TypeError) as excinfo:
        callable_(*arguments, **keywords)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == "keywords must be strings"


@pytest.mark.parametrize("entry", CONSTRUCTORS, ids=lambda entry: entry.label)
def test_non_str_keyword_among_valid_keywords(entry):
    arguments = entry.arguments()
    first, *rest = arguments
    keywords = {first: arguments[first], 7: "x", **{name: arguments[name] for name in rest}}
    with pytest.raises(TypeError) as excinfo:
        entry.target()(**keywords)
    assert str(excinfo.value) == "keywords must be strings"


class Name(str):
    """A keyword spelled as a str subclass whose comparison always fails."""

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


@pytest.mark.parametrize("entry", CONSTRUCTORS, ids=lambda entry: entry.label)
def test_str_subclass_keywords_match_by_their_text(entry):
    arguments = entry.arguments()
    instance = entry.target()(**{Name(name): value for name, value in arguments.items()})
    assert type(instance) is entry.target()


# --------------------------------------------------------------- numpy booleans


class NoModule(type):
    @property
    def __module__(cls):
        raise AttributeError("no module recorded")


def lookalike(name, module, bool_value=True):
    return type(name, (), {"__module__": module, "__bool__": lambda self: bool_value})()


# Bytes laid out like a str object whose cached UTF-8 pointer is garbage: a reader that
# takes the module name for a str without checking follows that pointer.
FORGED_STR = b"\x04" + bytes(7) + (5).to_bytes(8, "little") + (0xDEAD0000BEEF).to_bytes(8, "little") * 2


@pytest.mark.parametrize(
    "fake, type_name",
    [
        (lookalike("bool_", b"numpy"), "bool_"),
        (lookalike("bool", b"numpy"), "bool"),
        (lookalike("bool_", FORGED_STR), "bool_"),
        (lookalike("bool_", 7), "bool_"),
        (lookalike("bool_", None), "bool_"),
        (lookalike("bool", property(lambda self: "numpy")), "bool"),
        (NoModule("bool_", (), {"__bool__": lambda self: True})(), "bool_"),
        (NoModule("bool", (), {})(), "bool"),
    ],
    ids=["bytes", "bytes-bool", "forged-str", "int", "None", "property", "no-module",
         "no-module-bool"],
)
def test_type_posing_as_numpy_bool_is_not_a_bool(fake, type_name):
    with pytest.raises(TypeError) as excinfo:
        calculate_kge(SIM, OBS, use_log=fake)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == (
        f"argument 'use_log': '{type_name}' object is not an instance of 'bool'"
    )


@pytest.mark.parametrize("flag", [np.True_, np.False_, np.bool_(1), np.array([0, 1], bool)[1]])
def test_numpy_bool_still_works(flag):
    assert calculate_kge(SIM, OBS, use_log=flag) == calculate_kge(SIM, OBS, use_log=bool(flag))


# ------------------------------------------ exceptions raised inside conversions


class Interrupted(BaseException):
    """Stands for any exception outside the Exception hierarchy."""


MUST_PROPAGATE = [KeyboardInterrupt, MemoryError, SystemExit, Interrupted]


class Readings:
    """A sequence through __len__ and __getitem__ only, with one protocol failing."""

    def __init__(self, failing, error, values=(1.0, 2.0, 3.0)):
        self.failing, self.error, self.values = failing, error, list(values)

    def __len__(self):
        if self.failing == "__len__":
            raise self.error
        return len(self.values)

    def __getitem__(self, index):
        if self.failing == "__getitem__" and index == 1:
            raise self.error
        return self.values[index]


class Iterable(Readings):
    def __iter__(self):
        raise self.error


class Reading:
    def __init__(self, failing, error):
        self.failing, self.error = failing, error

    def __float__(self):
        if self.failing == "__float__":
            raise self.error
        return 1.0

    def __index__(self):
        raise self.error


class IndexOnly:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def series(data):
    return ContinuousTimeSeries(data, HOUR, "discharge")


@pytest.mark.parametrize("error_type", MUST_PROPAGATE)
@pytest.mark.parametrize(
    "call",
    [
        lambda error: series(Readings("__len__", error)),
        lambda error: series(Iterable("__iter__", error)),
        lambda error: series(Readings("__getitem__", error)),
        lambda error: calculate_kge(SIM, Readings("__len__", error)),
        lambda error: series([1.0, Reading("__float__", error)]),
        lambda error: series([1.0, IndexOnly(error)]),
        lambda error: hydrokit.reservoir.reservoir_utils.ConstantDischargeInfo(IndexOnly(error)),
        lambda error: IncrementalTimeSeries([1.0], HOUR, "rainfall").disaggregate(IndexOnly(error)),
        lambda error: hydrokit.reach.run_muskingum_routing(
            series([1.0, 2.0]), HOUR, 0.2, IndexOnly(error), 0.0),
        lambda error: hydrokit.baseflow.LinearReservoir(HOUR, 0.5, 0.0, IndexOnly(error)),
    ],
    ids=["len", "iter", "getitem", "kge-len", "float", "float-via-index", "optional-float",
         "i32", "i64", "u64"],
)
def test_interrupts_come_out_unchanged(call, error_type):
    error = error_type("raised by the caller's object")
    with pytest.raises(error_type) as excinfo:
        call(error)
    assert excinfo.value is error


def test_type_error_of_len_is_only_a_missing_hint():
    assert series(Readings("__len__", TypeError("no count"))).data == [1.0, 2.0, 3.0]
    unsized = Readings("__len__", TypeError("no count"), values=SIM)
    assert calculate_kge(unsized, OBS) == calculate_kge(SIM, OBS)


# As with list(): only a TypeError means "no length"; anything else, such as the exception of
# a signal handler that ran while __len__ did, ends the call.
@pytest.mark.parametrize("error_type", [ValueError, RuntimeError, LookupError, TimeoutError])
@pytest.mark.parametrize("call", [series, lambda data: calculate_kge(data, OBS)],
                         ids=["series", "kge"])
def test_other_failures_of_len_come_out_unchanged(call, error_type):
    error = error_type("raised while counting")
    with pytest.raises(error_type) as excinfo:
        call(Readings("__len__", error))
    assert excinfo.value is error


class Exporter(Readings):
    """A sequence that also offers a buffer, whose request fails."""

    def __init__(self, error):
        super().__init__(None, error, values=(4.0, 5.0))
        self.asked = 0

    def __buffer__(self, flags):
        self.asked += 1
        raise self.error


@pytest.mark.parametrize("error_type", [*MUST_PROPAGATE, BufferError])
def test_failing_buffer_request(error_type):
    # Only a few exact types are read through their buffer, so this one need not be
    # asked; if it is, a refusal means "read the items", an interrupt ends the call.
    exporter = Exporter(error_type("buffer refused"))
    try:
        data, raised = series(exporter).data, None
    except BaseException as error:
        raised = error
    if exporter.asked and error_type in MUST_PROPAGATE:
        assert raised is exporter.error
    else:
        assert raised is None and data == [4.0, 5.0]


def test_interrupt_is_not_replaced_by_a_later_argument_error():
    error = KeyboardInterrupt()
    with pytest.raises(KeyboardInterrupt) as excinfo:
        ContinuousTimeSeries(Readings("__len__", error), 3600, 5)
    assert excinfo.value is error


class Misreported(Readings):
    def __init__(self, length):
        super().__init__(None, None)
        self.length = length

    def __len__(self):
        return self.length


@pytest.mark.parametrize("length", [-1, 2**100, "3", 2.0, None])
def test_unusable_length_is_taken_as_list_takes_it(length):
    try:
        expected = list(Misreported(length))
    except Exception as error:
        with pytest.raises(type(error), match=f"^{re.escape(str(error))}$"):
            series(Misreported(length))
    else:
        assert series(Misreported(length)).data == expected
