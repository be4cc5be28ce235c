import contextlib
import importlib.util
import io
import math
import pathlib
import re
import subprocess
import sys
from datetime import timedelta

import pandas
import pytest

from hydrokit import baseflow, metrics, rainfall_loss, rainfall_transform, reach, reservoir, utils

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def missing(module):
    """The reason to skip a test that needs `module`, or None when it is importable."""
    try:
        found = importlib.util.find_spec(module) is not None
    except ModuleNotFoundError:  # the parent package of a dotted name is missing
        found = False
    return None if found else f"{module} is not installed (make demo installs it)"


def run_example(name, out_dir, *arguments):
    result = subprocess.run([sys.executable, str(EXAMPLES / name), "--out", str(out_dir),
                             *arguments], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    picture = out_dir / name.replace(".py", ".png")
    if missing("matplotlib"):
        assert "no picture: matplotlib is not installed" in result.stdout
        assert not picture.exists()
    else:
        assert f"plot written to {picture}" in result.stdout
        assert picture.read_bytes().startswith(b"\x89PNG")
    return result.stdout


def number_after(label, text):
    match = re.search(re.escape(label) + r"\s+(-?[\d.]+)", text)
    assert match, f"{label!r} missing from:\n{text}"
    return float(match.group(1))


def row(label, text):
    """The numbers of the table row that starts with `label`."""
    match = re.search(rf"^{re.escape(label)}\s+(.*)$", text, re.M)
    assert match, f"row {label!r} missing from:\n{text}"
    return [float(field) for field in match.group(1).split()]


def test_first_study_is_the_careful_hand_written_one(tmp_path, monkeypatch):
    # The same study through the core, every unit factor and clock offset written out.
    monkeypatch.syspath_prepend(str(EXAMPLES))
    study = pytest.importorskip("first_study")
    mm, acres, cfs, hour = 25.4, 247.105381, 35.3146667, timedelta(hours=1)
    split = rainfall_loss.run_deficit_and_constant(
        utils.IncrementalTimeSeries([r / mm for r in study.RAIN_MM], hour, "rainfall"),
        15.0 / mm, 60.0 / mm, 2.0 / mm, timedelta(days=3))
    runoff = rainfall_transform.run_clark_uh(split.excess, 45.0 * acres, 5 * hour, 6 * hour)
    dry = [0.0] * (len(runoff.data) - len(study.RAIN_MM))
    base, _ = baseflow.run_linear_reservoir(
        45.0 * acres, utils.IncrementalTimeSeries(split.loss.data + dry, hour, "rainfall"),
        {"groundwater": baseflow.LinearReservoir(timedelta(days=20), 0.4, 0.6 * cfs)})
    # Runoff value k is at k hours, baseflow value k at k + 1, after its initial flow.
    total = [q / cfs + b for q, b in zip(runoff.data, [0.6] + [b / cfs for b in base.data])]
    river = reach.run_muskingum_routing(utils.ContinuousTimeSeries(total, hour, "discharge"),
                                        3 * hour, 0.2, 3, 0.6)
    curves = reservoir.reservoir_utils
    pond = curves.ElevationStorage([100.0, 102.0, 104.0, 106.0], [0.0, 1.5e5, 4.5e5, 9e5])
    pool = reservoir.run_level_pool_routing(
        river, 100.2, pond,
        {"spillway": curves.UnControlledDischargeInfo(curves.ElevationDischarge(
            [100.0, 101.0, 103.0, 106.0], [0.0, 3.0, 20.0, 70.0]))})
    # Level pool value k is at k + 1 hours, where the gauge record starts.
    outflow = pool.reservoir_total_outflow.data
    pairs = [(q, g) for q, g in zip(outflow, study.GAUGE) if g is not None]
    run = study.simulate()
    assert run["pool"]["outflow"].tolist() == outflow
    assert run["kge"] == metrics.calculate_kge(*zip(*pairs))
    assert f"KGE against the gauge {run['kge']:.3f}" in run_example("first_study.py", tmp_path)


def test_basin_study_keeps_the_storm_volume(tmp_path):
    output = run_example("basin.py", tmp_path)
    gross = number_after("gross rainfall", output)
    excess = number_after("excess rainfall", output)
    loss = number_after("loss", output)
    # Every inch of rain is either excess or loss, and the Clark hydrograph carries all the
    # excess to the outlet.
    assert gross == pytest.approx(excess + loss, abs=0.011)
    runoff_inches = float(re.search(r"\(([\d.]+) in over the basin\)", output).group(1))
    assert runoff_inches == pytest.approx(excess, abs=0.011)
    assert 0.9 < number_after("KGE vs gauge", output) <= 1.0


def test_reservoir_study_attenuates_the_flood(tmp_path):
    output = run_example("reservoir.py", tmp_path).replace(",", "")
    peak_in = number_after("peak inflow", output)
    peak_out = number_after("peak outflow", output)
    assert number_after("attenuation", output) == pytest.approx(
        100 * (1 - peak_out / peak_in), abs=0.06)
    # The gate never passes more than the safe channel capacity it is capped at.
    assert number_after("peak outlet works", output) <= 2500
    assert 905 < number_after("maximum pool elevation", output) < 950


@pytest.mark.skipif(bool(missing("scipy")), reason=str(missing("scipy")))
def test_calibration_fits_the_wilson_flood(tmp_path):
    output = run_example("calibration.py", tmp_path)
    _, _, guess_sse, guess_kge = row("first guess", output)
    sse_k, sse_x, sse_sse, sse_kge, sse_calls, sse_micros, sse_ms = row("min SSE", output)
    kge_k, kge_x, kge_sse, kge_kge, kge_calls, kge_micros, kge_ms = row("max KGE", output)
    # The optima, found independently by a grid search over K and x: SSE 605.64 at
    # K = 29.15 h, x = 0.221, and KGE 0.97126 at K = 28.82 h, x = 0.265.
    assert 29.0 < sse_k < 29.4 and 0.215 < sse_x < 0.228
    assert 28.6 < kge_k < 29.0 and 0.26 < kge_x < 0.27
    assert sse_sse <= 605.64 and kge_kge >= 0.9712
    # Each fit wins on its own objective, and both improve on the first guess on both.
    assert sse_sse < kge_sse < guess_sse
    assert kge_kge > sse_kge > guess_kge
    assert sse_calls >= 3 and kge_calls >= 3
    # The routing is part of the fit, so its share of the fit's time is below the whole.
    assert 0 < sse_calls * sse_micros < 1000 * sse_ms
    assert 0 < kge_calls * kge_micros < 1000 * kge_ms


def ensemble_rows(output, modes):
    rows = {mode: row(mode, output) for mode in modes}
    # workers, tasks, start-up s, run s, storm runs/s, speed-up, mean KGE
    assert all(len(numbers) == 7 for numbers in rows.values()), output
    assert f"identical in {len(modes)} modes: {', '.join(modes)}" in output
    assert len({numbers[-1] for numbers in rows.values()}) == 1
    return rows


def test_ensemble_local_modes_give_the_same_kge(tmp_path):
    output = run_example("ensemble.py", tmp_path, "--sets", "12", "--storms", "2",
                         "--workers", "2", "--modes", "serial,threads,processes")
    assert "12 parameter sets x 2 storms = 24 storm runs" in output
    assert "pickling a series raises TypeError: cannot pickle" in output
    rows = ensemble_rows(output, ["serial", "threads", "processes"])
    assert rows["serial"][:2] == [1, 4]  # 12 sets in chunks of 3
    assert rows["serial"][5] == 1.0
    for pool in ("threads", "processes"):
        assert rows[pool][:2] == [2, 6]  # 12 sets in chunks of 2
        assert rows[pool][5] > 0


@pytest.mark.skipif(bool(missing("distributed")), reason=str(missing("distributed")))
def test_ensemble_on_a_local_dask_cluster_gives_the_same_kge(tmp_path):
    # One worker: each one the cluster starts imports dask, seconds on a busy machine.
    output = run_example("ensemble.py", tmp_path, "--sets", "12", "--storms", "2",
                         "--workers", "1", "--modes", "serial,dask")
    rows = ensemble_rows(output, ["serial", "dask"])
    assert rows["dask"][:2] == [1, 4]


def test_ensemble_scores_the_true_parameters_near_one(monkeypatch):
    monkeypatch.syspath_prepend(str(EXAMPLES))
    ensemble = pytest.importorskip("ensemble")
    storms = ensemble.make_storms(3)
    [true_scores] = ensemble.score_parameter_sets([ensemble.TRUE_SET], storms)
    # The gauge records are the true set's hydrographs with 5 % rating noise.
    assert all(0.9 < score < 1.0 for score in true_scores), true_scores
    assert all(len(storm["observed"]) == ensemble.WINDOW_STEPS for storm in storms)


@pytest.mark.parametrize("modes", [
    "serial,threads",
    pytest.param("serial,dask", marks=pytest.mark.skipif(bool(missing("dask")),
                                                         reason=str(missing("dask")))),
])
def test_long_record_gives_the_same_outlet_record_in_every_mode(tmp_path, modes):
    output = run_example("long_record.py", tmp_path, "--basins", "4", "--years", "2",
                         "--workers", "2", "--modes", modes)
    assert "4 sub-basins x 2 years hourly (17,520 steps each)" in output
    serial, pool = (row(mode, output) for mode in modes.split(","))
    # workers, start-up s, run s, basins/s, speed-up
    assert serial[0] == 1 and serial[4] == 1.0
    assert pool[0] == 2 and pool[4] > 0
    assert f"outlet record identical in 2 modes: {modes.replace(',', ', ')}" in output
    # Losses and the water still held in the ground at the end: less comes out than fell.
    assert 0.2 < number_after("runoff ratio", output) < 1.0


def block_variable(page, number, name):
    """A variable the page's Python block `number` leaves behind when run."""
    namespace = {}
    with contextlib.redirect_stdout(io.StringIO()):
        exec(re.findall(r"```python\n(.*?)```", (EXAMPLES.parent / page).read_text(
            encoding="utf-8"), re.S)[number], namespace)
    return namespace[name]


def routed_inflow(module, run):
    """The hydrograph the example hands to Muskingum routing, which takes runoff + baseflow."""
    handed = []
    route = module.hydrokit.reach.run_muskingum_routing

    def recording(inflow, *arguments):
        handed.append(list(inflow.data))
        return route(inflow, *arguments)

    module.hydrokit.reach.run_muskingum_routing = recording
    try:
        run()
    finally:
        module.hydrokit.reach.run_muskingum_routing = route
    return handed[-1]


CHAINS = {
    "docs/chain.md": lambda _: block_variable("docs/chain.md", 0, "inflow").data,
    # The README's study joins the clocks through hydrokit_pandas; in US units, without a
    # conversion, its total is the sum that the core's results give.
    "hydrokit_pandas": lambda hkpd: hkpd.run_subbasin(
        pandas.Series([0.1, 0.6, 0.3], pandas.date_range("2024-05-01", periods=3, freq="h")),
        0.2, 1.0, 0.05, timedelta(days=2), 640.0, timedelta(hours=2), timedelta(hours=3),
        {"deep": baseflow.LinearReservoir(timedelta(days=9), 0.5, 4.0)})["total"].tolist(),
    "basin": lambda basin: basin.simulate()["combined"],
    "typed_usage": lambda typed: typed.inflow_hydrograph(typed.design_storm()).data,
    "ensemble": lambda ensemble: routed_inflow(ensemble, lambda: ensemble.simulate_storm(
        ensemble.TRUE_SET, ensemble.make_storms(1)[0]["rain"])),
    "long_record": lambda record: routed_inflow(record, lambda: record.simulate_basin(
        record.make_basins(1, 1)[0])),
    "continuous": lambda continuous: continuous.ContinuousModel(
        continuous.shipped_record()).flow_at_midnights(
            [150.0, 0.5, 0.8, 4.0, 0.8, 0.2, 0.6, 170.0]).tolist(),
}


@pytest.mark.parametrize("chain", CHAINS)
def test_baseflow_joins_the_runoff_on_its_clock(monkeypatch, chain):
    # Clark value k is the flow at k steps; baseflow value k, the flow at the end of rain
    # step k, belongs at k + 1, after the flow the layers start with.
    from hydrokit import baseflow, rainfall_transform

    monkeypatch.syspath_prepend(str(EXAMPLES))
    module = None if chain.endswith(".md") else pytest.importorskip(chain)
    if chain == "continuous" and missing("spotpy"):
        pytest.skip(missing("spotpy"))
    runoffs, baseflows = [], []
    clark, reservoirs = rainfall_transform.run_clark_uh, baseflow.run_linear_reservoir

    def recording_clark(*arguments, **keywords):
        runoff = clark(*arguments, **keywords)
        runoffs.append(runoff.data)
        return runoff

    def recording_reservoirs(area, rainfall, layers):
        total, by_layer = reservoirs(area, rainfall, layers)
        baseflows.append((sum(layer.initial_q for layer in layers.values()), total.data))
        return total, by_layer

    monkeypatch.setattr(rainfall_transform, "run_clark_uh", recording_clark)
    monkeypatch.setattr(baseflow, "run_linear_reservoir", recording_reservoirs)
    combined = CHAINS[chain](module)
    # The last chain the example ran is the one it returned.
    runoff, (at_start, total) = runoffs[-1], baseflows[-1]
    assert combined == [q + b for q, b in zip(runoff, [at_start] + total)][:len(combined)]


@pytest.mark.skipif(bool(missing("spotpy") or missing("scipy")),
                    reason=str(missing("spotpy") or missing("scipy")))
def test_continuous_study_reads_the_same_record_from_a_csv(tmp_path):
    # The shipped record written out in the --csv layout (m³/s, ISO dates, empty where the
    # gauge has no value) must calibrate to the same digits as the record read from spotpy.
    import importlib.resources

    shipped = importlib.resources.files("spotpy") / "examples/hymod_python/hymod_input.csv"
    rows = [line.split(";") for line in shipped.read_text().splitlines()[1:]]
    record = tmp_path / "record.csv"
    record.write_text("date,rain_mm,pet_mm,discharge_m3s\n" + "".join(
        f"{day[6:10]}-{day[3:5]}-{day[0:2]},{rain},{pet},"
        f"{'' if flow == 'nan' else float(flow) / 1000}\n" for day, rain, pet, flow in rows))
    split = ["--generations", "2", "--calibration", "2013-01-01", "2014-12-31",
             "--validation", "2015-01-01", "2016-12-31"]
    from_spotpy = run_example("continuous.py", tmp_path, *split)
    from_csv = run_example("continuous.py", tmp_path, "--csv", str(record), "--area-km2",
                           "1.783", *split)
    assert "1827 days from 2012-01-01 to 2016-12-31, 1461 observed" in from_csv
    # The calibrated set, the table's rows and the closing KGE line (not the times).
    figures = re.compile(r"^hydrokit (?:parameters|KGE| +\w+ +[\d.]+ +[\d.]+$).*$", re.M)
    assert figures.findall(from_csv) == figures.findall(from_spotpy)
    assert len(figures.findall(from_csv)) == 4


@pytest.mark.parametrize("first_day, days", [("2012-01-01", 366), ("2013-02-17", 45),
                                             ("2014-12-31", 1)])
def test_continuous_study_runs_the_soil_month_by_month_as_one_call(monkeypatch, first_day,
                                                                   days):
    # With the same PET every month, the monthly calls carrying the deficit over must give
    # the excess of one call over the whole record, bit for bit.
    import datetime

    from hydrokit import rainfall_loss, utils

    monkeypatch.syspath_prepend(str(EXAMPLES))
    continuous = pytest.importorskip("continuous")
    start = datetime.date.fromisoformat(first_day)
    dates = [start + datetime.timedelta(days=day) for day in range(days)]
    rain = [(7.0 * day) % 11.0 if day % 3 else 0.0 for day in range(days)]
    model = continuous.ContinuousModel(continuous.Record(
        "test", 1.0, dates, rain, [2.5] * days, [math.nan] * days))
    assert sum(len(month.data) for month, _ in model.months) == days
    max_deficit = 60.0 / continuous.MM_PER_INCH
    whole = rainfall_loss.run_deficit_and_constant(
        utils.IncrementalTimeSeries([r / continuous.MM_PER_INCH for r in rain],
                                    datetime.timedelta(days=1), "rainfall"),
        max_deficit / 2.0, max_deficit, 0.01, datetime.timedelta(days=60.0 / (0.8 * 2.5)))
    assert model.soil(max_deficit, 0.01, 0.8).tolist() == whole.excess.data
