"""Level pool routing throughput: one year of hourly inflow through a reservoir with three
outlets, against a pure-Python loop doing the same arithmetic on one week."""

import bisect
import math
import statistics
import time
from datetime import timedelta

import hydrokit

utils = hydrokit.reservoir.reservoir_utils
HOUR = 3600
RUNS = 5

# A valley reservoir: pool 1000 to 1100 ft, the surface growing from 450 to about 1500 acres.
ELEVATIONS = [1000.0 + 5.0 * k for k in range(21)]
STORAGES = [0.0]
for k in range(1, 21):
    area_ft2 = 2.0e7 + 2.2e6 * (k - 0.5)
    STORAGES.append(STORAGES[-1] + area_ft2 * 5.0)

GATE_ELEVATIONS = [1000.0, 1020.0, 1040.0, 1060.0, 1080.0, 1100.0]
GATE_DISCHARGES = [0.0, 900.0, 1500.0, 1950.0, 2300.0, 2600.0]
SPILLWAY_ELEVATIONS = [1085.0 + k for k in range(16)]
SPILLWAY_DISCHARGES = [3.1 * 400.0 * k**1.5 for k in range(16)]  # broad-crested weir, 400 ft


def hourly_inflow(hours):
    """Base flow with a seasonal swing and a storm hydrograph every three weeks."""
    flows = []
    for h in range(hours):
        seasonal = 250.0 + 150.0 * math.sin(2.0 * math.pi * h / 8760.0)
        since_storm = h % 504
        storm = 9000.0 * (since_storm / 18.0) * math.exp(1.0 - since_storm / 18.0)
        flows.append(seasonal + storm)
    return flows


def outlets():
    gate = utils.ControlledDischargeInfo(
        utils.ElevationDischarge(GATE_ELEVATIONS, GATE_DISCHARGES),
        minimum_elevation=1010.0,
        maximum_release=2400.0,
    )
    spillway = utils.UnControlledDischargeInfo(
        utils.ElevationDischarge(SPILLWAY_ELEVATIONS, SPILLWAY_DISCHARGES)
    )
    environmental = utils.ConstantDischargeInfo(40.0, minimum_elevation=1005.0)
    return {"gate": gate, "spillway": spillway, "environmental": environmental}


def sub_steps(values, dt):
    return (values - 1) * dt - dt + 1


def route_natively(flows):
    inflow = hydrokit.utils.ContinuousTimeSeries(flows, timedelta(seconds=HOUR), "discharge")
    curve = utils.ElevationStorage(ELEVATIONS, STORAGES)
    return hydrokit.reservoir.run_level_pool_routing(inflow, 1040.0, curve, outlets())


def interpolate(xs, ys, x, below):
    i = bisect.bisect_left(xs, x)
    if i < len(xs) and xs[i] == x:
        return ys[i]
    if i == 0:
        return below
    if i == len(xs):
        return None
    return ((x - xs[i - 1]) / (xs[i] - xs[i - 1])) * (ys[i] - ys[i - 1]) + ys[i - 1]


def route_in_python(flows):
    """The same loop in plain Python, with the three outlets written out."""
    dt = HOUR
    storage = interpolate(ELEVATIONS, STORAGES, 1040.0, None)
    elevation = 1040.0
    previous = flows[0]
    storages, elevations = [storage], [elevation]
    for t in range(dt, (len(flows) - 1) * dt + 1):
        gate = 0.0
        if elevation >= 1010.0:
            gate = min(interpolate(GATE_ELEVATIONS, GATE_DISCHARGES, elevation, 0.0), 2400.0)
        if elevation > SPILLWAY_ELEVATIONS[-1]:
            raise ValueError("spillway overtopped")
        spill = interpolate(SPILLWAY_ELEVATIONS, SPILLWAY_DISCHARGES, elevation, 0.0)
        total = 0.0 + gate + spill + (40.0 if elevation >= 1005.0 else 0.0)
        if t == dt:
            continue
        p = t / dt
        i = math.floor(p)
        current = flows[i] if i >= len(flows) - 1 else (flows[i + 1] - flows[i]) * (p - i) + flows[i]
        storage = storage + ((previous + current) * 0.5) * 1.0 - total * 1.0
        if storage < 0.0:
            storage = 0.0
        elevation = interpolate(STORAGES, ELEVATIONS, storage, None)
        if t % dt == 0:
            storages.append(storage)
            elevations.append(elevation)
        previous = current
    return storages, elevations


def median_seconds(call, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    year = hourly_inflow(8760)
    week = year[:168]

    native_steps = sub_steps(len(year), HOUR)
    native = median_seconds(lambda: route_natively(year), RUNS)
    native_rate = native_steps / native
    print(f"hydrokit: {native_steps:,} sub-steps in {native:.3f} s "
          f"(median of {RUNS}): {native_rate:,.0f} sub-steps/s")

    python_steps = sub_steps(len(week), HOUR)
    python = median_seconds(lambda: route_in_python(week), RUNS)
    python_rate = python_steps / python
    print(f"pure Python (one week): {python_steps:,} sub-steps in {python:.3f} s "
          f"(median of {RUNS}): {python_rate:,.0f} sub-steps/s")
    print(f"ratio: {native_rate / python_rate:,.0f}x")

    # Both loops do the same arithmetic, so on the same week they must agree.
    result = route_natively(week)
    storages, elevations = route_in_python(week)
    agree = result.reservoir_storage.data == storages and result.reservoir_elevation.data == elevations
    print(f"pure Python and hydrokit agree on the week: {agree}")
    peak = max(route_natively(year).reservoir_elevation.data)
    print(f"maximum pool over the year: {peak:.2f} ft")


if __name__ == "__main__":
    main()
