"""Runs every computation of hydrokit on fixed inputs and prints each result's exact bits.

Two builds agree when this script prints the same text with each of them: interpreters,
compilers, architectures and wheels are all compared with it. Inputs come from integer
arithmetic only, so the interpreter's own libm never enters them. Each line names a case and
either a scalar as float.hex, or the count and SHA-256 of a result's little-endian doubles;
a raised error prints its type and message, which must agree as well.

    python tests/computations.py
"""

import hashlib
import math
import struct
from datetime import timedelta

from hydrokit import baseflow, metrics, rainfall_loss, rainfall_transform, reach, reservoir, utils

rut = reservoir.reservoir_utils
HOUR = timedelta(hours=1)
# Long enough for the unlocked and block-wise paths of every kernel.
LONG = 6000


def sequence(count, modulus, scale, offset=0.0):
    """Deterministic, irregular values: (k * 7919 mod modulus) / scale + offset."""
    return [(k * 7919 % modulus) / scale + offset for k in range(count)]


def storm(count, step=HOUR):
    # Dry spells between bursts, so that deficits recover as well as fill.
    depths = [d if k % 11 < 6 else 0.0 for k, d in enumerate(sequence(count, 101, 250.0))]
    return utils.IncrementalTimeSeries(depths, step, "rainfall")


def hydrograph(count, step=HOUR):
    rise = [50.0 + 3.25 * k for k in range(count // 3)]
    fall = [rise[-1] * 0.97**k for k in range(count - len(rise))]
    return utils.ContinuousTimeSeries(rise + fall, step, "discharge")


def digest(values):
    # A NaN's sign and payload are the processor's: x86-64 sets the sign of a NaN that an
    # invalid operation (inf - inf) creates, aarch64 clears it. Every NaN packs as one value.
    values = [math.nan if math.isnan(v) else v for v in values]
    packed = struct.pack(f"<{len(values)}d", *values)
    return f"{len(values)} {hashlib.sha256(packed).hexdigest()}"


def outcome(compute):
    """The printed form of compute()'s result: every number exact, or the error raised."""
    try:
        result = compute()
    except Exception as error:
        return f"{type(error).__name__}: {error}"
    return describe(result)


def describe(result):
    if isinstance(result, float):
        return result.hex()
    if isinstance(result, (utils.ContinuousTimeSeries, utils.IncrementalTimeSeries)):
        return f"{result.kind} {result.time_step.total_seconds():g}s {digest(result.data)}"
    if isinstance(result, dict):
        return "; ".join(f"{name}={describe(value)}" for name, value in sorted(result.items()))
    if isinstance(result, tuple):
        return " | ".join(describe(part) for part in result)
    if isinstance(result, list):
        return digest(result)
    if isinstance(result, rainfall_loss.DeficitConstantResult):
        return describe((result.excess, result.loss, result.deficit))
    if isinstance(result, reservoir.LevelPoolResult):
        return describe((result.reservoir_storage, result.reservoir_elevation,
                         result.reservoir_total_outflow, result.reservoir_individual_outflows))
    return repr(result)


def loss_cases():
    for count in (7, LONG):
        for initial, maximum, rate, dry in ((0.3, 1.0, 0.1, 20), (0.0, 2.5, 0.02, 72),
                                            (1.5, 1.0, 0.0, 0)):
            yield (f"loss n={count} initial={initial} max={maximum} rate={rate} dry={dry}h",
                   lambda: rainfall_loss.run_deficit_and_constant(
                       storm(count), initial, maximum, rate, timedelta(hours=dry)))


def clark_cases():
    for count in (7, LONG):
        for area, tc, r in ((640.0, 3, 2), (12_800.0, 17, 9), (5.5, 0, 0), (300.0, 1, 40)):
            yield (f"clark n={count} area={area} tc={tc}h r={r}h",
                   lambda: rainfall_transform.run_clark_uh(storm(count), area, tc * HOUR,
                                                           r * HOUR))


def baseflow_cases():
    layers = {
        "shallow": (timedelta(hours=6), 0.4, 2.0, 1),
        "deep": (timedelta(days=20), 0.35, 11.5, 3),
        "slow": (timedelta(hours=90, seconds=17), 0.2, 0.0, 7),
    }
    for count in (7, LONG):
        for names in (["shallow"], ["shallow", "deep", "slow"]):
            yield (f"baseflow n={count} layers={'+'.join(names)}",
                   lambda: baseflow.run_linear_reservoir(
                       1900.0, storm(count),
                       {n: baseflow.LinearReservoir(*layers[n]) for n in names}))


def muskingum_cases():
    for count in (7, LONG):
        for k, x, parts, initial in ((5, 0.2, 1, 50.0), (5, 0.2, 4, 50.0), (12, 0.0, 3, 0.0),
                                     (1, 0.5, 2, 80.0)):
            yield (f"muskingum n={count} k={k}h x={x} parts={parts}",
                   lambda: reach.run_muskingum_routing(hydrograph(count), k * HOUR, x, parts,
                                                       initial))


POOL_ELEVATION = [100.0, 102.0, 105.0, 109.0, 114.0, 120.0]
POOL_STORAGE = [0.0, 4.0e6, 1.3e7, 3.1e7, 6.2e7, 1.1e8]
GATE_ELEVATION = [101.0, 104.0, 108.0, 113.0, 120.0]
GATE_DISCHARGE = [0.0, 150.0, 480.0, 900.0, 1500.0]
# The weir's rating is in head over its crest: the pool elevation plus the (negative) offset.
WEIR_HEAD = [-10.0, 0.0, 0.5, 1.0, 2.0, 4.0, 8.0, 14.0]
WEIR_DISCHARGE = [0.0, 0.0, 95.0, 270.0, 760.0, 2150.0, 6100.0, 14000.0]


def outlets():
    release = utils.ContinuousTimeSeries(sequence(60, 53, 0.5), timedelta(hours=3), "discharge")
    return {
        "controlled": lambda: rut.ControlledDischargeInfo(
            rut.ElevationDischarge(GATE_ELEVATION, GATE_DISCHARGE), 101.5, 117.0, 700.0),
        "uncontrolled": lambda: rut.UnControlledDischargeInfo(
            rut.ElevationDischarge(WEIR_HEAD, WEIR_DISCHARGE), -108.5),
        "specified": lambda: rut.SpecifiedDischargeInfo(release, 102.0, 118.0, 60.0),
        "constant": lambda: rut.ConstantDischargeInfo(35.0, 101.0, 119.0),
    }


def level_pool_cases():
    makers = outlets()
    for count in (7, 120):
        for names in [[name] for name in makers] + [list(makers)]:
            yield (f"level pool n={count} outlets={'+'.join(names)}",
                   lambda: reservoir.run_level_pool_routing(
                       hydrograph(count), 104.25,
                       rut.ElevationStorage(POOL_ELEVATION, POOL_STORAGE),
                       {name: makers[name]() for name in names}))


def curve_cases():
    curve = rut.ElevationStorage(POOL_ELEVATION, POOL_STORAGE)
    for elevation in (100.0, 101.3, 104.999, 117.25, 120.0, 99.0):
        yield f"storage at {elevation}", lambda: curve.get_storage(elevation)
    for storage in (0.0, 1.0, 2.2e7, 1.1e8, 2.0e8):
        yield f"elevation at {storage}", lambda: curve.get_elevation(storage)


def series_cases():
    for step, target in ((3600, 900), (3600, 600), (86400, 3600), (3600, 7200), (3600, 1000)):
        yield (f"disaggregate {step}s to {target}s",
               lambda: storm(25, timedelta(seconds=step)).disaggregate(target))
    yield "series buffer", lambda: list(memoryview(hydrograph(30)).cast("B").cast("d"))


def kge_cases():
    sim, obs = [5, 7, 9, 2, 4.5, 6.7], [4.7, 6, 10, 2.5, 4, 6.8]
    long_obs = sequence(LONG, 997, 13.0)
    long_sim = sequence(LONG, 991, 12.5, 0.25)
    with_zeros = [0.0 if k % 9 == 0 else v for k, v in enumerate(long_obs)]
    for use_log in (False, True):
        yield f"kge short log={use_log}", lambda: metrics.calculate_kge(sim, obs, use_log)
        yield f"kge long log={use_log}", lambda: metrics.calculate_kge(long_sim, long_obs, use_log)
        yield (f"kge zeros log={use_log}",
               lambda: metrics.calculate_kge(long_sim, with_zeros, use_log))


def non_finite_cases():
    # Infinite flows and gaps: where invalid operations make NaNs, and what comes after them.
    flows = [50.0, math.inf, 80.0, -math.inf, 60.0, math.nan, 55.0] + sequence(40, 89, 2.0)
    series = utils.ContinuousTimeSeries(flows, HOUR, "discharge")
    for parts in (1, 4, 12):
        yield (f"muskingum non-finite parts={parts}",
               lambda: reach.run_muskingum_routing(series, 5 * HOUR, 0.2, parts, 50.0))
    yield "kge non-finite", lambda: metrics.calculate_kge(flows, sequence(len(flows), 97, 3.0))


CASES = [loss_cases, clark_cases, baseflow_cases, muskingum_cases, level_pool_cases,
         curve_cases, series_cases, kge_cases, non_finite_cases]


def main():
    for cases in CASES:
        for name, compute in cases():
            print(f"{name}: {outcome(compute)}")


if __name__ == "__main__":
    main()
