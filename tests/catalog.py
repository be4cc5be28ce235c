"""Every callable of hydrokit with a valid set of arguments, for the hostile-input tests.

Each parameter is listed with the kind of value it takes, so that a test can replace
one argument at a time and know which message prefix the failure must carry.
"""

import ctypes
from dataclasses import dataclass
from datetime import timedelta

import hydrokit

utils = hydrokit.utils
reservoir_utils = hydrokit.reservoir.reservoir_utils

ContinuousTimeSeries = utils.ContinuousTimeSeries
IncrementalTimeSeries = utils.IncrementalTimeSeries
ElevationStorage = reservoir_utils.ElevationStorage
ElevationDischarge = reservoir_utils.ElevationDischarge
ConstantDischargeInfo = reservoir_utils.ConstantDischargeInfo
SpecifiedDischargeInfo = reservoir_utils.SpecifiedDischargeInfo
ControlledDischargeInfo = reservoir_utils.ControlledDischargeInfo
UnControlledDischargeInfo = reservoir_utils.UnControlledDischargeInfo
LinearReservoir = hydrokit.baseflow.LinearReservoir
LevelPoolResult = hydrokit.reservoir.LevelPoolResult
DeficitConstantResult = hydrokit.rainfall_loss.DeficitConstantResult

HOUR = timedelta(hours=1)

PY_TP_ALLOC = 47  # slot number of tp_alloc in typeslots.h
ctypes.pythonapi.PyType_GetSlot.restype = ctypes.c_void_p

CONSTRUCTIBLE = [
    ContinuousTimeSeries,
    IncrementalTimeSeries,
    ElevationStorage,
    ElevationDischarge,
    ConstantDischargeInfo,
    SpecifiedDischargeInfo,
    ControlledDischargeInfo,
    UnControlledDischargeInfo,
    LinearReservoir,
]
RESULT_CLASSES = [LevelPoolResult, DeficitConstantResult]


def hydrograph():
    return ContinuousTimeSeries([10.0, 40.0, 25.0, 10.0], HOUR, "discharge")


def rainfall():
    return IncrementalTimeSeries([0.1, 0.4, 0.0, 0.2], HOUR, "rainfall")


def pool():
    return ElevationStorage([100.0, 105.0, 110.0], [0.0, 4.0e5, 1.0e6])


def spillway():
    return ElevationDischarge([100.0, 102.0, 110.0], [0.0, 20.0, 300.0])


def layer():
    return LinearReservoir(timedelta(hours=10), 0.5, 1.0, 2)


def outlets():
    return {
        "spillway": UnControlledDischargeInfo(spillway(), 0.5),
        "gate": ControlledDischargeInfo(spillway(), 101.0, 109.0, 50.0),
        "release": SpecifiedDischargeInfo(hydrograph(), None, None, 30.0),
        "valve": ConstantDischargeInfo(2.0, 100.5),
    }


@dataclass(frozen=True)
class Parameter:
    name: str
    kind: str  # what the parameter takes, see KINDS
    valid: object  # a factory of a valid value


# The kinds of value a parameter can take; the hostile values are chosen per kind.
KINDS = {
    "float", "optional_float", "sequence", "timedelta", "str", "u64", "i64", "i32", "bool",
    "ContinuousTimeSeries", "IncrementalTimeSeries", "ElevationStorage", "ElevationDischarge",
    "reservoirs", "outlets",
}


def value(v):
    return lambda: v


@dataclass(frozen=True)
class Entry:
    label: str
    target: object  # a factory of the callable (methods are bound to a fresh valid instance)
    parameters: tuple

    def arguments(self):
        return {p.name: p.valid() for p in self.parameters}


def bound(factory, method):
    return lambda: getattr(factory(), method)


ENTRIES = [
    Entry("ContinuousTimeSeries", value(ContinuousTimeSeries), (
        Parameter("data", "sequence", value([1.0, 2.0])),
        Parameter("time_step", "timedelta", value(HOUR)),
        Parameter("kind", "str", value("discharge")),
    )),
    Entry("IncrementalTimeSeries", value(IncrementalTimeSeries), (
        Parameter("data", "sequence", value([1.0, 2.0])),
        Parameter("time_step", "timedelta", value(HOUR)),
        Parameter("kind", "str", value("rainfall")),
    )),
    Entry("ElevationStorage", value(ElevationStorage), (
        Parameter("elevation", "sequence", value([100.0, 105.0, 110.0])),
        Parameter("storage", "sequence", value([0.0, 4.0e5, 1.0e6])),
    )),
    Entry("ElevationDischarge", value(ElevationDischarge), (
        Parameter("elevation", "sequence", value([100.0, 102.0, 110.0])),
        Parameter("discharge", "sequence", value([0.0, 20.0, 300.0])),
    )),
    Entry("ConstantDischargeInfo", value(ConstantDischargeInfo), (
        Parameter("discharge", "float", value(2.0)),
        Parameter("minimum_elevation", "optional_float", value(100.5)),
        Parameter("maximum_elevation", "optional_float", value(None)),
    )),
    Entry("SpecifiedDischargeInfo", value(SpecifiedDischargeInfo), (
        Parameter("discharge", "ContinuousTimeSeries", hydrograph),
        Parameter("minimum_elevation", "optional_float", value(None)),
        Parameter("maximum_elevation", "optional_float", value(109.0)),
        Parameter("maximum_release", "optional_float", value(30.0)),
    )),
    Entry("ControlledDischargeInfo", value(ControlledDischargeInfo), (
        Parameter("elevation_discharge", "ElevationDischarge", spillway),
        Parameter("minimum_elevation", "optional_float", value(101.0)),
        Parameter("maximum_elevation", "optional_float", value(109.0)),
        Parameter("maximum_release", "optional_float", value(None)),
    )),
    Entry("UnControlledDischargeInfo", value(UnControlledDischargeInfo), (
        Parameter("elevation_discharge", "ElevationDischarge", spillway),
        Parameter("elevation_offset", "optional_float", value(0.5)),
    )),
    Entry("LinearReservoir", value(LinearReservoir), (
        Parameter("k_duration", "timedelta", value(timedelta(hours=10))),
        Parameter("gw_fraction", "float", value(0.5)),
        Parameter("initial_q", "float", value(1.0)),
        Parameter("num_reservoir", "u64", value(2)),
    )),
    Entry("run_muskingum_routing", value(hydrokit.reach.run_muskingum_routing), (
        Parameter("inflow", "ContinuousTimeSeries", hydrograph),
        Parameter("k", "timedelta", value(timedelta(hours=2))),
        Parameter("x", "float", value(0.2)),
        Parameter("sub_reaches", "i64", value(2)),
        Parameter("initial_outflow", "float", value(10.0)),
    )),
    Entry("run_level_pool_routing", value(hydrokit.reservoir.run_level_pool_routing), (
        Parameter("inflow", "ContinuousTimeSeries", hydrograph),
        Parameter("initial_elevation", "float", value(101.0)),
        Parameter("elevation_storage", "ElevationStorage", pool),
        Parameter("discharge_info", "outlets", outlets),
    )),
    Entry("run_clark_uh", value(hydrokit.rainfall_transform.run_clark_uh), (
        Parameter("rainfall", "IncrementalTimeSeries", rainfall),
        Parameter("basin_area", "float", value(640.0)),
        Parameter("tc", "timedelta", value(timedelta(hours=3))),
        Parameter("storage_r", "timedelta", value(timedelta(hours=2))),
    )),
    Entry("run_deficit_and_constant", value(hydrokit.rainfall_loss.run_deficit_and_constant), (
        Parameter("rainfall", "IncrementalTimeSeries", rainfall),
        Parameter("initial_deficit", "float", value(0.2)),
        Parameter("max_deficit", "float", value(1.0)),
        Parameter("constant_loss_per_hr", "float", value(0.05)),
        Parameter("time_to_dry", "timedelta", value(timedelta(days=2))),
    )),
    Entry("run_linear_reservoir", value(hydrokit.baseflow.run_linear_reservoir), (
        Parameter("basin_area", "float", value(640.0)),
        Parameter("rainfall", "IncrementalTimeSeries", rainfall),
        Parameter("reservoirs", "reservoirs", lambda: {"shallow": layer()}),
    )),
    Entry("calculate_kge", value(hydrokit.metrics.calculate_kge), (
        Parameter("sim", "sequence", value([1.0, 2.5, 3.0, 2.0])),
        Parameter("obs", "sequence", value([1.2, 2.0, 3.5, 2.0])),
        Parameter("use_log", "bool", value(True)),
    )),
    Entry("IncrementalTimeSeries.disaggregate", bound(rainfall, "disaggregate"), (
        Parameter("target_step", "i32", value(900)),
    )),
    Entry("ElevationStorage.get_storage", bound(pool, "get_storage"), (
        Parameter("elevation", "float", value(103.0)),
    )),
    Entry("ElevationStorage.get_elevation", bound(pool, "get_elevation"), (
        Parameter("storage", "float", value(5.0e5)),
    )),
]

PARAMETERS = [(entry, parameter) for entry in ENTRIES for parameter in entry.parameters]

# The writable attributes of LinearReservoir and the kind of value each takes.
SETTERS = [("gw_fraction", "float"), ("initial_q", "float"), ("num_reservoir", "u64")]


def panic_exception():
    """The exception class of internal failures, found the way a user meets it."""
    try:
        ElevationStorage([1.0], [5.0]).get_storage(1.0)
    except BaseException as error:  # it derives from BaseException only
        return type(error)
    raise AssertionError("a lookup on a one-point curve did not fail")


def public_attributes(cls):
    """Names of the getters (data descriptors) of a class."""
    return sorted(name for name, member in vars(cls).items()
                  if not name.startswith("_") and hasattr(member, "__get__")
                  and not callable(member))


def uninitialised(cls):
    """An instance of `cls` that no constructor of hydrokit built.

    `object.__new__(cls)` (reachable once `cls.__new__` is replaced from Python) does
    nothing but call the type's allocation slot; calling that slot directly gives the
    same instance without replacing `__new__`, which CPython cannot fully undo: the
    type would keep dispatching through the replaced slot and refuse its own
    constructor for the rest of the process.
    """
    address = ctypes.pythonapi.PyType_GetSlot(ctypes.py_object(cls), PY_TP_ALLOC)
    allocate = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.c_ssize_t)(address)
    return allocate(cls, 0)
