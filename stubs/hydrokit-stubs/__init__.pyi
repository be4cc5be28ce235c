"""Hydrologic computations: rainfall loss, Clark unit hydrograph, linear-reservoir
baseflow, Muskingum and level pool routing, Kling-Gupta efficiency.

``hydrokit`` is one extension module, not a package: its submodules are
attributes only. ``from hydrokit import utils`` and
``hydrokit.reservoir.reservoir_utils.ElevationStorage`` work, while
``import hydrokit.utils`` fails with ``ModuleNotFoundError``. The submodule
stubs live in private files so that a type checker rejects that import too.

Errors: arguments of the wrong type raise ``TypeError`` naming the parameter,
invalid values raise ``ValueError``. A broken internal precondition raises
``pyo3_runtime.PanicException``, a ``BaseException`` subclass (not an
``Exception``) that is not an attribute of any hydrokit module; the functions
and methods that can raise it say so.
"""

from . import _baseflow as baseflow
from . import _metrics as metrics
from . import _rainfall_loss as rainfall_loss
from . import _rainfall_transform as rainfall_transform
from . import _reach as reach
from . import _reservoir as reservoir
from . import _utils as utils

__all__ = [
    "utils",
    "reach",
    "reservoir",
    "rainfall_transform",
    "rainfall_loss",
    "baseflow",
    "metrics",
]
