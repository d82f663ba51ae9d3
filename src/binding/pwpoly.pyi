"""Piecewise polynomial functions of time on a uniform grid of [0, T].

Coefficient layout: a flat list of n_t * (degree + 1) floats; the coefficient
of Legendre polynomial P_i on interval k is at index k + n_t * i (interval
index fastest).

Internal failures raise ``PanicException`` (module ``pwpoly_runtime``, a
subclass of ``BaseException``, not of ``Exception``); it is not an attribute
of this module.
"""

from collections.abc import Iterator, Sequence
from typing import Any, Protocol, SupportsFloat, SupportsIndex, final

from typing_extensions import TypeAlias

__all__ = [
    "sum_as_string",
    "lagrange_to_legendre_basis_transformation",
    "get_lagrange_points",
    "LegendreBasis",
    "LegendreBasisEvaluator",
]

# A float parameter takes a float, or anything with __float__ or __index__.
_Float: TypeAlias = SupportsFloat | SupportsIndex

class _NumericArray(Protocol):
    """A numeric array with the sequence protocol, such as a numpy array."""

    def __array__(self) -> Any: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _Float: ...
    def __iter__(self) -> Iterator[_Float]: ...

# Coefficients: any sequence of numbers (list, tuple, range, bytes,
# array.array, numpy array). str, dict, set and iterators are refused.
_Floats: TypeAlias = Sequence[_Float] | _NumericArray

def sum_as_string(a: SupportsIndex, b: SupportsIndex) -> str:
    """Decimal text of a + b for unsigned 32-bit a and b, without wrap-around."""

def lagrange_to_legendre_basis_transformation(
    degree: SupportsIndex, n_t: SupportsIndex
) -> tuple[list[int], list[int], list[float]]:
    """The sparse Lagrange-to-Legendre matrix as (rows, columns, values).

    Shape (degree + 1) * n_t by n_t * degree + 1. Row p * n_t + k is the
    coefficient of P_p on interval k; column g is Lagrange node g. Triplets
    come in row-major order. Raises PanicException for degree 0.
    """

def get_lagrange_points(degree: SupportsIndex, n_t: SupportsIndex, T: _Float) -> list[float]:
    """The n_t * degree + 1 equidistant Lagrange nodes of [0, T], shared ends once."""

@final
class LegendreBasis:
    """A piecewise Legendre basis: degree, n_t intervals of [0, T]."""

    def __new__(cls, degree: SupportsIndex, n_t: SupportsIndex, T: _Float) -> LegendreBasis: ...
    def evaluate_at(self, t: _Float, legendre_vals: _Floats) -> float:
        """Value at t of the expansion whose coefficients are the first N items.

        N = n_t * (degree + 1); fewer items raise PanicException.
        """

    def evaluate_all_basis_functions(self, t: _Float) -> list[float]:
        """Values at t of all n_t * (degree + 1) basis functions, in coefficient layout."""

    def evaluate_all_basis_function_derivatives(self, t: _Float) -> list[float]:
        """Time derivatives at t of all basis functions, in coefficient layout."""

@final
class LegendreBasisEvaluator:
    """Class to evaluate legendre basis more often without copying the dofs from python each time"""

    def __new__(
        cls, degree: SupportsIndex, n_t: SupportsIndex, T: _Float
    ) -> LegendreBasisEvaluator: ...
    def set_dofs(self, legendre_vals: _Floats) -> None:
        """Stores exactly n_t * (degree + 1) coefficients; another length raises PanicException."""

    def evaluate_at(self, t: _Float) -> float:
        """Value at t of the stored expansion."""

    def evaluate_derivative_at(self, t: _Float) -> float:
        """Time derivative at t of the stored expansion."""
