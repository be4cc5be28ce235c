"""Computations called from several threads at once: the same results as one thread, bit for
bit, other threads keep running while a long computation runs, and calls whose inputs other
threads change meanwhile give the result or the error of a state those inputs were in."""

import gc
import itertools
import json
import pathlib
import random
import signal
import struct
import subprocess
import sys
import sysconfig
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from datetime import timedelta

import numpy as np
import pytest

import hydrokit

HOUR = timedelta(hours=1)
DAY = timedelta(days=1)
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
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


@pytest.mark.skipif(FREE_THREADED, reason="no lock to let go of; and 3.14.7t wakes a thread "
                    "from Event().wait() up to tens of milliseconds late on a busy machine")
@pytest.mark.parametrize(("name", "on_main_thread"),
                         [(name, False) for name in LONG_CALLS] + [("run_muskingum_routing", True)],
                         ids=lambda value: {True: "main thread", False: "worker"}.get(value, value))
def test_other_threads_run_during_a_long_call(name, on_main_thread):
    # A watcher woken before the call is normally running within microseconds of the lock
    # being let go; a few attempts make a machine too busy to schedule it harmless.
    assert any(ran_beside(LONG_CALLS[name], on_main_thread) for _ in range(5))


def test_a_collection_runs_during_a_long_call():
    # Without a lock, a collection waits for every thread attached to the interpreter: it
    # takes as long as collecting only if the long call detached.
    # What the suite made before is frozen, out of the collection's way, so that it is short.
    chain = {"deep": hydrokit.baseflow.LinearReservoir(30 * DAY, 0.5, 1.0, 1000)}
    gc.freeze()
    try:
        with ThreadPoolExecutor(1) as pool:
            started = time.monotonic()
            running = pool.submit(hydrokit.baseflow.run_linear_reservoir, 640.0, RAIN, chain)
            time.sleep(0.2)
            collecting = time.monotonic()
            gc.collect()
            collected = time.monotonic()
            running.result()
    finally:
        gc.unfreeze()
    assert collected - collecting < (time.monotonic() - started) / 3


def on_worker_thread(call):
    """`call()` run on another thread: its result, or what it raised."""
    with ThreadPoolExecutor(1) as pool:
        return pool.submit(call).result()


# The mutation stress: many threads call while a few others change the lists, dicts, attributes
# and arrays those calls read; each call must give the result or the error of a state its input
# was in. With the lock a short call reads its arguments between two changes; without it reads
# and changes interleave, so that build is given longer.
CALLERS, MUTATORS = 12, 4
STRESS_SECONDS = 2.0 if FREE_THREADED else 0.5
SHORT = 720
SHORT_RAIN = Incremental(RAIN_VALUES[:SHORT], HOUR, "rainfall")
A, B = OBSERVED[:SHORT].tolist(), SIMULATED[:SHORT].tolist()
# A's first half, then B's second: a read that mixes two states gives values neither had.
AB = A[:SHORT // 2] + B[SHORT // 2:]
CURVE = [100.0, 102.0, 110.0], [0.0, 20.0, 300.0]
# New objects, curves included, every time: an outlet replaced in the dict is freed.
NEW_OUTLET = {
    "spillway": lambda: utils.UnControlledDischargeInfo(utils.ElevationDischarge(*CURVE), 0.5),
    "gate": lambda: utils.ControlledDischargeInfo(utils.ElevationDischarge(*CURVE), 101.0, 109.0,
                                                  50.0),
    "valve": lambda: utils.ConstantDischargeInfo(2.0, 100.5),
}
# Storage constant and loss fraction: all three layers together lose more than the rain.
LAYER = {"interflow": (18 * HOUR, 0.3), "groundwater": (12 * DAY, 0.5), "deep": (30 * DAY, 0.3)}
ATTRIBUTES = {"gw_fraction": (0.3, 0.6), "initial_q": (1.0, 4.0), "num_reservoir": (1, 3)}


def new_layer(name, gw_fraction=None, initial_q=1.0, num_reservoir=3):
    k, fraction = LAYER[name]
    return hydrokit.baseflow.LinearReservoir(k, gw_fraction or fraction, initial_q, num_reservoir)


def orders(names):
    return [list(order) for size in range(len(names) + 1)
            for order in itertools.permutations(names, size)]


def replace_items(lists, rng, memo):
    # New floats of the same values: the old ones are freed.
    values = rng.choice(lists)
    i = rng.randrange(SHORT - 8)
    values[i:i + 8] = [value * 1.0 for value in values[i:i + 8]]


def resize(values, rng, memo):
    # A prefix of A or of AB; below the middle they agree, so there the tail may change.
    tail, size, change = memo.setdefault("tail", A), len(values), rng.randrange(4)
    if change == 0 and size < SHORT:
        values.append(tail[size])
    elif change == 1:
        values.extend(tail[size:size + 60])
    elif change > 1:
        del values[rng.randrange(size + 1) if change == 2 else 0:]
        if len(values) <= SHORT // 2:
            memo["tail"] = rng.choice([A, AB])


def toggle(names, make):
    def change(mapping, rng, memo):
        name = rng.choice(names)
        mapping.pop(name) if name in mapping else mapping.setdefault(name, make(name))
    return change


def replace_outlet(outlets, rng, memo):
    name = rng.choice(list(outlets))
    outlets[name] = NEW_OUTLET[name]()


def set_attribute(layers, rng, memo):
    name, values = rng.choice(list(ATTRIBUTES.items()))
    setattr(layers[rng.choice(list(layers))], name, rng.choice(values))


def write_equal_values(arrays, rng, memo):
    values = rng.choice(arrays)
    i = rng.randrange(SHORT - 16)
    values[i:i + 16] = values[i:i + 16].copy()


def baseflow(layers):
    return hydrokit.baseflow.run_linear_reservoir(640.0, SHORT_RAIN, layers)


def level_pool_with(outlets):
    return hydrokit.reservoir.run_level_pool_routing(INFLOW[72], 101.0, POOL, outlets)


# Each scenario: a maker of every state the input can be in (the first is the start), the call,
# and one change, made by one mutator at a time so that no other state arises.
STRESS = {
    "list items replaced by equal floats": (
        [lambda: [list(A), list(B)]], lambda lists: hydrokit.metrics.calculate_kge(*lists),
        replace_items),
    "list appended, truncated, cleared": (
        [lambda size=size: A[:size] for size in range(SHORT + 1)]
        + [lambda size=size: AB[:size] for size in range(SHORT // 2 + 1, SHORT + 1)],
        lambda values: Incremental(values, HOUR, "rainfall"), resize),
    "layer keys added and deleted": (
        [lambda names=names: {name: new_layer(name) for name in ["interflow", *names]}
         for names in orders(["groundwater", "deep"])],
        baseflow, toggle(["groundwater", "deep"], new_layer)),
    "outlets replaced by equal ones": (
        [lambda: {name: make() for name, make in NEW_OUTLET.items()}], level_pool_with,
        replace_outlet),
    "outlet keys added and deleted": (
        [lambda names=names: {name: NEW_OUTLET[name]() for name in ["spillway", *names]}
         for names in orders(["gate", "valve"])],
        level_pool_with, toggle(["gate", "valve"], lambda name: NEW_OUTLET[name]())),
    "LinearReservoir attributes set": (
        [lambda state=state: {"interflow": new_layer("interflow", *state[:3]),
                              "groundwater": new_layer("groundwater", *state[3:])}
         for state in itertools.product(*ATTRIBUTES.values(), repeat=2)],
        baseflow, set_attribute),
    "numpy arrays written": (
        [lambda: [OBSERVED[:SHORT].copy(), SIMULATED[:SHORT].copy()]],
        lambda arrays: hydrokit.metrics.calculate_kge(*arrays), write_equal_values),
}


def outcome(call):
    try:
        return repr(bits(call()))
    except Exception as error:
        return f"{type(error).__name__}: {error}"


def stress(name):
    """Runs scenario `name` and prints what the callers saw that no state gives, and how many
    of the states' outcomes they saw."""
    states, call, change = STRESS[name]
    expected = {outcome(lambda: call(make())) for make in states}
    target, seen, serial = states[0](), set(), threading.Lock()
    start = threading.Barrier(CALLERS + MUTATORS)
    deadline = time.monotonic() + STRESS_SECONDS

    def calling():
        start.wait()
        outcomes = {outcome(lambda: call(target))}
        while time.monotonic() < deadline:
            outcomes.add(outcome(lambda: call(target)))
        seen.update(outcomes)

    # One memo for all mutators, which change the input one at a time: a tail remembered by
    # one of them alone would let another extend a prefix of AB with A's values.
    memo = {}

    def mutating(seed):
        rng = random.Random(seed)
        start.wait()
        while time.monotonic() < deadline:
            with serial:
                change(target, rng, memo)
            # With the lock, letting go of it after each change puts callers between changes.
            time.sleep(0)

    threads = [threading.Thread(target=calling) for _ in range(CALLERS)]
    threads += [threading.Thread(target=mutating, args=(seed,)) for seed in range(MUTATORS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(json.dumps({"unexpected": sorted(text[:300] for text in seen - expected),
                      "seen": len(seen & expected), "states": len(expected)}))


@pytest.mark.parametrize("scenario", STRESS)
def test_calls_while_other_threads_change_the_inputs(scenario):
    # In a process of its own, so that a crash fails this test only.
    ran = subprocess.run([sys.executable, "-X", "faulthandler", "-c",
                          f"import test_threads; test_threads.stress({scenario!r})"],
                         cwd=pathlib.Path(__file__).parent, capture_output=True, text=True,
                         timeout=STRESS_SECONDS + 120)
    crash = signal.Signals(-ran.returncode).name if ran.returncode < 0 else ran.returncode
    assert ran.returncode == 0, (crash, ran.stderr[-4000:])
    report = json.loads(ran.stdout)
    assert report["unexpected"] == []
    # The callers saw the input change, where it has states to change between.
    assert report["seen"] > 1 or report["states"] == 1
