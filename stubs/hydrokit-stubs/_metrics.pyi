"""``hydrokit.metrics``: goodness of fit."""

from ._typing import FloatSequence

__all__ = ["calculate_kge"]

def calculate_kge(sim: FloatSequence, obs: FloatSequence, use_log: bool = False) -> float:
    """Calculates the Kling-Gupta Efficiency between simulated and observed series.

    ``KGE = 1 - sqrt((r-1)² + (β-1)² + (γ-1)²)`` with ``r`` the Pearson
    correlation, ``β`` the ratio of the means and ``γ`` the ratio of the
    standard deviations; 1 is a perfect match. ``use_log=True`` transforms
    both series with ``ln(x + ε)`` first, which emphasises low flows. Pass the
    ``data`` of a series, not the series itself.

    Raises ``ValueError`` when ``obs`` is empty or the lengths differ.
    """
