"""The six computations on pandas series, each output indexed on its own clock."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

import numpy as np
import pandas as pd

import hydrokit

from ._clock import Duration, depths, duration, frame, instants, on_clock, regular
from ._units import (Units, area_in, depth_in, depths_in, depths_out,
                     discharge_in, discharges_out, is_si, physical)

reservoir_utils = hydrokit.reservoir.reservoir_utils
type Outlet = (reservoir_utils.UnControlledDischargeInfo | reservoir_utils.ControlledDischargeInfo
               | reservoir_utils.SpecifiedDischargeInfo | reservoir_utils.ConstantDischargeInfo)
LinearReservoir = hydrokit.baseflow.LinearReservoir
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries
ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
LOSS_COLUMNS = pd.Index(["excess", "loss", "deficit"])
LEVEL_POOL_COLUMNS = pd.Index(["storage", "elevation", "outflow"])


def run_deficit_and_constant(rainfall: pd.Series[float], initial_deficit: float,
                             max_deficit: float, constant_loss_per_hr: float,
                             time_to_dry: Duration, *, units: Units = "us") -> pd.DataFrame:
    """Splits gross rainfall into excess and loss with the deficit-and-constant model.

    `rainfall` holds the depth of each step (in or mm), labelled by the step's start;
    `initial_deficit` and `max_deficit` are depths, `constant_loss_per_hr` a rate (in/h or
    mm/h). Returns a DataFrame on the rainfall's index: `excess` and `loss`, the depths of
    each step, and `deficit`, the soil moisture deficit at the end of the step.
    """
    si = is_si(units)
    rain, step = depths(rainfall, "rainfall")
    split = hydrokit.rainfall_loss.run_deficit_and_constant(
        IncrementalTimeSeries(depths_in(rain, si), step, "rainfall"),
        depth_in(physical(initial_deficit, "initial_deficit"), si),
        depth_in(physical(max_deficit, "max_deficit"), si),
        depth_in(physical(constant_loss_per_hr, "constant_loss_per_hr"), si),
        duration(time_to_dry, "time_to_dry"))
    return frame(LOSS_COLUMNS, [depths_out(np.asarray(getattr(split, name)), si)
                                for name in LOSS_COLUMNS], rainfall.index)


def run_clark_uh(rainfall: pd.Series[float], basin_area: float, tc: Duration,
                 storage_r: Duration, *, units: Units = "us") -> pd.Series[float]:
    """Turns excess rainfall into a direct runoff hydrograph with the Clark unit hydrograph.

    `rainfall` holds the excess depth of each step (in or mm), `basin_area` is in acres or
    km². Returns the discharge (cfs or m³/s) at every step from the rainfall's first label
    until the recession has delivered the storm, so past the rainfall's last label.
    """
    si = is_si(units)
    rain, step = depths(rainfall, "rainfall")
    runoff = hydrokit.rainfall_transform.run_clark_uh(
        IncrementalTimeSeries(depths_in(rain, si), step, "rainfall"),
        area_in(physical(basin_area, "basin_area"), si), duration(tc, "tc"),
        duration(storage_r, "storage_r"))
    values = discharges_out(np.asarray(runoff), si)
    return on_clock(values, instants(rainfall, step, 0, values.size), "direct_runoff")


def layers_in_cfs(reservoirs: dict[str, Any], si: bool) -> dict[str, Any]:
    """The layers with each `initial_q` in cfs. Each copy takes the writable attributes by
    assignment, so that they skip the constructor's range checks as the caller's did; what
    the core would refuse goes on as it is."""
    if not si or not isinstance(reservoirs, dict):
        return reservoirs
    converted: dict[str, Any] = {}
    for name, layer in reservoirs.items():
        if isinstance(layer, LinearReservoir):
            copy = LinearReservoir(layer.k_duration, 0.0, 0.0)
            copy.gw_fraction = layer.gw_fraction
            copy.initial_q = discharge_in(layer.initial_q, si)
            copy.num_reservoir = layer.num_reservoir
            layer = copy
        converted[name] = layer
    return converted


def run_linear_reservoir(basin_area: float, rainfall: pd.Series[float],
                         reservoirs: dict[str, hydrokit.baseflow.LinearReservoir], *,
                         units: Units = "us") -> tuple[pd.Series[float], pd.DataFrame]:
    """Routes infiltrated rainfall through named chains of linear reservoirs into baseflow.

    `basin_area` is in acres or km², `rainfall` the infiltrated depth of each step (in or
    mm), each layer's `initial_q` in cfs or m³/s. Returns the total baseflow and a
    DataFrame of each layer's, in cfs or m³/s, at the end of each rainfall step: the
    rainfall's index one step later.
    """
    si = is_si(units)
    area = area_in(physical(basin_area, "basin_area"), si)
    rain, step = depths(rainfall, "rainfall")
    total, layers = hydrokit.baseflow.run_linear_reservoir(
        area, IncrementalTimeSeries(depths_in(rain, si), step, "rainfall"),
        layers_in_cfs(reservoirs, si))
    index = instants(rainfall, step, 1, rain.size)
    by_layer = frame(pd.Index(list(layers)),
                     [discharges_out(np.asarray(series), si) for series in layers.values()], index)
    return on_clock(discharges_out(np.asarray(total), si), index, "baseflow"), by_layer


def run_muskingum_routing(inflow: pd.Series[float], k: Duration, x: float, sub_reaches: int,
                          initial_outflow: float, *, units: Units = "us") -> pd.Series[float]:
    """Routes a hydrograph down a channel reach with the Muskingum method.

    The routing keeps the unit of its inflow, so nothing is converted: `initial_outflow` is
    in the inflow's unit. Returns the outflow on the inflow's index.
    """
    is_si(units)
    flow, step = regular(inflow, "inflow")
    routed = hydrokit.reach.run_muskingum_routing(
        ContinuousTimeSeries(flow, step, "discharge"), duration(k, "k"), x, sub_reaches,
        initial_outflow)
    return on_clock(np.asarray(routed), inflow.index, "outflow")


def run_level_pool_routing(
        inflow: pd.Series[float], initial_elevation: float,
        elevation_storage: reservoir_utils.ElevationStorage,
        discharge_info: Mapping[str, Outlet], *, units: Units = "us") -> pd.DataFrame:
    """Routes an inflow hydrograph through a reservoir (level pool).

    Nothing is converted: give the curves in one system, storage in m³ for inflow in m³/s
    and elevations in m, or ft³ for cfs and ft. Returns a DataFrame of `storage`,
    `elevation`, total `outflow` and one outflow column per outlet, from the inflow's
    second label on: the state at the end of each step. The first step's inflow is not
    routed; prepend the first value to route it.
    """
    is_si(units)
    flow, step = regular(inflow, "inflow")
    if flow.size < 2:
        raise ValueError("argument 'inflow': level pool routing needs at least two values")
    # Any mapping will do (a dict typed with one outlet class among them); what is none goes
    # on as it is, for the core to refuse.
    if isinstance(discharge_info, Mapping):
        discharge_info = dict(discharge_info)
        taken = [name for name in discharge_info if name in LEVEL_POOL_COLUMNS]
        if taken:
            raise ValueError(f"argument 'discharge_info': the outlet name {taken[0]!r} is a "
                             "column of the result; rename the outlet")
    pool = hydrokit.reservoir.run_level_pool_routing(
        ContinuousTimeSeries(flow, step, "discharge"), initial_elevation, elevation_storage,
        discharge_info)
    outlets = pool.reservoir_individual_outflows
    series = [pool.reservoir_storage, pool.reservoir_elevation, pool.reservoir_total_outflow,
              *outlets.values()]
    return frame(LEVEL_POOL_COLUMNS.append(pd.Index(list(outlets))),
                 [np.asarray(one) for one in series], inflow.index[1:])
