"""``hydrokit.rainfall_loss``: gross rainfall to excess and loss."""

from datetime import timedelta
from typing import Never, Self

from ._utils import IncrementalTimeSeries

__all__ = ["DeficitConstantResult", "run_deficit_and_constant"]

class DeficitConstantResult:
    """Results from the deficit-and-constant rainfall loss model.

    Made only by ``run_deficit_and_constant``; calling the class raises ``TypeError``.
    """

    def __new__(cls, not_constructible: Never, /) -> Self: ...
    @property
    def excess(self) -> IncrementalTimeSeries:
        """Excess rainfall that becomes surface runoff (inches per time step)."""

    @property
    def loss(self) -> IncrementalTimeSeries:
        """Total infiltrated depth per time step (constant loss + deficit fill, inches)."""

    @property
    def deficit(self) -> IncrementalTimeSeries:
        """Running soil moisture deficit at the end of each time step (inches)."""

def run_deficit_and_constant(
    rainfall: IncrementalTimeSeries,
    initial_deficit: float,
    max_deficit: float,
    constant_loss_per_hr: float,
    time_to_dry: timedelta,
) -> DeficitConstantResult:
    """Separates gross rainfall into excess runoff and infiltration losses using the
    deficit-and-constant model.

    ``rainfall`` is gross rainfall in inches per time step; ``initial_deficit``
    and ``max_deficit`` (soil moisture storage capacity) are inches,
    ``constant_loss_per_hr`` inches per hour, ``time_to_dry`` the
    characteristic drying time of the deficit recovery.

    Returns a ``DeficitConstantResult`` with ``excess``, ``loss`` and
    ``deficit`` series. Raises ``ValueError`` for a negative ``time_to_dry``.
    """
