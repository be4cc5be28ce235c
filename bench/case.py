"""What one benchmark case is made of, and how its results are compared."""

from dataclasses import dataclass, field
from typing import Callable

import numpy as np


@dataclass
class Contender:
    name: str
    call: Callable[[], object]
    # The computed values of one call's result, as float64 arrays in a fixed order.
    values: Callable[[object], list]
    # Same operations in the same order as hydrokit, so the values must be identical.
    exact: bool = True
    # Issue 8's target: the least acceptable ratio of this peer's time to hydrokit's.
    target: float | None = None
    # Or the largest, for a peer that is hydrokit too and may cost only so much more.
    ceiling: float | None = None
    # Why the peer cannot run here (an optional package that did not install).
    missing: str | None = None


@dataclass
class Case:
    name: str
    hydrokit: Contender
    peers: list[Contender]
    notes: list[str] = field(default_factory=list)
    # Units of work per call and their name, for a throughput note (e.g. level pool sub-steps).
    work: tuple[int, str] | None = None
    # The peers wrap hydrokit's calls, this many to a contender's call: a note gives each
    # peer's cost per call on top of hydrokit's.
    wrapped_calls: int | None = None
    # Notes made from the medians (seconds by contender name), such as a cost per storm.
    timing_notes: Callable[[dict], list[str]] | None = None


def series_buffer_supported(series):
    try:
        memoryview(series)
    except TypeError:
        return False
    return True


def series_values(series):
    """A series' values as a float64 array: through the buffer protocol where the series
    exports one, else from its `data` list."""
    if series_buffer_supported(series):
        return np.asarray(series)
    return np.asarray(series.data)


def largest_relative_difference(left, right):
    """max |a - b| / max(|a|, |b|) over the elements, 0 where both are 0; inf on a length or
    NaN-position mismatch."""
    if left.shape != right.shape or not np.array_equal(np.isnan(left), np.isnan(right)):
        return float("inf")
    finite = ~np.isnan(left)
    a, b = left[finite], right[finite]
    scale = np.maximum(np.abs(a), np.abs(b))
    nonzero = scale > 0
    if not nonzero.any():
        return 0.0
    return float(np.max(np.abs(a - b)[nonzero] / scale[nonzero]))


def bits(values):
    """Bit patterns, so that -0.0 and 0.0 count as different values."""
    return np.ascontiguousarray(values).view(np.uint64)


def compare(reference, values):
    """(identical, largest relative difference) over all the arrays of two results."""
    if len(reference) != len(values):
        return False, float("inf")
    pairs = [(np.asarray(r, dtype=np.float64), np.asarray(v, dtype=np.float64))
             for r, v in zip(reference, values)]
    identical = all(r.shape == v.shape and np.array_equal(bits(r), bits(v)) for r, v in pairs)
    worst = max(largest_relative_difference(r, v) for r, v in pairs)
    return identical, worst
