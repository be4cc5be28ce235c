"""Series in and out: the time step read from a DatetimeIndex, durations of any of pandas'
and numpy's kinds, and the index each output gets from its place in time."""

from __future__ import annotations

from datetime import timedelta
from typing import Any

import numpy as np
import numpy.typing as npt
import pandas as pd
from pandas.tseries.offsets import BaseOffset

from ._units import Values

type Duration = timedelta | np.timedelta64 | pd.offsets.Tick | pd.offsets.Day

ONE_SECOND = pd.Timedelta(seconds=1)


def shown(step: pd.Timedelta) -> str:
    """A step as people read it: 1:00:00, 1 day, 0:00:00, 0:01:30.700000."""
    return str(step.to_pytimedelta())


def as_step(count: np.int64, index: pd.DatetimeIndex) -> pd.Timedelta:
    """A spacing counted in the index's units."""
    return pd.Timedelta(int(count), unit=index.unit)


def fixed_length(offset: BaseOffset, argument: str) -> pd.Timedelta:
    """A frequency of fixed length (Hour, Minute, Day...) as a Timedelta."""
    if isinstance(offset, pd.offsets.Tick):
        return pd.Timedelta(offset)
    if isinstance(offset, pd.offsets.Day):
        return pd.Timedelta(days=offset.n)
    raise ValueError(f"argument '{argument}': {offset!r} has no fixed length")


def duration(value: Duration, argument: str) -> timedelta:
    """A time constant as the core takes it. A timedelta (pandas' included) goes as it is."""
    if isinstance(value, timedelta):
        return value
    if isinstance(value, BaseOffset):
        return fixed_length(value, argument)
    if not isinstance(value, np.timedelta64):
        raise TypeError(f"argument '{argument}': must be a duration (datetime.timedelta, "
                        f"pandas.Timedelta, numpy.timedelta64 or a fixed pandas offset), not "
                        f"{type(value).__name__}")
    if np.isnat(value):
        raise ValueError(f"argument '{argument}': NaT is not a duration")
    try:
        return pd.Timedelta(value)
    except ValueError:
        raise ValueError(f"argument '{argument}': {value!r} has no fixed length") from None


def labels(series: pd.Series[Any], argument: str) -> pd.DatetimeIndex:
    """The DatetimeIndex of a non-empty series."""
    if not isinstance(series, pd.Series):
        raise TypeError(f"argument '{argument}': must be a pandas Series, not "
                        f"{type(series).__name__}")
    index = series.index
    if not isinstance(index, pd.DatetimeIndex):
        raise TypeError(f"argument '{argument}': the index must be a DatetimeIndex, not "
                        f"{type(index).__name__}")
    if len(index) == 0:
        raise ValueError(f"argument '{argument}': the series is empty")
    return index


def spacings(index: pd.DatetimeIndex, argument: str) -> npt.NDArray[np.int64]:
    """The time between successive labels, which must increase, in units of the index. The
    instants are absolute (UTC for an aware index), so that a change to or from
    daylight-saving time shows."""
    steps = np.diff(index.asi8)
    backwards = steps <= 0
    if backwards.any():
        raise ValueError(f"argument '{argument}': the index is not increasing at "
                         f"{index[int(np.argmax(backwards)) + 1]}")
    return steps


def tick(index: pd.DatetimeIndex) -> pd.Timedelta | None:
    """The step of an index whose freq is a fixed, increasing one: pandas keeps the labels
    to it, so they need no looking at. A Day (a Tick before pandas 3) follows the calendar
    on an aware index, 23 or 25 hours across a change of the clocks."""
    freq = index.freq
    if isinstance(freq, pd.offsets.Tick) and not isinstance(freq, pd.offsets.Day) and freq.n > 0:
        return pd.Timedelta(freq)
    return None


def _even_step(index: pd.DatetimeIndex, argument: str) -> pd.Timedelta:
    if len(index) == 1:
        if index.freq is None:
            raise ValueError(f"argument '{argument}': one value and no freq on its index: "
                             "the time step is unknown")
        return fixed_length(index.freq, argument)
    steps = spacings(index, argument)
    uneven = steps != steps[0]
    if uneven.any():
        at = int(np.argmax(uneven))
        raise ValueError(f"argument '{argument}': the index is not evenly spaced: "
                         f"{shown(as_step(steps[0], index))} apart up to {index[at]}, then "
                         f"{shown(as_step(steps[at], index))} to the next label; fill the "
                         "gaps or resample")
    return as_step(steps[0], index)


def regular(series: pd.Series[Any], argument: str) -> tuple[Values, pd.Timedelta]:
    """The values of an evenly spaced series as float64 (pandas' missing values as NaN) and
    its time step, a whole number of seconds: from the index's freq or from its labels."""
    index = labels(series, argument)
    step = tick(index)
    if step is None:
        step = _even_step(index, argument)
    if step % ONE_SECOND:
        raise ValueError(f"argument '{argument}': the time step {shown(step)} is not a whole "
                         "number of seconds")
    return numbers(series, argument), step


def numbers(series: pd.Series[Any], argument: str) -> Values:
    try:
        return series.to_numpy(dtype=np.float64, na_value=np.nan)
    except (TypeError, ValueError) as error:
        raise TypeError(f"argument '{argument}': the values must be numbers ({error})") from None


def depths(series: pd.Series[Any], argument: str) -> tuple[Values, pd.Timedelta]:
    """A rainfall series: regular, and no negative depth (NaN stays, as the core reads it)."""
    values, step = regular(series, argument)
    negative = values < 0
    if negative.any():
        at = int(np.argmax(negative))
        raise ValueError(f"argument '{argument}': a depth must be zero or more, not "
                         f"{float(values[at])!r} at {series.index[at]}")
    return values, step


def instants(series: pd.Series[Any], step: pd.Timedelta, first: int,
             count: int) -> pd.DatetimeIndex:
    """`count` instants one step apart, the first `first` steps after the series' start."""
    return pd.date_range(series.index[0] + first * step, periods=count, freq=step,
                         name=series.index.name)


def on_clock(values: Values, index: pd.Index, name: str) -> pd.Series[float]:
    # A view of a core series is read-only, and pandas before 3 would write into it.
    return pd.Series(values, index=index, name=name, copy=not values.flags.writeable)


def frame(columns: pd.Index, values: list[Values], index: pd.Index) -> pd.DataFrame:
    """Columns of the same length as one DataFrame, stacked in one block of its own. The
    column labels come as an Index: building one from names costs more than the frame."""
    if not values:
        return pd.DataFrame(index=index, columns=columns)
    return pd.DataFrame(np.stack(values, axis=1), index=index, columns=columns, copy=False)
