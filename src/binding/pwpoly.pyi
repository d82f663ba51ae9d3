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
    """Decimal text of a + b for unsigned 32-bit a and b, without wrap-around.

    Parameters
    ----------
    a, b
        Unsigned 32-bit integers (0 ... 4294967295).

    Returns
    -------
    str
        The true decimal sum: ``sum_as_string(4294967295, 1) == "4294967296"``,
        not a sum wrapped modulo 2**32.
    """

def lagrange_to_legendre_basis_transformation(
    degree: SupportsIndex, n_t: SupportsIndex
) -> tuple[list[int], list[int], list[float]]:
    """The sparse Lagrange-to-Legendre matrix as (rows, columns, values).

    Shape (degree + 1) * n_t by n_t * degree + 1. Row p * n_t + k is the
    coefficient of P_p on interval k; column g is Lagrange node g. Triplets
    come in row-major order. Raises PanicException for degree 0.

    Parameters
    ----------
    degree, n_t
        Unsigned 32-bit integers.

    Returns
    -------
    tuple[list[int], list[int], list[float]]
        Three aligned lists (row indices, column indices, values), each of
        length (degree + 1)**2 * n_t: row p * n_t + k holds degree + 1
        entries, at columns k * degree ... k * degree + degree, with the
        weights of one interval; exact zeros are stored too, and the matrix
        does not depend on T. ``n_t = 0`` gives ``([], [], [])``.

    Raises
    ------
    PanicException
        ``"Lagrange to Legendre conversion not meaningful for degree 0"`` for
        degree 0, whatever n_t; ``"Failed to invert Vandermonde matrix for
        Lagrange to Legendre conversion."`` if elimination meets an exactly
        zero pivot in the local Legendre-Vandermonde matrix;
        ``"capacity overflow"`` beyond the size limits (for example degree
        20000, whose (degree + 1)**2 weights do not fit).
    """

def get_lagrange_points(degree: SupportsIndex, n_t: SupportsIndex, T: _Float) -> list[float]:
    """The n_t * degree + 1 equidistant Lagrange nodes of [0, T], shared ends once.

    Parameters
    ----------
    degree, n_t
        Unsigned 32-bit integers.
    T
        The end of the span, a float.

    Returns
    -------
    list[float]
        The nodes in global node order (node c of interval k at position
        k * degree + c); a shared node is computed as (k + 1) * w, w = T / n_t, the
        last node is T itself. ``get_lagrange_points(2, 2, 1.0) == [0.0, 0.25,
        0.5, 0.75, 1.0]``. Nothing is validated: degree 0 or n_t = 0 give
        ``[T]``; a negative T gives a descending list.

    Raises
    ------
    PanicException
        ``"capacity overflow"`` when the list would exceed the size limits.
    """

@final
class LegendreBasis:
    """A piecewise Legendre basis: degree, n_t intervals of [0, T].

    An immutable description of the grid; nothing is validated and nothing
    else is stored. The class cannot be subclassed and its instances take no
    attributes. N below is n_t * (degree + 1). With n_t = 0 the three
    methods raise ``PanicException("Matrix slicing out of bounds.")``; beyond
    the size limits they raise ``PanicException("capacity overflow")``.

    Parameters
    ----------
    degree, n_t
        Unsigned 32-bit integers.
    T
        The end of the span, a float.
    """

    def __new__(cls, degree: SupportsIndex, n_t: SupportsIndex, T: _Float) -> LegendreBasis: ...
    def evaluate_at(self, t: _Float, legendre_vals: _Floats) -> float:
        """Value at t of the expansion whose coefficients are the first N items.

        N = n_t * (degree + 1); fewer items raise PanicException.

        Parameters
        ----------
        t
            The time, a float.
        legendre_vals
            A sequence of floats, in the coefficient layout; items after the
            first N are ignored. From a buffer (array.array, a NumPy array,
            bytes...) only the coefficients of t's interval are read.

        Raises
        ------
        PanicException
            ``"Matrix view: input data buffer too small."`` when fewer than N
            items are given.
        """

    def evaluate_all_basis_functions(self, t: _Float) -> list[float]:
        """Values at t of all n_t * (degree + 1) basis functions, in coefficient layout.

        Only the degree + 1 entries of t's interval k are non-zero: P_i(xi)
        at index k + n_t * i, xi being t's local coordinate.
        """

    def evaluate_all_basis_function_derivatives(self, t: _Float) -> list[float]:
        """Time derivatives at t of all basis functions, in coefficient layout.

        dP_i/dxi * 2 / w at index k + n_t * i for t's interval k, w being the
        interval width T / n_t; zero elsewhere.
        """

@final
class LegendreBasisEvaluator:
    """Class to evaluate legendre basis more often without copying the dofs from python each time

    Keeps one coefficient list between calls, so that many evaluations
    convert only the time. Starts with N = n_t * (degree + 1) zero
    coefficients. Final, like LegendreBasis. The constructor raises
    ``PanicException("capacity overflow")`` when N floats do not fit the size
    limits; with n_t = 0 it succeeds, ``set_dofs([])`` succeeds, and both
    evaluations raise ``PanicException("Matrix slicing out of bounds.")``.

    Parameters
    ----------
    degree, n_t
        Unsigned 32-bit integers.
    T
        The end of the span, a float.
    """

    def __new__(
        cls, degree: SupportsIndex, n_t: SupportsIndex, T: _Float
    ) -> LegendreBasisEvaluator: ...
    def set_dofs(self, legendre_vals: _Floats) -> None:
        """Stores exactly n_t * (degree + 1) coefficients; another length raises PanicException.

        Replaces the stored coefficients as a whole; a failed call keeps the
        previous ones.

        Parameters
        ----------
        legendre_vals
            A sequence of exactly N floats, in the coefficient layout.

        Raises
        ------
        PanicException
            With the message ``"assertion `left == right` failed:
            LegendreBasisEvaluator: set_dofs: input vector has wrong
            length\\n  left: {given}\\n right: {N}"`` (two lines after the
            first).
        RuntimeError
            ``"Already borrowed"`` when Python code that runs while the call
            converts its items calls the same evaluator.
        """

    def evaluate_at(self, t: _Float) -> float:
        """Value at t of the stored expansion.

        Bit for bit the same as ``LegendreBasis.evaluate_at`` with the same
        coefficients.
        """

    def evaluate_derivative_at(self, t: _Float) -> float:
        """Time derivative at t of the stored expansion.

        The dot product of ``evaluate_all_basis_function_derivatives`` with
        the coefficients agrees with it up to rounding, not bit for bit.
        """
