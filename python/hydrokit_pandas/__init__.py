"""hydrokit for pandas: the six computations on series with a DatetimeIndex, in US or SI
units, each output indexed where it sits in time.

Every function takes the core's parameters in the core's order, a `pandas.Series` wherever
the core takes a series, and a keyword-only `units`: "us" (the default: inches, in/h,
acres, cfs, as the core) or "si" (mm, mm/h, km², m³/s). Durations may be
`datetime.timedelta`, `pandas.Timedelta`, `numpy.timedelta64` or a fixed pandas offset.
"""

try:
    import pandas as _pandas  # noqa: F401
except ImportError as error:
    raise ModuleNotFoundError("hydrokit_pandas needs pandas: pip install hydrokit[pandas]",
                              name="pandas") from error

from ._computations import (run_clark_uh, run_deficit_and_constant, run_level_pool_routing,
                            run_linear_reservoir, run_muskingum_routing)
from ._kge import calculate_kge
from ._subbasin import run_subbasin
from ._units import ACRES_PER_KM2, CFS_PER_M3S, MM_PER_INCH

__all__ = [
    "run_deficit_and_constant",
    "run_clark_uh",
    "run_linear_reservoir",
    "run_subbasin",
    "run_muskingum_routing",
    "run_level_pool_routing",
    "calculate_kge",
    "MM_PER_INCH",
    "ACRES_PER_KM2",
    "CFS_PER_M3S",
]
