"""Computations called from several threads at once: the same results as one thread, bit for
bit, and other threads keep running while a long computation runs."""

import struct
import sys
import threading
from concurrent.futures import ThreadPoolExecutor
from datetime import timedelta

import numpy as np
import pytest

import hydrokit

HOUR = timedelta(hours=1)
DAY = timedelta(days=1)
utils = hydrokit.reservoir.reservoir_utils
Continuous = hydrokit.utils.ContinuousTimeSeries
Incremental = hydrokit.utils.IncrementalTimeSeries

# Inputs every thread shares: series, arrays, lists, a curve, outlets and layers. 10^5 values
# is far above the few hundred that a call handles without letting go of the lock.
N = 100_000
rng = np.random.default_rng(2026)
FLOW = Continuous(100.0 + 50.0 * np.sin(np.arange(N) / 240.0) + rng.random(N), HOUR, "discharge")
RAIN_VALUES = np.where(rng.random(N) < 0.2, rng.random(N) * 0.4, 0.0)
RAIN = Incremental(RAIN_VALUES, HOUR, "rainfall")
LONG_RAIN = Incremental(np.tile(RAIN_VALUES, 10), HOUR, "rainfall")
OBSERVED = rng.gamma(2.0, 10.0, N)
SIMULATED = OBSERVED * 1.1 + rng.random(N)
OBSERVED_LIST, SIMULATED_LIST = OBSERVED.tolist(), SIMULATED.tolist()
LONG_OBSERVED, LONG_SIMULATED = np.tile(OBSERVED, 10), np.tile(SIMULATED, 10)
POOL = utils.ElevationStorage([100.0, 105.0, 110.0], [0.0, 4e7, 1e8])
RATING = utils.ElevationDischarge([100.0, 102.0, 110.0], [0.0, 20.0, 300.0])
OUTLETS = {
    "spillway": utils.UnControlledDischargeInfo(RATING, 0.5),
    "gate": utils.ControlledDischargeInfo(RATING, 101.0, 109.0, 50.0),
    "release": utils.SpecifiedDischargeInfo(Continuous([10.0, 40.0, 25.0, 10.0] * 8, DAY,
                                                       "discharge"), None, None, 30.0),
    "valve": utils.ConstantDischargeInfo(2.0, 100.5),
}
LAYERS = {"interflow": hydrokit.baseflow.LinearReservoir(18 * HOUR, 0.3, 1.0, 3),
          "groundwater": hydrokit.baseflow.LinearReservoir(12 * DAY, 0.5, 4.0, 3)}
INFLOW = {hours: Continuous(150.0 + 100.0 * np.sin(np.arange(hours) / 10.0), HOUR, "discharge")
          for hours in (72, 720)}
MANY_OUTLETS = {f"valve {i}": utils.ConstantDischargeInfo(1e-3) for i in range(20_000)}
DEEP = {"deep": hydrokit.baseflow.LinearReservoir(30 * DAY, 0.5, 1.0, 300)}


def level_pool(hours):
    return hydrokit.reservoir.run_level_pool_routing(INFLOW[hours], 101.0, POOL, OUTLETS)


CALLS = {
    "run_muskingum_routing": lambda: hydrokit.reach.run_muskingum_routing(
        FLOW, 6 * HOUR, 0.2, 3, 100.0),
    "run_level_pool_routing": lambda: level_pool(72),
    "run_deficit_and_constant": lambda: hydrokit.rainfall_loss.run_deficit_and_constant(
        RAIN, 0.5, 2.0, 0.05, 2 * DAY),
    "run_clark_uh": lambda: hydrokit.rainfall_transform.run_clark_uh(
        RAIN, 640.0, 3 * HOUR, 12 * HOUR),
    "run_linear_reservoir": lambda: hydrokit.baseflow.run_linear_reservoir(640.0, RAIN, LAYERS),
    "calculate_kge, lists": lambda: hydrokit.metrics.calculate_kge(SIMULATED_LIST,
                                                                   OBSERVED_LIST),
    "calculate_kge, arrays, use_log": lambda: hydrokit.metrics.calculate_kge(
        SIMULATED, OBSERVED, use_log=True),
    "disaggregate": lambda: RAIN.disaggregate(900),
}

# Tens of milliseconds or more each, on inputs built beforehand: nothing but the computation
# itself may let go of the interpreter lock.
LONG_CALLS = {
    "run_muskingum_routing": lambda: hydrokit.reach.run_muskingum_routing(
        FLOW, 6 * HOUR, 0.2, 2048, 100.0),
    "run_level_pool_routing": lambda: level_pool(720),
    # Little simulated time, much work: each second asks every outlet for its release.
    "run_level_pool_routing, 20,000 outlets": lambda: hydrokit.reservoir.run_level_pool_routing(
        Continuous([5.0, 5.0], timedelta(seconds=1000), "discharge"), 101.0, POOL, MANY_OUTLETS),
    "run_deficit_and_constant": lambda: hydrokit.rainfall_loss.run_deficit_and_constant(
        LONG_RAIN, 0.5, 2.0, 0.05, 2 * DAY),
    "run_clark_uh": lambda: hydrokit.rainfall_transform.run_clark_uh(
        RAIN, 640.0, 6 * HOUR, 10 * DAY),
    "run_linear_reservoir": lambda: hydrokit.baseflow.run_linear_reservoir(640.0, RAIN, DEEP),
    "calculate_kge": lambda: hydrokit.metrics.calculate_kge(LONG_SIMULATED, LONG_OBSERVED,
                                                            use_log=True),
    "disaggregate": lambda: LONG_RAIN.disaggregate(900),
}


def bits(result):
    """Everything a result holds, with each float as its bit pattern."""
    if isinstance(result, float):
        return struct.pack("<d", result)
    if isinstance(result, (Continuous, Incremental)):
        return result.kind, result.time_step, bytes(memoryview(result))
    if isinstance(result, tuple):
        return tuple(bits(part) for part in result)
    if isinstance(result, dict):
        return {name: bits(part) for name, part in result.items()}
    fields = [name for name in dir(result) if not name.startswith("_")]
    return {name: bits(getattr(result, name)) for name in fields}


def test_threads_at_once_compute_what_one_thread_computes():
    expected = {name: bits(call()) for name, call in CALLS.items()}
    # Every thread runs every computation, each thread in another order.
    orders = [list(CALLS)[shift:] + list(CALLS)[:shift] for shift in range(0, 8, 2)]
    start = threading.Barrier(len(orders))

    def run(order):
        start.wait()
        return [(name, bits(CALLS[name]())) for name in order * 2]

    with ThreadPoolExecutor(len(orders)) as pool:
        results = [pair for ran in pool.map(run, orders) for pair in ran]
    assert len(results) == 2 * len(orders) * len(CALLS)
    assert [name for name, got in results if got != expected[name]] == []


def ran_beside(call, on_main_thread):
    """Whether another thread ran Python code while `call` was running.

    With a switch interval of a minute, a thread that holds the interpreter lock keeps it until
    it lets go of it by itself, so the watching thread, woken just before the call starts,
    runs before the call returns only if the call let go of the lock."""
    go, returned, seen = threading.Event(), [], []

    def calling():
        go.set()
        call()
        returned.append(True)

    def watching():
        go.wait()
        seen.append(not returned)

    previous = sys.getswitchinterval()
    sys.setswitchinterval(60.0)
    try:
        other = threading.Thread(target=watching if on_main_thread else calling)
        other.start()
        (calling if on_main_thread else watching)()
        other.join()
    finally:
        sys.setswitchinterval(previous)
    return seen == [True]


@pytest.mark.parametrize(("name", "on_main_thread"),
                         [(name, False) for name in LONG_CALLS] + [("run_muskingum_routing", True)],
                         ids=lambda value: {True: "main thread", False: "worker"}.get(value, value))
def test_other_threads_run_during_a_long_call(name, on_main_thread):
    # A watcher woken before the call is normally running within microseconds of the lock
    # being let go; a few attempts make a machine too busy to schedule it harmless.
    assert any(ran_beside(LONG_CALLS[name], on_main_thread) for _ in range(5))


def on_worker_thread(call):
    """`call()` run on another thread: its result, or what it raised."""
    with ThreadPoolExecutor(1) as pool:
        return pool.submit(call).result()
