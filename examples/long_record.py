"""A long record on many basins: 30 years of hourly rainfall through every sub-basin of a river.

Each sub-basin's rainfall (262,800 hourly values) goes through deficit-and-constant loss, a
Clark unit hydrograph and two baseflow layers, and its runoff is routed down its own reach to
the river's outlet with Muskingum; the outlet's record is the sum of the routed flows. The
script prints the outlet's flow statistics and annual peaks, and draws them.

Every sub-basin is one task of a few long calls, and long calls let go of the interpreter
lock while they compute, so threads of one process share the cores. The same task function
runs in three ways:
- serial: one core, the baseline;
- threads: concurrent.futures.ThreadPoolExecutor with one thread per core (or `--workers N`);
- dask: Dask's threaded scheduler, `dask.compute(..., scheduler="threads")` over
  `dask.delayed` tasks.
Nothing is pickled or copied between workers: the threads read the same rainfall arrays.

Run it with `make demo`; it writes long_record.png next to itself (or into `--out DIR`).
`--basins N --years Y` set the size, `--workers` the threads, `--modes` picks modes.
"""

import math
import os
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from datetime import timedelta

import numpy as np

import hydrokit
import plotting
from plotting import positive_int

HOUR = timedelta(hours=1)
HOURS_PER_YEAR = 8760
ACRES_PER_SQUARE_MILE = 640.0
CUBIC_FEET_PER_ACRE_INCH = 43560.0 / 12.0
MODES = ("serial", "threads", "dask")


def regional_rainfall(years, rng):
    """Hourly depths (in) over the region: about 60 storms a year arriving at random, wetter in
    winter, each lasting 2 to 48 hours with a bell-shaped hyetograph."""
    hours = years * HOURS_PER_YEAR
    rain = np.zeros(hours)
    for start in rng.integers(0, hours, rng.poisson(60 * years)):
        duration = int(rng.integers(2, 49))
        season = 1.0 + 0.5 * math.cos(2.0 * math.pi * start / HOURS_PER_YEAR)
        shape = np.sin(np.pi * (np.arange(duration) + 0.5) / duration)
        depth = rng.gamma(1.2, 0.6) * season
        end = min(start + duration, hours)
        rain[start:end] += (depth * shape / shape.sum())[:end - start]
    return rain


def make_basins(count, years, seed=1987):
    """Sub-basins with their parameters and rainfall: the regional storms, arriving up to half
    a day later and 30 % heavier or lighter from one sub-basin to the next."""
    rng = np.random.default_rng(seed)
    regional = regional_rainfall(years, rng)
    basins = []
    for _ in range(count):
        reach_k_hours = rng.uniform(2.0, 30.0)
        basins.append({
            "area_acres": rng.uniform(5.0, 60.0) * ACRES_PER_SQUARE_MILE,
            "rain": np.roll(regional, rng.integers(0, 13)) * rng.uniform(0.7, 1.3),
            "loss": (rng.uniform(0.2, 1.0), rng.uniform(1.5, 3.0), rng.uniform(0.05, 0.15),
                     timedelta(days=rng.uniform(3.0, 10.0))),
            "tc": timedelta(hours=rng.uniform(2.0, 12.0)),
            "storage": timedelta(hours=rng.uniform(3.0, 20.0)),
            "layers": {
                "interflow": hydrokit.baseflow.LinearReservoir(
                    timedelta(days=rng.uniform(1.0, 3.0)), 0.3, 5.0, 2),
                "groundwater": hydrokit.baseflow.LinearReservoir(
                    timedelta(days=rng.uniform(20.0, 60.0)), 0.4, 20.0, 1),
            },
            # Sub-reaches of about two hours' travel each.
            "reach": (timedelta(hours=reach_k_hours), rng.uniform(0.1, 0.3),
                      math.ceil(reach_k_hours / 2.0)),
        })
    return basins


def simulate_basin(basin):
    """The basin's runoff at the river's outlet (cfs, one value per hour of rainfall)."""
    area = basin["area_acres"]
    rain = hydrokit.utils.IncrementalTimeSeries(basin["rain"], HOUR, "rainfall")
    losses = hydrokit.rainfall_loss.run_deficit_and_constant(rain, *basin["loss"])
    surface = hydrokit.rainfall_transform.run_clark_uh(losses.excess, area, basin["tc"],
                                                       basin["storage"])
    baseflow, _ = hydrokit.baseflow.run_linear_reservoir(area, losses.loss, basin["layers"])
    # numpy views the series without copying them; the Clark hydrograph runs on past the
    # record, the slice keeps the record's hours. Surface value k is the flow at k hours,
    # baseflow value k at k + 1 hours: the baseflow goes one place later, behind its start.
    at_start = sum(layer.initial_q for layer in basin["layers"].values())
    on_clock = np.concatenate(([at_start], np.asarray(baseflow)[:-1]))
    flow = np.asarray(surface)[:len(basin["rain"])] + on_clock
    k, x, sub_reaches = basin["reach"]
    routed = hydrokit.reach.run_muskingum_routing(
        hydrokit.utils.ContinuousTimeSeries(flow, HOUR, "discharge"), k, x, sub_reaches, flow[0])
    return np.asarray(routed)


def run_serial(basins, _workers):
    """(start-up seconds, run seconds, routed flows); so for every mode."""
    start = time.perf_counter()
    routed = [simulate_basin(basin) for basin in basins]
    return 0.0, time.perf_counter() - start, routed


def run_threads(basins, workers):
    start = time.perf_counter()
    with ThreadPoolExecutor(max_workers=workers) as pool:
        list(pool.map(len, [[]] * workers))
        ready = time.perf_counter()
        routed = list(pool.map(simulate_basin, basins))
        done = time.perf_counter()
    return ready - start, done - ready, routed


def run_dask(basins, workers):
    import dask

    start = time.perf_counter()
    # Dask sets up its scheduler on the first compute.
    dask.compute(dask.delayed(len)([]), scheduler="threads", num_workers=workers)
    ready = time.perf_counter()
    tasks = [dask.delayed(simulate_basin)(basin) for basin in basins]
    routed = list(dask.compute(*tasks, scheduler="threads", num_workers=workers))
    return ready - start, time.perf_counter() - ready, routed


RUNNERS = {"serial": run_serial, "threads": run_threads, "dask": run_dask}


def dask_missing():
    try:
        import dask  # noqa: F401
    except ImportError as error:
        return f"dask is not installed ({error}); `make demo` installs it"
    return None


def parse_options(parser):
    parser.add_argument("--basins", type=positive_int, default=96, help="sub-basins")
    parser.add_argument("--years", type=positive_int, default=30, help="years of hourly record")
    parser.add_argument("--workers", type=positive_int, default=os.process_cpu_count() or 1,
                        help="threads of the thread pool and of Dask (default: one per core)")
    parser.add_argument("--modes", default=",".join(MODES),
                        help="comma-separated, from: " + ", ".join(MODES))


def run_modes(modes, basins, workers):
    """Runs every mode, printing a row each; returns the outlet's record of each mode."""
    print(f"{'mode':<8} {'workers':>7} {'start-up s':>10} {'run s':>7} {'basins/s':>9} "
          f"{'speed-up':>8}")
    outlets, serial_seconds = {}, None
    for mode in modes:
        if mode == "dask" and (reason := dask_missing()):
            print(f"{'dask':<8} skipped: {reason}")
            continue
        startup, seconds, routed = RUNNERS[mode](basins, workers)
        # Summed in the basins' order, so that every mode adds the same numbers alike.
        outlets[mode] = np.sum(routed, axis=0)
        used = 1 if mode == "serial" else workers
        if mode == "serial":
            serial_seconds = seconds
        speed_up = f"{serial_seconds / seconds:8.2f}" if serial_seconds else f"{'-':>8}"
        print(f"{mode:<8} {used:>7} {startup:10.2f} {seconds:7.2f} {len(basins) / seconds:9.1f} "
              f"{speed_up}")
    return outlets


def main():
    arguments = plotting.parse_arguments(__doc__.splitlines()[0], parse_options)
    modes = plotting.chosen_modes(arguments.modes, MODES)

    basins = make_basins(arguments.basins, arguments.years)
    hours = arguments.years * HOURS_PER_YEAR
    print(f"long record: {len(basins)} sub-basins x {arguments.years} years hourly "
          f"({hours:,} steps each): loss -> Clark -> baseflow -> Muskingum to the outlet, "
          f"{os.process_cpu_count()} cores")
    outlets = run_modes(modes, basins, arguments.workers)
    if not outlets:
        sys.exit("no mode ran")
    if len({outlet.tobytes() for outlet in outlets.values()}) > 1:
        sys.exit("the modes disagree: the outlet records differ between " + ", ".join(outlets))
    print(f"outlet record identical in {len(outlets)} modes: {', '.join(outlets)}")

    outlet = next(iter(outlets.values()))
    area_acres = sum(basin["area_acres"] for basin in basins)
    rain_feet3 = sum(basin["rain"].sum() * basin["area_acres"] for basin in basins) \
        * CUBIC_FEET_PER_ACRE_INCH
    peaks = outlet.reshape(arguments.years, HOURS_PER_YEAR).max(axis=1)
    print(f"outlet: {area_acres / ACRES_PER_SQUARE_MILE:,.0f} mi², mean flow "
          f"{outlet.mean():,.0f} cfs, exceeded 1 % of the time "
          f"{np.quantile(outlet, 0.99):,.0f} cfs")
    print(f"runoff ratio {outlet.sum() * 3600.0 / rain_feet3:.2f} (outlet volume / rainfall "
          f"volume)")
    print(f"annual peaks at the outlet: median {np.median(peaks):,.0f} cfs, largest "
          f"{peaks.max():,.0f} cfs in year {peaks.argmax() + 1}")
    plot(outlet, peaks, arguments.out)


def plot(outlet, peaks, out_dir):
    plt = plotting.pyplot()
    if plt is None:
        return
    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 4), layout="constrained")
    years = np.arange(1, peaks.size + 1)
    left.bar(years, peaks, color="tab:blue")
    left.set_xlabel("year of record")
    left.set_ylabel("annual peak flow at the outlet (cfs)")
    left.yaxis.set_major_formatter("{x:,.0f}")
    exceedance = 100.0 * np.arange(1, outlet.size + 1) / (outlet.size + 1)
    right.semilogy(exceedance, np.sort(outlet)[::-1], color="tab:blue")
    right.set_xlabel("share of hours the flow is exceeded (%)")
    right.set_ylabel("flow at the outlet (cfs)")
    right.yaxis.set_major_formatter("{x:,.0f}")
    figure.suptitle(f"{peaks.size} years of hourly flow at the outlet: annual peaks and "
                    f"flow-duration curve")
    plotting.save(figure, "long_record.png", out_dir)


if __name__ == "__main__":
    main()
