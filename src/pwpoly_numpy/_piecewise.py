"""PiecewiseLegendre: a piecewise polynomial function of time as an immutable
object holding its grid and Legendre coefficients.

The values (``nu = 0``) come from the batch kernel of ``evaluate``, so they
have pwpoly's bits; derivatives, antiderivatives, integrals and end values are
computed on the coefficients by the calculus kernels of the core. This module
only checks arguments, allocates and calls the kernels.
"""

from __future__ import annotations

import math
import operator
import sys
import threading
from collections.abc import Sequence
from typing import Any, Callable, NamedTuple, TypeVar, Union

import numpy
import numpy.typing as npt

from pwpoly_numpy import _discretisation, _kernels
from pwpoly_numpy._arguments import (
    MAX_FLOATS,
    UNSIGNED_MAX,
    apart_from,
    check_coefficient_shape,
    check_evaluation_grid,
    check_node_count,
    check_transformation,
    float64_input,
    output_array,
    real,
    real_array,
    unsigned,
)

FloatArray = npt.NDArray[numpy.float64]
Order = Union[int, Sequence[int]]
Made = TypeVar("Made")

EXTRAPOLATIONS = ("clamp", "extend", "nan", "raise")
"""The policies for times outside [0, T]."""

FAMILIES = _discretisation.FAMILIES
"""The node families of from_lagrange_values and interpolate."""

_CACHE_LIMIT = 32
"""Most derivative series (single orders and stacks of orders) an object keeps."""


def _frozen(array: npt.ArrayLike, shape: tuple[int, ...] | None = None) -> FloatArray:
    """A read-only C-contiguous float64 array with the values of `array`
    (reshaped to `shape`, if given), over an immutable bytes object: no code
    can make it writable again, nor free or resize its memory.

    The copy reads `array` itself: pass the array, not a view of it made for
    the occasion, since a signal handler that runs before the copy may free
    an array's memory (ndarray.resize with refcheck=False) and leave such a
    view pointing at nothing; views of the frozen result are safe."""
    data = numpy.ascontiguousarray(array, dtype=numpy.float64)
    frozen = numpy.frombuffer(data.tobytes(), dtype=numpy.float64)
    return frozen.reshape(data.shape if shape is None else shape)


def _check_grid(degree: object, n_t: object, T: object) -> tuple[int, int, float, int]:
    """degree, n_t, T and N = n_t * (degree + 1), checked more strictly than
    pwpoly checks them: at least one interval, a finite positive span whose
    interval width is a normal double."""
    degree_ = unsigned(degree, "degree")
    n_t_ = unsigned(n_t, "n_t")
    end = real(T, "T")
    if n_t_ == 0:
        raise ValueError("argument 'n_t': must be at least 1, not 0")
    if not (math.isfinite(end) and end > 0.0):
        raise ValueError(f"argument 'T': must be finite and > 0, not {end!r}")
    if not end / n_t_ >= sys.float_info.min:
        raise ValueError(
            f"argument 'T': the interval width T / n_t = {end / n_t_!r} is below the "
            f"smallest normal double"
        )
    return degree_, n_t_, end, check_evaluation_grid(degree_, n_t_)


def _check_policy(extrapolate: object) -> str:
    if not isinstance(extrapolate, str):
        raise TypeError(f"argument 'extrapolate': must be a str, not {type(extrapolate).__name__}")
    if extrapolate not in EXTRAPOLATIONS:
        choices = ", ".join(repr(name) for name in EXTRAPOLATIONS)
        raise ValueError(f"argument 'extrapolate': must be one of {choices}, not {extrapolate!r}")
    return extrapolate


def _check_family(family: object) -> str:
    """`family`, one of FAMILIES; the errors of the node functions otherwise."""
    _discretisation._check_family(family)
    return family  # type: ignore[return-value]


def _order(value: Any, name: str) -> int:
    """A derivative or integration order: a non-negative int (bool refused)."""
    if isinstance(value, (bool, numpy.bool_)):
        raise TypeError(f"argument '{name}': must be a non-negative integer, not bool")
    try:
        order = operator.index(value)
    except TypeError:
        raise TypeError(
            f"argument '{name}': must be a non-negative integer, not {type(value).__name__}"
        ) from None
    if order < 0:
        raise ValueError(f"argument '{name}': must be non-negative, not {order}")
    return order


def _orders(nu: Any) -> tuple[list[int], bool]:
    """The orders of `nu` and whether it was a single one (no leading axis)."""
    if isinstance(nu, (bool, numpy.bool_)):
        raise TypeError(
            "argument 'nu': must be a non-negative integer or a sequence of them, not bool"
        )
    try:
        single = operator.index(nu)
    except TypeError:
        pass
    else:
        return [_order(single, "nu")], True
    if isinstance(nu, (str, bytes)) or not hasattr(nu, "__iter__"):
        raise TypeError(
            "argument 'nu': must be a non-negative integer or a sequence of them, "
            f"not {type(nu).__name__}"
        )
    return [_order(item, "nu") for item in nu], False


def _by_interval_rows(flat: FloatArray, degree: int, n_t: int) -> FloatArray:
    """Flat-layout rows (N, columns) reordered interval by interval: row
    k * (degree + 1) + i holds the coefficients of P_i on interval k."""
    columns = flat.shape[1]
    return _frozen(flat.reshape(degree + 1, n_t, columns).transpose(1, 0, 2))


_PLANE_TERMS = 1 << 16
"""Most terms, orders times degree + 1, of a stack of orders of a scalar
function that the kernel writes plane by plane (a time evaluates all its
columns at once up to about this many)."""


def _derivative_degree(degree: int, nu: int) -> int:
    return 0 if nu >= degree else degree - nu


class _Transformation(NamedTuple):
    """From values at the nodes of one family to Legendre coefficients."""

    weights: FloatArray
    """(degree + 1, degree + 1), row-major: W[p, c], the weight of node c of an
    interval in its coefficient of P_p; the same on every interval."""
    node_step: int
    """Rows between the first nodes of neighbouring intervals: degree where
    they share their common end, degree + 1 where each has its own."""
    node_count: int
    """Values expected: one per node of the whole grid."""


def _family_transformation(degree: int, n_t: int, family: str) -> _Transformation:
    """The transformation of the nodes of `family` on a grid: the one place
    where node families differ."""
    if family == "equidistant":
        if degree == 0:
            raise ValueError(
                "argument 'degree': values at Lagrange nodes need degree >= 1 "
                "(degree 0 has one node per interval)"
            )
        node_count = check_node_count(degree, n_t)
        entries = check_transformation(degree, 1)
        rows = numpy.empty(entries, dtype=numpy.int64)
        cols = numpy.empty(entries, dtype=numpy.int64)
        weights = numpy.empty(entries, dtype=numpy.float64)
        # The transformation of one interval: its entries in row-major order.
        _kernels.transformation_triplets(degree, 1, rows, cols, weights)
        return _Transformation(weights.reshape(degree + 1, degree + 1), degree, node_count)
    # The other families: the weights of one interval, the same on each; the
    # Gauss-Legendre nodes are not shared between intervals.
    code = _discretisation._check_family(family)
    node_count = _discretisation._node_count(degree, n_t, code)
    _, _, weights = _discretisation.transformation_triplets(degree, 1, family)
    step = degree + 1 if family == "gauss-legendre" else degree
    return _Transformation(weights.reshape(degree + 1, degree + 1), step, node_count)


def _family_nodes(degree: int, n_t: int, T: float, family: str) -> FloatArray:
    """The nodes of `family` on the grid, in the order the values follow."""
    if family == "equidistant":
        nodes = numpy.empty(check_node_count(degree, n_t), dtype=numpy.float64)
        _kernels.lagrange_points(degree, n_t, T, nodes)
        return nodes
    return _discretisation.nodes(degree, n_t, T, family)


def _rebuild(
    cls: type[PiecewiseLegendre],
    degree: int,
    n_t: int,
    T: float,
    coefficients: FloatArray,
    extrapolate: str,
) -> PiecewiseLegendre:
    """The constructor call that pickling records."""
    return cls(degree, n_t, T, coefficients, extrapolate=extrapolate)


class PiecewiseLegendre:
    """A piecewise polynomial function of time on pwpoly's grid, immutable.

    ``PiecewiseLegendre(degree, n_t, T, coefficients, *, extrapolate="clamp")``:
    [0, T] cut into n_t intervals of width w = T / n_t; on interval k the
    function is sum_i c[k, i] P_i(xi), xi the local coordinate in [-1, 1].
    `coefficients` has shape (N, *shape), N = n_t * (degree + 1), in pwpoly's
    flat layout: c[k, i] in row k + n_t * i (the interval index fastest); the
    trailing shape is that of the function's value ((N,) for a scalar
    function, (N, 3) for a trajectory, (N, nx, ny) for a field). The object
    keeps its own float64 copy. n_t >= 1 and a finite T > 0 are required.

    `extrapolate` says what times outside [0, T] get: ``"clamp"`` (pwpoly's
    rule: before 0 as at t = 0, after T as at the end of the last interval,
    for every derivative order), ``"extend"`` (the polynomials of the first
    and last intervals continued), ``"nan"``, or ``"raise"`` (ValueError
    naming `times` for any time outside [0, T] or NaN).

    Call it as ``p(times, nu=0, *, out=None)``. Pickling, ``copy`` and
    ``deepcopy`` give equal objects with the same bits; attributes cannot be
    set or deleted and the arrays it hands out are read-only.
    """

    __slots__ = (
        "_degree",
        "_n_t",
        "_T",
        "_shape",
        "_columns",
        "_extrapolate",
        "_coefficients",
        "_flat",
        "_by_interval",
        "_breakpoints",
        "_cache",
        "_lock",
        "__weakref__",
    )

    _degree: int
    _n_t: int
    _T: float
    _shape: tuple[int, ...]
    _columns: int
    _extrapolate: str
    _coefficients: FloatArray
    _flat: FloatArray
    _by_interval: FloatArray
    _breakpoints: FloatArray
    _cache: dict[Any, Any]
    _lock: threading.Lock

    # NumPy's operators defer to this class's (which refuse arrays), rather
    # than treating an object as an array element.
    __array_ufunc__ = None

    def __new__(
        cls,
        degree: int,
        n_t: int,
        T: float,
        coefficients: npt.ArrayLike,
        *,
        extrapolate: str = "clamp",
    ) -> PiecewiseLegendre:
        degree_, n_t_, end, count = _check_grid(degree, n_t, T)
        policy = _check_policy(extrapolate)
        given = real_array(coefficients, "coefficients")
        check_coefficient_shape(given.shape, count)
        return cls._build(degree_, n_t_, end, _frozen(given), policy)

    @classmethod
    def _build(
        cls, degree: int, n_t: int, T: float, coefficients: FloatArray, extrapolate: str
    ) -> PiecewiseLegendre:
        """An object around `coefficients`, a checked read-only array that
        nothing else can change."""
        self = object.__new__(cls)
        shape = coefficients.shape[1:]
        columns = math.prod(shape)
        count = n_t * (degree + 1)
        flat = coefficients.reshape(count, columns)
        # The coefficients of each interval side by side: what a time reads
        # lies in one or two cache lines (the bits are the same in either
        # order).
        by_interval = _by_interval_rows(flat, degree, n_t)
        breakpoints = numpy.arange(n_t + 1, dtype=numpy.float64) * (T / n_t)
        breakpoints[n_t] = T
        state = {
            "_degree": degree,
            "_n_t": n_t,
            "_T": T,
            "_shape": shape,
            "_columns": columns,
            "_extrapolate": extrapolate,
            "_coefficients": coefficients,
            "_flat": flat,
            "_by_interval": by_interval,
            "_breakpoints": _frozen(breakpoints),
            "_cache": {},
            "_lock": threading.Lock(),
        }
        for name, value in state.items():
            object.__setattr__(self, name, value)
        return self

    def _like(self, degree: int, coefficients: FloatArray) -> PiecewiseLegendre:
        """Another object on the same grid, with the same policy."""
        return type(self)._build(degree, self._n_t, self._T, coefficients, self._extrapolate)

    # --- attributes -------------------------------------------------------------------

    @property
    def degree(self) -> int:
        """The highest Legendre degree on every interval."""
        return self._degree

    @property
    def n_t(self) -> int:
        """The number of intervals."""
        return self._n_t

    @property
    def T(self) -> float:
        """The end of the span [0, T]."""
        return self._T

    @property
    def shape(self) -> tuple[int, ...]:
        """The shape of one value: the trailing shape of the coefficients."""
        return self._shape

    @property
    def coefficients(self) -> FloatArray:
        """The Legendre coefficients, read-only, shape (N, *shape), flat layout."""
        return self._coefficients

    @property
    def breakpoints(self) -> FloatArray:
        """The interval bounds pwpoly uses, read-only: k * w for k < n_t, then T."""
        return self._breakpoints

    @property
    def extrapolate(self) -> str:
        """The policy for times outside [0, T]."""
        return self._extrapolate

    # --- protocols --------------------------------------------------------------------

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"PiecewiseLegendre objects are immutable: cannot set {name!r}")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"PiecewiseLegendre objects are immutable: cannot delete {name!r}")

    def __repr__(self) -> str:
        return (
            f"PiecewiseLegendre(degree={self._degree}, n_t={self._n_t}, T={self._T!r}, "
            f"shape={self._shape}, extrapolate={self._extrapolate!r})"
        )

    def __reduce__(self) -> tuple[Any, ...]:
        return (
            _rebuild,
            (type(self), self._degree, self._n_t, self._T, self._coefficients, self._extrapolate),
        )

    # --- series of derivatives --------------------------------------------------------

    def _cached(self, key: Any, make: Callable[[], Made]) -> Made:
        """`make()`, computed once per key while the cache has room. Two
        threads may both compute it; they get equal arrays."""
        with self._lock:
            found = self._cache.get(key)
        if found is not None:
            return found
        made = make()
        with self._lock:
            if len(self._cache) < _CACHE_LIMIT:
                made = self._cache.setdefault(key, made)
        return made

    def _series(self, nu: int) -> tuple[int, FloatArray]:
        """The degree and flat (rows, columns) coefficients of the derivative
        of order nu."""
        if nu == 0:
            return self._degree, self._flat
        order = min(nu, self._degree + 1)

        def make() -> tuple[int, FloatArray]:
            degree = _derivative_degree(self._degree, order)
            out = numpy.empty((self._n_t * (degree + 1), self._columns), dtype=numpy.float64)
            if out.size:
                _kernels.differentiate(
                    self._degree, self._n_t, self._T, self._flat, self._columns, order, out
                )
            return degree, _frozen(out)

        return self._cached(order, make)

    def _stacked(self, orders: tuple[int, ...]) -> tuple[int, FloatArray, FloatArray]:
        """The series of several orders side by side, (rows, len(orders) *
        columns), lower degrees padded with zero rows (which the kernels' sums
        of the padded series skip or add as zero terms): the degree, the flat
        rows and the same rows interval by interval."""

        def make() -> tuple[int, FloatArray, FloatArray]:
            top = _derivative_degree(self._degree, min(orders))
            stacked = numpy.zeros((self._n_t * (top + 1), len(orders), self._columns))
            for j, nu in enumerate(orders):
                degree, flat = self._series(nu)
                stacked[: flat.shape[0], j, :] = flat
            flat_rows = _frozen(stacked, (self._n_t * (top + 1), len(orders) * self._columns))
            return top, flat_rows, _by_interval_rows(flat_rows, top, self._n_t)

        return self._cached(("stacked", orders), make)

    # --- evaluation -------------------------------------------------------------------

    def _require_inside(self, at: FloatArray) -> None:
        flat = at.reshape(-1)
        index = _kernels.first_outside_span(self._T, flat)
        if index < flat.size:
            where = numpy.unravel_index(index, at.shape) if at.ndim else ()
            raise ValueError(
                f"argument 'times': {float(flat[index])!r} at index {tuple(map(int, where))} "
                f"is outside [0, T] = [0, {self._T!r}], which extrapolate='raise' refuses"
            )

    def _evaluate(
        self, degree: int, series: FloatArray, columns: int, at: FloatArray, out: FloatArray
    ) -> None:
        """Fills `out` (at.size * columns values) with the series at `at`."""
        by_interval = series is self._flat
        rows = self._by_interval if by_interval else series
        _kernels.evaluate(degree, self._n_t, self._T, rows, columns, by_interval, at, out, False)
        if self._extrapolate in ("extend", "nan"):
            extend = self._extrapolate == "extend"
            _kernels.extrapolate(degree, self._n_t, self._T, series, columns, extend, at, out)

    def __call__(
        self, times: npt.ArrayLike, nu: Order = 0, *, out: FloatArray | None = None
    ) -> FloatArray:
        """The function, or its time derivatives, at `times`.

        Parameters
        ----------
        times : array_like
            Times of any shape, a scalar included.
        nu : int or sequence of int, default 0
            The order of the time derivative (above `degree` the result is
            zero), or several orders, which adds a leading axis and computes
            them all in one pass over the times.
        out : ndarray, optional
            A writable C-contiguous float64 array of the result's shape, which
            is filled and returned.

        Returns
        -------
        ndarray
            float64 of shape ``times.shape + shape``, or
            ``(len(nu),) + times.shape + shape`` for a sequence of orders.
            ``nu = 0`` gives, bit for bit, pwpoly's ``evaluate_at`` (at every
            time under "clamp", inside [0, T] under every policy); ``nu >= 1``
            is the derivative of the stored polynomial, accurate to rounding
            everywhere, interval ends included.

        Raises
        ------
        ValueError
            For times outside [0, T] or NaN under ``extrapolate="raise"``, a
            negative order, or an `out` of the wrong shape or layout.
        TypeError
            For an order that is not an integer (bool included), times that
            are not real numbers, or an `out` that is not a float64 ndarray.
        """
        orders, single = _orders(nu)
        at = float64_input(times, "times")
        if self._extrapolate == "raise":
            self._require_inside(at)
        columns = self._columns
        if single:
            result = output_array(out, at.shape + self._shape)
            if result.size:
                degree, series = self._series(orders[0])
                self._evaluate(degree, series, columns, apart_from(at, result), result)
            return result
        result = output_array(out, (len(orders),) + at.shape + self._shape)
        if result.size:
            degree, stacked, stacked_by_interval = self._stacked(tuple(orders))
            stack = len(orders) * columns
            at = apart_from(at, result)
            in_place = self._extrapolate in ("clamp", "raise") and (
                columns >= 2 or len(orders) * (degree + 1) <= _PLANE_TERMS
            )
            if in_place:
                # Each order's results in a plane of their own: the result's
                # own layout, written in one pass over the times.
                _kernels.evaluate(
                    degree,
                    self._n_t,
                    self._T,
                    stacked_by_interval,
                    stack,
                    True,
                    at,
                    result,
                    False,
                    len(orders),
                )
                return result
            by_time = numpy.empty(at.shape + (len(orders), columns), dtype=numpy.float64)
            self._evaluate(degree, stacked, stack, at, by_time)
            numpy.copyto(
                result.reshape((len(orders),) + at.shape + (columns,)),
                numpy.moveaxis(by_time, -2, 0),
            )
        return result

    # --- calculus ---------------------------------------------------------------------

    def derivative(self, nu: int = 1) -> PiecewiseLegendre:
        """The derivative of order `nu` as a new object on the same grid, of
        degree max(degree - nu, 0); its values equal ``p(t, nu)`` to
        rounding."""
        order = _order(nu, "nu")
        degree, series = self._series(order)
        return self._like(degree, series.reshape((series.shape[0],) + self._shape))

    def antiderivative(self, nu: int = 1) -> PiecewiseLegendre:
        """The antiderivative of order `nu` as a new object on the same grid,
        of degree degree + nu: continuous across break points and zero at
        t = 0, for each order, and its derivative of order nu gives back this
        function to rounding."""
        order = _order(nu, "nu")
        degree = self._degree + order
        if degree > UNSIGNED_MAX - 1 or self._n_t * (degree + 1) > MAX_FLOATS:
            raise ValueError(
                f"argument 'nu': an antiderivative of order {order} has degree {degree}, and "
                f"n_t * (degree + 1) coefficients exceed the size limit of {MAX_FLOATS} "
                "float64 values"
            )
        columns = self._columns
        series = self._flat
        for step in range(order):
            current = self._degree + step
            pieces = numpy.empty((self._n_t * (current + 2), columns), dtype=numpy.float64)
            if pieces.size:
                _kernels.integrate_pieces(current, self._n_t, self._T, series, columns, pieces)
                _kernels.join_pieces(current, self._n_t, self._T, series, columns, pieces)
            series = pieces
        return self._like(degree, _frozen(series, (self._n_t * (degree + 1),) + self._shape))

    def integrate(self, a: float, b: float) -> FloatArray:
        """The integral from `a` to `b` (both in [0, T]; a > b gives the
        negative), a float64 array of shape `shape`, accurate to rounding."""
        bounds = []
        for name, value in (("a", a), ("b", b)):
            bound = real(value, name)
            if not 0.0 <= bound <= self._T:
                raise ValueError(
                    f"argument '{name}': must lie in [0, T] = [0, {self._T!r}], not {bound!r}"
                )
            bounds.append(bound)
        out = numpy.zeros(self._columns, dtype=numpy.float64)
        if self._columns:
            _kernels.definite_integral(
                self._degree,
                self._n_t,
                self._T,
                self._flat,
                self._columns,
                bounds[0],
                bounds[1],
                out,
            )
        return out.reshape(self._shape)

    def interval_ends(self, nu: int = 0) -> tuple[FloatArray, FloatArray]:
        """``(start, end)``, each of shape (n_t, *shape): the one-sided values
        (or derivatives of order `nu`) of each interval's polynomial at its
        own left and right ends, so that the jumps at the break points are
        ``start[1:] - end[:-1]``."""
        degree, series = self._series(_order(nu, "nu"))
        start = numpy.empty((self._n_t,) + self._shape, dtype=numpy.float64)
        end = numpy.empty_like(start)
        if self._columns:
            _kernels.end_values(degree, self._n_t, self._T, series, self._columns, start, end)
        return start, end

    # --- other forms ------------------------------------------------------------------

    @classmethod
    def from_lagrange_values(
        cls,
        degree: int,
        n_t: int,
        T: float,
        values: npt.ArrayLike,
        *,
        extrapolate: str = "clamp",
        family: str = "equidistant",
    ) -> PiecewiseLegendre:
        """The piecewise polynomial through `values` at the nodes of `family`.

        `values` has shape (number of nodes, *shape), one row per node of
        ``nodes(degree, n_t, T, family)``: n_t * degree + 1 rows for the
        families that share interval ends ("equidistant", the nodes of
        ``lagrange_points``; "gauss-lobatto"; "chebyshev-lobatto"), and
        n_t * (degree + 1) for "gauss-legendre". The coefficients are, to
        rounding, ``transformation_matrix(degree, n_t, family) @ values``.
        Needs degree >= 1, except for "gauss-legendre".
        """
        degree_, n_t_, end, _ = _check_grid(degree, n_t, T)
        policy = _check_policy(extrapolate)
        transformation = _family_transformation(degree_, n_t_, _check_family(family))
        return cls._from_values(degree_, n_t_, end, values, policy, transformation, "values")

    @classmethod
    def _from_values(
        cls,
        degree: int,
        n_t: int,
        T: float,
        values: object,
        policy: str,
        transformation: _Transformation,
        name: str,
    ) -> PiecewiseLegendre:
        given = real_array(values, name)
        nodes = transformation.node_count
        if given.ndim == 0 or given.shape[0] != nodes:
            raise ValueError(
                f"argument '{name}': expected shape ({nodes},) or ({nodes}, *shape), one row "
                f"per node, got shape {given.shape}"
            )
        shape = given.shape[1:]
        columns = math.prod(shape)
        out = numpy.empty((n_t * (degree + 1), columns), dtype=numpy.float64)
        if columns:
            _kernels.apply_local_weights(
                degree,
                n_t,
                transformation.weights,
                transformation.node_step,
                float64_input(given, name),
                columns,
                out,
            )
        return cls._build(degree, n_t, T, _frozen(out, (n_t * (degree + 1),) + shape), policy)

    @classmethod
    def interpolate(
        cls,
        f: Callable[[FloatArray], npt.ArrayLike],
        degree: int,
        n_t: int,
        T: float,
        *,
        extrapolate: str = "clamp",
        family: str = "equidistant",
    ) -> PiecewiseLegendre:
        """The piecewise polynomial through `f` at the nodes of `family`:
        calls ``f`` once with the 1-D float64 array of the nodes and does as
        ``from_lagrange_values`` with what it returns (shape
        (number of nodes, *shape))."""
        if not callable(f):
            raise TypeError(f"argument 'f': must be callable, not {type(f).__name__}")
        degree_, n_t_, end, _ = _check_grid(degree, n_t, T)
        policy = _check_policy(extrapolate)
        family_ = _check_family(family)
        transformation = _family_transformation(degree_, n_t_, family_)
        nodes = _family_nodes(degree_, n_t_, end, family_)
        return cls._from_values(degree_, n_t_, end, f(nodes), policy, transformation, "f")

    def to_ppoly(self) -> Any:
        """The same piecewise polynomial as a ``scipy.interpolate.PPoly``.

        Break points as `breakpoints`; coefficients in powers of t - x_k,
        equal to rounding for moderate degrees (their conversion grows like
        binomials times (2 / w)^j). PPoly continues the end polynomials under
        "extend" and gives NaN outside [0, T] otherwise. Needs SciPy.
        """
        try:
            from scipy.interpolate import PPoly
        except ImportError as error:
            raise ImportError(
                "PiecewiseLegendre.to_ppoly needs SciPy: install it with "
                "python3 -m pip install 'pwpoly[scipy]'"
            ) from error
        rows = self._degree + 1
        power = numpy.zeros((rows, self._n_t, self._columns), dtype=numpy.float64)
        if self._columns:
            _kernels.power_coefficients(
                self._degree, self._n_t, self._T, self._flat, self._columns, power
            )
        return PPoly(
            power.reshape((rows, self._n_t) + self._shape),
            numpy.array(self._breakpoints),
            extrapolate=self._extrapolate == "extend",
        )

    # --- linear combinations ----------------------------------------------------------

    def _check_operand(self, other: PiecewiseLegendre) -> None:
        mine = (self._degree, self._n_t, self._T)
        theirs = (other._degree, other._n_t, other._T)
        if mine != theirs:
            raise ValueError(
                f"operand: grid (degree, n_t, T) = {theirs} differs from {mine}; linear "
                "combinations need the same grid"
            )
        if self._shape != other._shape:
            raise ValueError(f"operand: shape {other._shape} differs from {self._shape}")
        if self._extrapolate != other._extrapolate:
            raise ValueError(
                f"operand: extrapolate={other._extrapolate!r} differs from {self._extrapolate!r}"
            )

    def __add__(self, other: object) -> PiecewiseLegendre:
        if not isinstance(other, PiecewiseLegendre):
            return NotImplemented
        self._check_operand(other)
        return self._like(self._degree, _frozen(self._coefficients + other._coefficients))

    def __sub__(self, other: object) -> PiecewiseLegendre:
        if not isinstance(other, PiecewiseLegendre):
            return NotImplemented
        self._check_operand(other)
        return self._like(self._degree, _frozen(self._coefficients - other._coefficients))

    def __neg__(self) -> PiecewiseLegendre:
        return self._like(self._degree, _frozen(-self._coefficients))

    def __mul__(self, other: object) -> PiecewiseLegendre:
        factor = _scalar(other)
        if factor is None:
            return NotImplemented
        return self._like(self._degree, _frozen(self._coefficients * factor))

    __rmul__ = __mul__


def _scalar(value: object) -> float | None:
    """`value` as a real factor, or None for anything that is not one number
    (arrays, complex numbers, other objects)."""
    if isinstance(value, (numpy.ndarray, complex, numpy.complexfloating, str, bytes)):
        return None
    try:
        return real(value, "factor")
    except (TypeError, OverflowError):
        return None
