"""Instances that no constructor of hydrokit built.

The classes are mutable, so Python code can replace `__new__` and obtain an instance
whose value was never constructed. Such an instance must be refused at every use.
"""

import gc
import subprocess
import sys
import textwrap

import pytest

from catalog import (
    CONSTRUCTIBLE, ENTRIES, HOUR, RESULT_CLASSES, ConstantDischargeInfo, ContinuousTimeSeries,
    ControlledDischargeInfo, ElevationDischarge, ElevationStorage, IncrementalTimeSeries,
    LinearReservoir, SETTERS, SpecifiedDischargeInfo, UnControlledDischargeInfo, hydrokit,
    public_attributes, uninitialised)

ALL_CLASSES = CONSTRUCTIBLE + RESULT_CLASSES


def not_initialised(cls):
    return f"'{cls.__name__}' object was not initialized by its constructor"


def refusal(call):
    with pytest.raises(TypeError) as excinfo:
        call()
    assert type(excinfo.value) is TypeError
    return str(excinfo.value)


GETTERS = [(cls, name) for cls in ALL_CLASSES for name in public_attributes(cls)]


@pytest.mark.parametrize("cls, name", GETTERS, ids=[f"{c.__name__}.{n}" for c, n in GETTERS])
def test_getter_refuses(cls, name):
    instance = uninitialised(cls)
    assert refusal(lambda: getattr(instance, name)) == not_initialised(cls)


@pytest.mark.parametrize(
    "cls, method, arguments",
    [
        (ContinuousTimeSeries, "total_duration", ()),
        (IncrementalTimeSeries, "total_duration", ()),
        (IncrementalTimeSeries, "disaggregate", (900,)),
        (ElevationStorage, "get_storage", (103.0,)),
        (ElevationStorage, "get_elevation", (5.0e5,)),
    ],
)
def test_method_refuses(cls, method, arguments):
    bound = getattr(uninitialised(cls), method)
    assert refusal(lambda: bound(*arguments)) == not_initialised(cls)


@pytest.mark.parametrize("name, _kind", SETTERS)
def test_setter_refuses(name, _kind):
    reservoir = uninitialised(LinearReservoir)
    # The instance is at fault, not the value assigned, so no argument is named: the same
    # message as its getters give.
    assert refusal(lambda: setattr(reservoir, name, 1)) == not_initialised(LinearReservoir)


CLASS_PARAMETERS = [
    (entry, parameter) for entry in ENTRIES for parameter in entry.parameters
    if parameter.kind in {"ContinuousTimeSeries", "IncrementalTimeSeries", "ElevationStorage",
                          "ElevationDischarge"}
]


@pytest.mark.parametrize("entry, parameter", CLASS_PARAMETERS,
                         ids=[f"{e.label}-{p.name}" for e, p in CLASS_PARAMETERS])
@pytest.mark.parametrize("subclassed", [False, True])
def test_argument_refuses(entry, parameter, subclassed):
    cls = getattr(hydrokit.utils, parameter.kind, None) or getattr(
        hydrokit.reservoir.reservoir_utils, parameter.kind)
    if subclassed:
        cls = type(f"Gauged{cls.__name__}", (cls,), {})
    arguments = entry.arguments()
    arguments[parameter.name] = uninitialised(cls)
    message = refusal(lambda: entry.target()(**arguments))
    if subclassed:
        assert message.startswith(f"argument '{parameter.name}': '")
        assert message.endswith("' object was not initialized by its constructor")
    else:
        assert message == f"argument '{parameter.name}': {not_initialised(cls)}"


def test_reservoir_layer_refuses():
    rainfall = IncrementalTimeSeries([0.1, 0.2], HOUR, "rainfall")
    layers = {"shallow": LinearReservoir(HOUR, 0.2, 0.0), "deep": uninitialised(LinearReservoir)}
    message = refusal(lambda: hydrokit.baseflow.run_linear_reservoir(100.0, rainfall, layers))
    assert message == f"argument 'reservoirs': {not_initialised(LinearReservoir)}"


@pytest.mark.parametrize(
    "cls, kind",
    [
        (UnControlledDischargeInfo, "Uncontrolled"),
        (ControlledDischargeInfo, "Controlled"),
        (SpecifiedDischargeInfo, "Specified"),
        (ConstantDischargeInfo, "Constant"),
    ],
)
def test_outlet_refusal_is_inside_the_union_error(cls, kind):
    inflow = ContinuousTimeSeries([10.0, 20.0], HOUR, "discharge")
    pool = ElevationStorage([100.0, 110.0], [0.0, 1.0e6])
    outlets = {"valve": ConstantDischargeInfo(1.0), "broken": uninitialised(cls)}
    message = refusal(
        lambda: hydrokit.reservoir.run_level_pool_routing(inflow, 101.0, pool, outlets))
    assert message.startswith(
        "argument 'discharge_info': failed to extract enum DischargeInfo "
        "('Uncontrolled | Controlled | Specified | Constant')\n")
    assert (f"\n- variant {kind} ({kind}): TypeError: failed to extract field "
            f"DischargeInfo::{kind}.0, caused by TypeError: {not_initialised(cls)}") in message


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=lambda cls: cls.__name__)
def test_deallocation_is_safe(cls):
    instances = [uninitialised(cls) for _ in range(1000)]
    del instances
    gc.collect()


def test_replaced_new_as_a_user_would_write_it():
    # The route a user takes: replace __new__ on the class and call it. Done in a fresh
    # interpreter because CPython keeps dispatching through the replaced slot even after
    # the original __new__ is put back, so the class refuses its own constructor after.
    code = textwrap.dedent("""
        import hydrokit
        from datetime import timedelta
        curves = hydrokit.reservoir.reservoir_utils

        def replaced_new(cls):
            original = cls.__dict__.get("__new__")
            cls.__new__ = staticmethod(lambda klass, *args, **kwargs: object.__new__(klass))
            instance = cls([1.0], timedelta(hours=1), "discharge")
            if original is not None:
                cls.__new__ = original
            return instance

        try:
            curves.ControlledDischargeInfo(replaced_new(curves.ElevationDischarge))
        except TypeError as error:
            print(error)
        classes = [
            hydrokit.utils.ContinuousTimeSeries, hydrokit.utils.IncrementalTimeSeries,
            *(getattr(curves, name) for name in curves.__all__),
            hydrokit.baseflow.LinearReservoir,
            hydrokit.reservoir.LevelPoolResult, hydrokit.rainfall_loss.DeficitConstantResult,
        ]
        for cls in classes:
            instance = replaced_new(cls)
            for name in sorted(vars(cls)):
                if not name.startswith("_") and not callable(vars(cls)[name]):
                    try:
                        getattr(instance, name)
                    except TypeError as error:
                        print(cls.__name__, name, error)
            del instance
    """)
    result = subprocess.run([sys.executable, "-X", "faulthandler", "-c", code],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    first, *getters = result.stdout.splitlines()
    assert first == f"argument 'elevation_discharge': {not_initialised(ElevationDischarge)}"
    assert sorted(getters) == sorted(
        f"{cls.__name__} {name} {not_initialised(cls)}" for cls, name in GETTERS)
