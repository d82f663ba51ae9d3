"""PiecewiseLegendre against independent references: pwpoly's evaluator to the
bit for values, exact rational arithmetic for derivatives, antiderivatives,
integrals and end values on grids where the local coordinate is exact,
NumPy's legder/legint with the interval scaling, SciPy's PPoly; every
extrapolation policy; shapes, orders and `out`; pickling and immutability;
and every refusal."""

import copy
import math
import pickle
import threading
from fractions import Fraction

import pytest

numpy = pytest.importorskip("numpy")
pwpoly_numpy = pytest.importorskip("pwpoly_numpy")

import pwpoly  # noqa: E402
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from numpy.polynomial import legendre  # noqa: E402

PiecewiseLegendre = pwpoly_numpy.PiecewiseLegendre
EPS = 2.0**-52
ULPS = 300
"""'Accurate to rounding': within this many units of 2**-52 of the terms' magnitude."""


def same_bits(got, expected):
    got = numpy.asarray(got, dtype=numpy.float64)
    expected = numpy.asarray(expected, dtype=numpy.float64)
    both_nan = numpy.isnan(got) & numpy.isnan(expected)
    same = got.view(numpy.uint64) == expected.view(numpy.uint64)
    return got.shape == expected.shape and bool(numpy.all(same | both_nan))


def interval_series(p, k, e=()):
    """The Legendre coefficients of interval k of column `e` of p."""
    return numpy.array(p.coefficients[(slice(k, None, p.n_t), *e)])


# --- exact references ---------------------------------------------------------------------


def legendre_powers(degree):
    """P_0 ... P_degree as lists of Fraction coefficients of xi**j."""
    table = [[Fraction(1)], [Fraction(0), Fraction(1)]]
    for n in range(1, degree):
        raised = [Fraction(0)] + [(2 * n + 1) * x for x in table[n]]
        lower = table[n - 1] + [Fraction(0), Fraction(0)]
        table.append([(raised[j] - n * lower[j]) / (n + 1) for j in range(n + 2)])
    return table[: degree + 1]


def derived(powers, nu):
    """d^nu/dxi^nu of a power series."""
    return [powers[j] * math.perm(j, nu) for j in range(nu, len(powers))]


def horner(powers, x):
    total = Fraction(0)
    for coefficient in reversed(powers):
        total = total * x + coefficient
    return total


def exact_terms(series, xi, nu, scale):
    """(sum_i c_i P_i^(nu)(xi) scale^nu, sum_i |c_i| |P_i^(nu)(1)| scale^nu), exactly."""
    table = legendre_powers(len(series) - 1)
    value = Fraction(0)
    magnitude = Fraction(0)
    for c, powers in zip(series, table):
        if len(powers) <= nu:
            continue
        d = derived(powers, nu)
        value += Fraction(float(c)) * horner(d, xi)
        magnitude += abs(Fraction(float(c))) * abs(horner(d, Fraction(1)))
    return value * scale**nu, magnitude * scale**nu


def exact_location(t, n_t, w):
    """pwpoly's interval and local coordinate of a time inside [0, T], exactly."""
    q = Fraction(t) / Fraction(w)
    k = min(math.floor(q), n_t - 1)
    return k, 2 * (q - k) - 1


@st.composite
def exact_grids(draw, max_degree=9, shapes=((), (2,), (2, 3))):
    """A grid with a power-of-two interval width, so that dyadic times have
    exact local coordinates, and random coefficients of a trailing shape."""
    degree = draw(st.integers(0, max_degree))
    n_t = draw(st.integers(1, 5))
    w = 2.0 ** draw(st.integers(-3, 3))
    shape = draw(st.sampled_from(shapes))
    seed = draw(st.integers(0, 2**32 - 1))
    coefficients = numpy.random.default_rng(seed).uniform(-1.0, 1.0, (n_t * (degree + 1), *shape))
    if draw(st.booleans()):
        # Widely different scales per degree, as smooth functions have.
        coefficients *= (
            (10.0 ** -numpy.arange(degree + 1)).repeat(n_t).reshape((-1,) + (1,) * len(shape))
        )
    return PiecewiseLegendre(degree, n_t, n_t * w, coefficients)


def exact_times(draw, p, count):
    """Dyadic times in [0, T]: break points, interval ends and points between."""
    w = p.T / p.n_t
    times = []
    for _ in range(count):
        k = draw(st.integers(0, p.n_t))
        eighths = draw(st.integers(0, 8))
        times.append(min(k * w + eighths * w / 8, p.T))
    return numpy.array(times)


# --- values: pwpoly's bits -------------------------------------------------------------------


def scalar_values(degree, n_t, T, column, times):
    evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(column)
    return numpy.array([evaluator.evaluate_at(t) for t in times.flat]).reshape(times.shape)


AWKWARD = [0.0, -0.0, 1e-300, -1e-300, -1.0, -numpy.inf, numpy.inf, numpy.nan, 1e300]


@settings(max_examples=60, deadline=None)
@given(
    degree=st.integers(0, 12),
    n_t=st.integers(1, 6),
    T=st.sampled_from([1.0, 3.0, 0.3, 7.5, 1e-3, 1e6]),
    shape=st.sampled_from([(), (1,), (3,), (2, 2)]),
    policy=st.sampled_from(["clamp", "extend", "nan", "raise"]),
    seed=st.integers(0, 2**32 - 1),
)
def test_values_are_pwpolys_bits(degree, n_t, T, shape, policy, seed):
    rng = numpy.random.default_rng(seed)
    coefficients = rng.uniform(-2.0, 2.0, (n_t * (degree + 1), *shape))
    p = PiecewiseLegendre(degree, n_t, T, coefficients, extrapolate=policy)
    w = T / n_t
    inside = numpy.array(
        [k * w for k in range(n_t)]
        + [numpy.nextafter(k * w, numpy.inf) for k in range(n_t)]
        + [numpy.nextafter(k * w, -numpy.inf) for k in range(1, n_t)]
        + list(rng.uniform(0.0, T, 7))
        + [T, 0.0, -0.0]
    )
    outside = numpy.array(AWKWARD + [T * 1.5, numpy.nextafter(T, numpy.inf)])
    times = inside if policy != "clamp" else numpy.concatenate([inside, outside])
    result = p(times)
    assert result.shape == times.shape + shape
    for e in numpy.ndindex(shape):
        column = coefficients[(slice(None), *e)]
        assert same_bits(result[(Ellipsis, *e)], scalar_values(degree, n_t, T, column, times))
    assert same_bits(result, pwpoly_numpy.evaluate(degree, n_t, T, coefficients, times))


# --- derivatives, antiderivatives, integrals: exact references ------------------------------


@settings(max_examples=60, deadline=None)
@given(p=exact_grids(), nu=st.integers(1, 4), data=st.data())
def test_derivatives_are_exact_to_rounding_interval_ends_included(p, nu, data):
    times = exact_times(data.draw, p, 6)
    w = p.T / p.n_t
    result = p(times, nu)
    via_object = p.derivative(nu)(times)
    for j, t in enumerate(times):
        k, xi = exact_location(t, p.n_t, w)
        for e in numpy.ndindex(p.shape):
            value, magnitude = exact_terms(
                interval_series(p, k, e), xi, nu, Fraction(2) / Fraction(w)
            )
            bound = ULPS * EPS * float(magnitude)
            assert abs(result[(j, *e)] - float(value)) <= bound
            assert abs(via_object[(j, *e)] - float(value)) <= bound


@settings(max_examples=40, deadline=None)
@given(p=exact_grids(max_degree=12), nu=st.integers(0, 14))
def test_derivative_coefficients_are_legders_with_the_interval_scaling(p, nu):
    derivative = p.derivative(nu)
    assert derivative.degree == max(p.degree - nu, 0)
    assert (derivative.n_t, derivative.T, derivative.shape) == (p.n_t, p.T, p.shape)
    for k in range(p.n_t):
        for e in numpy.ndindex(p.shape):
            got = interval_series(derivative, k, e)
            if nu > p.degree:
                assert same_bits(got, [0.0])
                continue
            expected = legendre.legder(interval_series(p, k, e), nu, scl=2.0 / (p.T / p.n_t))
            assert same_bits(got, expected)


@settings(max_examples=40, deadline=None)
@given(p=exact_grids(max_degree=8), nu=st.integers(1, 3), data=st.data())
def test_antiderivatives_are_continuous_zero_at_the_start_and_undo_the_derivative(p, nu, data):
    q = p.antiderivative(nu)
    assert (q.degree, q.n_t, q.T, q.shape) == (p.degree + nu, p.n_t, p.T, p.shape)
    w = p.T / p.n_t
    scale = Fraction(2) / Fraction(w)
    times = exact_times(data.draw, p, 5)
    back = q(times, nu)
    for j, t in enumerate(times):
        k, xi = exact_location(t, p.n_t, w)
        for e in numpy.ndindex(p.shape):
            value, _ = exact_terms(interval_series(p, k, e), xi, 0, Fraction(1))
            _, magnitude = exact_terms(interval_series(q, k, e), xi, nu, scale)
            assert abs(back[(j, *e)] - float(value)) <= ULPS * EPS * float(magnitude)
    for order in range(nu):
        start, end = q.interval_ends(order)
        terms = numpy.abs(q.derivative(order).coefficients).reshape(q.degree - order + 1, -1)
        bound = ULPS * EPS * float(numpy.max(terms.sum(axis=0), initial=0.0))
        assert numpy.all(numpy.abs(start[1:] - end[:-1]) <= bound)
        assert numpy.all(numpy.abs(start[0]) <= bound)
    # One order at a time: the same as NumPy's legint per interval, up to the constants.
    once = p.antiderivative()
    for k in range(p.n_t):
        for e in numpy.ndindex(p.shape):
            expected = legendre.legint(interval_series(p, k, e), scl=w / 2, lbnd=-1)
            got = interval_series(once, k, e)
            bound = ULPS * EPS * max(1.0, float(numpy.sum(numpy.abs(got))))
            assert numpy.all(numpy.abs(got[1:] - expected[1:]) <= bound)


def exact_integral(p, a, b, e):
    """The integral from a to b, a <= b in [0, T], and the magnitude of its
    terms: w * sum_i |c_i| over the intervals it touches."""
    w = Fraction(p.T / p.n_t)
    total = Fraction(0)
    magnitude = Fraction(0)
    for k in range(p.n_t):
        lower = max(Fraction(a), k * w)
        upper = min(Fraction(b), (k + 1) * w)
        if lower > upper:
            continue
        xi_lower = 2 * (lower - k * w) / w - 1
        xi_upper = 2 * (upper - k * w) / w - 1
        for c, powers in zip(interval_series(p, k, e), legendre_powers(p.degree)):
            primitive = [Fraction(0)] + [x / (j + 1) for j, x in enumerate(powers)]
            piece = (horner(primitive, xi_upper) - horner(primitive, xi_lower)) * w / 2
            total += Fraction(float(c)) * piece
            magnitude += abs(Fraction(float(c))) * w
    return total, magnitude


@settings(max_examples=60, deadline=None)
@given(p=exact_grids(), data=st.data())
def test_integrals_are_exact_to_rounding(p, data):
    a, b = exact_times(data.draw, p, 2)
    result = p.integrate(a, b)
    assert result.shape == p.shape and result.dtype == numpy.float64
    assert numpy.array_equal(p.integrate(b, a), -result)
    lower, upper = sorted((a, b))
    for e in numpy.ndindex(p.shape):
        value, magnitude = exact_integral(p, lower, upper, e)
        expected = float(value) if a <= b else -float(value)
        assert abs(result[e] - expected) <= ULPS * EPS * float(magnitude)


@settings(max_examples=40, deadline=None)
@given(p=exact_grids(), nu=st.integers(0, 4))
def test_interval_ends_are_the_one_sided_values(p, nu):
    start, end = p.interval_ends(nu)
    assert start.shape == end.shape == (p.n_t, *p.shape)
    scale = Fraction(2) / Fraction(p.T / p.n_t)
    for k in range(p.n_t):
        for e in numpy.ndindex(p.shape):
            series = interval_series(p, k, e)
            for xi, got in ((-1, start[(k, *e)]), (1, end[(k, *e)])):
                value, magnitude = exact_terms(series, Fraction(xi), nu, scale)
                assert abs(got - float(value)) <= ULPS * EPS * float(magnitude)
    if nu == 0:
        # P_i(+-1) = (+-1)**i exactly: the sums are those of pwpoly's evaluator at xi = +-1.
        flat = p.coefficients.reshape(p.degree + 1, p.n_t, -1)
        signs = (-1.0) ** numpy.arange(p.degree + 1)
        assert numpy.allclose(start.reshape(p.n_t, -1), numpy.einsum("i,ike->ke", signs, flat))


@settings(max_examples=30, deadline=None)
@given(p=exact_grids(max_degree=7), data=st.data())
def test_to_ppoly_is_the_same_piecewise_polynomial(p, data):
    scipy_interpolate = pytest.importorskip("scipy.interpolate")
    ppoly = p.to_ppoly()
    assert isinstance(ppoly, scipy_interpolate.PPoly)
    assert same_bits(ppoly.x, p.breakpoints)
    times = exact_times(data.draw, p, 8)
    # The power coefficients grow like P_i(-3) (about 6**i) relative to the Legendre ones.
    largest = float(numpy.max(numpy.abs(p.coefficients), initial=0.0))
    bound = 100 * EPS * largest * (p.degree + 1) * 6.0**p.degree
    assert numpy.all(numpy.abs(ppoly(times) - p(times)) <= bound)


# --- extrapolation --------------------------------------------------------------------------

OUTSIDE = numpy.array([-1.5, -1e-9, 2.0 + 1e-9, 3.25, -numpy.inf, numpy.inf, numpy.nan])


@pytest.mark.parametrize("nu", [0, 1, 2, 4])
def test_each_policy_outside_the_span(nu):
    # On [0, 2], two intervals: 1 - 2 P_1 + 3 P_2 then 0.5 + P_3; and a constant beside.
    coefficients = numpy.zeros((8, 2))
    coefficients[[0, 1, 2, 4, 7], 0] = [1.0, 0.5, -2.0, 3.0, 1.0]
    coefficients[[0, 1], 1] = [4.0, 4.0]
    policies = {
        name: PiecewiseLegendre(3, 2, 2.0, coefficients, extrapolate=name)
        for name in ("clamp", "extend", "nan", "raise")
    }
    clamp = policies["clamp"](OUTSIDE, nu)
    ends = policies["clamp"](numpy.array([0.0, 2.0]), nu)
    expected_clamp = [ends[0], ends[0], ends[1], ends[1], ends[0], ends[1]]
    assert same_bits(clamp[:6], numpy.array(expected_clamp))
    assert same_bits(clamp[6], policies["clamp"](numpy.nan, nu))
    # extend: NumPy's legval of each end interval's derivative at the unclamped xi.
    extend = policies["extend"](OUTSIDE, nu)
    for j, t in enumerate(OUTSIDE[:4]):
        k = 0 if t < 0 else 1
        for e in range(2):
            series = legendre.legder(coefficients[k::2, e], nu, scl=2.0)
            xi = 2.0 * (t - k) - 1.0
            assert extend[j, e] == pytest.approx(legendre.legval(xi, series), rel=1e-12, abs=1e-12)
    for j, k, sign in ((4, 0, -1), (5, 1, 1)):
        series = numpy.trim_zeros(legendre.legder(coefficients[k::2, 0], nu, scl=2.0), "b")
        if series.size <= 1:
            assert extend[j, 0] == (series[0] if series.size else 0.0)
        else:
            odd = (series.size - 1) % 2 == 1
            assert extend[j, 0] == numpy.copysign(numpy.inf, series[-1] * (sign if odd else 1))
    assert numpy.all(numpy.isnan(extend[6]))
    assert numpy.all(extend[4:6, 1] == (4.0 if nu == 0 else 0.0))
    assert numpy.all(numpy.isnan(policies["nan"](OUTSIDE, nu)))
    for t in OUTSIDE:
        with pytest.raises(ValueError, match=r"^argument 'times': .* is outside \[0, T\]"):
            policies["raise"](numpy.array([1.0, t]), nu)
    inside = numpy.linspace(0.0, 2.0, 9)
    for p in policies.values():
        assert same_bits(p(inside, nu), policies["clamp"](inside, nu))


def test_extend_agrees_with_ppoly_beyond_the_span():
    scipy_interpolate = pytest.importorskip("scipy.interpolate")
    coefficients = numpy.random.default_rng(5).uniform(-1.0, 1.0, 12)
    p = PiecewiseLegendre(3, 3, 1.5, coefficients, extrapolate="extend")
    ppoly = p.to_ppoly()
    assert ppoly.extrapolate and isinstance(ppoly, scipy_interpolate.PPoly)
    times = numpy.array([-0.7, -0.01, 1.51, 2.4])
    assert numpy.allclose(p(times), ppoly(times), rtol=1e-12, atol=1e-12)
    assert numpy.allclose(p(times, 2), ppoly(times, 2), rtol=1e-12, atol=1e-10)
    assert numpy.all(numpy.isnan(PiecewiseLegendre(3, 3, 1.5, coefficients).to_ppoly()(times)))


# --- shapes, orders and out -----------------------------------------------------------------


@pytest.mark.parametrize("time_shape", [(), (5,), (2, 3)])
@pytest.mark.parametrize("shape", [(), (3,), (2, 2)])
def test_order_sequences_stack_the_single_orders(time_shape, shape):
    rng = numpy.random.default_rng(2)
    p = PiecewiseLegendre(4, 3, 1.0, rng.uniform(-1, 1, (15, *shape)), extrapolate="extend")
    times = rng.uniform(-0.2, 1.2, time_shape)
    orders = [0, 2, 1, 6, 2]
    stacked = p(times, orders)
    assert stacked.shape == (len(orders), *time_shape, *shape)
    for j, nu in enumerate(orders):
        single = p(times, nu)
        # Zero rows pad the lower degrees: equal, up to the sign of a zero.
        assert numpy.array_equal(stacked[j], single)
        if nu == 0:
            assert same_bits(stacked[j], single)
    assert p(times, []).shape == (0, *time_shape, *shape)
    assert same_bits(p(times, numpy.array([1, 0])), p(times, (1, 0)))


def test_out_is_filled_and_returned():
    rng = numpy.random.default_rng(3)
    p = PiecewiseLegendre(3, 4, 2.0, rng.uniform(-1, 1, (16, 3)))
    times = rng.uniform(0.0, 2.0, (4, 5))
    out = numpy.full((4, 5, 3), 7.0)
    assert p(times, out=out) is out
    assert same_bits(out, p(times))
    out2 = numpy.empty((2, 4, 5, 3))
    assert p(times, [0, 1], out=out2) is out2
    assert same_bits(out2, p(times, [0, 1]))
    # Times and out in the same memory: the times are read before they are overwritten.
    shared = numpy.linspace(0.0, 2.0, 6)
    expected = PiecewiseLegendre(3, 4, 2.0, rng.uniform(-1, 1, 16))
    values = expected(shared)
    assert same_bits(expected(shared, out=shared), values)


@pytest.mark.parametrize("derivative", [False, True])
def test_evaluate_takes_trailing_shapes_and_out(derivative):
    rng = numpy.random.default_rng(4)
    coefficients = rng.uniform(-1, 1, (12, 2, 3))
    times = rng.uniform(0.0, 3.0, (4,))
    function = pwpoly_numpy.evaluate_derivative if derivative else pwpoly_numpy.evaluate
    result = function(3, 3, 3.0, coefficients, times)
    assert result.shape == (4, 2, 3)
    columns = function(3, 3, 3.0, coefficients.reshape(12, 6), times)
    assert same_bits(result.reshape(4, 6), columns)
    out = numpy.empty((4, 2, 3))
    assert function(3, 3, 3.0, coefficients, times, out=out) is out
    assert same_bits(out, result)
    assert function(3, 3, 3.0, numpy.zeros((12, 0, 3)), times).shape == (4, 0, 3)
    with pytest.raises(ValueError, match=r"^argument 'out': expected shape \(4, 2, 3\)"):
        function(3, 3, 3.0, coefficients, times, out=numpy.empty((4, 6)))


OUT_ERRORS = [
    ([1.0, 2.0], TypeError, "argument 'out': expected a numpy.ndarray, not list"),
    (
        numpy.empty(3, dtype=numpy.float32),
        TypeError,
        "argument 'out': expected an array of dtype float64, got float32",
    ),
    (numpy.empty(4), ValueError, r"argument 'out': expected shape \(3,\), got \(4,\)"),
    (numpy.empty(6)[::2], ValueError, "argument 'out': must be C-contiguous and aligned"),
    (numpy.frombuffer(bytes(24)), ValueError, "argument 'out': must be writable"),
]


@pytest.mark.parametrize(("out", "kind", "message"), OUT_ERRORS)
def test_wrong_out_is_refused(out, kind, message):
    p = PiecewiseLegendre(1, 1, 1.0, [1.0, 2.0])
    with pytest.raises(kind, match=f"^{message}$"):
        p([0.0, 0.5, 1.0], out=out)


# --- construction from values ---------------------------------------------------------------


@pytest.mark.parametrize("shape", [(), (3,)])
def test_from_lagrange_values_applies_the_transformation(shape):
    pytest.importorskip("scipy")
    degree, n_t, T = 5, 4, 2.0
    nodes = pwpoly_numpy.lagrange_points(degree, n_t, T)
    values = numpy.sin(nodes)[:, None] * numpy.arange(1, 4) if shape else numpy.sin(nodes)
    p = PiecewiseLegendre.from_lagrange_values(degree, n_t, T, values, extrapolate="nan")
    expected = pwpoly_numpy.transformation_matrix(degree, n_t) @ values
    assert numpy.allclose(p.coefficients, expected, rtol=0, atol=1e-15)
    assert p.extrapolate == "nan" and p.shape == shape
    calls = []

    def f(at):
        calls.append(at.copy())
        return numpy.sin(at)[:, None] * numpy.arange(1, 4) if shape else numpy.sin(at)

    q = PiecewiseLegendre.interpolate(f, degree, n_t, T, extrapolate="nan")
    assert len(calls) == 1 and same_bits(calls[0], nodes)
    assert same_bits(q.coefficients, p.coefficients)
    times = numpy.linspace(0.0, T, 50)
    velocity = numpy.cos(times)[:, None] * numpy.arange(1, 4) if shape else numpy.cos(times)
    assert numpy.allclose(q(times, 1), velocity, atol=1e-4)


# --- protocols ------------------------------------------------------------------------------


def test_attributes_repr_and_breakpoints():
    p = PiecewiseLegendre(2, 3, 0.3, numpy.arange(18.0).reshape(9, 2), extrapolate="extend")
    assert (p.degree, p.n_t, p.T, p.shape, p.extrapolate) == (2, 3, 0.3, (2,), "extend")
    assert repr(p) == "PiecewiseLegendre(degree=2, n_t=3, T=0.3, shape=(2,), extrapolate='extend')"
    w = 0.3 / 3
    assert same_bits(p.breakpoints, [0.0, 1 * w, 2 * w, 0.3])
    assert same_bits(p.coefficients, numpy.arange(18.0).reshape(9, 2))


@pytest.mark.parametrize(
    "round_trip",
    [
        lambda p: pickle.loads(pickle.dumps(p)),
        copy.copy,
        copy.deepcopy,
        lambda p: pickle.loads(pickle.dumps(p, protocol=2)),
    ],
    ids=["pickle", "copy", "deepcopy", "pickle-2"],
)
def test_round_trips_keep_the_bits(round_trip):
    coefficients = numpy.array([0.1, -0.0, numpy.nan, numpy.inf, 5e-324, 1e308]).reshape(6, 1)
    p = PiecewiseLegendre(2, 2, 1.5, coefficients, extrapolate="raise")
    q = round_trip(p)
    assert type(q) is PiecewiseLegendre and repr(q) == repr(p)
    assert same_bits(q.coefficients, p.coefficients)
    assert same_bits(q(numpy.linspace(0, 1.5, 7)), p(numpy.linspace(0, 1.5, 7)))


def test_the_object_never_changes():
    source = numpy.arange(6.0)
    p = PiecewiseLegendre(2, 2, 1.0, source)
    source[0] = 100.0
    assert p.coefficients[0] == 0.0
    for name in ("degree", "T", "coefficients", "_flat", "other"):
        with pytest.raises(AttributeError, match="immutable"):
            setattr(p, name, 1)
        with pytest.raises(AttributeError, match="immutable"):
            delattr(p, name)
    for array in (p.coefficients, p.breakpoints):
        assert not array.flags.writeable
        chain = array
        while isinstance(chain, numpy.ndarray):
            with pytest.raises(ValueError):
                chain.setflags(write=True)
            chain = chain.base
        with pytest.raises(ValueError):
            array[0] = 1.0
    p.__init__(3, 3, 3.0, numpy.zeros(12))
    assert p.degree == 2 and p.coefficients[1] == 1.0


def test_threads_share_one_object():
    p = PiecewiseLegendre(6, 50, 1.0, numpy.random.default_rng(6).uniform(-1, 1, 350))
    times = numpy.linspace(0.0, 1.0, 2001)
    expected = {nu: PiecewiseLegendre(6, 50, 1.0, p.coefficients)(times, nu) for nu in range(4)}
    failures = []

    def work(nu):
        for _ in range(20):
            if not same_bits(p(times, nu), expected[nu]):
                failures.append(nu)

    workers = [threading.Thread(target=work, args=(nu % 4,)) for nu in range(8)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert not failures


def test_linear_combinations():
    rng = numpy.random.default_rng(7)
    a, b = rng.uniform(-1, 1, (2, 12, 2))
    p = PiecewiseLegendre(2, 4, 2.0, a)
    q = PiecewiseLegendre(2, 4, 2.0, b)
    assert same_bits((p + q).coefficients, a + b)
    assert same_bits((p - q).coefficients, a - b)
    assert same_bits((-p).coefficients, -a)
    assert same_bits((p * 2.5).coefficients, a * 2.5)
    assert same_bits((numpy.float64(3) * p).coefficients, 3.0 * a)
    assert same_bits((2 * p).coefficients, 2.0 * a)
    others = [
        PiecewiseLegendre(3, 4, 2.0, numpy.zeros((16, 2))),
        PiecewiseLegendre(2, 3, 2.0, numpy.zeros((9, 2))),
        PiecewiseLegendre(2, 4, 2.5, numpy.zeros((12, 2))),
        PiecewiseLegendre(2, 4, 2.0, numpy.zeros(12)),
        PiecewiseLegendre(2, 4, 2.0, numpy.zeros((12, 2)), extrapolate="nan"),
    ]
    for other in others:
        with pytest.raises(ValueError, match="^operand: "):
            p + other
        with pytest.raises(ValueError, match="^operand: "):
            p - other
    for factor in (numpy.ones(2), 1j, "2", None, p):
        with pytest.raises(TypeError):
            p * factor
        with pytest.raises(TypeError):
            factor * p
    with pytest.raises(TypeError):
        p + 1.0


# --- refusals -------------------------------------------------------------------------------

N9 = numpy.zeros(9)
CONSTRUCTOR_ERRORS = [
    ((2, 0, 1.0, N9), {}, ValueError, "argument 'n_t': must be at least 1, not 0"),
    ((2, 3, 0.0, N9), {}, ValueError, "argument 'T': must be finite and > 0, not 0.0"),
    ((2, 3, -1.0, N9), {}, ValueError, "argument 'T': must be finite and > 0, not -1.0"),
    ((2, 3, math.inf, N9), {}, ValueError, "argument 'T': must be finite and > 0, not inf"),
    ((2, 3, math.nan, N9), {}, ValueError, "argument 'T': must be finite and > 0, not nan"),
    (
        (2, 3, 1e-310, N9),
        {},
        ValueError,
        r"argument 'T': the interval width T / n_t = .* normal double",
    ),
    (
        (2.0, 3, 1.0, N9),
        {},
        TypeError,
        "argument 'degree': 'float' object cannot be interpreted as an integer",
    ),
    ((2, -1, 1.0, N9), {}, OverflowError, "argument 'n_t': must be 0 ... 4294967295, not -1"),
    ((2, 3, "1", N9), {}, TypeError, "argument 'T': must be real number, not str"),
    (
        (2, 3, 1.0, numpy.zeros(8)),
        {},
        ValueError,
        r"argument 'coefficients': expected shape \(9,\) or \(9, \*shape\) for n_t \* \(degree \+ 1\) = 9 "
        r"coefficients in pwpoly's flat layout \(the coefficient of P_i on interval k in row "
        r"k \+ n_t \* i, the interval index fastest\), got shape \(8,\)",
    ),
    (
        (2, 3, 1.0, 1.0),
        {},
        ValueError,
        r"argument 'coefficients': expected shape \(9,\) .* got shape \(\)",
    ),
    (
        (2, 3, 1.0, N9 * 1j),
        {},
        TypeError,
        "argument 'coefficients': complex values are not accepted",
    ),
    (
        (2, 3, 1.0, N9),
        {"extrapolate": "linear"},
        ValueError,
        "argument 'extrapolate': must be one of 'clamp', 'extend', 'nan', 'raise', not 'linear'",
    ),
    (
        (2, 3, 1.0, N9),
        {"extrapolate": None},
        TypeError,
        "argument 'extrapolate': must be a str, not NoneType",
    ),
]


@pytest.mark.parametrize(("args", "kwargs", "kind", "message"), CONSTRUCTOR_ERRORS)
def test_constructor_refusals(args, kwargs, kind, message):
    with pytest.raises(kind, match=f"^{message}"):
        PiecewiseLegendre(*args, **kwargs)


P = PiecewiseLegendre(2, 3, 1.0, numpy.arange(9.0))
METHOD_ERRORS = [
    (lambda: P(0.5, -1), ValueError, "argument 'nu': must be non-negative, not -1"),
    (
        lambda: P(0.5, True),
        TypeError,
        "argument 'nu': must be a non-negative integer or a sequence of them, not bool",
    ),
    (
        lambda: P(0.5, 1.0),
        TypeError,
        "argument 'nu': must be a non-negative integer or a sequence of them, not float",
    ),
    (
        lambda: P(0.5, "1"),
        TypeError,
        "argument 'nu': must be a non-negative integer or a sequence of them, not str",
    ),
    (
        lambda: P(0.5, [0, 1.5]),
        TypeError,
        "argument 'nu': must be a non-negative integer, not float",
    ),
    (lambda: P(0.5, [0, -2]), ValueError, "argument 'nu': must be non-negative, not -2"),
    (
        lambda: P(0.5, [numpy.True_]),
        TypeError,
        "argument 'nu': must be a non-negative integer, not bool",
    ),
    (
        lambda: P("x"),
        TypeError,
        "argument 'times': expected real numbers, got an array of dtype <U1",
    ),
    (lambda: P(0.5, out=[0.0]), TypeError, "argument 'out': expected a numpy.ndarray, not list"),
    (lambda: P.derivative(-1), ValueError, "argument 'nu': must be non-negative, not -1"),
    (
        lambda: P.derivative(False),
        TypeError,
        "argument 'nu': must be a non-negative integer, not bool",
    ),
    (
        lambda: P.antiderivative(2.0),
        TypeError,
        "argument 'nu': must be a non-negative integer, not float",
    ),
    (
        lambda: P.antiderivative(2**32),
        ValueError,
        "argument 'nu': an antiderivative of order 4294967296 has degree",
    ),
    (lambda: P.interval_ends(-3), ValueError, "argument 'nu': must be non-negative, not -3"),
    (
        lambda: P.integrate(-0.5, 1.0),
        ValueError,
        r"argument 'a': must lie in \[0, T\] = \[0, 1.0\], not -0.5",
    ),
    (
        lambda: P.integrate(0.0, 1.5),
        ValueError,
        r"argument 'b': must lie in \[0, T\] = \[0, 1.0\], not 1.5",
    ),
    (
        lambda: P.integrate(0.0, math.nan),
        ValueError,
        r"argument 'b': must lie in \[0, T\] = \[0, 1.0\], not nan",
    ),
    (lambda: P.integrate(None, 1.0), TypeError, "argument 'a': must be real number, not NoneType"),
    (
        lambda: PiecewiseLegendre.from_lagrange_values(2, 3, 1.0, numpy.zeros(6)),
        ValueError,
        r"argument 'values': expected shape \(7,\) or \(7, \*shape\), one row per node, got shape \(6,\)",
    ),
    (
        lambda: PiecewiseLegendre.from_lagrange_values(0, 3, 1.0, numpy.zeros(1)),
        ValueError,
        r"argument 'degree': values at Lagrange nodes need degree >= 1",
    ),
    (
        lambda: PiecewiseLegendre.from_lagrange_values(
            2, 3, 1.0, numpy.zeros(7), family="chebyshev"
        ),
        ValueError,
        "argument 'family': unknown node family 'chebyshev'; expected one of 'equidistant', "
        "'gauss-legendre', 'gauss-lobatto', 'chebyshev-lobatto'",
    ),
    (
        lambda: PiecewiseLegendre.interpolate(numpy.sin, 2, 3, 1.0, family=1),
        TypeError,
        "argument 'family': must be str, not int",
    ),
    (
        lambda: PiecewiseLegendre.interpolate(3.0, 2, 3, 1.0),
        TypeError,
        "argument 'f': must be callable, not float",
    ),
    (
        lambda: PiecewiseLegendre.interpolate(lambda t: t[:3], 2, 3, 1.0),
        ValueError,
        r"argument 'f': expected shape \(7,\) or \(7, \*shape\), one row per node, got shape \(3,\)",
    ),
    (
        lambda: PiecewiseLegendre.interpolate(numpy.sin, 2, 0, 1.0),
        ValueError,
        "argument 'n_t': must be at least 1",
    ),
]


@pytest.mark.parametrize(("call", "kind", "message"), METHOD_ERRORS)
def test_method_refusals(call, kind, message):
    with pytest.raises(kind, match=f"^{message}"):
        call()


@pytest.mark.parametrize("family", ["gauss-legendre", "gauss-lobatto", "chebyshev-lobatto"])
@pytest.mark.parametrize("degree", [1, 4, 30])
def test_every_node_family_reproduces_a_piecewise_polynomial(family, degree):
    # A random piecewise polynomial sampled at the family's nodes: the
    # coefficients are the transformation's, and where no node is shared
    # (Gauss-Legendre) they are the polynomial's own; a smooth function is
    # met at the nodes.
    n_t, T = 5, 2.5
    rng = numpy.random.default_rng(degree)
    p = PiecewiseLegendre(degree, n_t, T, rng.standard_normal((n_t * (degree + 1), 2)))
    nodes = pwpoly_numpy.nodes(degree, n_t, T, family)
    values = p(nodes)
    q = PiecewiseLegendre.from_lagrange_values(degree, n_t, T, values, family=family)
    matrix = pwpoly_numpy.transformation_matrix(degree, n_t, family)
    numpy.testing.assert_allclose(q.coefficients, matrix @ values, rtol=0, atol=1e-12)
    if family == "gauss-legendre":
        numpy.testing.assert_allclose(q.coefficients, p.coefficients, rtol=0, atol=1e-12)
    r = PiecewiseLegendre.interpolate(lambda t: numpy.sin(t), degree, n_t, T, family=family)
    at = pwpoly_numpy.nodes(degree, n_t, T, family)
    numpy.testing.assert_allclose(r(at[1:-1]), numpy.sin(at[1:-1]), rtol=0, atol=1e-12)
