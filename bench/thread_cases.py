"""The work of the threads section: long calls that a thread pool should spread over the cores,
each with hydrokit and a numba nogil loop on the same inputs, and issue 13's target for the
ratio of four calls in sequence to the same four calls on two threads."""

from dataclasses import dataclass
from datetime import timedelta

import numpy as np

import cases
import hydrokit
import inputs
import nogil_peers
from case import Contender, series_values
from inputs import HOUR, MILLION

ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries
DT = 3600.0


@dataclass
class ThreadCase:
    name: str
    target: float
    hydrokit: Contender
    peer: Contender


def series_list(*series):
    return [series_values(s) for s in series]


def muskingum(rng, sub_reaches=8):
    flow = inputs.discharge(MILLION, rng)
    series = ContinuousTimeSeries(flow, HOUR, "discharge")
    k_hours, start = 2 * sub_reaches, float(flow[0])
    hk = Contender("hydrokit", lambda: hydrokit.reach.run_muskingum_routing(
        series, timedelta(hours=k_hours), 0.2, sub_reaches, start), series_list)
    peer = Contender("numba nogil", lambda: nogil_peers.muskingum(
        flow, k_hours * DT, 0.2, sub_reaches, DT, start), lambda outflow: [outflow])
    return ThreadCase(f"Muskingum, {sub_reaches} sub-reaches x 10^6", 1.8, hk, peer)


def linear_reservoir(rng):
    rain, series, reservoirs, columns = cases.baseflow_inputs(rng)
    k_seconds, fractions, initial_qs, counts = columns
    hk = Contender("hydrokit", lambda: hydrokit.baseflow.run_linear_reservoir(
        inputs.BASEFLOW_AREA, series, reservoirs),
        lambda result: series_list(result[0], *result[1].values()))
    peer = Contender("numba nogil", lambda: nogil_peers.linear_reservoir(
        inputs.BASEFLOW_AREA, rain, DT, k_seconds.astype(np.float64), fractions, initial_qs,
        counts), lambda result: [result[0], *result[1]])
    return ThreadCase("linear reservoir, 2 layers x 3 reservoirs x 10^6", 1.8, hk, peer)


def deficit_and_constant(rng):
    rain = inputs.rainfall(MILLION, rng, wet_share=0.2, largest=0.4)
    series = IncrementalTimeSeries(rain, HOUR, "rainfall")
    dry = timedelta(days=2)
    hk = Contender("hydrokit", lambda: hydrokit.rainfall_loss.run_deficit_and_constant(
        series, 0.5, 2.0, 0.05, dry), lambda r: series_list(r.excess, r.loss, r.deficit))
    peer = Contender("numba nogil", lambda: nogil_peers.deficit_and_constant(
        rain, 0.5, 2.0, 0.05, dry.total_seconds(), DT), list)
    return ThreadCase("deficit-and-constant, 10^6", 1.7, hk, peer)


def clark(rng):
    storm, _, run, unit = cases.clark_storm(rng)
    hk = Contender("hydrokit", run, series_list)
    peer = Contender("numba nogil convolution, same unit hydrograph",
                     lambda: nogil_peers.convolve(storm, unit), lambda runoff: [runoff],
                     exact=False)
    return ThreadCase("Clark, 10^5 steps, storage 10 days", 1.8, hk, peer)


def kge_log(rng):
    sim, obs = inputs.simulated_and_observed(MILLION, rng)
    # Flows are never negative; a negative simulated value would make the KGE NaN.
    sim = np.maximum(sim, 0.0)
    hk = Contender("hydrokit", lambda: hydrokit.metrics.calculate_kge(sim, obs, use_log=True),
                   lambda value: [np.array([value])])
    peer = Contender("numba nogil", lambda: nogil_peers.kge_log(sim, obs),
                     lambda value: [np.array([value])])
    return ThreadCase("KGE, two float64 arrays of 10^6, use_log", 1.5, hk, peer)


def level_pool(_rng):
    reservoir = inputs.Reservoir
    flow = reservoir.inflow(30 * 24)
    series = ContinuousTimeSeries(flow, HOUR, "discharge")
    curve, outlets = reservoir.curve(hydrokit), reservoir.outlets(hydrokit)

    def hk_values(result):
        by_outlet = result.reservoir_individual_outflows
        return series_list(result.reservoir_storage, result.reservoir_elevation,
                           result.reservoir_total_outflow,
                           *(by_outlet[name] for name in outlets))

    hk = Contender("hydrokit", lambda: hydrokit.reservoir.run_level_pool_routing(
        series, reservoir.initial_elevation, curve, outlets), hk_values)
    peer = Contender("numba nogil", lambda: nogil_peers.level_pool(
        flow, 3600, *reservoir.loop_arguments()),
        lambda result: [*result[:3], *result[3]])
    return ThreadCase("level pool, 30 days hourly, 3 outlets", 1.8, hk, peer)


def all_cases():
    rng = inputs.generator()
    return [lambda build=build: build(rng) for build in
            (muskingum, linear_reservoir, deficit_and_constant, clark, kge_log, level_pool)]
