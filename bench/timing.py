"""Shared timing helper for the benchmarks: medians over repeats, never a single run."""

import statistics
import time


def median_seconds(function, repeats=5):
    """Median wall time of `function()` over `repeats` runs, after one warm-up run."""
    function()
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def report(name, seconds, baseline_name=None, baseline_seconds=None):
    line = f"{name:<48} {seconds * 1e3:10.3f} ms"
    if baseline_seconds is not None:
        line += f"   {baseline_seconds / seconds:7.1f}x faster than {baseline_name}"
    print(line, flush=True)
