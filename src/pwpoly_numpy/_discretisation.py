"""Building blocks of discretisations in time: node families, quadrature, the
nodal-values-to-Legendre transformation of each family, and the mass,
derivative, trace and jump matrices of Galerkin methods in the piecewise
Legendre basis.

The Python layer checks the arguments and allocates the results; the kernels
of ``pwpoly_numpy._kernels`` fill them.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, SupportsFloat, SupportsIndex, Union

import numpy
import numpy.typing as npt

from pwpoly_numpy import _kernels
from pwpoly_numpy._arguments import (
    MAX_FLOATS,
    MAX_INTERVALS_WITH_NODES,
    canonical_csr,
    check_node_count,
    check_transformation,
    real,
    sparse_module,
    unsigned,
)

if TYPE_CHECKING:
    import scipy.sparse

Unsigned = SupportsIndex
Real = Union[SupportsFloat, SupportsIndex]

FAMILIES = ("equidistant", "gauss-legendre", "gauss-lobatto", "chebyshev-lobatto")
"""The node families, in the order of their kernel codes."""

MAX_FAMILY_DEGREE = 4096
"""Largest degree of the computed families (and of the equidistant
quadrature): their reference nodes and weights cost O(degree**2) operations,
the Chebyshev-Lobatto transformation O(degree**3) (about 40 s at 4096)."""

_EQUIDISTANT, _GAUSS_LEGENDRE = 0, 1
_MASS, _DERIVATIVE, _JUMP, _START, _END = range(5)


def _check_family(family: object) -> int:
    """The kernel code of `family`, one of FAMILIES."""
    if not isinstance(family, str):
        raise TypeError(f"argument 'family': must be str, not {type(family).__name__}")
    try:
        return FAMILIES.index(family)
    except ValueError:
        names = ", ".join(repr(name) for name in FAMILIES)
        raise ValueError(
            f"argument 'family': unknown node family {family!r}; expected one of {names}"
        ) from None


def _check_family_degree(degree: int, code: int) -> None:
    """The degree limits of a computed family."""
    name = FAMILIES[code]
    if code != _GAUSS_LEGENDRE and degree == 0:
        raise ValueError(
            f"argument 'degree': the {name} family needs degree >= 1 "
            "(its nodes include both interval ends)"
        )
    if degree > MAX_FAMILY_DEGREE:
        raise ValueError(
            f"argument 'degree': the {name} family supports degree <= {MAX_FAMILY_DEGREE}, "
            f"not {degree}"
        )


def _node_count(degree: int, n_t: int, code: int) -> int:
    """The number of nodes of the family on the grid, after the checks."""
    if code == _EQUIDISTANT:
        return check_node_count(degree, n_t)
    _check_family_degree(degree, code)
    if code != _GAUSS_LEGENDRE:
        return check_node_count(degree, n_t)
    if n_t > MAX_INTERVALS_WITH_NODES:
        raise ValueError(
            f"argument 'n_t': {n_t} intervals exceed the size limit of "
            f"{MAX_INTERVALS_WITH_NODES} for nodes"
        )
    count = n_t * (degree + 1)
    if count > MAX_FLOATS:
        raise ValueError(
            f"arguments 'degree' and 'n_t': n_t * (degree + 1) = {count} nodes exceed the "
            f"size limit of {MAX_FLOATS} float64 values"
        )
    return count


def _filled_nodes(degree: int, n_t: int, end: float, code: int) -> npt.NDArray[numpy.float64]:
    out = numpy.empty(_node_count(degree, n_t, code), dtype=numpy.float64)
    _kernels.family_nodes(code, degree, n_t, end, out)
    return out


def nodes(
    degree: Unsigned, n_t: Unsigned, T: Real, family: str = "equidistant"
) -> npt.NDArray[numpy.float64]:
    """The nodes of a node family on the grid of `n_t` equal intervals of [0, T].

    Parameters
    ----------
    degree, n_t : int
        Polynomial degree and number of intervals (unsigned 32-bit integers).
    T : float
        End of the time span.
    family : str
        ``"equidistant"`` (default): ``pwpoly.get_lagrange_points``, bit for
        bit. ``"gauss-lobatto"``: on each interval its ends and the roots of
        P'_degree. ``"chebyshev-lobatto"``: its ends and the extrema
        -cos(pi j / degree) of the Chebyshev polynomial T_degree.
        ``"gauss-legendre"``: the degree + 1 roots of P_(degree+1) inside each
        interval, no ends.

    Returns
    -------
    numpy.ndarray
        float64 of shape (n_t * degree + 1,) for the families with ends
        (node c of interval k at position k * degree + c; a node shared by two
        intervals appears once, placed at k * w with w = T / n_t, and the last
        node is T itself, as pwpoly places its Lagrange nodes), or of shape
        (n_t * (degree + 1),) for Gauss-Legendre (node c of interval k at
        position k * (degree + 1) + c). Each interval's nodes ascend.

    Notes
    -----
    The reference nodes on [-1, 1] are accurate to a few units of 2**-53 at
    every degree (Newton's method on the Legendre recurrence, symmetric nodes
    mirrored exactly; Chebyshev nodes as sines without cancellation), then
    mapped onto [a, b] = [k * w, k * w + w] as a + (1 + x) * (b - a) / 2 for
    x <= 0 and b - (1 - x) * (b - a) / 2 for x > 0, each rounded. n_t = 0
    gives ``[T]`` for the families with ends and no nodes for Gauss-Legendre.

    Raises
    ------
    ValueError
        For an unknown `family`; for degree 0 with ``"gauss-lobatto"`` or
        ``"chebyshev-lobatto"``; for a degree above 4096 in the computed
        families; when the nodes exceed the size limits.
    TypeError
        For arguments of the wrong kind.
    """
    degree_ = unsigned(degree, "degree")
    n_t_ = unsigned(n_t, "n_t")
    end = real(T, "T")
    code = _check_family(family)
    return _filled_nodes(degree_, n_t_, end, code)


def quadrature(
    degree: Unsigned, n_t: Unsigned, T: Real, family: str = "gauss-legendre"
) -> tuple[npt.NDArray[numpy.float64], npt.NDArray[numpy.float64]]:
    """A composite quadrature rule on [0, T] at the nodes of a family.

    ``integral(0, T) f(t) dt`` is approximated by ``sum(weights * f(nodes))``.

    Parameters
    ----------
    degree, n_t : int
        Degree of the family and number of intervals (n_t >= 1).
    T : float
        End of the time span.
    family : str
        ``"gauss-legendre"`` (default), ``"gauss-lobatto"``,
        ``"chebyshev-lobatto"`` or ``"equidistant"``.

    Returns
    -------
    nodes : numpy.ndarray
        ``nodes(degree, n_t, T, family)``.
    weights : numpy.ndarray
        float64, same shape: on each interval the reference weight of each
        node times (T / n_t) / 2; at a node shared by two intervals the two
        reference weights are summed first.

    Notes
    -----
    The rule is exact, up to rounding, for polynomials (on each interval) of
    degree 2 * degree + 1 (Gauss-Legendre), 2 * degree - 1 (Gauss-Lobatto),
    and degree (equidistant and Chebyshev-Lobatto, which integrate the
    interpolating polynomial: Newton-Cotes and Clenshaw-Curtis). The Gauss
    weights come from their closed forms at the computed nodes; the
    interpolatory ones are the integrals of the Lagrange basis polynomials,
    computed by a Gauss-Legendre rule exact for them. Equidistant weights of
    high degree have both signs and grow large, as Newton-Cotes weights do.

    Raises
    ------
    ValueError
        For an unknown `family`; n_t = 0; degree 0 except with
        ``"gauss-legendre"``; a degree above 4096; nodes beyond the size
        limits.
    """
    degree_ = unsigned(degree, "degree")
    n_t_ = unsigned(n_t, "n_t")
    end = real(T, "T")
    code = _check_family(family)
    if n_t_ == 0:
        raise ValueError(
            "argument 'n_t': must be at least 1: a grid without intervals has nothing to integrate"
        )
    if code == _EQUIDISTANT:
        _check_family_degree(degree_, code)
    points = _filled_nodes(degree_, n_t_, end, code)
    weights = numpy.empty_like(points)
    _kernels.quadrature_weights(code, degree_, n_t_, end, weights)
    return points, weights


# --- the transformation of each family ---------------------------------------------------


def _transformation_size(degree: Unsigned, n_t: Unsigned, family: object) -> tuple[int, ...]:
    """degree, n_t, family code, stored entries and node count, after the checks."""
    degree_ = unsigned(degree, "degree")
    n_t_ = unsigned(n_t, "n_t")
    code = _check_family(family)
    if code == _EQUIDISTANT:
        return degree_, n_t_, code, check_transformation(degree_, n_t_), n_t_ * degree_ + 1
    columns = _node_count(degree_, n_t_, code)
    count = (degree_ + 1) ** 2 * n_t_
    if count > MAX_FLOATS:
        raise ValueError(
            f"arguments 'degree' and 'n_t': (degree + 1)**2 * n_t = {count} stored entries "
            f"exceed the size limit of {MAX_FLOATS} float64 values"
        )
    return degree_, n_t_, code, count, columns


def transformation_triplets(
    degree: Unsigned, n_t: Unsigned, family: str = "equidistant"
) -> tuple[npt.NDArray[numpy.int64], npt.NDArray[numpy.int64], npt.NDArray[numpy.float64]]:
    """The nodal-values-to-Legendre matrix as (rows, cols, values) arrays.

    Three arrays of shape ((degree + 1)**2 * n_t,): int64 row indices, int64
    column indices and float64 values, in row-major order. Row p * n_t + k is
    the coefficient of P_p on interval k (pwpoly's flat layout); column g is
    node g of ``nodes(degree, n_t, T, family)``; row p * n_t + k holds
    W[p][c] at the columns of the degree + 1 nodes of interval k.

    ``family="equidistant"`` (default) gives, element by element, the lists of
    ``pwpoly.lagrange_to_legendre_basis_transformation`` (ValueError for
    degree 0). For the other families W is accurate to rounding at every
    degree: Gauss-Legendre and Gauss-Lobatto by exact discrete orthogonality,
    W[p][c] = (2p + 1) / 2 * w_c * P_p(x_c) with the quadrature weights w_c
    (for Gauss-Lobatto the top degree's discrete norm 2 / degree in place of
    2 / (2 degree + 1)); Chebyshev-Lobatto by exact integration of
    (2p + 1) / 2 * l_c * P_p, l_c the Lagrange basis polynomials, with a
    Gauss-Legendre rule. ValueError for an unknown family and as ``nodes``.
    """
    degree_, n_t_, code, count, _ = _transformation_size(degree, n_t, family)
    rows = numpy.empty(count, dtype=numpy.int64)
    cols = numpy.empty(count, dtype=numpy.int64)
    values = numpy.empty(count, dtype=numpy.float64)
    if code == _EQUIDISTANT:
        _kernels.transformation_triplets(degree_, n_t_, rows, cols, values)
    else:
        _kernels.family_triplets(code, degree_, n_t_, rows, cols, values)
    return rows, cols, values


def transformation_matrix(
    degree: Unsigned, n_t: Unsigned, family: str = "equidistant"
) -> scipy.sparse.csr_array:
    """The nodal-values-to-Legendre matrix as a ``scipy.sparse.csr_array``.

    Shape ((degree + 1) * n_t, number of nodes of `family`), with the
    (degree + 1)**2 * n_t stored entries of ``transformation_triplets`` in the
    same order (explicit zeros stay stored), int32 indices, sorted and
    without duplicates. ``M @ f(nodes(degree, n_t, T, family))`` gives the
    Legendre coefficients of the interpolating polynomials in pwpoly's flat
    layout. Needs SciPy.
    """
    sparse = sparse_module("transformation_matrix")
    degree_, n_t_, code, count, columns = _transformation_size(degree, n_t, family)
    rows = (degree_ + 1) * n_t_
    data = numpy.empty(count, dtype=numpy.float64)
    indices = numpy.empty(count, dtype=numpy.int32)
    indptr = numpy.empty(rows + 1, dtype=numpy.int32)
    indptr[0] = 0  # a matrix without rows (n_t = 0) has this entry alone
    if code == _EQUIDISTANT:
        _kernels.transformation_csr(degree_, n_t_, data, indices, indptr)
    else:
        _kernels.family_csr(code, degree_, n_t_, data, indices, indptr)
    return canonical_csr(sparse, data, indices, indptr, (rows, columns))


def _family_transformation(degree: int, n_t: int, family: str) -> Any:
    """The transformation of (degree, n_t, family) as a csr_array: the one
    mapping that every user of nodal values of a family goes through."""
    return transformation_matrix(degree, n_t, family)


# --- matrices in time -------------------------------------------------------------------

_MATRIX_NAMES = ("mass matrix", "derivative matrix", "jump matrix", "trace matrices")


def _matrix_shape(code: int, degree: int, n_t: int) -> tuple[int, int, int]:
    """Rows, columns and stored entries of a matrix in time, after the checks."""
    count = n_t * (degree + 1)
    if count > MAX_FLOATS:
        raise ValueError(
            f"arguments 'degree' and 'n_t': n_t * (degree + 1) = {count} coefficients exceed "
            f"the size limit of {MAX_FLOATS} float64 values"
        )
    if code == _MASS:
        shape = (count, count, count)
    elif code == _DERIVATIVE:
        shape = (count, count, n_t * ((degree + 1) ** 2 // 4))
    elif code == _JUMP:
        shape = (count, count, (degree + 1) ** 2 * (2 * n_t - 1) if n_t else 0)
    else:
        shape = (n_t, count, count)
    if shape[2] > MAX_FLOATS:
        raise ValueError(
            f"arguments 'degree' and 'n_t': the {_MATRIX_NAMES[min(code, 3)]}'s {shape[2]} "
            f"stored entries exceed the size limit of {MAX_FLOATS} float64 values"
        )
    return shape


def _time_matrix(
    function: str, code: int, degree: Unsigned, n_t: Unsigned, T: Real | None
) -> scipy.sparse.csr_array:
    sparse = sparse_module(function)
    degree_ = unsigned(degree, "degree")
    n_t_ = unsigned(n_t, "n_t")
    end = 1.0 if T is None else real(T, "T")
    rows, columns, count = _matrix_shape(code, degree_, n_t_)
    data = numpy.empty(count, dtype=numpy.float64)
    indices = numpy.empty(count, dtype=numpy.int32)
    indptr = numpy.empty(rows + 1, dtype=numpy.int32)
    _kernels.time_matrix(code, degree_, n_t_, end, data, indices, indptr)
    return canonical_csr(sparse, data, indices, indptr, (rows, columns))


def mass_matrix(degree: Unsigned, n_t: Unsigned, T: Real) -> scipy.sparse.csr_array:
    """The mass matrix of the piecewise Legendre basis on [0, T].

    ``M[a, b] = integral(0, T) phi_a(t) phi_b(t) dt`` with phi_a = P_i on
    interval k for a = k + n_t * i (pwpoly's flat layout).

    Returns
    -------
    scipy.sparse.csr_array
        Shape (N, N), N = n_t * (degree + 1); diagonal, every diagonal entry
        stored (also when T = 0 makes it zero): M[a, a] = T / (n_t * (2i + 1)),
        the exact integral rounded once. int32 indices, sorted. Needs SciPy.

    Raises
    ------
    ValueError
        When N exceeds 268435455.
    """
    return _time_matrix("mass_matrix", _MASS, degree, n_t, T)


def derivative_matrix(degree: Unsigned, n_t: Unsigned, T: Real) -> scipy.sparse.csr_array:
    """The derivative matrix of the piecewise Legendre basis, interval by interval.

    ``C[a, b] = integral over interval k of phi_a(t) dphi_b/dt(t) dt`` for a
    and b on the same interval k (a = k + n_t * i, b = k + n_t * j); no
    terms at the break points (see ``jump_matrix``). The value does not
    depend on T or the interval: 2 when j > i and j - i is odd, 0 otherwise.

    Returns
    -------
    scipy.sparse.csr_array
        Shape (N, N), N = n_t * (degree + 1). Only the entries 2.0 are stored
        (exact): row a holds floor((degree - i + 1) / 2) entries, at columns
        k + n_t * j for j = i + 1, i + 3, ... <= degree; n_t *
        floor((degree + 1)**2 / 4) in all. int32 indices, sorted. Needs SciPy.

    Raises
    ------
    ValueError
        When N or the stored entries exceed 268435455.
    """
    return _time_matrix("derivative_matrix", _DERIVATIVE, degree, n_t, T)


def trace_matrices(
    degree: Unsigned, n_t: Unsigned
) -> tuple[scipy.sparse.csr_array, scipy.sparse.csr_array]:
    """The values of the basis functions at the ends of their own intervals.

    Returns
    -------
    start, end : scipy.sparse.csr_array
        Each of shape (n_t, N), N = n_t * (degree + 1). Row k of ``start``
        holds phi_a(t_k+) = P_i(-1) = (-1)**i, and row k of ``end`` holds
        phi_a(t_(k+1)-) = P_i(1) = 1, at columns a = k + n_t * i for
        i = 0 ... degree: degree + 1 stored entries per row, exact. So
        ``start @ u`` and ``end @ u`` are the values of the expansion u at the
        left and right end of every interval, taken from inside it. int32
        indices, sorted. Needs SciPy.

    Raises
    ------
    ValueError
        When N exceeds 268435455.
    """
    start = _time_matrix("trace_matrices", _START, degree, n_t, None)
    end = _time_matrix("trace_matrices", _END, degree, n_t, None)
    return start, end


def jump_matrix(degree: Unsigned, n_t: Unsigned) -> scipy.sparse.csr_array:
    """The upwind coupling of discontinuous Galerkin in time.

    ``J[a, b] = sum(k = 1 ... n_t - 1) phi_a(t_k+) (phi_b(t_k+) - phi_b(t_k-))
    + phi_a(0+) phi_b(0+)``, t_k = k * T / n_t the break points. With
    ``C = derivative_matrix(degree, n_t, T)``, the discontinuous Galerkin
    method for u' = f, u(0) = u0, reads

        (C + J) @ u = F + u0 * e

    with F[a] = integral(0, T) f(t) phi_a(t) dt and e the first row of
    ``trace_matrices(degree, n_t)[0]`` (the basis functions at 0+): each
    interval's solution starts from the previous interval's end value
    (upwind), the first from u0. For u' = A u, (C + J - M A) @ u = u0 * e
    with M the mass matrix.

    Returns
    -------
    scipy.sparse.csr_array
        Shape (N, N), N = n_t * (degree + 1). Row a = k + n_t * i stores
        (-1)**(i + j) at columns k + n_t * j for every j, and, for k >= 1,
        -(-1)**i at columns (k - 1) + n_t * j for every j (columns ascending,
        the two intervals interleaved): (degree + 1)**2 * (2 n_t - 1) stored
        entries in all, each exactly +1.0 or -1.0. int32 indices, sorted.
        Needs SciPy.

    Raises
    ------
    ValueError
        When N or the stored entries exceed 268435455.
    """
    return _time_matrix("jump_matrix", _JUMP, degree, n_t, None)
