"""Peak extra memory of one hydrokit call, against the size of what it returns.

Each case runs in a fresh interpreter (`python memory.py CASE`, printing JSON), since the
allocations of hydrokit's C++ core are invisible to tracemalloc and a process that has already
run other cases would serve the call from memory it still holds. The inputs are built first;
then the kernel's peak-RSS mark is reset (/proc/self/clear_refs) and the call's peak extra
memory is the new peak minus the resident size just before the call. glibc's malloc is told to
map every large block afresh and unmap it on free (fixed thresholds), so that a block freed
while the inputs were built cannot hide part of the call's footprint.
"""

import json
import os
import re
import subprocess
import sys
from datetime import timedelta

import numpy as np

import hydrokit
import inputs
from inputs import HOUR, MILLION

# Beyond its outputs a call may use this much: a few pages of bookkeeping, whatever n is. One
# copy of a 10^6-value input series is 7.6 MiB, far above it.
CONSTANT_ALLOWANCE = 1 << 20
MALLOC_ENVIRONMENT = {"MALLOC_MMAP_THRESHOLD_": "131072", "MALLOC_TRIM_THRESHOLD_": "131072"}


def status_bytes(field):
    with open("/proc/self/status") as status:
        return int(re.search(rf"^{field}:\s+(\d+) kB", status.read(), re.M)[1]) * 1024


def series_bytes(*series):
    return sum(8 * len(s.data) for s in series)


def muskingum(sub_reaches):
    rng = inputs.generator()
    series = hydrokit.utils.ContinuousTimeSeries(inputs.discharge(MILLION, rng), HOUR, "discharge")
    call = lambda: hydrokit.reach.run_muskingum_routing(  # noqa: E731
        series, timedelta(hours=2 * sub_reaches), 0.2, sub_reaches, 100.0)
    return call, series_bytes


def deficit_and_constant():
    rain = inputs.rainfall(MILLION, inputs.generator(), wet_share=0.2, largest=0.4)
    series = hydrokit.utils.IncrementalTimeSeries(rain, HOUR, "rainfall")
    call = lambda: hydrokit.rainfall_loss.run_deficit_and_constant(  # noqa: E731
        series, 0.5, 2.0, 0.05, timedelta(days=2))
    return call, lambda r: series_bytes(r.excess, r.loss, r.deficit)


def linear_reservoir():
    rng = inputs.generator()
    rain = rng.exponential(0.05, MILLION) * (rng.random(MILLION) < 0.2)
    series = hydrokit.utils.IncrementalTimeSeries(rain, HOUR, "rainfall")
    layers = {f"layer{i}": hydrokit.baseflow.LinearReservoir(timedelta(seconds=k), f, q, c)
              for i, (k, f, q, c) in enumerate(inputs.BASEFLOW_LAYERS)}
    call = lambda: hydrokit.baseflow.run_linear_reservoir(  # noqa: E731
        inputs.BASEFLOW_AREA, series, layers)
    return call, lambda r: series_bytes(r[0], *r[1].values())


def kge():
    sim, obs = inputs.simulated_and_observed(MILLION, inputs.generator())
    return lambda: hydrokit.metrics.calculate_kge(sim, obs), lambda r: 0


def clark():
    # A storm of 10^6 steps so that a copy of it would show; a short storage constant keeps the
    # unit hydrograph, and so the convolution, short.
    storm = inputs.rainfall(MILLION, inputs.generator(), wet_share=0.3, largest=0.5)
    series = hydrokit.utils.IncrementalTimeSeries(storm, HOUR, "rainfall")
    call = lambda: hydrokit.rainfall_transform.run_clark_uh(  # noqa: E731
        series, 640.0, 6 * HOUR, 6 * HOUR)
    return call, series_bytes


def level_pool():
    # 10^6 inflow values one second apart: as many sub-steps, and an input large enough that a
    # copy of it would show.
    reservoir = inputs.Reservoir
    flow = np.interp(np.arange(MILLION) / 3600.0, np.arange(300), reservoir.inflow(300))
    series = hydrokit.utils.ContinuousTimeSeries(flow, timedelta(seconds=1), "discharge")
    curve, outlets = reservoir.curve(hydrokit), reservoir.outlets(hydrokit)
    call = lambda: hydrokit.reservoir.run_level_pool_routing(  # noqa: E731
        series, reservoir.initial_elevation, curve, outlets)

    def outputs(result):
        return series_bytes(result.reservoir_storage, result.reservoir_elevation,
                            result.reservoir_total_outflow,
                            *result.reservoir_individual_outflows.values())

    return call, outputs


CASES = {
    "Muskingum, 1 sub-reach, 10^6 values": lambda: muskingum(1),
    "Muskingum, 8 sub-reaches, 10^6 values": lambda: muskingum(8),
    "deficit-and-constant, 10^6 values": deficit_and_constant,
    "linear reservoir, 2 layers x 3, 10^6 values": linear_reservoir,
    "KGE, two float64 arrays of 10^6 values": kge,
    "Clark, 10^6-step storm, tc and storage 6 h": clark,
    "level pool, 10^6 one-second inflow values, 3 outlets": level_pool,
}


def measure(name):
    call, output_bytes = CASES[name]()
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
    before = status_bytes("VmRSS")
    result = call()
    peak = status_bytes("VmHWM")
    return {"peak_extra": peak - before, "outputs": output_bytes(result)}


def run(name):
    """Measures one case in a child interpreter; returns its peak extra and output bytes."""
    environment = dict(os.environ, **MALLOC_ENVIRONMENT)
    child = subprocess.run([sys.executable, __file__, name], capture_output=True, text=True,
                           env=environment, check=True)
    return json.loads(child.stdout)


if __name__ == "__main__":
    print(json.dumps(measure(sys.argv[1])))
