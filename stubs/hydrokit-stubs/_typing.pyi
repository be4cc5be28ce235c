"""Types shared by the hydrokit stubs; nothing here exists at runtime."""

from collections.abc import Sequence
from typing import Any, Literal, Protocol, TypeAlias, type_check_only

@type_check_only
class NumericArray(Protocol):
    """A one-dimensional numeric array such as a float64 ``numpy.ndarray``.

    hydrokit reads it as a sequence: its length, then every item as a float.
    """

    def __array__(self) -> Any: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> Any: ...

FloatSequence: TypeAlias = Sequence[float] | NumericArray
"""Numbers as a list, tuple, range, ``array.array`` or numeric numpy array; never a ``str``."""

Kind: TypeAlias = Literal["discharge", "rainfall", "elevation", "volume"]
"""What a series measures; any other text raises ``ValueError``."""
