"""hydrokit_pandas: in US units the core's own bits, in SI the bits of the conversions written
out by hand with the same constants, every output on its clock, and errors that name the
argument."""

import subprocess
import sys
from datetime import timedelta

import numpy as np
import pandas as pd
import pytest

import hydrokit
import hydrokit_pandas as hkpd
from hydrokit import baseflow, rainfall_loss, rainfall_transform, reach, reservoir, utils

HOUR = timedelta(hours=1)
HOURS = pd.date_range("2024-05-01 06:00", periods=8, freq="h", name="time")
RAIN = pd.Series([0.0, 2.0, 8.0, 14.0, 6.0, 2.0, 0.0, 0.0], index=HOURS)  # in or mm a step
FLOW = pd.Series([0.0, 3.0, 12.0, 30.0, 26.0, 15.0, 8.0, 4.0], index=HOURS)
LOSS = (10.0, 40.0, 1.5, timedelta(days=2))  # deficits, rate, time to dry
CLARK = (timedelta(hours=3), timedelta(hours=4))
CURVES = reservoir.reservoir_utils
POND = CURVES.ElevationStorage([0.0, 5.0], [0.0, 5e5])
OUTLETS = {"spillway": CURVES.UnControlledDischargeInfo(
    CURVES.ElevationDischarge([0.0, 1.0, 5.0], [0.0, 2.0, 60.0])),
    "pipe": CURVES.ConstantDischargeInfo(0.01, minimum_elevation=0.005)}
SI = {"us": (1.0, 1.0, 1.0), "si": (25.4, 247.105381, 35.3146667)}  # mm/in, acres/km², cfs/m³s


def layers():
    return {"fast": baseflow.LinearReservoir(timedelta(hours=30), 0.2, 0.25, num_reservoir=2),
            "slow": baseflow.LinearReservoir(timedelta(days=10), 0.3, 0.5)}


def hand_layers(cfs):
    return {name: baseflow.LinearReservoir(layer.k_duration, layer.gw_fraction,
                                           layer.initial_q * cfs, layer.num_reservoir)
            for name, layer in layers().items()}


def rain(mm):
    return utils.IncrementalTimeSeries([depth / mm for depth in RAIN], HOUR, "rainfall")


def hand_split(mm):
    initial, capacity, rate, dry = LOSS
    return rainfall_loss.run_deficit_and_constant(rain(mm), initial / mm, capacity / mm,
                                                  rate / mm, dry)


# By hand, each output as (values, steps after the input's first label of value 0).
def loss_by_hand(mm, acres, cfs):
    split = hand_split(mm)
    return {name: ([v * mm for v in getattr(split, name).data], 0)
            for name in ("excess", "loss", "deficit")}


def clark_by_hand(mm, acres, cfs):
    runoff = rainfall_transform.run_clark_uh(rain(mm), 45 * acres, *CLARK)
    assert len(runoff.data) > len(RAIN)
    return {"direct_runoff": ([q / cfs for q in runoff.data], 0)}


def baseflow_by_hand(mm, acres, cfs):
    total, by_layer = baseflow.run_linear_reservoir(45 * acres, rain(mm), hand_layers(cfs))
    return {"baseflow": ([q / cfs for q in total.data], 1)} | {
        name: ([q / cfs for q in series.data], 1) for name, series in by_layer.items()}


def subbasin_by_hand(mm, acres, cfs):
    split = hand_split(mm)
    runoff = rainfall_transform.run_clark_uh(split.excess, 45 * acres, *CLARK)
    dry = [0.0] * (len(runoff.data) - len(RAIN))
    excess, loss = split.excess.data + dry, split.loss.data + dry
    total, _ = baseflow.run_linear_reservoir(
        45 * acres, utils.IncrementalTimeSeries(loss, HOUR, "rainfall"), hand_layers(cfs))
    direct = [q / cfs for q in runoff.data]
    base = [0.25 + 0.5] + [q / cfs for q in total.data[:-1]]
    return {"excess": ([v * mm for v in excess], 0), "loss": ([v * mm for v in loss], 0),
            "direct_runoff": (direct, 0), "baseflow": (base, 0),
            "total": ([d + b for d, b in zip(direct, base)], 0)}


def muskingum_by_hand(mm, acres, cfs):
    inflow = utils.ContinuousTimeSeries(FLOW.tolist(), HOUR, "discharge")
    return {"outflow": (reach.run_muskingum_routing(inflow, 2 * HOUR, 0.2, 2, 0.0).data, 0)}


def level_pool_by_hand(mm, acres, cfs):
    pool = reservoir.run_level_pool_routing(
        utils.ContinuousTimeSeries(FLOW.tolist(), HOUR, "discharge"), 0.0, POND, OUTLETS)
    columns = {"storage": pool.reservoir_storage, "elevation": pool.reservoir_elevation,
               "outflow": pool.reservoir_total_outflow} | pool.reservoir_individual_outflows
    return {name: (series.data, 1) for name, series in columns.items()}


COMPUTATIONS = {
    "loss": (lambda u: hkpd.run_deficit_and_constant(RAIN, *LOSS, units=u), loss_by_hand),
    "clark": (lambda u: hkpd.run_clark_uh(RAIN, 45, *CLARK, units=u), clark_by_hand),
    "baseflow": (lambda u: hkpd.run_linear_reservoir(45, RAIN, layers(), units=u),
                 baseflow_by_hand),
    "subbasin": (lambda u: hkpd.run_subbasin(RAIN, *LOSS, 45, *CLARK, layers(), units=u),
                 subbasin_by_hand),
    "muskingum": (lambda u: hkpd.run_muskingum_routing(FLOW, 2 * HOUR, 0.2, 2, 0.0, units=u),
                  muskingum_by_hand),
    "level pool": (lambda u: hkpd.run_level_pool_routing(FLOW, 0.0, POND, OUTLETS, units=u),
                   level_pool_by_hand),
}


def columns(result):
    if isinstance(result, tuple):
        total, by_layer = result
        return {total.name: total} | dict(by_layer.items())
    return dict(result.items()) if isinstance(result, pd.DataFrame) else {result.name: result}


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64).tolist()


@pytest.mark.parametrize("units", SI)
@pytest.mark.parametrize("computation", COMPUTATIONS)
def test_outputs_are_the_hand_conversions_on_their_clocks(computation, units):
    wrapped, by_hand = COMPUTATIONS[computation]
    outputs, expected = columns(wrapped(units)), by_hand(*SI[units])
    assert list(outputs) == list(expected)
    for name, series in outputs.items():
        values, first = expected[name]
        assert bits(series) == bits(values), name
        steps = pd.to_timedelta(first + np.arange(len(values)), unit="h")
        assert series.index.equals(HOURS[0] + steps), name


@pytest.mark.parametrize("tc", [timedelta(hours=3), pd.Timedelta("3h"), np.timedelta64(180, "m"),
                                pd.offsets.Hour(3)])
@pytest.mark.parametrize("index", [HOURS, pd.DatetimeIndex(list(HOURS)),
                                   HOURS.tz_localize("Europe/Paris")])
def test_every_kind_of_duration_and_index(tc, index):
    runoff = hkpd.run_clark_uh(pd.Series(RAIN.to_numpy(), index=index), 45, tc, CLARK[1])
    assert bits(runoff) == bits(clark_by_hand(1.0, 1.0, 1.0)["direct_runoff"][0])
    assert runoff.index.equals(index[0] + pd.to_timedelta(np.arange(len(runoff)), unit="h"))
    assert runoff.index.freq == HOUR


def kge_of(sim, obs):
    ok = ~(np.isnan(sim) | np.isnan(obs))
    return hydrokit.metrics.calculate_kge(sim[ok], obs[ok])


OBS = pd.Series([1.0, 3.5, np.nan, 28.0, 27.0, 16.0, 7.0, 4.5, 3.0], index=pd.date_range(
    "2024-05-01 05:00", periods=9, freq="h")).drop(pd.Timestamp("2024-05-01 11:00"))


@pytest.mark.parametrize("missing, expected", [
    ("omit", kge_of(FLOW.to_numpy(), np.array([3.5, np.nan, 28.0, 27.0, 16.0, np.nan, 4.5, 3.0]))),
    ("propagate", np.nan)])
def test_kge_pairs_the_labels_both_series_cover(missing, expected):
    # obs starts an hour early and ends an hour late, has a NaN and lacks 11:00.
    assert hkpd.calculate_kge(FLOW, OBS, missing=missing) == pytest.approx(expected, nan_ok=True)
    assert hkpd.calculate_kge(FLOW, FLOW * 1.1) == kge_of(FLOW.to_numpy(), FLOW.to_numpy() * 1.1)


ERRORS = [
    (lambda: hkpd.run_clark_uh(RAIN.tolist(), 45, *CLARK), TypeError,
     "argument 'rainfall': must be a pandas Series, not list"),
    (lambda: hkpd.run_clark_uh(RAIN.reset_index(drop=True), 45, *CLARK), TypeError,
     "argument 'rainfall': the index must be a DatetimeIndex, not RangeIndex"),
    (lambda: hkpd.run_clark_uh(RAIN.drop(HOURS[3]), 45, *CLARK), ValueError,
     "argument 'rainfall': the index is not evenly spaced: 1:00:00 apart up to "
     "2024-05-01 08:00:00, then 2:00:00 to the next label; fill the gaps or resample"),
    (lambda: hkpd.run_clark_uh(pd.Series(1.0, pd.date_range("2024-03-30", periods=3, freq="D",
                                                            tz="Europe/Paris")), 45, *CLARK),
     ValueError, "argument 'rainfall': the index is not evenly spaced: 1 day, 0:00:00 apart "
     "up to 2024-03-31 00:00:00+01:00, then 23:00:00 to the next label; fill the gaps or "
     "resample"),
    (lambda: hkpd.run_muskingum_routing(FLOW[::-1], HOUR, 0.2, 1, 0.0), ValueError,
     "argument 'inflow': the index is not increasing at 2024-05-01 12:00:00"),
    (lambda: hkpd.run_muskingum_routing(FLOW.iloc[:0], HOUR, 0.2, 1, 0.0), ValueError,
     "argument 'inflow': the series is empty"),
    (lambda: hkpd.run_muskingum_routing(pd.Series([1.0], pd.DatetimeIndex(["2024-05-01"])),
                                        HOUR, 0.2, 1, 0.0), ValueError,
     "argument 'inflow': one value and no freq on its index: the time step is unknown"),
    (lambda: hkpd.run_clark_uh(pd.Series([1.0, 2.0], index=pd.to_datetime([0, 90_700], unit="ms")),
                               45, *CLARK), ValueError,
     "argument 'rainfall': the time step 0:01:30.700000 is not a whole number of seconds"),
    (lambda: hkpd.run_clark_uh(RAIN, 45, *CLARK, units="metric"), ValueError,
     "argument 'units': must be 'us' or 'si', not 'metric'"),
    (lambda: hkpd.run_clark_uh(RAIN, -45, *CLARK), ValueError,
     "argument 'basin_area': must be zero or more, not -45.0"),
    (lambda: hkpd.run_linear_reservoir(45, RAIN - 1.0, layers()), ValueError,
     "argument 'rainfall': a depth must be zero or more, not -1.0 at 2024-05-01 06:00:00"),
    (lambda: hkpd.run_clark_uh(RAIN, 45, 3.0, HOUR), TypeError,
     "argument 'tc': must be a duration (datetime.timedelta, pandas.Timedelta, "
     "numpy.timedelta64 or a fixed pandas offset), not float"),
    (lambda: hkpd.run_clark_uh(RAIN, 45, HOUR, pd.offsets.MonthEnd()), ValueError,
     "argument 'storage_r': <MonthEnd> has no fixed length"),
    (lambda: hkpd.run_muskingum_routing(FLOW, np.timedelta64("NaT", "s"), 0.2, 1, 0.0), ValueError,
     "argument 'k': NaT is not a duration"),
    (lambda: hkpd.run_level_pool_routing(FLOW.iloc[:1], 0.0, POND, OUTLETS), ValueError,
     "argument 'inflow': level pool routing needs at least two values"),
    (lambda: hkpd.run_level_pool_routing(FLOW, 0.0, POND, {"outflow": OUTLETS["pipe"]}),
     ValueError, "argument 'discharge_info': the outlet name 'outflow' is a column of the "
     "result; rename the outlet"),
    (lambda: hkpd.calculate_kge(FLOW, FLOW.resample("2h").mean()), ValueError,
     "arguments 'sim' and 'obs': the series are on different steps (1:00:00 and 2:00:00); "
     "resample one to the other's"),
    (lambda: hkpd.calculate_kge(FLOW, FLOW.shift(8, freq="h")), ValueError,
     "arguments 'sim' and 'obs': the series do not overlap (sim from 2024-05-01 06:00:00 to "
     "2024-05-01 13:00:00, obs from 2024-05-01 14:00:00 to 2024-05-01 21:00:00)"),
    (lambda: hkpd.calculate_kge(FLOW, FLOW.shift(7, freq="h")), ValueError,
     "arguments 'sim' and 'obs': 1 pair of values to score; the efficiency needs at least two"),
    (lambda: hkpd.calculate_kge(FLOW, OBS, missing="raise"), ValueError,
     "argument 'obs': no value at 2024-05-01 07:00:00 (2 of 8 pairs lack one); "
     "missing='omit' leaves such pairs out"),
    (lambda: hkpd.calculate_kge(FLOW, OBS, missing="drop"), ValueError,
     "argument 'missing': must be 'omit', 'propagate' or 'raise', not 'drop'"),
    # The core's own errors come through as they are.
    (lambda: hkpd.run_clark_uh(RAIN, 45, -HOUR, HOUR), ValueError,
     "Cannot convert a negative timedelta to a duration."),
    (lambda: hkpd.run_clark_uh(RAIN, "45", *CLARK, units="si"), TypeError,
     "argument 'basin_area': must be real number, not str"),
]


@pytest.mark.parametrize("call, exception, message", ERRORS)
def test_bad_input_names_the_argument(call, exception, message):
    with pytest.raises(exception) as raised:
        call()
    assert str(raised.value) == message


def test_import_without_pandas_names_the_extra():
    blocked = subprocess.run([sys.executable, "-c", "import sys; sys.modules['pandas'] = None; "
                              "import hydrokit_pandas"], capture_output=True, text=True)
    assert blocked.stderr.splitlines()[-1] == (
        "ModuleNotFoundError: hydrokit_pandas needs pandas: pip install hydrokit[pandas]")
