"""LegendreBasis and LegendreBasisEvaluator through Python: worked examples,
interval location seen through the tables, signed zeros, exact end
derivatives, bit-exact agreement with an independent reference, n_t = 0 and
the size limits."""

import math
from fractions import Fraction

import pwpoly
import pytest
from conftest import panic_type, run_python
from hypothesis import given, settings
from hypothesis import strategies as st
from ieee import divide, same_float, same_floats

DOFS = [1, 2, 3, 4, 5, 6, 7, 8, 9]
SLICING = "Matrix slicing out of bounds."
TOO_SMALL = "Matrix view: input data buffer too small."

# --- reference: every rounded step in the promised order, in plain Python floats -----------

END_ZONE = -1e-3  # s = xi*xi - 1 above this: derivatives by their own recurrence


def locate_interval(T, n_t, t):
    w = T / float(n_t)
    q = divide(t, w)
    if math.isnan(q) or q < 1.0:
        k = 0
    elif q >= 4294967295.0:
        k = 4294967295
    else:
        k = math.floor(q)
    k = min(k, n_t - 1)
    a = float(k) * w
    b = w + a
    xi = t + (a + b) * -0.5
    xi = xi + xi
    xi = divide(xi, b - a)
    if xi < -1.0:
        xi = -1.0
    elif xi > 1.0:
        xi = 1.0
    return k, xi


def legendre_values(xi, degree):
    values = [1.0, xi]
    n = 1.0
    while len(values) <= degree:
        u = ((n + n) + 1.0) * xi
        u = u * values[-1]
        v = values[-2] * n
        values.append((u - v) / (n + 1.0))
        n = n + 1.0
    return values[: degree + 1]


def legendre_derivatives(xi, degree):
    p = legendre_values(xi, degree + 1)
    s = xi * xi - 1.0
    derivatives = [0.0, 1.0]
    for i in range(2, degree + 1):
        if s > END_ZONE:
            n = float(i - 1)
            derivatives.append(derivatives[i - 2] + ((n + n) + 1.0) * p[i - 1])
        else:
            derivatives.append(divide((p[i] * xi - p[i - 1]) * float(i), s + 1e-15))
    return derivatives[: degree + 1]


def reference(T, n_t, degree, t, dofs):
    """Value, value again, time derivative and both tables, as the module must give them."""
    k, xi = locate_interval(T, n_t, t)
    w = T / float(n_t)
    values = [0.0] * (n_t * (degree + 1))
    derivatives = list(values)
    value = derivative = -0.0
    for i, (p, d) in enumerate(zip(legendre_values(xi, degree), legendre_derivatives(xi, degree))):
        value = value + p * dofs[k + n_t * i]
        derivative = derivative + d * dofs[k + n_t * i]
        values[k + n_t * i] = p
        derivatives[k + n_t * i] = divide(d + d, w)
    return [value, value, divide(derivative + derivative, w), values, derivatives]


def module_results(T, n_t, degree, t, dofs):
    basis = pwpoly.LegendreBasis(degree, n_t, T)
    evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(dofs)
    return [
        basis.evaluate_at(t, dofs),
        evaluator.evaluate_at(t),
        evaluator.evaluate_derivative_at(t),
        basis.evaluate_all_basis_functions(t),
        basis.evaluate_all_basis_function_derivatives(t),
    ]


def anywhere(T):
    return st.one_of(st.floats(-0.25, 1.25).map(lambda u: u * T), st.floats())


def near_break_points(T, n_t):
    def nudge(k_and_steps):
        k, steps = k_and_steps
        t = float(k) * (T / n_t)
        for _ in range(abs(steps)):
            t = math.nextafter(t, math.copysign(math.inf, steps))
        return t

    return st.tuples(st.integers(0, n_t), st.integers(-40, 40)).map(nudge)


@st.composite
def expansions(draw):
    degree = draw(st.integers(0, 7))
    n_t = draw(st.integers(1, 6))
    T = draw(st.one_of(st.floats(1e-3, 1e3), st.floats(), st.sampled_from([0.0, -3.0, 1.0])))
    finite_T = T if math.isfinite(T) else 1.0
    t = draw(st.one_of(anywhere(finite_T), near_break_points(finite_T, n_t)))
    coefficient = st.one_of(st.floats(-1e3, 1e3), st.floats())
    dofs = draw(st.lists(coefficient, min_size=n_t * (degree + 1), max_size=n_t * (degree + 1)))
    return T, n_t, degree, t, dofs


@settings(max_examples=600, deadline=None)
@given(expansions())
def test_agrees_bit_for_bit_with_the_reference(case):
    got, expected = module_results(*case), reference(*case)
    assert same_floats(got[:3], expected[:3])
    assert same_floats(got[3], expected[3])
    assert same_floats(got[4], expected[4])


# --- worked examples and calls ---------------------------------------------------------------


def test_worked_example_through_both_classes():
    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    assert basis.evaluate_at(1.25, DOFS) == -1.5
    assert basis.evaluate_at(t=1.25, legendre_vals=DOFS) == -1.5
    assert basis.evaluate_at(legendre_vals=DOFS, t=1.25) == -1.5
    assert basis.evaluate_all_basis_functions(t=1.25) == [0, 1, 0, 0, -0.5, 0, 0, -0.125, 0]
    derivatives = [0, 0, 0, 0, 2, 0, 0, -3.000000000000004, 0]
    assert basis.evaluate_all_basis_function_derivatives(t=1.25) == derivatives

    evaluator = pwpoly.LegendreBasisEvaluator(T=3.0, n_t=3, degree=2)
    assert evaluator.evaluate_at(1.25) == 0.0
    assert evaluator.set_dofs(legendre_vals=DOFS) is None
    assert evaluator.evaluate_at(t=1.25) == -1.5
    assert evaluator.evaluate_derivative_at(t=1.25) == -14.000000000000032
    evaluator.set_dofs([2 * x for x in DOFS])
    assert evaluator.evaluate_at(1.25) == -3.0


def test_results_are_new_objects():
    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    first = basis.evaluate_all_basis_functions(1.25)
    assert all(type(x) is float for x in first)
    first[4] = 99.0
    second = basis.evaluate_all_basis_functions(1.25)
    assert second is not first
    assert second[4] == -0.5
    assert type(basis.evaluate_at(1.25, DOFS)) is float
    assert type(pwpoly.LegendreBasisEvaluator(2, 3, 3.0).evaluate_derivative_at(1.0)) is float


@pytest.mark.parametrize("extra", [[0.0], [math.nan], [math.inf, -1e300]])
def test_longer_coefficient_list_uses_its_first_n(extra):
    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    assert basis.evaluate_at(1.25, DOFS + extra) == -1.5
    assert basis.evaluate_at(3.0, tuple(DOFS + extra)) == 18.0
    with pytest.raises(panic_type()) as info:
        basis.evaluate_at(1.25, DOFS[:-1])
    assert info.value.args == (TOO_SMALL,)


@pytest.mark.parametrize("length", [8, 10, 0])
def test_set_dofs_needs_exactly_n(length):
    evaluator = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
    with pytest.raises(panic_type()) as info:
        evaluator.set_dofs([1.0] * length)
    message = (
        "assertion `left == right` failed: LegendreBasisEvaluator: set_dofs: input vector has "
        f"wrong length\n  left: {length}\n right: 9"
    )
    assert info.value.args == (message,)


# --- interval location seen through the tables ------------------------------------------------


@pytest.mark.parametrize(
    ("T", "n_t", "t", "k", "xi"),
    [
        (1.0, 3, 0.0, 0, -1.0),
        (1.0, 3, -0.0, 0, -1.0),
        (1.0, 3, 1 / 3, 1, -1.0),
        (1.0, 3, 1.0, 2, 1.0),
        (0.3, 3, 0.3, 2, 0.9999999999999998),
        (1.0, 10, 0.7, 6, 0.9999999999999967),
        (3.0, 3, 1.25, 1, -0.5),
        (3.0, 3, -1e-300, 0, -1.0),
        (3.0, 3, -math.inf, 0, -1.0),
        (3.0, 3, 4.0, 2, 1.0),
        (3.0, 3, 1e300, 2, 1.0),
        (3.0, 3, math.inf, 2, 1.0),
        (3.0, 3, math.nan, 0, math.nan),
        (0.0, 3, 2.0, 2, 1.0),
        (0.0, 3, -2.0, 0, -1.0),
        (0.0, 3, 0.0, 0, math.nan),
        (-3.0, 3, 1.25, 0, -1.0),
    ],
)
def test_interval_location(T, n_t, t, k, xi):
    basis = pwpoly.LegendreBasis(1, n_t, T)
    values = basis.evaluate_all_basis_functions(t)
    derivatives = basis.evaluate_all_basis_function_derivatives(t)
    for table in (values, derivatives):
        assert all(same_float(x, 0.0) for i, x in enumerate(table) if i % n_t != k)
    assert same_floats(values[k::n_t], [1.0, xi])
    assert same_floats(derivatives[k::n_t], [divide(0.0, T / n_t), divide(2.0, T / n_t)])


@pytest.mark.parametrize(
    ("T", "t", "values", "derivatives"),
    [
        (2.0, math.nan, [1, math.nan, math.nan, math.nan], [0, 2, math.nan, math.nan]),
        (0.0, 2.0, [1, 1, 1, 1], [math.nan, math.inf, math.inf, math.inf]),
        (0.0, -2.0, [1, -1, 1, -1], [math.nan, math.inf, -math.inf, math.inf]),
        (0.0, 0.0, [1, math.nan, math.nan, math.nan], [math.nan, math.inf, math.nan, math.nan]),
    ],
)
def test_non_finite_local_entries(T, t, values, derivatives):
    basis = pwpoly.LegendreBasis(3, 2, T)
    k = 1 if t > 0 else 0
    assert same_floats(basis.evaluate_all_basis_functions(t)[k::2], values)
    assert same_floats(basis.evaluate_all_basis_function_derivatives(t)[k::2], derivatives)


# --- signed zeros and degree 0 ----------------------------------------------------------------


@pytest.mark.parametrize(
    ("T", "dofs", "t", "value", "derivative"),
    [
        (3.0, [0.0, 0.0, 0.0], 1.25, 0.0, 0.0),
        (3.0, [-0.0, -0.0, -0.0], 1.25, -0.0, -0.0),
        (3.0, [-0.0, -0.0, -0.0], 3.0, -0.0, -0.0),
        (-3.0, [0.0, 0.0, 0.0], -1.0, 0.0, -0.0),
        (3.0, [math.inf, 1.0, 1.0], 0.5, math.inf, math.nan),
        (3.0, [math.nan, 1.0, 1.0], math.nan, math.nan, math.nan),
    ],
)
def test_degree_zero_and_signed_zeros(T, dofs, t, value, derivative):
    evaluator = pwpoly.LegendreBasisEvaluator(0, 3, T)
    evaluator.set_dofs(dofs)
    assert same_float(evaluator.evaluate_at(t), value)
    assert same_float(pwpoly.LegendreBasis(0, 3, T).evaluate_at(t, dofs), value)
    assert same_float(evaluator.evaluate_derivative_at(t), derivative)
    k, _ = locate_interval(T, 3, t)
    basis = pwpoly.LegendreBasis(0, 3, T)
    values = basis.evaluate_all_basis_functions(t)
    derivatives = basis.evaluate_all_basis_function_derivatives(t)
    for table, entry in ((values, 1.0), (derivatives, divide(0.0, T / 3))):
        assert same_floats(table, [entry if i == k else 0.0 for i in range(3)])


def test_fresh_evaluator_returns_positive_zero():
    fresh = pwpoly.LegendreBasisEvaluator(4, 3, 3.0)
    for t in (0.0, 0.7, 1.5, 3.0, -1.0, math.inf):
        assert same_float(fresh.evaluate_at(t), 0.0)
        assert same_float(fresh.evaluate_derivative_at(t), 0.0)
    assert math.isnan(fresh.evaluate_at(math.nan))
    assert pwpoly.LegendreBasisEvaluator(0, 3, 3.0).evaluate_at(math.nan) == 0.0


# --- derivatives at and near the interval ends ------------------------------------------------


@pytest.mark.parametrize(("t", "sign"), [(0.0, -1), (-1.0, -1), (1.0, -1), (3.0, 1), (9.0, 1)])
def test_exact_end_derivatives(t, sign):
    # w = 1, so the time derivative of P_i at xi = +-1 is 2 P'_i(+-1) = (+-1)^(i+1) i (i + 1).
    degree = 8
    k, _ = locate_interval(3.0, 3, t)
    expected = [sign ** (i + 1) * i * (i + 1) for i in range(degree + 1)]
    table = pwpoly.LegendreBasis(degree, 3, 3.0).evaluate_all_basis_function_derivatives(t)
    assert table[k::3] == expected

    evaluator = pwpoly.LegendreBasisEvaluator(degree, 3, 3.0)
    for i in range(degree + 1):
        evaluator.set_dofs([1.0 if j == k + 3 * i else 0.0 for j in range(3 * (degree + 1))])
        assert evaluator.evaluate_derivative_at(t) == expected[i]


def exact_time_derivatives(xi, degree, w):
    """2 P'_i(xi) / w for |xi| < 1, in exact rational arithmetic."""
    p = [Fraction(1), xi]
    for n in range(1, degree):
        p.append(((2 * n + 1) * xi * p[n] - n * p[n - 1]) / (n + 1))
    d = [Fraction(0), Fraction(1)] + [
        i * (xi * p[i] - p[i - 1]) / (xi * xi - 1) for i in range(2, degree + 1)
    ]
    return [2 * x / w for x in d[: degree + 1]]


@pytest.mark.parametrize(
    ("T", "n_t", "degree", "t"),
    [
        (1.0, 10, 2, 0.7),
        (1.0, 10, 9, 0.7),
        (0.3, 3, 6, 0.3),
        (1.0, 3, 5, math.nextafter(1 / 3, 0.0)),
        (3.0, 3, 7, math.nextafter(1.0, 2.0)),
        (3.0, 3, 7, 2.0 - 1e-9),
        (3.0, 3, 7, 1.0 + 1e-4),
        (3.0, 3, 7, 1.5),
    ],
)
def test_derivatives_near_interval_ends_are_accurate(T, n_t, degree, t):
    k, xi = locate_interval(T, n_t, t)
    exact = exact_time_derivatives(Fraction(xi), degree, Fraction(T) / n_t)
    table = pwpoly.LegendreBasis(degree, n_t, T).evaluate_all_basis_function_derivatives(t)
    assert table[k::n_t] == pytest.approx([float(x) for x in exact], rel=1e-12, abs=1e-12)

    dofs = [float((j % 5) - 2) for j in range(n_t * (degree + 1))]
    evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(dofs)
    terms = [x * Fraction(c) for x, c in zip(exact, dofs[k::n_t])]
    error = Fraction(evaluator.evaluate_derivative_at(t)) - sum(terms)
    assert abs(error) <= 1e-12 * sum(abs(term) for term in terms)


# --- n_t = 0 and sizes ------------------------------------------------------------------------


@pytest.mark.parametrize("degree", [0, 3])
def test_no_intervals(degree):
    basis = pwpoly.LegendreBasis(degree, 0, 1.0)
    evaluator = pwpoly.LegendreBasisEvaluator(degree, 0, 1.0)
    assert evaluator.set_dofs([]) is None
    with pytest.raises(panic_type()) as info:
        evaluator.set_dofs([1.0])
    assert info.value.args[0].endswith("\n  left: 1\n right: 0")
    calls = [
        lambda: basis.evaluate_at(0.5, []),
        lambda: basis.evaluate_at(0.5, [1.0] * 8),
        lambda: basis.evaluate_all_basis_functions(0.5),
        lambda: basis.evaluate_all_basis_function_derivatives(0.0),
        lambda: evaluator.evaluate_at(0.5),
        lambda: evaluator.evaluate_derivative_at(math.nan),
    ]
    for call in calls:
        with pytest.raises(panic_type()) as info:
            call()
        assert info.value.args == (SLICING,)


OVERFLOW = {"PanicException capacity overflow"}


@pytest.mark.parametrize(
    ("call", "expected"),
    [
        ("E(0, 268435456, 1.0)", OVERFLOW),
        ("E(1, 134217728, 1.0)", OVERFLOW),
        ("E(268435455, 1, 1.0)", OVERFLOW),
        ("E(4294967295, 4294967295, 1.0)", OVERFLOW),
        ("B(0, 268435456, 1.0).evaluate_all_basis_functions(0.5)", OVERFLOW),
        ("B(268435455, 1, 1.0).evaluate_all_basis_function_derivatives(0.5)", OVERFLOW),
        ("B(4294967295, 4294967295, 1.0).evaluate_all_basis_functions(0.5)", OVERFLOW),
        ("B(4294967295, 4294967295, 1.0).evaluate_at(0.5, [1.0])", {f"PanicException {TOO_SMALL}"}),
        ("B(0, 268435456, 1.0).evaluate_at(0.5, range(10))", {f"PanicException {TOO_SMALL}"}),
        # Within the size limit, but more than the child may allocate.
        ("E(0, 268435455, 1.0)", {"MemoryError"}),
        (
            "B(0, 268435455, 1.0).evaluate_all_basis_functions(0.5)",
            {"MemoryError", "PanicException Python API call failed"},
        ),
    ],
)
def test_sizes(call, expected):
    result = run_python(
        f"""
        from pwpoly import LegendreBasis as B, LegendreBasisEvaluator as E
        try:
            {call}
        except BaseException as error:
            print(type(error).__name__, *error.args)
        print(E(2, 3, 3.0).evaluate_at(1.0))
        """,
        memory_limit=1 << 30,
    )
    assert result.returncode == 0, result.stderr
    outcome, usable = result.stdout.splitlines()
    assert outcome in expected
    assert usable == "0.0"
