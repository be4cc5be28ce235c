"""``hydrokit.rainfall_transform``: excess rainfall to runoff."""

from datetime import timedelta

from ._utils import ContinuousTimeSeries, IncrementalTimeSeries

__all__ = ["run_clark_uh"]

def run_clark_uh(
    rainfall: IncrementalTimeSeries,
    basin_area: float,
    tc: timedelta,
    storage_r: timedelta,
) -> ContinuousTimeSeries:
    """Transforms excess rainfall into a runoff hydrograph using the Clark unit hydrograph.

    ``rainfall`` is excess rainfall in inches per time step, ``basin_area`` in
    acres, ``tc`` the time of concentration (shape and duration of the
    translation hydrograph), ``storage_r`` the linear reservoir storage
    coefficient (attenuation).

    Returns a ``ContinuousTimeSeries`` (kind=discharge, cfs) at the same time
    step as ``rainfall``. Raises ``ValueError`` for a negative ``tc`` or
    ``storage_r``.
    """
