"""``hydrokit.reservoir``: level pool routing through a reservoir."""

from typing import Never, Self, TypeVar, overload

from . import _reservoir_utils as reservoir_utils
from ._reservoir_utils import (
    ConstantDischargeInfo,
    ControlledDischargeInfo,
    ElevationStorage,
    SpecifiedDischargeInfo,
    UnControlledDischargeInfo,
)
from ._utils import ContinuousTimeSeries

__all__ = ["reservoir_utils", "run_level_pool_routing", "LevelPoolResult"]

_Outlet = TypeVar(
    "_Outlet",
    bound=UnControlledDischargeInfo
    | ControlledDischargeInfo
    | SpecifiedDischargeInfo
    | ConstantDischargeInfo,
)

# Two forms because dict is invariant: the first takes a literal dict that
# mixes outlet kinds, the second a dict already typed with one outlet class.
@overload
def run_level_pool_routing(
    inflow: ContinuousTimeSeries,
    initial_elevation: float,
    elevation_storage: ElevationStorage,
    discharge_info: dict[
        str,
        UnControlledDischargeInfo
        | ControlledDischargeInfo
        | SpecifiedDischargeInfo
        | ConstantDischargeInfo,
    ],
) -> LevelPoolResult:
    """Performs level pool (modified Puls) routing for a reservoir.

    Integrates the mass balance equation ``dS/dt = I - O`` over the inflow
    hydrograph duration in one-second sub-steps; output series are recorded
    at the inflow's time step. ``discharge_info`` maps outlet names to outlets
    of the four ``reservoir_utils`` kinds.

    Raises ``ValueError`` if any outlet's discharge calculation fails or if
    the initial elevation or a storage leaves the elevation-storage curve,
    ``RuntimeError`` from a specified outlet asked without elapsed time, and
    ``pyo3_runtime.PanicException`` (a ``BaseException``) for an empty
    ``inflow``, an elevation-storage curve of fewer than two points or a NaN
    elevation reaching a rating curve.
    """

@overload
def run_level_pool_routing(
    inflow: ContinuousTimeSeries,
    initial_elevation: float,
    elevation_storage: ElevationStorage,
    discharge_info: dict[str, _Outlet],
) -> LevelPoolResult: ...

class LevelPoolResult:
    """Results from a level pool routing simulation.

    Made only by ``run_level_pool_routing``; calling the class raises ``TypeError``.
    """

    def __new__(cls, not_constructible: Never, /) -> Self: ...
    @property
    def reservoir_storage(self) -> ContinuousTimeSeries:
        """Reservoir storage volume at each output time step (kind=volume)."""

    @property
    def reservoir_elevation(self) -> ContinuousTimeSeries:
        """Water surface elevation at each output time step (kind=elevation)."""

    @property
    def reservoir_total_outflow(self) -> ContinuousTimeSeries:
        """Combined outflow from all outlets at each output time step (kind=discharge)."""

    @property
    def reservoir_individual_outflows(self) -> dict[str, ContinuousTimeSeries]:
        """Per-outlet outflow time series keyed by outlet name (key order unspecified)."""
