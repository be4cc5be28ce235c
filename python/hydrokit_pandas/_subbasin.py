"""A sub-basin in one call: loss, Clark runoff and baseflow joined on one clock."""

from __future__ import annotations

import numpy as np
import pandas as pd

import hydrokit

from ._clock import Duration, depths, duration, frame, instants
from ._computations import IncrementalTimeSeries, layers_in_cfs
from ._units import (Units, area_in, depth_in, depths_in, depths_out, discharges_out, is_si,
                     physical)

COLUMNS = pd.Index(["excess", "loss", "direct_runoff", "baseflow", "total"])


def run_subbasin(rainfall: pd.Series[float], initial_deficit: float, max_deficit: float,
                 constant_loss_per_hr: float, time_to_dry: Duration, basin_area: float,
                 tc: Duration, storage_r: Duration,
                 reservoirs: dict[str, hydrokit.baseflow.LinearReservoir], *,
                 units: Units = "us") -> pd.DataFrame:
    """Gross rainfall to the flow out of a sub-basin: the loss splits it, the excess runs
    off through the Clark unit hydrograph and the loss feeds the baseflow layers.

    The parameters are those of `run_deficit_and_constant`, `run_clark_uh` and
    `run_linear_reservoir`, in that order. Returns a DataFrame on the runoff's clock, from
    the rainfall's first label until the recession ends: the `excess` and `loss` depths of
    each step (no rain falls after the rainfall's last step), and the `direct_runoff`,
    `baseflow` and `total` discharge at each label, the baseflow starting from the sum of
    the layers' `initial_q`.
    """
    si = is_si(units)
    rain, step = depths(rainfall, "rainfall")
    split = hydrokit.rainfall_loss.run_deficit_and_constant(
        IncrementalTimeSeries(depths_in(rain, si), step, "rainfall"),
        depth_in(physical(initial_deficit, "initial_deficit"), si),
        depth_in(physical(max_deficit, "max_deficit"), si),
        depth_in(physical(constant_loss_per_hr, "constant_loss_per_hr"), si),
        duration(time_to_dry, "time_to_dry"))
    area = area_in(physical(basin_area, "basin_area"), si)
    runoff = hydrokit.rainfall_transform.run_clark_uh(split.excess, area, duration(tc, "tc"),
                                                      duration(storage_r, "storage_r"))
    direct = discharges_out(np.asarray(runoff), si)
    # Dry steps after the storm, so that the baseflow covers the whole runoff hydrograph.
    dry = np.zeros(direct.size - rain.size)
    excess, loss = (np.concatenate((np.asarray(series), dry)) for series in (split.excess,
                                                                              split.loss))
    total, _ = hydrokit.baseflow.run_linear_reservoir(
        area, IncrementalTimeSeries(loss, step, "rainfall"), layers_in_cfs(reservoirs, si))
    # Runoff value k is the flow at k steps, baseflow value k at the end of step k: on the
    # runoff's clock the baseflow starts from the layers' initial flows.
    at_start = sum(layer.initial_q for layer in reservoirs.values())
    baseflow = np.concatenate(([at_start], discharges_out(np.asarray(total)[:-1], si)))
    return frame(COLUMNS, [depths_out(excess, si), depths_out(loss, si), direct, baseflow,
                           direct + baseflow], instants(rainfall, step, 0, direct.size))
