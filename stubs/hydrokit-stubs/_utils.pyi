"""``hydrokit.utils``: the two time series classes that every computation takes and returns."""

from datetime import timedelta
from typing import Self

from ._typing import FloatSequence, Kind

__all__ = ["ContinuousTimeSeries", "IncrementalTimeSeries"]

class ContinuousTimeSeries:
    """A uniformly-spaced time series where each value represents a quantity at a
    discrete point in time (e.g. discharge, elevation, storage).

    Total duration spans first to last point: ``time_step * (len(data) - 1)``.
    The values are copied at construction; the series cannot be changed.

    Raises ``ValueError`` when ``kind`` is not one of the four kinds, when
    ``time_step`` is negative or shorter than one second (fractions of a
    second are cut off).
    """

    def __new__(cls, data: FloatSequence, time_step: timedelta, kind: Kind) -> Self: ...
    def __buffer__(self, flags: int, /) -> memoryview:
        """The values, read-only and without a copy (``numpy.asarray(series)``)."""

    @property
    def data(self) -> list[float]:
        """A new list holding a copy of the values on every read."""

    @property
    def time_step(self) -> timedelta:
        """The spacing of the points, in whole seconds."""

    @property
    def kind(self) -> Kind:
        """What the values measure."""

    def total_duration(self) -> int:
        """Total duration from first to last data point (seconds)."""

class IncrementalTimeSeries:
    """A uniformly-spaced time series where each value represents a quantity
    accumulated over one time step interval (e.g. rainfall depth, volume added).

    Total duration spans all intervals: ``time_step * len(data)``. Checked and
    copied at construction like ``ContinuousTimeSeries``.
    """

    def __new__(cls, data: FloatSequence, time_step: timedelta, kind: Kind) -> Self: ...
    def __buffer__(self, flags: int, /) -> memoryview:
        """The values, read-only and without a copy (``numpy.asarray(series)``)."""

    @property
    def data(self) -> list[float]:
        """A new list holding a copy of the values on every read."""

    @property
    def time_step(self) -> timedelta:
        """The length of each interval, in whole seconds."""

    @property
    def kind(self) -> Kind:
        """What the values measure."""

    def total_duration(self) -> int:
        """Total duration spanning all time step intervals (seconds)."""

    def disaggregate(self, target_step: int) -> IncrementalTimeSeries:
        """Disaggregates to a finer ``target_step`` (seconds, a plain int) by
        uniformly distributing each bucket's value. Total depth is preserved.

        Raises ``ValueError`` when ``target_step`` is below 30 seconds or does
        not divide the time step, ``OverflowError`` beyond the 32-bit range.
        """
