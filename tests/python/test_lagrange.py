"""Lagrange nodes and the Lagrange-to-Legendre transformation."""

import math
import random

import pytest

import pwpoly
from conftest import panic_type


@pytest.mark.parametrize(
    ("args", "expected"),
    [
        ((2, 2, 1.0), [0.0, 0.25, 0.5, 0.75, 1.0]),
        ((3, 1, 1.0), [0.0, 0.3333333333333333, 0.6666666666666666, 1.0]),
        ((1, 3, 0.3), [0.0, 0.09999999999999999, 0.19999999999999998, 0.3]),
        (
            (2, 3, 0.3),
            [0.0, 0.049999999999999996, 0.09999999999999999, 0.15, 0.19999999999999998, 0.25, 0.3],
        ),
        ((0, 4, 2.5), [2.5]),
        ((3, 0, 2.5), [2.5]),
    ],
)
def test_lagrange_points_examples(args, expected):
    points = pwpoly.get_lagrange_points(*args)
    assert points == expected
    assert all(type(x) is float for x in points)


def test_lagrange_points_of_a_negative_and_a_nan_span():
    points = pwpoly.get_lagrange_points(2, 2, -1.0)
    assert math.copysign(1.0, points[0]) == -1.0
    assert points == sorted(points, reverse=True) and points[-1] == -1.0
    assert all(math.isnan(x) for x in pwpoly.get_lagrange_points(2, 2, float("nan")))


def test_lagrange_points_bind_by_keyword_in_any_order():
    assert pwpoly.get_lagrange_points(n_t=3, T=1.0, degree=2) == pwpoly.get_lagrange_points(
        2, 3, 1.0
    )


def test_transformation_examples():
    assert pwpoly.lagrange_to_legendre_basis_transformation(1, 2) == (
        [0, 0, 1, 1, 2, 2, 3, 3],
        [0, 1, 1, 2, 0, 1, 1, 2],
        [0.5, 0.5, 0.5, 0.5, -0.5, 0.5, -0.5, 0.5],
    )
    third = 0.3333333333333333
    assert pwpoly.lagrange_to_legendre_basis_transformation(2, 1) == (
        [0, 0, 0, 1, 1, 1, 2, 2, 2],
        [0, 1, 2, 0, 1, 2, 0, 1, 2],
        [1 / 6, 2 / 3, 1 / 6, -0.5, 0.0, 0.5, third, -2 / 3, third],
    )
    rows, cols, vals = pwpoly.lagrange_to_legendre_basis_transformation(2, 3)
    assert len(rows) == 27
    row4 = [(c, v) for r, c, v in zip(rows, cols, vals) if r == 4]
    assert row4 == [(2, -0.5), (3, 0.0), (4, 0.5)]
    assert pwpoly.lagrange_to_legendre_basis_transformation(5, 0) == ([], [], [])


def test_degree_four_keeps_tiny_weights_as_computed():
    rows, cols, vals = pwpoly.lagrange_to_legendre_basis_transformation(4, 1)
    weights = [vals[5 * p : 5 * p + 5] for p in range(5)]
    assert weights[1][2] == -7.737918050417757e-17
    assert weights[3][2] == 7.737918050417757e-17


@pytest.mark.parametrize("degree", range(1, 9))
@pytest.mark.parametrize("n_t", [1, 2, 5])
def test_transformation_structure(degree, n_t):
    rows, cols, vals = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    count = (degree + 1) ** 2 * n_t
    assert len(rows) == len(cols) == len(vals) == count
    assert all(type(r) is int for r in rows) and all(type(c) is int for c in cols)
    assert all(type(v) is float for v in vals)
    assert max(rows) == (degree + 1) * n_t - 1 and max(cols) == n_t * degree
    triplets = list(zip(rows, cols))
    assert triplets == sorted(triplets) and len(set(triplets)) == count
    for m, (r, c) in enumerate(triplets):
        p, k = divmod(r, n_t)
        assert c == k * degree + m % (degree + 1)
        assert p <= degree


@pytest.mark.parametrize("degree", range(1, 9))
def test_round_trip_reproduces_a_polynomial(degree):
    """Nodal values of a polynomial of degree <= d, mapped to Legendre
    coefficients, evaluate back to the polynomial."""
    n_t, T = 3, 2.5
    rng = random.Random(degree)
    poly = [rng.uniform(-1, 1) for _ in range(degree + 1)]

    def p(t):
        return sum(a * t**i for i, a in enumerate(poly))

    nodes = pwpoly.get_lagrange_points(degree, n_t, T)
    rows, cols, vals = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    coefficients = [0.0] * (n_t * (degree + 1))
    for r, c, v in zip(rows, cols, vals):
        coefficients[r] += v * p(nodes[c])
    basis = pwpoly.LegendreBasis(degree, n_t, T)
    for t in [0.0, 0.1, 0.8333, 1.2, 2.0, 2.5]:
        assert basis.evaluate_at(t, coefficients) == pytest.approx(p(t), abs=1e-11)


def test_degree_zero_is_refused_for_every_n_t():
    for n_t in [0, 1, 7]:
        with pytest.raises(BaseException) as raised:
            pwpoly.lagrange_to_legendre_basis_transformation(0, n_t)
        assert type(raised.value) is panic_type()
        assert raised.value.args == ("Lagrange to Legendre conversion not meaningful for degree 0",)


@pytest.mark.parametrize(
    ("call", "args", "exception", "message"),
    [
        ("get_lagrange_points", (2.0, 3, 1.0), TypeError, "argument 'degree': "),
        ("get_lagrange_points", (2, "3", 1.0), TypeError, "argument 'n_t': "),
        ("get_lagrange_points", (2, 3, "1.0"), TypeError, "argument 'T': "),
        ("get_lagrange_points", (2, -1, "x"), OverflowError, "can't convert negative int"),
        ("lagrange_to_legendre_basis_transformation", (None, 3), TypeError, "argument 'degree': "),
        ("lagrange_to_legendre_basis_transformation", (2, 1.5), TypeError, "argument 'n_t': "),
        (
            "lagrange_to_legendre_basis_transformation",
            (2, 4294967296),
            OverflowError,
            "out of range integral type conversion attempted",
        ),
    ],
)
def test_conversion_errors_name_their_parameter(call, args, exception, message):
    with pytest.raises(exception) as raised:
        getattr(pwpoly, call)(*args)
    assert type(raised.value) is exception
    assert str(raised.value).startswith(message)


def test_missing_arguments_are_listed():
    with pytest.raises(TypeError) as raised:
        pwpoly.get_lagrange_points(1)
    assert str(raised.value) == (
        "get_lagrange_points() missing 2 required positional arguments: 'n_t' and 'T'"
    )
    with pytest.raises(TypeError) as raised:
        pwpoly.get_lagrange_points(T=1.0)
    assert "'degree' and 'n_t'" in str(raised.value)


def test_over_large_sizes_fail_before_allocating(python_child):
    result = python_child(
        """
        import pwpoly
        calls = [
            (pwpoly.get_lagrange_points, (4294967295, 1, 1.0)),
            (pwpoly.get_lagrange_points, (1, 300000000, 1.0)),
            (pwpoly.get_lagrange_points, (3, 100000000, 1.0)),
            (pwpoly.lagrange_to_legendre_basis_transformation, (4294967295, 0)),
            (pwpoly.lagrange_to_legendre_basis_transformation, (300, 3000)),
        ]
        for function, args in calls:
            try:
                function(*args)
            except BaseException as error:
                print(type(error).__name__, error.args[0])
        print(pwpoly.get_lagrange_points(4294967295, 0, 2.0))
        """,
        memory_limit=1 << 30,
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[:-1] == ["PanicException capacity overflow"] * 5
    assert lines[-1] == "[2.0]"
