"""The two unit systems and the conversions between them.

The core works in US customary units (inches, inches per hour, acres, cfs). With
``units="si"`` depths come in millimetres, rates in mm/h, areas in km² and discharges in
m³/s; they are converted with the constants below on the way in and on the way out, so a
result is the one a careful hand-written conversion gives, bit for bit.
"""

from __future__ import annotations

import numbers
from typing import Literal

import numpy as np
import numpy.typing as npt

type Units = Literal["us", "si"]
type Values = npt.NDArray[np.float64]

MM_PER_INCH = 25.4
ACRES_PER_KM2 = 247.105381
CFS_PER_M3S = 35.3146667


def is_si(units: object) -> bool:
    """Whether a call works in SI; anything but the two names is refused."""
    if isinstance(units, str) and units in ("us", "si"):
        return units == "si"
    raise ValueError(f"argument 'units': must be 'us' or 'si', not {units!r}")


def physical(value: float, argument: str) -> float:
    """An area, depth or rate: a negative one (or NaN) has no physical meaning. What is not
    a number goes on as it is, for the core to refuse with its own message."""
    if isinstance(value, numbers.Real) and not value >= 0:
        raise ValueError(f"argument '{argument}': must be zero or more, not {float(value)!r}")
    return value


# Scalars that are not numbers pass unconverted, for the same reason.
def depth_in(value: float, si: bool) -> float:
    """mm (or mm/h) to inches (or in/h)."""
    return value / MM_PER_INCH if si and isinstance(value, numbers.Real) else value


def area_in(value: float, si: bool) -> float:
    """km² to acres."""
    return value * ACRES_PER_KM2 if si and isinstance(value, numbers.Real) else value


def discharge_in(value: float, si: bool) -> float:
    """m³/s to cfs."""
    return value * CFS_PER_M3S if si and isinstance(value, numbers.Real) else value


def depths_in(values: Values, si: bool) -> Values:
    return values / MM_PER_INCH if si else values


def depths_out(values: Values, si: bool) -> Values:
    return values * MM_PER_INCH if si else values


def discharges_out(values: Values, si: bool) -> Values:
    return values / CFS_PER_M3S if si else values
