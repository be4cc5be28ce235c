"""``hydrokit.reservoir.reservoir_utils``: rating curves and the four outlet kinds."""

from typing import Self

from ._typing import FloatSequence
from ._utils import ContinuousTimeSeries

__all__ = [
    "ElevationDischarge",
    "ElevationStorage",
    "ControlledDischargeInfo",
    "UnControlledDischargeInfo",
    "SpecifiedDischargeInfo",
    "ConstantDischargeInfo",
]

class ElevationDischarge:
    """Elevation-discharge rating curve for a reservoir outlet.

    ``elevation`` must be strictly increasing, ``discharge`` (e.g. cfs) must
    not decrease, both of the same length and at least two points; otherwise
    ``ValueError``.
    """

    def __new__(cls, elevation: FloatSequence, discharge: FloatSequence) -> Self: ...
    @property
    def elevation(self) -> list[float]:
        """A new list of the stored elevations."""

    @property
    def discharge(self) -> list[float]:
        """A new list of the stored discharges."""

class ElevationStorage:
    """Elevation-storage rating curve for a reservoir.

    Storage units must be consistent with the inflow units used in level pool
    routing (e.g. ft³ when inflow is in cfs). Both sequences must be strictly
    increasing and of the same length; otherwise ``ValueError``.
    """

    def __new__(cls, elevation: FloatSequence, storage: FloatSequence) -> Self: ...
    @property
    def elevation(self) -> list[float]:
        """A new list of the stored elevations."""

    @property
    def storage(self) -> list[float]:
        """A new list of the stored storages."""

    def get_elevation(self, storage: float) -> float:
        """Interpolates the elevation corresponding to a given storage value.

        Raises ``ValueError`` if ``storage`` is outside the range of the curve,
        and ``pyo3_runtime.PanicException`` (a ``BaseException``) for a NaN
        ``storage`` or a curve of fewer than two points.
        """

    def get_storage(self, elevation: float) -> float:
        """Interpolates the storage corresponding to a given elevation.

        Raises ``ValueError`` if ``elevation`` is outside the range of the curve,
        and ``pyo3_runtime.PanicException`` (a ``BaseException``) for a NaN
        ``elevation`` or a curve of fewer than two points.
        """

class ControlledDischargeInfo:
    """Controlled release outlet (e.g., gate, valve, conduit).

    Discharge is read from the rating curve and can be bounded by
    minimum/maximum elevation gates and a maximum release cap. Below
    ``minimum_elevation`` or above ``maximum_elevation`` the outlet releases
    zero flow; ``minimum_elevation`` defaults to the curve's lowest elevation.
    """

    def __new__(
        cls,
        elevation_discharge: ElevationDischarge,
        minimum_elevation: float | None = None,
        maximum_elevation: float | None = None,
        maximum_release: float | None = None,
    ) -> Self: ...
    @property
    def elevation_discharge(self) -> ElevationDischarge:
        """Rating curve mapping elevation to discharge."""

    @property
    def minimum_elevation(self) -> float:
        """Elevation below which no discharge occurs."""

    @property
    def maximum_elevation(self) -> float | None:
        """Elevation above which no discharge occurs."""

    @property
    def maximum_release(self) -> float | None:
        """Cap on the maximum allowable discharge."""

class UnControlledDischargeInfo:
    """Uncontrolled spillway outlet.

    Discharge follows the rating curve without operator control; an optional
    ``elevation_offset`` is added to the reservoir elevation before the lookup
    (a weir crest on another datum). Zero below the curve's first elevation.
    """

    def __new__(
        cls, elevation_discharge: ElevationDischarge, elevation_offset: float | None = None
    ) -> Self: ...
    @property
    def elevation_discharge(self) -> ElevationDischarge:
        """Rating curve mapping elevation to discharge."""

    @property
    def elevation_offset(self) -> float | None:
        """Additive offset applied to the reservoir elevation before curve lookup."""

class SpecifiedDischargeInfo:
    """Time-varying specified discharge outlet.

    Discharge is read from ``discharge`` at each simulation time step,
    optionally gated by elevation bounds and a maximum release cap. Routing
    past the end of the series raises ``ValueError``.
    """

    def __new__(
        cls,
        discharge: ContinuousTimeSeries,
        minimum_elevation: float | None = None,
        maximum_elevation: float | None = None,
        maximum_release: float | None = None,
    ) -> Self: ...
    @property
    def discharge(self) -> ContinuousTimeSeries:
        """Time series of prescribed outflow values (kind=discharge)."""

    @property
    def minimum_elevation(self) -> float | None: ...
    @property
    def maximum_elevation(self) -> float | None: ...
    @property
    def maximum_release(self) -> float | None: ...

class ConstantDischargeInfo:
    """Constant-rate discharge outlet.

    Releases a fixed flow rate at every time step, optionally gated by
    elevation bounds; outside them the outlet releases zero flow.
    """

    def __new__(
        cls,
        discharge: float,
        minimum_elevation: float | None = None,
        maximum_elevation: float | None = None,
    ) -> Self: ...
    @property
    def discharge(self) -> float:
        """Constant discharge rate (e.g., cfs)."""

    @property
    def minimum_elevation(self) -> float | None:
        """Elevation below which no discharge occurs."""

    @property
    def maximum_elevation(self) -> float | None:
        """Elevation above which no discharge occurs."""
