"""The cases of the performance table: hydrokit and its peers on the same inputs."""

from datetime import timedelta

import numpy as np

import chain
import hydrokit
import inputs
import numba_peers
import other_peers
import pandas_cases
from case import Case, Contender, series_buffer_supported, series_values
from inputs import HOUR, MILLION

ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries
route = hydrokit.reach.run_muskingum_routing
kge = hydrokit.metrics.calculate_kge

DT = 3600.0
X = 0.2


def one_series(series):
    return [series_values(series)]


def one_array(array):
    return [array]


def one_number(value):
    return [np.array([value])]


def numbers(values):
    return [np.array(values)]


def arrays(values):
    return [np.concatenate(values)]


def not_installed(name, module):
    return None if module is not None else f"{name} does not install on this Python"


def muskingum_call_only(rng, sub_reaches):
    flow = inputs.discharge(MILLION, rng)
    series = ContinuousTimeSeries(flow, HOUR, "discharge")
    k_hours = 2 * sub_reaches
    k, start = k_hours * DT, float(flow[0])
    peers = [
        Contender("numba loop" if sub_reaches == 1 else "numba, sequential passes",
                  lambda: numba_peers.muskingum(flow, k, X, sub_reaches, DT, start), one_array,
                  target=1.0 if sub_reaches == 1 else 2.5),
        Contender("scipy lfilter" if sub_reaches == 1 else f"{sub_reaches} x scipy lfilter",
                  lambda: other_peers.muskingum_lfilter(flow, k, X, sub_reaches, DT, start),
                  one_array, exact=False, target=None if sub_reaches == 1 else 8.0),
    ]
    if sub_reaches == 1:
        values = flow.tolist()
        peers.append(Contender("pure Python loop",
                               lambda: other_peers.python_muskingum(values, k, X, DT, start),
                               numbers))
    name = f"Muskingum, {sub_reaches} sub-reach{'es' if sub_reaches > 1 else ''} (call only)"
    hk = Contender("hydrokit", lambda: route(series, timedelta(hours=k_hours), X, sub_reaches,
                                             start), one_series)
    return Case(name, hk, peers)


def muskingum_array_to_array(rng):
    flow = inputs.discharge(MILLION, rng)
    start = float(flow[0])

    def hydrokit_side():
        routed = route(ContinuousTimeSeries(flow, HOUR, "discharge"), 2 * HOUR, X, 1, start)
        return series_values(routed)

    probe = ContinuousTimeSeries(flow[:2], HOUR, "discharge")
    how = "numpy.asarray(series)" if series_buffer_supported(probe) else \
        "numpy.asarray(series.data)"
    hk = Contender("hydrokit", hydrokit_side, one_array)
    peer = Contender("numba loop",
                     lambda: np.asarray(numba_peers.muskingum(flow, 2 * DT, X, 1, DT, start)),
                     one_array, target=0.8)
    return Case("Muskingum, float64 array in, numpy array out", hk, [peer],
                [f"Muskingum array case: hydrokit builds the series from the array, routes it "
                 f"and reads the result with {how}."])


def deficit_and_constant(rng):
    rain = inputs.rainfall(MILLION, rng, wet_share=0.2, largest=0.4)
    series = IncrementalTimeSeries(rain, HOUR, "rainfall")
    dry = timedelta(days=2)
    split = hydrokit.rainfall_loss.run_deficit_and_constant

    def hk_values(result):
        return [series_values(result.excess), series_values(result.loss),
                series_values(result.deficit)]

    hk = Contender("hydrokit", lambda: split(series, 0.5, 2.0, 0.05, dry), hk_values)
    peer = Contender("numba loop", lambda: numba_peers.deficit_and_constant(
        rain, 0.5, 2.0, 0.05, dry.total_seconds(), DT), list, target=1.0)
    return Case("deficit-and-constant (call only)", hk, [peer])


def baseflow_inputs(rng):
    """Hourly rain on a fifth of the steps, as an array and as a series, the layers as
    hydrokit's reservoirs, and the layers' columns as arrays for the loops."""
    rain = rng.exponential(0.05, MILLION) * (rng.random(MILLION) < 0.2)
    series = IncrementalTimeSeries(rain, HOUR, "rainfall")
    layers = inputs.BASEFLOW_LAYERS
    reservoirs = {f"layer{i}": hydrokit.baseflow.LinearReservoir(timedelta(seconds=k), f, q, c)
                  for i, (k, f, q, c) in enumerate(layers)}
    columns = tuple(np.array(column) for column in zip(*layers))
    return rain, series, reservoirs, columns


def linear_reservoir(rng):
    rain, series, reservoirs, columns = baseflow_inputs(rng)
    k_seconds, fractions, initial_qs, counts = columns
    area = inputs.BASEFLOW_AREA
    run = hydrokit.baseflow.run_linear_reservoir

    def hk_values(result):
        total, by_layer = result
        return [series_values(total)] + [series_values(s) for s in by_layer.values()]

    def numba_values(result):
        total, by_layer = result
        return [total] + list(by_layer)

    def lfilter_values(result):
        total, by_layer = result
        return [total] + by_layer

    hk = Contender("hydrokit", lambda: run(area, series, reservoirs), hk_values)
    peers = [
        Contender("numba loop", lambda: numba_peers.linear_reservoir(
            area, rain, DT, k_seconds.astype(np.float64), fractions, initial_qs, counts),
            numba_values, target=1.5),
        Contender("scipy lfilter cascade", lambda: other_peers.linear_reservoir_lfilter(
            area, rain, DT, inputs.BASEFLOW_LAYERS), lfilter_values, exact=False),
    ]
    return Case("linear reservoir, 2 layers x 3 reservoirs (call only)", hk, peers)


def kge_arrays(rng):
    sim, obs = inputs.simulated_and_observed(MILLION, rng)
    hk = Contender("hydrokit", lambda: kge(sim, obs), one_number)
    peers = [
        Contender("numba loop", lambda: numba_peers.kge(sim, obs), one_number, target=1.0),
        Contender("numpy", lambda: other_peers.numpy_kge(sim, obs), one_number, exact=False,
                  target=4.0),
        Contender("hydroeval", lambda: other_peers.hydroeval_kge(sim, obs), one_number,
                  exact=False, missing=not_installed("hydroeval", other_peers.hydroeval)),
        Contender("HydroErr", lambda: other_peers.hydroerr_kge(sim, obs), one_number,
                  exact=False, missing=not_installed("HydroErr", other_peers.hydroerr)),
    ]
    return Case("KGE from two float64 arrays", hk, peers,
                ["KGE: HydroErr's kge_2009 takes sample standard deviations (divisor n - 1) and "
                 "hydroeval its own grouping, so both differ from the documented formula in the "
                 "last digits."])


def kge_calibration(rng):
    sim, obs = inputs.simulated_and_observed(240 * 1000, rng)
    sims = list(sim.reshape(1000, 240))
    obs = obs[:240].copy()
    sim_lists, obs_list = [s.tolist() for s in sims], obs.tolist()
    hk = Contender("hydrokit", lambda: [kge(s, obs) for s in sims], numbers)
    peers = [
        Contender("numba loop", lambda: [numba_peers.kge(s, obs) for s in sims], numbers,
                  target=1.0),
        Contender("pure Python loop",
                  lambda: [other_peers.python_kge(s, obs_list) for s in sim_lists], numbers),
    ]
    return Case("KGE, 240 values x 1,000 calls (float64 arrays)", hk, peers)


def muskingum_calibration():
    flow = inputs.storm_hydrograph(240)
    series = ContinuousTimeSeries(flow, HOUR, "discharge")
    values, start = flow.tolist(), float(flow[0])
    # A calibration sweep: storage constants from 1 to about 5 hours, weightings 0.05 to 0.45.
    k_seconds = [3600 + 13 * i for i in range(1000)]
    weights = [0.05 + 0.4 * i / 1000 for i in range(1000)]
    k_deltas = [timedelta(seconds=k) for k in k_seconds]
    pairs = list(zip(k_deltas, weights))
    float_pairs = [(float(k), x) for k, x in zip(k_seconds, weights)]
    hk = Contender("hydrokit", lambda: [route(series, k, x, 1, start) for k, x in pairs],
                   lambda results: [np.concatenate([series_values(r) for r in results])])
    peers = [
        Contender("numba loop",
                  lambda: [numba_peers.muskingum(flow, k, x, 1, DT, start) for k, x in float_pairs],
                  arrays, target=1.2),
        Contender("pure Python loop", lambda: [other_peers.python_muskingum(values, k, x, DT, start)
                                               for k, x in float_pairs],
                  lambda results: [np.concatenate([np.array(r) for r in results])]),
    ]
    return Case("Muskingum, 240 values x 1,000 calls", hk, peers)


def clark_storm(rng):
    """A 100,000-step storm, as an array and as a series, the call that turns it into runoff
    and the unit hydrograph of that call."""
    storm = inputs.rainfall(100_000, rng, wet_share=0.3, largest=0.5)
    series = IncrementalTimeSeries(storm, HOUR, "rainfall")
    tc, storage = 6 * HOUR, timedelta(days=10)

    def run(rainfall):
        return hydrokit.rainfall_transform.run_clark_uh(rainfall, 640.0, tc, storage)

    # The runoff of one inch in the first step is the unit hydrograph itself.
    unit = series_values(run(IncrementalTimeSeries([1.0], HOUR, "rainfall")))
    return storm, series, lambda: run(series), unit


def clark(rng):
    storm, series, run, unit = clark_storm(rng)
    hk = Contender("hydrokit", run, one_series)
    peer = Contender("numpy.convolve, same unit hydrograph",
                     lambda: np.convolve(storm, unit), one_array, exact=False, target=4.0)
    return Case("Clark, 100,000-step storm, tc 6 h, storage 10 days", hk, [peer],
                [f"Clark: the unit hydrograph has {unit.size:,} ordinates (issue 8 expects "
                 f"4,978): {'as expected' if unit.size == 4978 else 'DIFFERENT'}."])


def level_pool():
    reservoir = inputs.Reservoir
    flow = reservoir.inflow(8760)
    series = ContinuousTimeSeries(flow, HOUR, "discharge")
    curve, outlets = reservoir.curve(hydrokit), reservoir.outlets(hydrokit)
    run = hydrokit.reservoir.run_level_pool_routing

    def hk_values(result):
        by_outlet = result.reservoir_individual_outflows
        return [series_values(result.reservoir_storage),
                series_values(result.reservoir_elevation),
                series_values(result.reservoir_total_outflow)] + \
            [series_values(by_outlet[name]) for name in outlets]

    def numba_values(result):
        storages, elevations, totals, releases = result
        return [storages, elevations, totals] + list(releases)

    hk = Contender("hydrokit", lambda: run(series, reservoir.initial_elevation, curve, outlets),
                   hk_values)
    peer = Contender("numba loop", lambda: numba_peers.level_pool(
        flow, 3600, *reservoir.loop_arguments()), numba_values, target=1.0)
    # One-second sub-steps from the first inflow step to the end of the span.
    sub_steps = (flow.size - 1) * 3600 - 3600 + 1
    return Case("level pool, one year hourly, 50-point curve, 3 outlets", hk, [peer],
                work=(sub_steps, "sub-steps"))


def all_cases():
    rng = inputs.generator()
    return [
        lambda: muskingum_call_only(rng, 1),
        lambda: muskingum_call_only(rng, 8),
        lambda: muskingum_array_to_array(rng),
        lambda: deficit_and_constant(rng),
        lambda: linear_reservoir(rng),
        lambda: kge_arrays(rng),
        lambda: kge_calibration(rng),
        muskingum_calibration,
        lambda: clark(rng),
        level_pool,
        pandas_cases.muskingum,
        lambda: pandas_cases.subbasin(rng),
        chain.basin_chain,
    ]
