"""Reference and memory leak loops for every entry point of hydrokit, on a debug interpreter.

Each case is one call down one path: a success, an argument-matching error, a conversion
error, a ValueError of a computation, a PanicException, an interrupt. After a warm-up the case
runs ROUNDS rounds of LOOPS calls; after each round the total reference count, the count of
blocks held by Python's allocator and the bytes malloc holds (where the C++ values live) are
read. A counter that grows in every round is a leak: the run names the case and exits with 1.

Run by `make refleaks` (python3.14d, hydrokit built against its headers on PYTHONPATH).
"""

import array
import ctypes
import gc
import importlib.machinery
import os
import signal
import sys
import time
import warnings
from contextlib import contextmanager
from datetime import timedelta

import hydrokit

WARMUP = 50
ROUNDS = 3
LOOPS = 200

utils = hydrokit.utils
rutils = hydrokit.reservoir.reservoir_utils
CTS, ITS = utils.ContinuousTimeSeries, utils.IncrementalTimeSeries
ES, ED = rutils.ElevationStorage, rutils.ElevationDischarge
Constant, Specified = rutils.ConstantDischargeInfo, rutils.SpecifiedDischargeInfo
Controlled, UnControlled = rutils.ControlledDischargeInfo, rutils.UnControlledDischargeInfo
LevelPoolResult = hydrokit.reservoir.LevelPoolResult
DeficitConstantResult = hydrokit.rainfall_loss.DeficitConstantResult
LinearReservoir = hydrokit.baseflow.LinearReservoir
route_pool = hydrokit.reservoir.run_level_pool_routing
muskingum = hydrokit.reach.run_muskingum_routing
clark = hydrokit.rainfall_transform.run_clark_uh
deficit = hydrokit.rainfall_loss.run_deficit_and_constant
baseflow = hydrokit.baseflow.run_linear_reservoir
kge = hydrokit.metrics.calculate_kge

HOUR = timedelta(hours=1)
NAN = float("nan")


@contextmanager
def stderr_silenced(quiet):
    """PanicException writes a diagnostic to stderr at every call."""
    if not quiet:
        yield
        return
    sys.stderr.flush()
    saved = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


def panic_type():
    try:
        with stderr_silenced(True):
            ES([1.0], [1.0]).get_storage(1.0)
    except BaseException as error:  # PanicException derives from BaseException only
        return type(error)


PanicException = panic_type()


class Case:
    def __init__(self, name, call, raises=None, match="", loops=LOOPS, warmup=None, least=None,
                 quiet=False):
        self.name, self.call, self.raises, self.match = name, call, raises, match
        self.loops, self.quiet = loops, quiet
        self.warmup = min(WARMUP, loops) if warmup is None else warmup
        # The growth per round that counts as a leak: one unit per 20 calls unless said otherwise.
        self.least = max(1, loops // 20) if least is None else least

    def run_once(self):
        try:
            self.call()
        except BaseException as error:
            if type(error) is not self.raises or self.match not in str(error):
                raise AssertionError(f"{self.name}: {type(error).__name__}: {error}") from error
            return
        if self.raises is not None:
            raise AssertionError(f"{self.name}: returned instead of raising {self.raises.__name__}")


CASES = []


def case(name, call, raises=None, match="", **options):
    CASES.append(Case(name, call, raises, match, **options))


# Fixtures: valid values that calls read but never modify.
inflow = CTS([10.0, 20.0, 30.0, 20.0, 10.0], HOUR, "discharge")
rain = ITS([0.1, 0.5, 0.3, 0.0], HOUR, "rainfall")
pool = ES([100.0, 110.0], [0.0, 1e6])
rating = ED([100.0, 110.0], [0.0, 50.0])
release_plan = CTS([2.0, 2.0, 2.0, 2.0, 2.0], HOUR, "discharge")
outlets = {
    "gate": Controlled(rating, 100.0, 110.0, 20.0),
    "spillway": UnControlled(rating, -1.0),
    "release": Specified(release_plan, 90.0, 120.0, 5.0),
    "base": Constant(1.0, 90.0, 120.0),
}
layers = {"shallow": LinearReservoir(HOUR * 12, 0.3, 1.0), "deep": LinearReservoir(HOUR * 90, 0.2, 2.0, 3)}
pool_result = route_pool(inflow, 101.0, pool, outlets)
loss_result = deficit(rain, 0.2, 1.0, 0.05, timedelta(days=2))


# Failures are given as exception classes: raising one instance again and again would chain
# its tracebacks, a growth of the fixture's own.
class Float:
    def __init__(self, value=None, error=None):
        self.value, self.error = value, error

    def __float__(self):
        if self.error:
            raise self.error
        return self.value


class Numbers:
    """A sequence of 1.0s whose length or items can fail."""

    def __init__(self, size=3, len_error=None, item_error=None):
        self.size, self.len_error, self.item_error = size, len_error, item_error

    def __len__(self):
        if self.len_error:
            raise self.len_error
        return self.size

    def __getitem__(self, index):
        if index >= self.size:
            raise IndexError(index)
        if self.item_error and index == 1:
            raise self.item_error
        return 1.0


class Named(dict):
    pass


class SubSeries(CTS):
    pass


class FinalizedSubSeries(SubSeries):
    def __del__(self):
        pass


def signature_cases(label, callable_, names, args):
    """The success of one call and every way its arguments can fail to match or convert."""
    case(f"{label} success", lambda: callable_(*args))
    case(f"{label} by keyword", lambda: callable_(**dict(zip(names, args))))
    case(f"{label} too many positional", lambda: callable_(*args, *names, 1),
         TypeError, "positional argument")
    case(f"{label} unexpected keyword", lambda: callable_(*args, flow=1), TypeError,
         "unexpected keyword argument 'flow'")
    case(f"{label} multiple values", lambda: callable_(*args, **{names[0]: args[0]}), TypeError,
         f"multiple values for argument '{names[0]}'")
    case(f"{label} missing", lambda: callable_(), TypeError, "missing")
    case(f"{label} non-str keyword", lambda: callable_(*args, **{1: 2}), TypeError,
         "keywords must be strings")
    for index, name in enumerate(names[: len(args)]):
        wrong = list(args)
        wrong[index] = object()
        case(f"{label} {name} of a wrong type", lambda wrong=wrong: callable_(*wrong),
             TypeError, f"argument '{name}': ")


def getter_cases(label, instance, names):
    for name in names:
        case(f"{label}.{name}", lambda name=name: getattr(instance, name))


def read_only_cases(label, instance, name):
    case(f"{label}.{name} assigned", lambda: setattr(instance, name, 1.0), AttributeError)
    case(f"{label} unknown attribute", lambda: setattr(instance, "note", 1), AttributeError)


def panic(name, call, match):
    case(name, call, PanicException, match, quiet=True)


# Series.
for Series, label in [(CTS, "ContinuousTimeSeries"), (ITS, "IncrementalTimeSeries")]:
    series = Series([1.0, 2.0, 3.0], HOUR, "discharge")
    signature_cases(label, Series, ["data", "time_step", "kind"], ([1.0, 2.0], HOUR, "volume"))
    make = lambda data, step=HOUR, kind="rainfall", Series=Series: Series(data, step, kind)
    case(f"{label} data str", lambda make=make: make("12"), TypeError, "Can't extract `str` to `Vec`")
    case(f"{label} data set", lambda make=make: make({1.0}), TypeError, "'Sequence'")
    case(f"{label} data item str", lambda make=make: make([1.0, "x"]), TypeError, "argument 'data'")
    case(f"{label} kind unknown", lambda make=make: make([1.0], kind="flow"), ValueError,
         "kind must be one of")
    case(f"{label} kind lone surrogate", lambda make=make: make([1.0], kind="\ud800"),
         UnicodeEncodeError)
    case(f"{label} time_step negative", lambda make=make: make([1.0], -HOUR), ValueError, "negative")
    case(f"{label} time_step under a second", lambda make=make: make([1.0], timedelta(0)),
         ValueError, "time_step must be > 0")
    getter_cases(label, series, ["data", "kind", "time_step"])
    read_only_cases(label, series, "data")
    case(f"{label}.total_duration()", series.total_duration)
    case(f"{label}.total_duration(1)", lambda series=series: series.total_duration(1), TypeError)
    case(f"{label} buffer", lambda series=series: memoryview(series).tolist())
    case(f"{label} buffer written", lambda series=series: memoryview(series).__setitem__(0, 1.0),
         TypeError)
case("ContinuousTimeSeries subclass", lambda: SubSeries([1.0], HOUR, "elevation"))
case("ContinuousTimeSeries subclass of a subclass, with __del__",
     lambda: FinalizedSubSeries([1.0], HOUR, "elevation"))

signature_cases("IncrementalTimeSeries.disaggregate", rain.disaggregate, ["target_step"], (1800,))
case("disaggregate float", lambda: rain.disaggregate(1800.0), TypeError, "argument 'target_step'")
case("disaggregate beyond 32 bits", lambda: rain.disaggregate(2**40), OverflowError)
case("disaggregate under 30 s", lambda: rain.disaggregate(10), ValueError, ">= 30 seconds")
case("disaggregate not a divisor", lambda: rain.disaggregate(1700), ValueError, "multiple")

# The sequence rule, through a double parameter vector.
for name, data in [
    ("tuple", (1.0, 2.0, 4.0)),
    ("range", range(3)),
    ("bytes", b"\x01\x02\x04"),
    ("array of doubles", array.array("d", [1.0, 2.0, 4.0])),
    ("array of ints", array.array("i", [1, 2, 4])),
    ("memoryview", memoryview(array.array("d", [1.0, 2.0, 4.0]))),
    ("series buffer", memoryview(CTS([1.0, 2.0, 4.0], HOUR, "volume"))),
    ("bools and __float__", [True, Float(2.0), 4]),
    ("sequence without a len", Numbers(len_error=TypeError)),
]:
    case(f"calculate_kge sim {name}", lambda data=data: kge(data, [1.0, 2.0, 3.0]))
for name, data, error in [
    ("KeyboardInterrupt from len", Numbers(len_error=KeyboardInterrupt), KeyboardInterrupt),
    ("MemoryError from len", Numbers(len_error=MemoryError), MemoryError),
    ("ValueError from len", Numbers(len_error=ValueError), ValueError),
    ("RuntimeError from an item", Numbers(item_error=RuntimeError), RuntimeError),
    ("KeyboardInterrupt from an item", Numbers(item_error=KeyboardInterrupt), KeyboardInterrupt),
    ("ValueError from __float__", [1.0, Float(error=ValueError), 3.0], ValueError),
    ("MemoryError from __float__", [1.0, Float(error=MemoryError), 3.0], MemoryError),
]:
    case(f"calculate_kge sim {name}", lambda data=data: kge(data, [1.0, 2.0, 3.0]), error)

# Rating curves.
signature_cases("ElevationStorage", ES, ["elevation", "storage"], ([1.0, 2.0], [0.0, 5.0]))
case("ElevationStorage lengths differ", lambda: ES([1.0, 2.0], [0.0]), ValueError, "same length")
case("ElevationStorage elevation unsorted", lambda: ES([2.0, 1.0], [0.0, 5.0]), ValueError,
     "`elevation` must must be sorted")
case("ElevationStorage storage unsorted", lambda: ES([1.0, 2.0], [5.0, 0.0]), ValueError,
     "`storage` must must be sorted")
getter_cases("ElevationStorage", pool, ["elevation", "storage"])
read_only_cases("ElevationStorage", pool, "storage")
for method, inside, outside in [("get_storage", 105.0, 120.0), ("get_elevation", 5e5, 2e6)]:
    bound = getattr(pool, method)
    parameter = "elevation" if method == "get_storage" else "storage"
    signature_cases(f"ElevationStorage.{method}", bound, [parameter], (inside,))
    case(f"ElevationStorage.{method} outside the curve", lambda b=bound, o=outside: b(o),
         ValueError, "outside the range")
    panic(f"ElevationStorage.{method} NaN", lambda b=bound: b(NAN), "Option::unwrap()")
panic("ElevationStorage one-point lookup", lambda: ES([1.0], [1.0]).get_storage(1.0),
      "at least 2 elements")

signature_cases("ElevationDischarge", ED, ["elevation", "discharge"], ([1.0, 2.0], [0.0, 5.0]))
for name, elevation, discharge, match in [
    ("lengths differ", [1.0, 2.0], [0.0], "same length"),
    ("one point", [1.0], [0.0], "at least 2 elements"),
    ("elevation unsorted", [2.0, 1.0], [0.0, 1.0], "`elevation` must must be sorted"),
    ("discharge decreasing", [1.0, 2.0], [1.0, 0.0], "`discharge` must must be sorted"),
]:
    case(f"ElevationDischarge {name}", lambda e=elevation, d=discharge: ED(e, d), ValueError, match)
getter_cases("ElevationDischarge", rating, ["elevation", "discharge"])

# Outlets.
outlet_signatures = [
    (Constant, "ConstantDischargeInfo", ["discharge", "minimum_elevation", "maximum_elevation"],
     (1.0, 90.0, 120.0)),
    (Specified, "SpecifiedDischargeInfo",
     ["discharge", "minimum_elevation", "maximum_elevation", "maximum_release"],
     (release_plan, 90.0, 120.0, 5.0)),
    (Controlled, "ControlledDischargeInfo",
     ["elevation_discharge", "minimum_elevation", "maximum_elevation", "maximum_release"],
     (rating, 90.0, 120.0, 5.0)),
    (UnControlled, "UnControlledDischargeInfo", ["elevation_discharge", "elevation_offset"],
     (rating, -1.0)),
]
for Outlet, label, names, args in outlet_signatures:
    signature_cases(label, Outlet, names, args)
    case(f"{label} optional None", lambda Outlet=Outlet, args=args: Outlet(args[0], None))
    case(f"{label} required only", lambda Outlet=Outlet, args=args: Outlet(args[0]))
    for instance in (Outlet(*args), Outlet(args[0])):
        getter_cases(label, instance, names)
    read_only_cases(label, Outlet(*args), names[0])

# Level pool routing.
pool_args = (inflow, 101.0, pool, outlets)
signature_cases("run_level_pool_routing", route_pool,
                ["inflow", "initial_elevation", "elevation_storage", "discharge_info"], pool_args)
case("run_level_pool_routing no outlets", lambda: route_pool(inflow, 101.0, pool, {}))
case("run_level_pool_routing dict subclass", lambda: route_pool(inflow, 101.0, pool, Named(outlets)))
case("run_level_pool_routing subclass inflow",
     lambda: route_pool(SubSeries([1.0, 2.0], HOUR, "discharge"), 101.0, pool, outlets))
case("run_level_pool_routing outlets list", lambda: route_pool(inflow, 101.0, pool, [1]), TypeError,
     "'dict'")
case("run_level_pool_routing outlet key not str", lambda: route_pool(inflow, 101.0, pool, {1: Constant(1.0)}),
     TypeError, "'str'")
case("run_level_pool_routing outlet not an outlet",
     lambda: route_pool(inflow, 101.0, pool, {"a": pool}), TypeError,
     "failed to extract enum DischargeInfo")
case("run_level_pool_routing initial elevation outside",
     lambda: route_pool(inflow, 99.0, pool, outlets), ValueError, "`elevation` 99 is outside")
case("run_level_pool_routing storage outside",
     lambda: route_pool(inflow, 101.0, ES([100.0, 110.0], [1e5, 1e6]), {"drain": Constant(1e4)}),
     ValueError, "is outside the range of the elevation-storage curve")
case("run_level_pool_routing above a rating curve",
     lambda: route_pool(CTS([1e3] * 5, HOUR, "discharge"), 109.9, ES([100.0, 120.0], [0.0, 1e6]),
                        {"gate": Controlled(rating)}),
     ValueError, "above the maximum of the elevation-discharge curve")
case("run_level_pool_routing past a prescribed release",
     lambda: route_pool(inflow, 101.0, pool, {"plan": Specified(CTS([1.0, 1.0], HOUR, "discharge"))}),
     ValueError, "exceeds the specified discharge series length")
panic("run_level_pool_routing empty inflow",
      lambda: route_pool(CTS([], HOUR, "discharge"), 101.0, pool, outlets), "index out of bounds")
panic("run_level_pool_routing NaN elevation", lambda: route_pool(inflow, NAN, pool, outlets),
      "Option::unwrap()")
getter_cases("LevelPoolResult", pool_result, ["reservoir_storage", "reservoir_elevation",
                                              "reservoir_total_outflow", "reservoir_individual_outflows"])
case("LevelPoolResult()", LevelPoolResult, TypeError)

# Muskingum routing.
signature_cases("run_muskingum_routing", muskingum,
                ["inflow", "k", "x", "sub_reaches", "initial_outflow"], (inflow, HOUR, 0.2, 3, 10.0))


@contextmanager
def warnings_as(action):
    with warnings.catch_warnings():
        warnings.simplefilter(action)
        yield


def muskingum_with_advice(action):
    with warnings_as(action):
        return muskingum(inflow, HOUR, 0.8, 3, 10.0)


case("run_muskingum_routing advice ignored", lambda: muskingum_with_advice("ignore"))
case("run_muskingum_routing advice as error", lambda: muskingum_with_advice("error"), UserWarning,
     "recommended range")
case("run_muskingum_routing k negative", lambda: muskingum(inflow, -HOUR, 0.2, 3, 10.0), ValueError,
     "negative")
case("run_muskingum_routing no sub-reach", lambda: muskingum(inflow, HOUR, 0.2, 0, 10.0), ValueError,
     "sub_reaches must be at least 1")
case("run_muskingum_routing sub_reaches beyond 64 bits",
     lambda: muskingum(inflow, HOUR, 0.2, 2**70, 10.0), OverflowError)
panic("run_muskingum_routing empty inflow",
      lambda: muskingum(CTS([], HOUR, "discharge"), HOUR, 0.2, 3, 10.0), "index out of bounds")

# Clark unit hydrograph.
signature_cases("run_clark_uh", clark, ["rainfall", "basin_area", "tc", "storage_r"],
                (rain, 640.0, HOUR * 3, HOUR * 4))
case("run_clark_uh zero tc", lambda: clark(rain, 640.0, timedelta(0), HOUR))
case("run_clark_uh tc negative", lambda: clark(rain, 640.0, -HOUR, HOUR), ValueError, "negative")
case("run_clark_uh storage_r negative", lambda: clark(rain, 640.0, HOUR, -HOUR), ValueError,
     "negative")
case("run_clark_uh storage_r too long", lambda: clark(rain, 640.0, HOUR, HOUR * 10**6), ValueError,
     "storage_r is too long", loops=5)

# Deficit and constant loss.
signature_cases("run_deficit_and_constant", deficit,
                ["rainfall", "initial_deficit", "max_deficit", "constant_loss_per_hr", "time_to_dry"],
                (rain, 0.2, 1.0, 0.05, timedelta(days=2)))
case("run_deficit_and_constant time_to_dry negative",
     lambda: deficit(rain, 0.2, 1.0, 0.05, -HOUR), ValueError, "negative")
getter_cases("DeficitConstantResult", loss_result, ["excess", "loss", "deficit"])
case("DeficitConstantResult()", DeficitConstantResult, TypeError)

# Linear reservoir baseflow.
signature_cases("LinearReservoir", LinearReservoir,
                ["k_duration", "gw_fraction", "initial_q", "num_reservoir"], (HOUR * 12, 0.3, 1.0, 2))
case("LinearReservoir num_reservoir True", lambda: LinearReservoir(HOUR, 0.3, 1.0, True))
for name, args, error, match in [
    ("k_duration negative", (-HOUR, 0.3, 1.0), ValueError, "negative"),
    ("k_duration under a second", (timedelta(0), 0.3, 1.0), ValueError, "k_duration must be > 0"),
    ("gw_fraction above 1", (HOUR, 1.5, 1.0), ValueError, "gw_fraction must be between 0 and 1"),
    ("no reservoir", (HOUR, 0.3, 1.0, 0), ValueError, "num_reservoir must be at least 1"),
    ("num_reservoir negative", (HOUR, 0.3, 1.0, -1), OverflowError, ""),
    ("num_reservoir float", (HOUR, 0.3, 1.0, 2.0), TypeError, "argument 'num_reservoir'"),
]:
    case(f"LinearReservoir {name}", lambda args=args: LinearReservoir(*args), error, match)
layer = LinearReservoir(HOUR * 12, 0.3, 1.0)
getter_cases("LinearReservoir", layer, ["k_duration", "gw_fraction", "initial_q", "num_reservoir"])
read_only_cases("LinearReservoir", layer, "k_duration")
for name, good, bad, error in [
    ("gw_fraction", 0.25, "x", TypeError),
    ("initial_q", 3.0, None, TypeError),
    ("num_reservoir", 2, -1, OverflowError),
]:
    case(f"LinearReservoir.{name} set", lambda n=name, v=good: setattr(layer, n, v))
    case(f"LinearReservoir.{name} set wrong", lambda n=name, v=bad: setattr(layer, n, v), error)
    case(f"LinearReservoir.{name} deleted", lambda n=name: delattr(layer, n), AttributeError,
         "property has no deleter")

signature_cases("run_linear_reservoir", baseflow, ["basin_area", "rainfall", "reservoirs"],
                (640.0, rain, layers))
case("run_linear_reservoir no layer", lambda: baseflow(640.0, rain, {}))
case("run_linear_reservoir fractions above 1",
     lambda: baseflow(640.0, rain, {"a": LinearReservoir(HOUR * 9, 0.7, 0.0),
                                    "b": LinearReservoir(HOUR * 9, 0.7, 0.0)}),
     ValueError, "Total fraction 1.4 > 1.0")
case("run_linear_reservoir unstable",
     lambda: baseflow(640.0, rain, {"a": LinearReservoir(timedelta(seconds=60), 0.3, 0.0)}),
     ValueError, "Stability Error")
case("run_linear_reservoir reservoirs list", lambda: baseflow(640.0, rain, [layer]), TypeError, "'dict'")
case("run_linear_reservoir key not str", lambda: baseflow(640.0, rain, {1: layer}), TypeError, "'str'")
case("run_linear_reservoir layer not a reservoir", lambda: baseflow(640.0, rain, {"a": pool}),
     TypeError, "'LinearReservoir'")

# Kling-Gupta efficiency.
signature_cases("calculate_kge", kge, ["sim", "obs", "use_log"], ([1.0, 2.0, 4.0], [1.0, 2.5, 3.0], True))
case("calculate_kge default use_log", lambda: kge([1.0, 2.0, 4.0], [1.0, 2.5, 3.0]))
case("calculate_kge use_log int", lambda: kge([1.0], [1.0], 1), TypeError, "'bool'")
case("calculate_kge obs empty", lambda: kge([], []), ValueError, "Observed series is empty.")
case("calculate_kge lengths differ", lambda: kge([1.0], [1.0, 2.0]), ValueError, "Series length mismatch.")


# Long runs ended by a signal handler: the interrupt must leave nothing behind. The handler stays
# installed, so a signal that arrives after a call has returned still ends the case, in the wait.
def interrupt(signum, frame):
    raise KeyboardInterrupt


def interrupted(call):
    signal.setitimer(signal.ITIMER_REAL, 0.001)
    call()
    while True:
        time.sleep(1e-4)


long_inflow = CTS([5.0] * 200, HOUR, "discharge")
long_pool = ES([0.0, 1e9], [0.0, 1e12])
for name, call in [
    ("run_level_pool_routing", lambda: route_pool(long_inflow, 1.0, long_pool, {"base": Constant(1.0)})),
    ("run_muskingum_routing", lambda: muskingum(inflow, HOUR, 0.2, 10**6, 10.0)),
    ("run_clark_uh", lambda: clark(ITS([1.0], timedelta(seconds=1), "rainfall"), 640.0,
                                   timedelta(days=3), HOUR)),
]:
    case(f"{name} interrupted", lambda call=call: interrupted(call), KeyboardInterrupt, loops=20)


# Loading the library under each module name it exports an entry point for.
def load_as(name):
    loader = importlib.machinery.ExtensionFileLoader(name, hydrokit.__file__)
    spec = importlib.machinery.ModuleSpec(name, loader, origin=hydrokit.__file__)
    module = loader.create_module(spec)
    loader.exec_module(module)
    return module


# The interpreter's own import caches keep growing, ever more slowly, for about a thousand loads
# and by a few objects per hundred loads after that. Every load runs the whole module build, so a
# leak of ours would grow the counters by at least one unit per load.
for name in ["hydrokit", "init_reach", "init_reservoir", "init_transform", "init_loss",
             "init_baseflow", "init_metrics"]:
    case(f"PyInit_{name}", lambda name=name: load_as(name), loops=50, warmup=1000, least=50)


# Instances that no constructor made. The types stay mutable, so a replaced __new__ can allocate
# one; that cannot be undone, so these come last, and the classes whose instances feed other
# constructors are replaced before the classes that take them. The two result classes are left
# out: giving a class that forbids instantiation a __new__ trips an assertion of the debug
# interpreter itself (_PyType_CheckConsistency).
def unconstructed(cls):
    cls.__new__ = staticmethod(lambda cls, *args: object.__new__(cls))
    return cls()


def unconstructed_cases(cls, getters, uses):
    instance = unconstructed(cls)
    label = f"unconstructed {cls.__name__}"
    case(f"{label} made and freed", cls)
    for name in getters:
        case(f"{label}.{name}", lambda name=name: getattr(instance, name), TypeError)
    for use, call in uses:
        case(f"{label} {use}", lambda call=call: call(instance), TypeError)


LATE_STAGES = [
    lambda: unconstructed_cases(CTS, ["data", "kind", "time_step"], [
        ("total_duration", lambda s: s.total_duration()),
        ("buffer", memoryview),
        ("as inflow", lambda s: muskingum(s, HOUR, 0.2, 1, 0.0)),
        ("as prescribed release", Specified),
    ]),
    lambda: unconstructed_cases(ITS, ["data", "kind", "time_step"], [
        ("disaggregate", lambda s: s.disaggregate(1800)),
        ("as rainfall", lambda s: clark(s, 640.0, HOUR, HOUR)),
    ]),
    lambda: unconstructed_cases(ED, ["elevation", "discharge"], [
        ("as gate rating", Controlled),
        ("as spillway rating", UnControlled),
    ]),
    lambda: unconstructed_cases(ES, ["elevation", "storage"], [
        ("get_storage", lambda c: c.get_storage(105.0)),
        ("as pool", lambda c: route_pool(inflow, 101.0, c, {})),
    ]),
    *(lambda Outlet=Outlet, names=names: unconstructed_cases(Outlet, names, [
        ("as outlet", lambda o: route_pool(inflow, 101.0, pool, {"a": o})),
    ]) for Outlet, label, names, args in outlet_signatures),
    lambda: unconstructed_cases(LinearReservoir, ["k_duration", "gw_fraction"], [
        ("as layer", lambda r: baseflow(640.0, rain, {"a": r})),
        ("gw_fraction set", lambda r: setattr(r, "gw_fraction", 0.1)),
    ]),
]


libc = ctypes.CDLL(None)


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


libc.mallinfo2.restype = MallInfo2


def read_counters(samples, round_):
    """Stores the three counters in preallocated slots, so that keeping them allocates nothing."""
    gc.collect()
    first = round_ * len(COUNTERS)
    samples[first] = sys.gettotalrefcount()
    samples[first + 1] = sys.getallocatedblocks()
    info = libc.mallinfo2()
    samples[first + 2] = info.uordblks + info.hblkhd


COUNTERS = ("references", "allocated blocks", "malloc bytes")


def growth(case):
    """For each counter, its growth over each round."""
    samples = array.array("q", [0] * (len(COUNTERS) * (ROUNDS + 1)))
    with stderr_silenced(case.quiet):
        for _ in range(case.warmup):
            case.run_once()
        read_counters(samples, 0)
        for round_ in range(1, ROUNDS + 1):
            for _ in range(case.loops):
                case.run_once()
            read_counters(samples, round_)
    n = len(COUNTERS)
    return [[samples[r * n + i] - samples[(r - 1) * n + i] for r in range(1, ROUNDS + 1)]
            for i in range(n)]


def measure(cases, leaks):
    """Runs every case; returns the number of calls made."""
    calls = 0
    for case in cases:
        deltas = growth(case)
        calls += case.warmup + ROUNDS * case.loops
        # A leak grows a counter in every round, by a least amount so that the interpreter's
        # slowly filling caches are not taken for one.
        for counter, rounds in zip(COUNTERS, deltas):
            if all(delta >= case.least for delta in rounds):
                leaks.append(f"{case.name}: {counter} grew by {rounds} over {ROUNDS} rounds "
                             f"of {case.loops} calls")
    return calls


def main():
    warnings.simplefilter("ignore")
    signal.signal(signal.SIGALRM, interrupt)
    leaks = []
    calls = measure(CASES, leaks)
    # Each stage replaces one constructor, so its cases run before the next stage.
    for stage in LATE_STAGES:
        first = len(CASES)
        stage()
        calls += measure(CASES[first:], leaks)
    print(f"refleaks: {len(CASES)} cases, {calls} calls ({ROUNDS} rounds of up to {LOOPS} calls each "
          f"after a warm-up)")
    for leak in leaks:
        print(f"refleaks: LEAK {leak}")
    if leaks:
        return 1
    print("refleaks: clean")
    return 0


if __name__ == "__main__":
    sys.exit(main())
