"""Times the series computations against plain-Python and numpy/scipy equivalents.

Prints the median of five runs of each; nothing is asserted.
"""

import math
import random
from datetime import timedelta

import hydrokit
import numpy as np
from timing import median_seconds

try:
    from scipy.signal import lfilter
except ImportError:
    lfilter = None

HOUR = timedelta(hours=1)


def report(title, rows):
    print(title)
    fastest = min(seconds for _, seconds in rows)
    for label, seconds in rows:
        print(f"  {label:<34} {seconds * 1e3:10.2f} ms  {seconds / fastest:7.1f}x")


def muskingum_coefficients(k, x, dt):
    a = (1 - x) * (k + k)
    b = (k + k) * x
    d = dt + a
    return (dt - b) / d, (b + dt) / d, (a - dt) / d


def muskingum_python(inflow, k, x, dt, start):
    c0, c1, c2 = muskingum_coefficients(k, x, dt)
    out = [start]
    previous_out, previous_in = start, inflow[0]
    for current in inflow[1:]:
        previous_out = c2 * previous_out + (c0 * current + c1 * previous_in)
        out.append(previous_out)
        previous_in = current
    return out


def muskingum_lfilter(inflow, k, x, dt, start):
    # O[t] - C2 O[t-1] = C0 I[t] + C1 I[t-1], with the state carrying O[0] and I[0].
    c0, c1, c2 = muskingum_coefficients(k, x, dt)
    state = [c1 * inflow[0] + c2 * start]
    routed, _ = lfilter([c0, c1], [1.0, -c2], inflow[1:], zi=state)
    return np.concatenate(([start], routed))


def bench_muskingum(rng):
    n = 1_000_000
    values = [100.0 + 50.0 * math.sin(t / 240.0) + rng.random() for t in range(n)]
    inflow = hydrokit.utils.ContinuousTimeSeries(values, HOUR, "discharge")
    k, x = 2 * 3600.0, 0.2
    route = hydrokit.reach.run_muskingum_routing
    rows = [
        ("hydrokit", median_seconds(lambda: route(inflow, 2 * HOUR, x, 1, values[0]))),
        ("hydrokit, 4 sub-reaches", median_seconds(lambda: route(inflow, 2 * HOUR, x, 4, 100.0))),
        ("pure Python loop", median_seconds(lambda: muskingum_python(values, k, x, 3600.0, 100.0))),
    ]
    routed = route(inflow, 2 * HOUR, x, 1, 100.0).data
    check = f"pure Python identical: {routed == muskingum_python(values, k, x, 3600.0, 100.0)}"
    if lfilter is not None:
        array = np.array(values)
        filtered = muskingum_lfilter(array, k, x, 3600.0, 100.0)
        seconds = median_seconds(lambda: muskingum_lfilter(array, k, x, 3600.0, 100.0))
        rows.append(("scipy lfilter (ndarray in/out)", seconds))
        difference = np.max(np.abs(np.array(routed) - filtered))
        check += f"; lfilter max |difference| {difference:.3g}"
    report(f"Muskingum routing, {n:,} hourly values ({check})", rows)


def bench_clark(rng):
    n = 100_000
    storm = [rng.random() * 0.5 if rng.random() < 0.3 else 0.0 for _ in range(n)]
    rainfall = hydrokit.utils.IncrementalTimeSeries(storm, HOUR, "rainfall")
    tc, storage = 6 * HOUR, 3 * HOUR
    clark = hydrokit.rainfall_transform.run_clark_uh
    one_inch = hydrokit.utils.IncrementalTimeSeries([1.0], HOUR, "rainfall")
    unit = np.array(clark(one_inch, 640.0, tc, storage).data)
    array = np.array(storm)
    runoff = np.array(clark(rainfall, 640.0, tc, storage).data)
    difference = np.max(np.abs(runoff - np.convolve(array, unit)))
    rows = [
        (
            "hydrokit (unit hydrograph included)",
            median_seconds(lambda: clark(rainfall, 640.0, tc, storage)),
        ),
        ("numpy.convolve (given the UH)", median_seconds(lambda: np.convolve(array, unit))),
    ]
    report(
        f"Clark unit hydrograph, {n:,}-step storm, {len(unit)}-ordinate UH "
        f"(max |difference| {difference:.3g})",
        rows,
    )


def deficit_constant_python(values, d0, dmax, rate, dry_seconds, step_seconds):
    dt_h = step_seconds / 3600.0
    capacity = rate * dt_h
    r = 1.0 - math.exp(dt_h / (dry_seconds / -3600.0)) if dry_seconds > 0 else 0.0
    excess, loss, deficit, d = [], [], [], d0
    for p in values:
        recovered = min(d + max(dmax - d, 0.0) * r, dmax)  # NaN-free inputs here
        if p > 0:
            lc = min(p, capacity)
            remaining = p - lc
            filled = min(remaining, recovered)
            d = recovered - filled
            loss.append(filled + lc)
            excess.append(remaining - filled)
        else:
            d = recovered
            loss.append(0.0)
            excess.append(0.0)
        deficit.append(d)
    return excess, loss, deficit


def bench_deficit_constant(rng):
    n = 1_000_000
    values = [rng.random() * 0.4 if rng.random() < 0.2 else 0.0 for _ in range(n)]
    rainfall = hydrokit.utils.IncrementalTimeSeries(values, HOUR, "rainfall")
    split = hydrokit.rainfall_loss.run_deficit_and_constant
    dry = timedelta(days=2)
    result = split(rainfall, 0.5, 2.0, 0.05, dry)
    same = (result.excess.data, result.loss.data, result.deficit.data) == deficit_constant_python(
        values, 0.5, 2.0, 0.05, dry.total_seconds(), 3600.0
    )
    rows = [
        ("hydrokit", median_seconds(lambda: split(rainfall, 0.5, 2.0, 0.05, dry))),
        (
            "pure Python loop",
            median_seconds(
                lambda: deficit_constant_python(values, 0.5, 2.0, 0.05, 172800.0, 3600.0)
            ),
        ),
    ]
    report(f"Deficit-and-constant loss, {n:,} hourly values (pure Python identical: {same})", rows)


def main():
    rng = random.Random(20240601)
    bench_muskingum(rng)
    bench_clark(rng)
    bench_deficit_constant(rng)


if __name__ == "__main__":
    main()
