"""Long computations stop when a signal handler raises, and return nothing."""

import contextlib
import os
import signal
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from datetime import timedelta

import pytest

import hydrokit

SECOND = timedelta(seconds=1)
HOUR = timedelta(hours=1)
utils = hydrokit.reservoir.reservoir_utils
Continuous = hydrokit.utils.ContinuousTimeSeries
Incremental = hydrokit.utils.IncrementalTimeSeries

# Each call runs for many seconds (up to effectively forever) unless interrupted.
LONG_CALLS = {
    "level pool, ten years hourly": lambda: hydrokit.reservoir.run_level_pool_routing(
        Continuous([5.0] * (24 * 3650), HOUR, "discharge"),
        0.0,
        utils.ElevationStorage([0.0, 1e6], [0.0, 1e12]),
        {"bottom": utils.ConstantDischargeInfo(1.0)},
    ),
    "level pool, three points 24,855 days apart": lambda: hydrokit.reservoir.run_level_pool_routing(
        Continuous([5.0, 5.0, 5.0], timedelta(days=30_000), "discharge"),
        0.0,
        utils.ElevationStorage([0.0, 1e6], [0.0, 1e12]),
        {},
    ),
    "muskingum, 2**62 sub-reaches": lambda: hydrokit.reach.run_muskingum_routing(
        Continuous([1.0, 2.0, 3.0], HOUR, "discharge"), HOUR, 0.2, 2**62, 1.0
    ),
    "muskingum, 10**9 sub-reaches over a year": lambda: hydrokit.reach.run_muskingum_routing(
        Continuous([1.0] * 8760, HOUR, "discharge"), HOUR, 0.2, 10**9, 1.0
    ),
    "clark, tc of 1,000 days at a one-second step": lambda: hydrokit.rainfall_transform.run_clark_uh(
        Incremental([1.0], SECOND, "rainfall"), 100.0, timedelta(days=1000), HOUR
    ),
    "linear reservoir, a chain of 10**7": lambda: hydrokit.baseflow.run_linear_reservoir(
        100.0,
        Incremental([0.1] * 100_000, SECOND, "rainfall"),
        {"deep": hydrokit.baseflow.LinearReservoir(timedelta(days=20_000), 0.5, 1.0, 10**7)},
    ),
}


ONES = Continuous([1.0] * 100_000, HOUR, "discharge")


@contextlib.contextmanager
def worker_routing():
    """A worker thread routing for a few tenths of a second meanwhile; it must end with its
    whole result. Without storage, routing repeats a constant inflow exactly, pass after pass."""
    with ThreadPoolExecutor(1) as pool:
        routed = pool.submit(hydrokit.reach.run_muskingum_routing,
                             ONES, timedelta(0), 0.0, 10_000, 1.0)
        yield
        assert routed.result().data == ONES.data


class Stop(Exception):
    pass


def interrupted_after(call, handler, delay=0.2):
    """Runs `call` with SIGALRM's `handler` armed `delay` seconds ahead; returns the elapsed
    seconds and what was raised."""
    previous = signal.signal(signal.SIGALRM, handler)
    start = time.monotonic()
    signal.setitimer(signal.ITIMER_REAL, delay)
    try:
        result = call()
    except BaseException as raised:  # KeyboardInterrupt is not an Exception
        return time.monotonic() - start, raised
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    pytest.fail(f"the call returned {type(result).__name__} instead of stopping")


def send_ctrl_c(signum, frame):
    # What a terminal does: SIGINT, handled by the interpreter's own KeyboardInterrupt handler.
    os.kill(os.getpid(), signal.SIGINT)


@pytest.mark.parametrize("beside", [contextlib.nullcontext, worker_routing],
                         ids=["alone", "beside a worker's call"])
@pytest.mark.parametrize("call", LONG_CALLS.values(), ids=LONG_CALLS.keys())
def test_ctrl_c_stops_the_call(call, beside):
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    with beside():
        elapsed, raised = interrupted_after(call, send_ctrl_c)
    assert type(raised) is KeyboardInterrupt
    assert elapsed < 2.0


def test_ctrl_c_during_a_workers_call_reaches_the_main_thread_only():
    # Only the main thread runs signal handlers: the waiting main thread gets the
    # KeyboardInterrupt, and the worker's call runs on to its end.
    with worker_routing():
        _, raised = interrupted_after(threading.Event().wait, send_ctrl_c, delay=0.05)
    assert type(raised) is KeyboardInterrupt


@pytest.mark.parametrize("call", LONG_CALLS.values(), ids=LONG_CALLS.keys())
def test_a_handlers_exception_comes_out_unchanged(call):
    stop = Stop("enough")

    def handler(signum, frame):
        raise stop

    elapsed, raised = interrupted_after(call, handler)
    assert raised is stop
    assert elapsed < 2.0
    # Nothing is left behind: the next call runs normally.
    routed = hydrokit.reach.run_muskingum_routing(
        Continuous([1.0, 3.0], HOUR, "discharge"), HOUR, 0.0, 9, 1.0
    )
    assert len(routed.data) == 2


def test_a_handler_that_returns_lets_the_call_finish():
    calls = []
    previous = signal.signal(signal.SIGALRM, lambda signum, frame: calls.append(signum))
    signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
    try:
        routed = hydrokit.reach.run_muskingum_routing(
            Continuous([1.0, 2.0, 3.0], HOUR, "discharge"), HOUR, 0.2, 2 * 10**8, 1.0
        )
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    # Signals arriving while nothing polls coalesce into one: several calls mean the handler
    # ran during the computation.
    assert len(calls) >= 2
    assert routed.data[0] == 1.0 and len(routed.data) == 3


def test_a_handler_emptying_the_outlets_dict_changes_nothing():
    # Outlets are read where they live; the run must hold them even when a handler drops the
    # caller's last reference to them.
    def outlets():
        schedule = Continuous([2.0, 3.0] * 500, timedelta(days=30), "discharge")
        return {"release": utils.SpecifiedDischargeInfo(schedule, maximum_release=2.5),
                "spillway": utils.UnControlledDischargeInfo(
                    utils.ElevationDischarge([0.0, 5.0, 10.0], [0.0, 1.0, 50.0]))}

    def route(given):
        return hydrokit.reservoir.run_level_pool_routing(
            Continuous([4.0] * 720, timedelta(days=1), "discharge"), 1.0,
            utils.ElevationStorage([0.0, 1e9], [0.0, 1e12]), given)

    expected = route(outlets())
    given = outlets()
    previous = signal.signal(signal.SIGALRM, lambda signum, frame: given.clear())
    signal.setitimer(signal.ITIMER_REAL, 0.02)
    try:
        result = route(given)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert given == {}
    assert result.reservoir_storage.data == expected.reservoir_storage.data
    assert result.reservoir_individual_outflows["release"].data == \
        expected.reservoir_individual_outflows["release"].data
