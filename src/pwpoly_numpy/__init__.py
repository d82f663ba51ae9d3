"""NumPy companion of pwpoly: the same numbers, for whole arrays.

Every function computes with pwpoly's own numerics core, so each number has
the bits that the scalar calls of pwpoly give for the same input:

- ``lagrange_points(degree, n_t, T)``: ``pwpoly.get_lagrange_points`` as an array;
- ``transformation_triplets(degree, n_t)`` and ``transformation_matrix(degree, n_t)``:
  the Lagrange-to-Legendre matrix as int64/float64 triplets or as a
  ``scipy.sparse.csr_array``, and with ``family=`` the same for the
  Gauss-Legendre, Gauss-Lobatto and Chebyshev-Lobatto nodes;
- ``evaluate`` and ``evaluate_derivative``: one expansion (1-D coefficients)
  or many on the same grid (coefficients of shape (N, *shape)) at times of
  any shape, into a new array or `out`;
- ``basis_matrix``: the basis functions (or their time derivatives) at many
  times as a sparse matrix with degree + 1 stored entries per row;
- ``PiecewiseLegendre``: such a function as an immutable object, with
  derivatives of any order, antiderivatives, integrals, interval end values
  and a choice of extrapolation;
- ``nodes`` and ``quadrature``: the nodes of a node family on the grid, and
  composite quadrature rules at them;
- ``mass_matrix``, ``derivative_matrix``, ``trace_matrices`` and
  ``jump_matrix``: the matrices in time of Galerkin methods in the piecewise
  Legendre basis.

Array inputs that are float64 and C-contiguous already are read where they
are; others are converted to a private float64 copy first. Results are new
arrays that share no memory with the inputs. The array kernels run without
the interpreter lock, so other threads go on meanwhile (as with NumPy's own
functions, a thread that writes into an input while a call reads it gets
results computed from the old or the new values, and one that frees an
input's memory meanwhile gets what NumPy's functions get then). A Ctrl-C
stops them within a few tens of milliseconds: the kernels stop at a safe
point, let go of every array and run the signal handlers; if the handlers
raise, the call raises that; if a handler resized an array of the call or
gave it new memory, the call raises RuntimeError naming the argument;
otherwise the call goes on. The functions that return sparse matrices need
SciPy, imported when they are first called.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, SupportsFloat, SupportsIndex, Union

try:
    import numpy
except ImportError as error:
    raise ImportError(
        "pwpoly_numpy needs NumPy: install it with python3 -m pip install 'pwpoly[numpy]'"
    ) from error

import numpy.typing as npt

from pwpoly_numpy import _kernels
from pwpoly_numpy._arguments import (
    apart_from,
    check_coefficient_shape,
    canonical_csr,
    check_evaluation_grid,
    check_node_count,
    flag,
    float64_input,
    output_array,
    real,
    real_array,
    sparse_module,
    unsigned,
)
from pwpoly_numpy._piecewise import PiecewiseLegendre
from pwpoly_numpy._discretisation import (
    derivative_matrix,
    jump_matrix,
    mass_matrix,
    nodes,
    quadrature,
    trace_matrices,
    transformation_matrix,
    transformation_triplets,
)

if TYPE_CHECKING:
    import scipy.sparse

__all__ = [
    "PiecewiseLegendre",
    "basis_matrix",
    "derivative_matrix",
    "evaluate",
    "evaluate_derivative",
    "jump_matrix",
    "lagrange_points",
    "mass_matrix",
    "nodes",
    "quadrature",
    "trace_matrices",
    "transformation_matrix",
    "transformation_triplets",
]

Unsigned = SupportsIndex
"""An unsigned 32-bit integer: an int, bool or object with ``__index__``, 0 ... 4294967295."""
Real = Union[SupportsFloat, SupportsIndex]
"""A float, or an object with ``__float__`` or ``__index__``."""

_INT32_MAX = 2147483647


def lagrange_points(degree: Unsigned, n_t: Unsigned, T: Real) -> npt.NDArray[numpy.float64]:
    """The Lagrange nodes of [0, T], as ``pwpoly.get_lagrange_points``.

    Returns a float64 array of shape (n_t * degree + 1,), in global node order
    (node c of interval k at position k * degree + c; shared interval ends
    once, the last node T itself). Degree 0 or n_t = 0 give ``[T]``.
    """
    degree_ = unsigned(degree, "degree")
    n_t_ = unsigned(n_t, "n_t")
    end = real(T, "T")
    out = numpy.empty(check_node_count(degree_, n_t_), dtype=numpy.float64)
    _kernels.lagrange_points(degree_, n_t_, end, out)
    return out


def _grid(degree: Unsigned, n_t: Unsigned, T: Real) -> tuple[int, int, float, int]:
    degree_ = unsigned(degree, "degree")
    n_t_ = unsigned(n_t, "n_t")
    end = real(T, "T")
    return degree_, n_t_, end, check_evaluation_grid(degree_, n_t_)


def _evaluate(
    degree: Unsigned,
    n_t: Unsigned,
    T: Real,
    coefficients: npt.ArrayLike,
    times: npt.ArrayLike,
    derivative: bool,
    out: npt.NDArray[numpy.float64] | None,
) -> npt.NDArray[numpy.float64]:
    degree_, n_t_, end, count = _grid(degree, n_t, T)
    given = real_array(coefficients, "coefficients")
    columns = check_coefficient_shape(given.shape, count)
    at = float64_input(times, "times")
    result = output_array(out, at.shape + given.shape[1:])
    if result.size == 0:
        return result
    # The kernels read the coefficients in any shape of N * columns values.
    # Many more times than coefficients: the coefficients of each interval
    # side by side (a private copy, one pass over them), so that a time reads
    # one or two cache lines of them rather than degree + 1 lines spread over
    # the whole table. A kernel reorders them: NumPy's copy of a transposed
    # view made here could read memory that a signal handler freed meanwhile.
    rows = float64_input(given, "coefficients")
    by_interval = at.size >= 4 * count
    if by_interval:
        ordered = numpy.empty(count * columns, dtype=numpy.float64)
        _kernels.order_by_interval(degree_, n_t_, columns, rows, ordered)
        rows = ordered
    else:
        rows = apart_from(rows, result)
    at = apart_from(at, result)
    _kernels.evaluate(degree_, n_t_, end, rows, columns, by_interval, at, result, derivative)
    return result


def evaluate(
    degree: Unsigned,
    n_t: Unsigned,
    T: Real,
    coefficients: npt.ArrayLike,
    times: npt.ArrayLike,
    *,
    out: npt.NDArray[numpy.float64] | None = None,
) -> npt.NDArray[numpy.float64]:
    """Values of piecewise Legendre expansions at `times`.

    `coefficients` has shape (N,), N = n_t * (degree + 1), in pwpoly's flat
    layout (the coefficient of P_i on interval k at index k + n_t * i), or
    shape (N, *shape) for expansions on the same grid with any trailing shape
    ((N, m) for m columns, (N, nx, ny) for a field). `times` has any shape, a
    scalar included. Returns a float64 array of shape
    ``times.shape + coefficients.shape[1:]``: a new one, or `out`, filled,
    when given (a writable C-contiguous float64 array of exactly that shape).
    Each element is, bit for bit, what ``pwpoly.LegendreBasisEvaluator(degree,
    n_t, T)`` with ``set_dofs`` of that column returns from ``evaluate_at`` at
    that time. Bool, integer and float arrays are converted to float64 (as
    ``float()`` converts their items), object arrays item by item; complex,
    string, bytes, datetime and structured arrays raise TypeError.
    """
    return _evaluate(degree, n_t, T, coefficients, times, False, out)


def evaluate_derivative(
    degree: Unsigned,
    n_t: Unsigned,
    T: Real,
    coefficients: npt.ArrayLike,
    times: npt.ArrayLike,
    *,
    out: npt.NDArray[numpy.float64] | None = None,
) -> npt.NDArray[numpy.float64]:
    """Time derivatives of piecewise Legendre expansions at `times`.

    Shapes, conversions and `out` as ``evaluate``: a float64 array of shape
    ``times.shape + coefficients.shape[1:]``. Each element is, bit for bit,
    what ``evaluate_derivative_at`` of ``pwpoly.LegendreBasisEvaluator``
    returns: pwpoly's derivative formula, whose error near interval ends
    reaches about 1e-12 of the derivative's scale. ``PiecewiseLegendre``'s
    ``p(times, nu)`` gives derivatives of any order accurate to rounding.
    """
    return _evaluate(degree, n_t, T, coefficients, times, True, out)


def basis_matrix(
    degree: Unsigned,
    n_t: Unsigned,
    T: Real,
    times: npt.ArrayLike,
    derivative: bool = False,
) -> scipy.sparse.csr_array:
    """All basis functions (or their time derivatives) at many times, sparse.

    A ``scipy.sparse.csr_array`` of shape (times.size, N), N = n_t * (degree + 1),
    one row per time in the C order of `times`. Row j holds degree + 1 stored
    entries, at columns k + n_t * i (i ascending) for the interval k of
    ``times[j]``: bit for bit the entries that
    ``pwpoly.LegendreBasis(degree, n_t, T).evaluate_all_basis_functions(t)``
    (or ``evaluate_all_basis_function_derivatives(t)`` when `derivative`, a
    bool, is true) puts there, stored even where they are 0.0. So
    ``basis_matrix(...) @ coefficients`` evaluates an expansion at all times
    (up to rounding: the product sums in another order). Indices are int32,
    or int64 beyond 2**31 - 1 stored entries. Needs SciPy.
    """
    sparse = sparse_module("basis_matrix")
    degree_, n_t_, end, count = _grid(degree, n_t, T)
    derivative_ = flag(derivative, "derivative")
    at = float64_input(times, "times").reshape(-1)
    stored = at.size * (degree_ + 1)
    wide = stored > _INT32_MAX
    index_type = numpy.int64 if wide else numpy.int32
    data = numpy.empty(stored, dtype=numpy.float64)
    indices = numpy.empty(stored, dtype=index_type)
    indptr = numpy.empty(at.size + 1, dtype=index_type)
    _kernels.basis_rows(degree_, n_t_, end, at, derivative_, data, indices, indptr, wide)
    return canonical_csr(sparse, data, indices, indptr, (at.size, count))
