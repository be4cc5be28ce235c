"""Long series reuse the buffers of series that died before them; whatever those buffers held
must never show through."""
import resource
import sysconfig
import threading
from concurrent.futures import ThreadPoolExecutor
from datetime import timedelta

import numpy as np
import pytest

from hydrokit import rainfall_loss, reach, utils
from test_rainfall_loss import reference as loss_reference
from test_reach import reference as routing_reference

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))

HOUR = timedelta(hours=1)
# Long enough for buffers to be kept, in an order that hands longer buffers to shorter series.
LENGTHS = [70_001, 65_536, 69_999, 80_000]


@pytest.mark.parametrize("sub_reaches", [1, 3])
def test_routing_after_longer_series_died(sub_reaches):
    rng = np.random.default_rng(11)
    for n in LENGTHS:
        flow = rng.gamma(2.0, 50.0, n)
        routed = reach.run_muskingum_routing(utils.ContinuousTimeSeries(flow, HOUR, "discharge"),
                                             3 * HOUR, 0.2, sub_reaches, float(flow[0]))
        expected = routing_reference(flow.tolist(), 3 * 3600.0, 0.2, 3600.0,
                                     float(flow[0]), sub_reaches)
        assert routed.data == expected
        del routed


def test_loss_split_after_longer_series_died():
    rng = np.random.default_rng(12)
    for n in LENGTHS:
        rain = (rng.exponential(0.2, n) * (rng.random(n) < 0.3)).tolist()
        result = rainfall_loss.run_deficit_and_constant(
            utils.IncrementalTimeSeries(rain, HOUR, "rainfall"), 0.4, 1.5, 0.08, 30 * HOUR)
        expected = loss_reference(rain, 3600, 0.4, 1.5, 0.08, 30 * 3600.0)
        assert (result.excess.data, result.loss.data, result.deficit.data) == expected
        del result


# What the process may keep of dead series between calls, with room for the interpreter's
# own churn; recycling that pinned memory would keep hundreds of MiB.
KEPT_BOUND_MIB = 160


def status_mib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    raise LookupError(field)


def build_and_drop(arrays):
    for values in arrays:
        routed = reach.run_muskingum_routing(utils.ContinuousTimeSeries(values, HOUR, "discharge"),
                                             HOUR, 0.2, 1, 1.0)
        del routed


@pytest.mark.parametrize("threads", [0, 6], ids=["main thread", "six idle threads"])
def test_dead_series_leave_little_memory_behind(threads):
    arrays = [np.ones(n) for n in (8 << 20, 4 << 20, 2 << 20, 1 << 20)]
    before = status_mib("VmRSS")
    done, release = threading.Barrier(threads + 1), threading.Event()

    def work():
        build_and_drop(arrays)
        done.wait()
        release.wait()

    workers = [threading.Thread(target=work) for _ in range(threads)]
    for worker in workers:
        worker.start()
    if not threads:
        build_and_drop(arrays)
    done.wait()
    # Short series must not take the long buffers kept for reuse.
    short = [utils.ContinuousTimeSeries(arrays[0][:65_536], HOUR, "discharge") for _ in range(4)]
    kept = status_mib("VmRSS") - before
    release.set()
    for worker in workers:
        worker.join()
    assert kept < KEPT_BOUND_MIB
    assert all(np.asarray(series).shape == (65_536,) for series in short)


class LyingLength:
    """Three values behind a length of 2**40."""

    def __len__(self):
        return 2**40

    def __getitem__(self, index):
        if index >= 3:
            raise IndexError(index)
        return float(index)


def test_a_length_hint_does_not_size_what_a_series_keeps():
    before = status_mib("VmSize")
    kept = [utils.ContinuousTimeSeries(LyingLength(), HOUR, "discharge") for _ in range(100)]
    assert status_mib("VmSize") - before < 1024
    assert kept[-1].data == [0.0, 1.0, 2.0]


@pytest.mark.parametrize("workers", [0, 2], ids=["main thread", "two worker threads"])
def test_dead_results_feed_the_next_calls_without_page_faults(workers):
    rain = utils.IncrementalTimeSeries(np.full(10**6, 0.05), HOUR, "rainfall")

    def split(_):
        return rainfall_loss.run_deficit_and_constant(rain, 0.4, 1.5, 0.08, 30 * HOUR)

    faults = []
    with ThreadPoolExecutor(max(workers, 1)) as pool:
        for _ in range(4):
            before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
            # On the workers, four results of three series each stay alive until all are done.
            results = list(pool.map(split, range(4))) if workers else split(0)
            del results
            if workers and FREE_THREADED:
                # Without the lock, an object that one thread made and another dropped is freed
                # when its maker next runs Python code: give the workers that turn.
                list(pool.map(abs, range(workers * 4)))
            faults.append(resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before)
    # A fresh 10**6-value output faults about 400 to 2,000 times; the first round pays for all.
    assert max(faults[1:]) < 200, faults
