"""Continuous simulation of a real daily record, calibrated and validated split-sample.

The record is the one spotpy ships beside its HYMOD example (hymod_python/hymod_input.csv):
a 1.783 km² catchment, 2012-2016, daily rainfall and potential evapotranspiration (mm/day)
and discharge (l/s, NaN where the gauge has no value). It is read from the installed spotpy
package with importlib.resources; nothing of it is copied into this repository.

The event chain becomes a continuous model by letting potential evapotranspiration (PET)
dry the soil: the loss model runs one calendar month at a time, with
time_to_dry = max_deficit / (ET scale x that month's mean PET), so that a soil at capacity
gives up ET scale x PET a day, and each month starts from the deficit the month before left
(`initial_deficit`), which continues the soil exactly where one long call would. Of the
loss, only the constant loss (percolation) recharges groundwater; the deficit fill is soil
water that evaporates again. Excess runs off through a Clark unit hydrograph, percolation
through two linear reservoirs (a fast and a slow layer); the two hydrographs are put on one
clock (baseflow value k belongs at the end of day k), and the flow at the end of each day
is compared with the day's observed mean, as HYMOD's is. Days without an observation are left out of the scores.

Eight parameters are calibrated with scipy's differential evolution (fixed seed) for the
Kling-Gupta efficiency: days before the calibration period are warm-up, the validation
period is scored with the calibrated set. `--peer hymod` calibrates spotpy's HYMOD with its
SCE-UA on the same split and objective, for comparison.

Other records: `--csv PATH --area-km2 A --calibration START END --validation START END`
reads a daily record with columns date (YYYY-MM-DD), rain_mm, pet_mm and discharge_m3s
(empty or NaN where missing).

Run it with `make demo`; it writes continuous.png next to itself (or into `--out DIR`).
"""

import contextlib
import csv
import datetime
import importlib.resources
import io
import math
import sys
import time
from datetime import timedelta

import numpy as np

import plotting
from hydrokit import baseflow, metrics, rainfall_loss, rainfall_transform, utils
from plotting import positive_int

DAY = timedelta(days=1)
MM_PER_INCH = 25.4
ACRES_PER_KM2 = 247.105381
CFS_PER_M3S = 35.3146667
SEED = 1
SHIPPED = {"area_km2": 1.783, "calibration": ("2013-01-01", "2014-12-31"),
           "validation": ("2015-01-01", "2016-12-31")}

# name, unit, lower, upper. Every set in these bounds runs: the groundwater share is a
# total and a split of it, never two fractions that could add up above 1, and the
# reservoirs' time constants stay at half a day or more, the stability limit on daily steps.
PARAMETERS = (
    ("max_deficit", "mm", 5.0, 400.0),
    ("percolation", "mm/day", 0.05, 20.0),
    ("et_scale", "", 0.1, 2.0),
    ("storage_r", "days", 0.05, 10.0),
    ("recharge", "", 0.0, 1.0),
    ("fast_share", "", 0.0, 1.0),
    ("fast_k", "days", 0.5, 40.0),
    ("slow_k", "days", 40.0, 1000.0),
)


class Record:
    """A daily record: dates, rain and PET (mm/day), observed discharge (m³/s, NaN if none)."""

    def __init__(self, name, area_km2, dates, rain, pet, observed):
        self.name, self.area_km2, self.dates = name, area_km2, dates
        self.rain, self.pet, self.observed = (np.asarray(values, dtype=float)
                                              for values in (rain, pet, observed))

    def period(self, start, end):
        """Boolean mask of the days from `start` to `end` (ISO dates), both included."""
        first, last = (datetime.date.fromisoformat(day) for day in (start, end))
        return np.array([first <= day <= last for day in self.dates])


def shipped_record():
    import spotpy

    source = importlib.resources.files("spotpy") / "examples/hymod_python/hymod_input.csv"
    rows = list(csv.reader(io.StringIO(source.read_text()), delimiter=";"))[1:]
    dates = [datetime.datetime.strptime(row[0], "%d.%m.%Y").date() for row in rows]
    litres_per_second = [float(row[3]) for row in rows]
    return Record(f"hymod_input.csv (spotpy {spotpy.__version__})", SHIPPED["area_km2"],
                  dates, [float(row[1]) for row in rows], [float(row[2]) for row in rows],
                  [q / 1000.0 for q in litres_per_second])


def csv_record(path, area_km2):
    with open(path, newline="", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    observed = [float(row["discharge_m3s"]) if row["discharge_m3s"].strip() else math.nan
                for row in rows]
    return Record(path, area_km2, [datetime.date.fromisoformat(row["date"]) for row in rows],
                  [float(row["rain_mm"]) for row in rows],
                  [float(row["pet_mm"]) for row in rows], observed)


class ContinuousModel:
    """The PET-driven chain on one record, set up once for many parameter sets."""

    def __init__(self, record):
        self.days = len(record.rain)
        self.area_acres = record.area_km2 * ACRES_PER_KM2
        self.rain_in = record.rain / MM_PER_INCH
        # The record month by month: its rain as a series and its mean PET (mm/day).
        self.months = []
        start = 0
        for day in range(1, self.days + 1):
            if day == self.days or record.dates[day].month != record.dates[start].month:
                rain = utils.IncrementalTimeSeries(self.rain_in[start:day], DAY, "rainfall")
                self.months.append((rain, float(record.pet[start:day].mean())))
                start = day
        self.evaluations = 0

    def soil(self, max_deficit_in, percolation_in_per_hr, et_scale):
        """Excess rain (in/day) of the whole record, the loss model run month by month."""
        excess, deficit = [], max_deficit_in / 2.0
        for rain, mean_pet in self.months:
            # At capacity the soil loses et_scale x PET a day; a month without PET does not
            # dry it (a time_to_dry of zero means no recovery).
            days_to_dry = max_deficit_in * MM_PER_INCH / (et_scale * mean_pet) if (
                mean_pet > 0) else 0.0
            split = rainfall_loss.run_deficit_and_constant(
                rain, deficit, max_deficit_in, percolation_in_per_hr,
                timedelta(days=days_to_dry))
            excess.append(np.asarray(split.excess))
            # The month's last deficit, read from a view rather than a list of all of them.
            deficit = float(np.asarray(split.deficit)[-1])
        return np.concatenate(excess)

    def flow_at_midnights(self, parameters):
        """Discharge (cfs) at the start of every day and at the end of the last one."""
        (max_deficit, percolation, et_scale, storage_r, recharge, fast_share, fast_k,
         slow_k) = parameters
        max_deficit_in = max_deficit / MM_PER_INCH
        percolation_in_per_hr = percolation / MM_PER_INCH / 24.0
        excess = self.soil(max_deficit_in, percolation_in_per_hr, et_scale)
        # Any tc up to one day gives the same daily hydrograph; storage_r shapes it.
        runoff = rainfall_transform.run_clark_uh(
            utils.IncrementalTimeSeries(excess, DAY, "rainfall"), self.area_acres, DAY,
            timedelta(days=storage_r))
        # The constant loss of each wet day is the percolation; what fills the deficit
        # stays in the soil and evaporates.
        wet = self.rain_in > 0
        percolated = np.where(wet, np.minimum(self.rain_in, percolation_in_per_hr * 24.0), 0.0)
        fractions = {"fast": recharge * fast_share, "slow": recharge * (1.0 - fast_share)}
        # Each layer starts at the flow its mean recharge over the record would sustain.
        mean_recharge_cfs = percolated.mean() / 24.0 * self.area_acres * 1.00833
        layers = {
            name: baseflow.LinearReservoir(timedelta(days=k), fraction,
                                           fraction * mean_recharge_cfs)
            for (name, fraction), k in zip(fractions.items(), (fast_k, slow_k))
        }
        total_baseflow, _ = baseflow.run_linear_reservoir(
            self.area_acres, utils.IncrementalTimeSeries(percolated, DAY, "rainfall"), layers)
        # Clark value k is the flow at midnight before day k, baseflow value k the flow at
        # the midnight after it: on one clock the baseflow starts from its initial flow.
        at_start = sum(layer.initial_q for layer in layers.values())
        on_clock = np.concatenate(([at_start], np.asarray(total_baseflow)))
        return np.asarray(runoff)[:self.days + 1] + on_clock

    def daily_flows(self, parameters):
        """The discharge (m³/s) each day ends with, scored against the day's observed mean.

        HYMOD's daily value is likewise what its reservoirs release at the end of the day.
        (The day's mean by the trapezoid between its two midnights scores lower here:
        calibration KGE 0.785 and validation 0.52-0.53.)
        """
        self.evaluations += 1
        return self.flow_at_midnights(parameters)[1:] / CFS_PER_M3S


def scores(simulated, observed, days):
    """KGE and NSE over `days`, leaving out the days without an observation."""
    scored = days & np.isfinite(observed)
    sim, obs = simulated[scored], observed[scored]
    nse = 1.0 - np.sum((sim - obs) ** 2) / np.sum((obs - obs.mean()) ** 2)
    return metrics.calculate_kge(sim, obs), float(nse)


def calibrate_hydrokit(model, observed, calibration, generations):
    from scipy import optimize

    def objective(parameters):
        return -scores(model.daily_flows(parameters), observed, calibration)[0]

    start = time.perf_counter()
    best = optimize.differential_evolution(
        objective, [(low, high) for _, _, low, high in PARAMETERS], seed=SEED,
        maxiter=generations, tol=1e-6, polish=False)
    return tuple(best.x), time.perf_counter() - start, model.evaluations


def calibrate_hymod(record, calibration, repetitions):
    """spotpy's HYMOD and its SCE-UA, on the same days and objective as hydrokit."""
    import spotpy
    from spotpy.examples.hymod_python.hymod import hymod
    from spotpy.parameter import Uniform

    m3s_per_mm_day = record.area_km2 * 1e3 / 86400.0
    rain, pet = list(record.rain), list(record.pet)

    class Setup:
        # The parameters and bounds of spotpy's own HYMOD example.
        cmax = Uniform(low=1.0, high=500)
        bexp = Uniform(low=0.1, high=2.0)
        alpha = Uniform(low=0.1, high=0.99)
        Ks = Uniform(low=0.001, high=0.10)
        Kq = Uniform(low=0.1, high=0.99)

        def simulation(self, x):
            return np.array(hymod(rain, pet, *x)) * m3s_per_mm_day

        def evaluation(self):
            return record.observed

        def objectivefunction(self, simulation, evaluation, params=None):
            return -scores(simulation, evaluation, calibration)[0]

    sampler = spotpy.algorithms.sceua(Setup(), dbformat="ram", random_state=SEED)
    start = time.perf_counter()
    with contextlib.redirect_stdout(io.StringIO()):
        sampler.sample(repetitions)
    seconds = time.perf_counter() - start
    results = sampler.getdata()
    best = results[np.argmin(results["like1"])]
    parameters = [best[f"par{name}"] for name in ("cmax", "bexp", "alpha", "Ks", "Kq")]
    return (Setup().simulation(parameters), dict(zip(("cmax", "bexp", "alpha", "Ks", "Kq"),
                                                      parameters)),
            seconds, len(results))


def options(parser):
    parser.add_argument("--csv", metavar="PATH",
                        help="a daily record with columns date, rain_mm, pet_mm, "
                             "discharge_m3s (default: spotpy's HYMOD record)")
    parser.add_argument("--area-km2", type=float, metavar="A", help="the catchment's area")
    parser.add_argument("--calibration", nargs=2, metavar=("START", "END"),
                        help="first and last day of calibration (YYYY-MM-DD); earlier days "
                             "are warm-up")
    parser.add_argument("--validation", nargs=2, metavar=("START", "END"),
                        help="first and last day of validation (YYYY-MM-DD)")
    parser.add_argument("--peer", choices=["hymod"], help="also calibrate spotpy's HYMOD")
    parser.add_argument("--generations", type=positive_int, default=300,
                        help="differential evolution's generations at most (default 300)")
    parser.add_argument("--repetitions", type=positive_int, default=5000,
                        help="HYMOD's SCE-UA model runs at most (default 5000)")


def load(arguments):
    if arguments.csv is None:
        try:
            record = shipped_record()
        except ImportError:
            sys.exit("continuous.py reads spotpy's record: install spotpy (`make demo` does)")
        settings = dict(SHIPPED)
    else:
        if arguments.area_km2 is None or not (arguments.calibration and arguments.validation):
            sys.exit("--csv needs --area-km2, --calibration START END and "
                     "--validation START END")
        record = csv_record(arguments.csv, arguments.area_km2)
        settings = {}
    for key in ("calibration", "validation"):
        if getattr(arguments, key):
            settings[key] = tuple(getattr(arguments, key))
    return record, settings


def main():
    arguments = plotting.parse_arguments(__doc__.splitlines()[0], options)
    try:
        import scipy  # noqa: F401
    except ImportError:
        sys.exit("continuous.py needs scipy (`make demo` installs it)")
    record, settings = load(arguments)
    calibration = record.period(*settings["calibration"])
    validation = record.period(*settings["validation"])
    print(f"record {record.name}: {record.area_km2:g} km², {len(record.dates)} days from "
          f"{record.dates[0]} to {record.dates[-1]}, "
          f"{int(np.isfinite(record.observed).sum())} observed")
    print(f"warm-up until {settings['calibration'][0]}, calibration "
          f"{' to '.join(settings['calibration'])}, validation "
          f"{' to '.join(settings['validation'])}")

    model = ContinuousModel(record)
    best, seconds, evaluations = calibrate_hydrokit(model, record.observed, calibration,
                                                    arguments.generations)
    runs = {"hydrokit": (model.daily_flows(best), seconds, evaluations)}
    print("hydrokit parameters: " + ", ".join(
        f"{name} {value:.4g}{' ' + unit if unit else ''}"
        for (name, unit, _, _), value in zip(PARAMETERS, best)))
    if arguments.peer == "hymod":
        simulated, parameters, seconds, evaluations = calibrate_hymod(
            record, calibration, arguments.repetitions)
        runs["HYMOD"] = (simulated, seconds, evaluations)
        print("HYMOD parameters: " + ", ".join(f"{name} {value:.4g}"
                                              for name, value in parameters.items()))

    print(f"{'model':<10} {'period':<12} {'KGE':>7} {'NSE':>7}")
    kge = {}
    for label, (simulated, _, _) in runs.items():
        for period, days in (("calibration", calibration), ("validation", validation)):
            kge[label, period], nse = scores(simulated, record.observed, days)
            print(f"{label:<10} {period:<12} {kge[label, period]:7.3f} {nse:7.3f}")
    plot(record, runs, validation, kge, arguments.out)
    for label in runs:
        print(f"{label} KGE calibration {kge[label, 'calibration']:.3f} "
              f"validation {kge[label, 'validation']:.3f}")
    for label, (_, seconds, evaluations) in runs.items():
        print(f"{label} calibration {seconds:.1f} s, {evaluations} evaluations, "
              f"{evaluations / seconds:,.0f} evaluations/s")


def plot(record, runs, days, kge, out_dir):
    plt = plotting.pyplot()
    if plt is None:
        return
    dates = [day for day, keep in zip(record.dates, days) if keep]
    figure, (rain_axis, flow_axis) = plt.subplots(
        2, 1, sharex=True, figsize=(10, 6), height_ratios=[1, 3], layout="constrained")
    rain_axis.bar(dates, record.rain[days], width=1.0, color="tab:blue")
    rain_axis.invert_yaxis()
    rain_axis.set_ylabel("rainfall\n(mm/day)")
    rain_axis.set_title(f"Validation period, {dates[0]} to {dates[-1]}: observed daily means "
                        "and simulated end-of-day discharge")
    flow_axis.plot(dates, record.observed[days], color="black", linewidth=1.2,
                   label="observed")
    styles = {"hydrokit": ("tab:red", 1.3), "HYMOD": ("tab:green", 1.0)}
    for label, (simulated, _, _) in runs.items():
        color, width = styles[label]
        flow_axis.plot(dates, simulated[days], color=color, linewidth=width,
                       label=f"{label} (KGE {kge[label, 'validation']:.3f})")
    flow_axis.set_ylabel("discharge (m³/s)")
    flow_axis.set_ylim(bottom=0)
    flow_axis.legend(loc="upper right")
    plotting.save(figure, "continuous.png", out_dir)


if __name__ == "__main__":
    main()
