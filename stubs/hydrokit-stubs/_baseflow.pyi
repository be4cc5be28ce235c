"""``hydrokit.baseflow``: infiltrated rainfall to baseflow through linear reservoirs."""

from datetime import timedelta
from typing import Self, final

from ._utils import ContinuousTimeSeries, IncrementalTimeSeries

__all__ = ["run_linear_reservoir", "LinearReservoir"]

def run_linear_reservoir(
    basin_area: float,
    rainfall: IncrementalTimeSeries,
    reservoirs: dict[str, LinearReservoir],
) -> tuple[ContinuousTimeSeries, dict[str, ContinuousTimeSeries]]:
    """Routes infiltrated rainfall through multiple named linear reservoirs to produce baseflow.

    ``basin_area`` is in acres, ``rainfall`` the infiltrated rainfall in inches
    per time step, ``reservoirs`` the named groundwater layers.

    Returns the total baseflow and a dict of each layer's baseflow by name,
    all ``ContinuousTimeSeries`` of kind discharge (cfs) at the rainfall's
    time step. The dict's key order is unspecified.

    Raises ``ValueError`` if the sum of all fractions exceeds 1.0, or any
    reservoir fails its stability check (``k_duration / num_reservoir`` shorter
    than half a time step).
    """

@final
class LinearReservoir:
    """Configuration for a single linear reservoir groundwater layer.

    A linear reservoir models groundwater storage with the recurrence relation
    ``Q[t] = C * I[t] + (1 - C) * Q[t-1]``, where ``C = dt / (K + 0.5*dt)``.
    Chaining ``num_reservoir`` reservoirs in series produces a more peaked,
    delayed response.

    Raises ``ValueError`` for a ``k_duration`` that is negative or under one
    second, a ``gw_fraction`` outside 0 to 1 or a ``num_reservoir`` of 0, and
    ``OverflowError`` for a negative ``num_reservoir``. The three writable
    attributes are stored without these checks.
    """

    def __new__(
        cls, k_duration: timedelta, gw_fraction: float, initial_q: float, num_reservoir: int = 1
    ) -> Self: ...
    @property
    def k_duration(self) -> timedelta:
        """Returns the storage time constant as a Python ``timedelta`` (whole seconds)."""

    @property
    def gw_fraction(self) -> float:
        """Fraction of rainfall loss that contributes to this reservoir's baseflow.
        Must be in [0.0, 1.0].
        """

    @gw_fraction.setter
    def gw_fraction(self, value: float) -> None: ...
    @property
    def initial_q(self) -> float:
        """Initial discharge at the start of the simulation (e.g., cfs)."""

    @initial_q.setter
    def initial_q(self, value: float) -> None: ...
    @property
    def num_reservoir(self) -> int:
        """Number of linear reservoirs chained in series."""

    @num_reservoir.setter
    def num_reservoir(self, value: int) -> None: ...
