"""What hydrokit_pandas costs on top of the core: a wrapper against the core calls it makes,
written out by hand on the same short series (a calibration run's size) with the same
conversions, so that the values are identical and the difference is the wrapper's own work.
Each contender makes the call many times in a row, as a calibration loop does."""

from datetime import timedelta

import numpy as np
import pandas as pd

import hydrokit
import hydrokit_pandas as hkpd
import inputs
from case import Case, Contender

HOUR = inputs.HOUR
VALUES = 240
CALLS = 1000
MM, ACRES, CFS = 25.4, 247.105381, 35.3146667
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries


def hourly(values):
    return pd.Series(values, index=pd.date_range("2024-01-01", periods=values.size, freq="h"))


def columns(frame):
    return [frame[name].to_numpy() for name in frame.columns]


def repeated(call):
    """`call` CALLS times; the last result stands for all (they are the same)."""
    def calls():
        for _ in range(CALLS - 1):
            call()
        return call()
    return calls


def muskingum():
    flow = inputs.storm_hydrograph(VALUES)
    series, start = hourly(flow), float(flow[0])

    def core():
        inflow = hydrokit.utils.ContinuousTimeSeries(series.to_numpy(), HOUR, "discharge")
        return np.asarray(hydrokit.reach.run_muskingum_routing(inflow, 2 * HOUR, 0.2, 1, start))

    hk = Contender("hydrokit", repeated(core), lambda values: [values])
    peer = Contender("hydrokit_pandas", repeated(lambda: hkpd.run_muskingum_routing(
        series, 2 * HOUR, 0.2, 1, start)), lambda routed: [routed.to_numpy()])
    return Case(f"pandas wrapper: Muskingum, {VALUES} values x {CALLS:,} calls", hk, [peer],
                wrapped_calls=CALLS)


def subbasin(rng):
    rain = hourly(inputs.rainfall(VALUES, rng, wet_share=0.3, largest=12.0))  # mm
    loss = (15.0, 60.0, 2.0, timedelta(days=3))
    clark = (timedelta(hours=5), timedelta(hours=6))
    layer = hydrokit.baseflow.LinearReservoir(timedelta(days=20), 0.4, 0.6)

    def core():
        initial, capacity, rate, dry = loss
        split = hydrokit.rainfall_loss.run_deficit_and_constant(
            IncrementalTimeSeries(rain.to_numpy() / MM, HOUR, "rainfall"), initial / MM,
            capacity / MM, rate / MM, dry)
        runoff = np.asarray(hydrokit.rainfall_transform.run_clark_uh(split.excess, 45 * ACRES,
                                                                     *clark))
        padding = np.zeros(runoff.size - VALUES)
        excess, infiltrated = (np.concatenate((np.asarray(s), padding))
                               for s in (split.excess, split.loss))
        in_cfs = hydrokit.baseflow.LinearReservoir(layer.k_duration, layer.gw_fraction,
                                                   layer.initial_q * CFS)
        total, _ = hydrokit.baseflow.run_linear_reservoir(
            45 * ACRES, IncrementalTimeSeries(infiltrated, HOUR, "rainfall"), {"gw": in_cfs})
        direct = runoff / CFS
        base = np.concatenate(([layer.initial_q], np.asarray(total)[:-1] / CFS))
        return [excess * MM, infiltrated * MM, direct, base, direct + base]

    hk = Contender("hydrokit", repeated(core), list)
    peer = Contender("hydrokit_pandas, units='si'", repeated(lambda: hkpd.run_subbasin(
        rain, *loss, 45, *clark, {"gw": layer}, units="si")), columns)
    return Case(f"pandas wrapper: sub-basin chain in SI, {VALUES} values x {CALLS:,} calls",
                hk, [peer], wrapped_calls=CALLS)
