"""``hydrokit.reach``: channel routing."""

from datetime import timedelta

from ._utils import ContinuousTimeSeries

__all__ = ["run_muskingum_routing"]

def run_muskingum_routing(
    inflow: ContinuousTimeSeries,
    k: timedelta,
    x: float,
    sub_reaches: int,
    initial_outflow: float,
) -> ContinuousTimeSeries:
    """Routes an inflow hydrograph through a channel reach using the Muskingum method.

    The reach is divided into ``sub_reaches`` equal segments, each routed with
    the per-segment storage constant ``k / sub_reaches`` and the weighting
    factor ``x``; ``x`` outside ``[0.0, 0.5]`` issues a ``UserWarning`` and
    routing continues. ``initial_outflow`` (cfs) is required.

    Returns a ``ContinuousTimeSeries`` (kind=discharge) of routed outflow at
    the time step of ``inflow``.

    Raises ``ValueError`` for a negative ``k``, and
    ``pyo3_runtime.PanicException`` (a ``BaseException``) for an empty
    ``inflow``.
    """
