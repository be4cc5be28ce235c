"""The Kling-Gupta efficiency of two labelled series, paired on their index."""

from __future__ import annotations

from typing import Any, Literal

import numpy as np
import pandas as pd

import hydrokit

from ._clock import as_step, fixed_length, labels, shown, spacings, tick

type Missing = Literal["omit", "propagate", "raise"]
MISSING = ("omit", "propagate", "raise")


def _smallest_step(series: pd.Series[Any], argument: str) -> pd.Timedelta | None:
    """The step of a record that may have gaps; None for one label without a freq."""
    index = labels(series, argument)
    step = tick(index)
    if step is not None:
        return step
    if len(index) == 1:
        return None if index.freq is None else fixed_length(index.freq, argument)
    return as_step(spacings(index, argument).min(), index)


def calculate_kge(sim: pd.Series[float], obs: pd.Series[float], use_log: bool = False, *,
                  missing: Missing = "omit") -> float:
    """The Kling-Gupta efficiency of `sim` against `obs`, paired on their index.

    The pairs are the labels of the span that both series cover; a label that one series
    lacks there counts as a missing value, as does NaN or `<NA>`. `missing="omit"` leaves
    those pairs out, `"propagate"` keeps them (the efficiency is then NaN), `"raise"`
    refuses them. At least two pairs must remain. The series must be on the same step.
    """
    if not (isinstance(missing, str) and missing in MISSING):
        raise ValueError("argument 'missing': must be 'omit', 'propagate' or 'raise', not "
                         f"{missing!r}")
    sim_step, obs_step = _smallest_step(sim, "sim"), _smallest_step(obs, "obs")
    if sim_step is not None and obs_step is not None and sim_step != obs_step:
        raise ValueError(f"arguments 'sim' and 'obs': the series are on different steps "
                         f"({shown(sim_step)} and {shown(obs_step)}); resample one to the other's")
    if sim.index.equals(obs.index):
        paired_sim, paired_obs = sim, obs
    else:
        first, last = max(sim.index[0], obs.index[0]), min(sim.index[-1], obs.index[-1])
        if first > last:
            raise ValueError(f"arguments 'sim' and 'obs': the series do not overlap (sim "
                             f"from {sim.index[0]} to {sim.index[-1]}, obs from "
                             f"{obs.index[0]} to {obs.index[-1]})")
        paired_sim, paired_obs = sim.loc[first:last].align(obs.loc[first:last], join="outer")
    values = {"sim": paired_sim.to_numpy(dtype=np.float64, na_value=np.nan),
              "obs": paired_obs.to_numpy(dtype=np.float64, na_value=np.nan)}
    gaps = np.isnan(values["sim"]) | np.isnan(values["obs"])
    if missing == "raise" and gaps.any():
        at = int(np.argmax(gaps))
        side = "sim" if np.isnan(values["sim"][at]) else "obs"
        raise ValueError(f"argument '{side}': no value at {paired_sim.index[at]} "
                         f"({int(gaps.sum())} of {gaps.size} pairs lack one); "
                         "missing='omit' leaves such pairs out")
    if missing == "omit":
        values = {name: array[~gaps] for name, array in values.items()}
    pairs = values["obs"].size
    if pairs < 2:
        raise ValueError(f"arguments 'sim' and 'obs': {pairs} {'pair' if pairs == 1 else 'pairs'} "
                         "of values to score; the efficiency needs at least two")
    return hydrokit.metrics.calculate_kge(values["sim"], values["obs"], use_log)
