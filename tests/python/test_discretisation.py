"""pwpoly_numpy's time discretisation against independent references: node
families against their defining equations at high precision and against
NumPy's leggauss, quadrature exactness on monomials, transformations against
exact inverses, matrices against exact rational integrals of Legendre
products, the Pade identity of discontinuous Galerkin in time, the
equidistant family's bits against pwpoly, and every refusal."""

import math
from fractions import Fraction

import pytest

numpy = pytest.importorskip("numpy")
pytest.importorskip("scipy")
mpmath = pytest.importorskip("mpmath")
pwpoly_numpy = pytest.importorskip("pwpoly_numpy")

import pwpoly  # noqa: E402
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from pwpoly_numpy import _discretisation  # noqa: E402

FAMILIES = ["equidistant", "gauss-legendre", "gauss-lobatto", "chebyshev-lobatto"]
COMPUTED = FAMILIES[1:]
mpf = mpmath.mpf


def same_bits(got, expected):
    got = numpy.asarray(got, dtype=numpy.float64)
    expected = numpy.asarray(expected, dtype=numpy.float64)
    return got.shape == expected.shape and bool(
        numpy.all(got.view(numpy.uint64) == expected.view(numpy.uint64))
    )


# --- exact references ------------------------------------------------------------------


def legendre_mp(n, x):
    """P_n(x) and P_(n-1)(x) in mpmath arithmetic."""
    previous, current = mpf(0), mpf(1)
    for k in range(n):
        previous, current = current, ((2 * k + 1) * x * current - k * previous) / (k + 1)
    return current, previous


def exact_reference_nodes(family, degree, sample):
    """Nodes c in `sample` of the family on [-1, 1], refined from the computed
    doubles by Newton's method at 40 digits on the defining equation."""
    computed = pwpoly_numpy.nodes(degree, 1, 2.0, family) - 1.0
    exact = []
    with mpmath.workdps(40):
        for c in sample:
            if family == "chebyshev-lobatto":
                exact.append(-mpmath.cos(mpmath.pi * c / degree))
                continue
            if family == "gauss-lobatto" and c in (0, degree):
                exact.append(mpf(-1 if c == 0 else 1))
                continue
            x = mpf(computed[c])
            for _ in range(3):  # quadratic convergence from a double
                if family == "gauss-legendre":
                    n = degree + 1
                    value, previous = legendre_mp(n, x)
                    x -= value / (n * (previous - x * value) / (1 - x * x))
                else:
                    n = degree
                    value, previous = legendre_mp(n, x)
                    first = n * (previous - x * value) / (1 - x * x)
                    second = (2 * x * first - n * (n + 1) * value) / (1 - x * x)
                    x -= first / second
            exact.append(x)
    return computed, exact


def legendre_fractions(n):
    """Coefficients (in powers of x) of P_0 ... P_n as Fractions."""
    polys = [[Fraction(1)], [Fraction(0), Fraction(1)]]
    for k in range(1, n):
        a = [Fraction(0)] + [Fraction(2 * k + 1, k + 1) * c for c in polys[k]]
        b = [Fraction(k, k + 1) * c for c in polys[k - 1]] + [Fraction(0)] * 2
        polys.append([x - y for x, y in zip(a, b)])
    return polys[: n + 1]


def integral_of_product(p, q):
    """Exact integral over [-1, 1] of the product of two power series."""
    total = Fraction(0)
    for i, a in enumerate(p):
        for j, b in enumerate(q):
            if (i + j) % 2 == 0:
                total += a * b * Fraction(2, i + j + 1)
    return total


def derivative_of(p):
    return [k * c for k, c in enumerate(p)][1:] or [Fraction(0)]


# --- nodes -------------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("degree", "n_t", "T"), [(2, 3, 0.3), (1, 3, 0.3), (0, 4, 2.0), (5, 0, 1.5), (7, 5, -2.0)]
)
def test_equidistant_nodes_are_pwpolys_bits(degree, n_t, T):
    assert same_bits(pwpoly_numpy.nodes(degree, n_t, T), pwpoly.get_lagrange_points(degree, n_t, T))
    assert same_bits(
        pwpoly_numpy.nodes(degree, n_t, T, family="equidistant"),
        pwpoly_numpy.lagrange_points(degree, n_t, T),
    )


@pytest.mark.parametrize("family", COMPUTED)
@pytest.mark.parametrize("degree", [1, 2, 10, 57, 1000])
def test_nodes_solve_their_defining_equations(family, degree):
    if family != "gauss-legendre" and degree == 0:
        return
    count = degree + 1
    sample = sorted(
        {0, 1, 2, count // 3, count // 2, count - 3, count - 2, count - 1} & set(range(count))
    )
    computed, exact = exact_reference_nodes(family, degree, sample)
    # T = 2, n_t = 1: t = 1 + x, rounded once or twice near 2.
    errors = [abs(float(mpf(computed[c]) - x)) for c, x in zip(sample, exact)]
    assert max(errors) <= 4.5e-16, (family, degree, errors)


@pytest.mark.parametrize("degree", [0, 1, 4, 31, 100])
def test_gauss_legendre_rule_is_numpys_leggauss(degree):
    x, w = numpy.polynomial.legendre.leggauss(degree + 1)
    nodes, weights = pwpoly_numpy.quadrature(degree, 1, 2.0)
    assert numpy.max(numpy.abs(nodes - 1.0 - x)) < 1e-15
    assert numpy.max(numpy.abs(weights - w)) < 2e-15 * max(1, degree)


@pytest.mark.parametrize("family", FAMILIES)
def test_a_grid_without_intervals_has_the_end_node_alone(family):
    expected = [] if family == "gauss-legendre" else [2.5]
    assert pwpoly_numpy.nodes(3, 0, 2.5, family).tolist() == expected
    matrix = pwpoly_numpy.transformation_matrix(3, 0, family)
    assert matrix.shape == (0, len(expected)) and matrix.nnz == 0


@pytest.mark.parametrize("family", FAMILIES)
def test_nodes_on_the_grid(family):
    degree, n_t, T = 4, 3, 1.3
    points = pwpoly_numpy.nodes(degree, n_t, T, family)
    width = T / n_t
    if family == "gauss-legendre":
        assert points.shape == (n_t * (degree + 1),)
        per = points.reshape(n_t, degree + 1)
        for k in range(n_t):
            assert k * width < per[k, 0] and per[k, -1] < k * width + width
    else:
        assert points.shape == (n_t * degree + 1,)
        assert points[-1] == T
        for k in range(n_t):
            assert points[k * degree] == k * width  # shared ends where pwpoly puts them
    assert numpy.all(numpy.diff(points) > 0)
    # Symmetric nodes stay symmetric about each interval's midpoint.
    local = pwpoly_numpy.nodes(degree, 1, 2.0, family) - 1.0
    assert numpy.max(numpy.abs(local + local[::-1])) <= 2.3e-16


# --- quadrature --------------------------------------------------------------------------

EXACTNESS = {
    "gauss-legendre": lambda d: 2 * d + 1,
    "gauss-lobatto": lambda d: 2 * d - 1,
    "chebyshev-lobatto": lambda d: d,
    "equidistant": lambda d: d,
}


@pytest.mark.parametrize("family", FAMILIES)
@pytest.mark.parametrize("degree", [0, 1, 2, 3, 6, 9])
@pytest.mark.parametrize("n_t", [1, 3])
def test_quadrature_is_exact_up_to_its_degree(family, degree, n_t):
    if degree == 0 and family != "gauss-legendre":
        return
    T = 1.75
    nodes, weights = pwpoly_numpy.quadrature(degree, n_t, T, family)
    assert nodes.shape == weights.shape
    assert same_bits(nodes, pwpoly_numpy.nodes(degree, n_t, T, family))
    top = EXACTNESS[family](degree)
    # A polynomial on [0, T] is one on every interval: (2t/T - 1)^m integrates
    # to T (1 + (-1)^m) / (2 (m + 1)).
    local = 2.0 * nodes / T - 1.0
    for m in range(top + 1):
        exact = T * (1 + (-1) ** m) / (2 * (m + 1))
        assert abs(weights @ local**m - exact) <= 4e-14 * T, (m, top)
    if family.startswith("gauss") and n_t == 1:
        m = top + 1  # the next degree is not integrated exactly
        exact = T * (1 + (-1) ** m) / (2 * (m + 1))
        assert abs(weights @ local**m - exact) > 1e-6


@settings(max_examples=30, deadline=None)
@given(
    family=st.sampled_from(FAMILIES),
    degree=st.integers(1, 12),
    n_t=st.integers(1, 6),
    T=st.sampled_from([1.0, 0.3, 7.5, 1e-3]),
    seed=st.integers(0, 2**32 - 1),
)
def test_interpolation_and_quadrature_of_random_polynomials(family, degree, n_t, T, seed):
    # A polynomial of the degree on each interval (here one on [0, T]) comes back
    # exactly from its values at the nodes, and the rule integrates it exactly.
    rng = numpy.random.default_rng(seed)
    coefficients = rng.uniform(-1.0, 1.0, degree + 1)
    polynomial = numpy.polynomial.Legendre(coefficients, domain=[0.0, T])
    points, weights = pwpoly_numpy.quadrature(degree, n_t, T, family)
    legendre = pwpoly_numpy.transformation_matrix(degree, n_t, family) @ polynomial(points)
    times = rng.uniform(0.0, T, 20)
    values = pwpoly_numpy.evaluate(degree, n_t, T, legendre, times)
    # Equidistant weights amplify the rounding of the samples by their Lebesgue constant.
    scale = 1e-12 if family == "equidistant" else 1e-13
    assert numpy.max(numpy.abs(values - polynomial(times))) < scale * degree
    exact = polynomial.integ()(T) - polynomial.integ()(0.0)
    assert abs(weights @ polynomial(points) - exact) < 1e-13 * T * degree


def test_quadrature_at_high_degree_stays_accurate():
    for family in COMPUTED:
        nodes, weights = pwpoly_numpy.quadrature(400, 2, 3.0, family)
        assert abs(weights.sum() - 3.0) < 1e-13
        assert abs(weights @ numpy.cos(nodes) - math.sin(3.0)) < 1e-13
        assert numpy.all(weights > 0)


# --- transformations ---------------------------------------------------------------------


def exact_table(family, degree):
    """W = V^-1 at 40 digits, V[c][p] = P_p(x_c) at the exact nodes."""
    sample = list(range(degree + 1))
    with mpmath.workdps(40):
        _, xs = exact_reference_nodes(family, degree, sample)
        vandermonde = mpmath.matrix(degree + 1, degree + 1)
        for c, x in enumerate(xs):
            previous, current = mpf(0), mpf(1)
            for p in range(degree + 1):
                vandermonde[c, p] = current
                previous, current = current, ((2 * p + 1) * x * current - p * previous) / (p + 1)
        inverse = mpmath.inverse(vandermonde)
        return numpy.array(inverse.tolist(), dtype=float)


@pytest.mark.parametrize("family", COMPUTED)
@pytest.mark.parametrize("degree", [1, 3, 8, 24])
def test_transformation_weights_are_exact_to_rounding(family, degree):
    rows, cols, values = pwpoly_numpy.transformation_triplets(degree, 1, family=family)
    table = numpy.zeros((degree + 1, degree + 1))
    table[rows, cols] = values
    exact = exact_table(family, degree)
    # Rounding the nodes to doubles alone changes W by about 6e-15 at degree 40.
    assert numpy.abs(table - exact).max() / numpy.abs(exact).max() < 2e-15 * (1 + degree / 4)


@pytest.mark.parametrize("family", FAMILIES)
def test_transformation_layout_and_interpolation(family):
    degree, n_t, T = 5, 4, 2.0
    rows, cols, values = pwpoly_numpy.transformation_triplets(degree, n_t, family)
    matrix = pwpoly_numpy.transformation_matrix(degree, n_t, family=family)
    points = pwpoly_numpy.nodes(degree, n_t, T, family)
    assert matrix.shape == ((degree + 1) * n_t, points.size)
    assert matrix.indices.dtype == numpy.int32 and matrix.has_sorted_indices
    assert matrix.nnz == (degree + 1) ** 2 * n_t == rows.size
    coo = matrix.tocoo()
    assert coo.row.tolist() == rows.tolist() and coo.col.tolist() == cols.tolist()
    assert same_bits(coo.data, values)
    step = degree + 1 if family == "gauss-legendre" else degree
    for k in range(n_t):
        assert cols[k * (degree + 1)] == k * step  # row k: first column of interval k
    # Interpolation reproduces a polynomial of the degree exactly.
    times = numpy.linspace(0.0, T, 57)
    coefficients = matrix @ (points**5 - 2 * points**2)
    assert (
        numpy.max(
            numpy.abs(
                pwpoly_numpy.evaluate(degree, n_t, T, coefficients, times)
                - (times**5 - 2 * times**2)
            )
        )
        < 1e-12
    )
    assert _discretisation._family_transformation(degree, n_t, family).nnz == matrix.nnz


@pytest.mark.parametrize(("degree", "n_t"), [(1, 2), (3, 5), (7, 3), (3, 0)])
def test_equidistant_transformation_keeps_pwpolys_bits(degree, n_t):
    expected = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    rows, cols, values = pwpoly_numpy.transformation_triplets(degree, n_t, family="equidistant")
    assert rows.tolist() == expected[0] and cols.tolist() == expected[1]
    assert same_bits(values, expected[2])


def test_gauss_legendre_transformation_at_degree_zero_is_the_identity():
    matrix = pwpoly_numpy.transformation_matrix(0, 3, "gauss-legendre")
    assert matrix.toarray().tolist() == numpy.eye(3).tolist()


# --- matrices in time --------------------------------------------------------------------


def dense_references(degree, n_t, T):
    """M, C, start, end and J from exact rational integrals and end values."""
    legendre = legendre_fractions(degree)
    count = n_t * (degree + 1)
    width = Fraction(T) / n_t
    mass = numpy.zeros((count, count))
    derivative = numpy.zeros((count, count))
    start = numpy.zeros((n_t, count))
    end = numpy.zeros((n_t, count))
    jump = numpy.zeros((count, count))
    at = [[sum(c * s**e for e, c in enumerate(p)) for p in legendre] for s in (-1, 1)]
    for k in range(n_t):
        for i in range(degree + 1):
            a = k + n_t * i
            start[k, a], end[k, a] = float(at[0][i]), float(at[1][i])
            for j in range(degree + 1):
                b = k + n_t * j
                mass[a, b] = float(width / 2 * integral_of_product(legendre[i], legendre[j]))
                derivative[a, b] = float(
                    integral_of_product(legendre[i], derivative_of(legendre[j]))
                )
                jump[a, b] = float(at[0][i] * at[0][j])
                if k > 0:
                    jump[a, (k - 1) + n_t * j] = float(-at[0][i] * at[1][j])
    return mass, derivative, start, end, jump


@pytest.mark.parametrize(
    ("degree", "n_t", "T"), [(0, 1, 1.0), (1, 2, 3.0), (3, 3, 0.7), (5, 2, 10.0), (2, 1, 0.0)]
)
def test_matrices_are_the_exact_integrals(degree, n_t, T):
    mass, derivative, start, end, jump = dense_references(degree, n_t, T)
    got_start, got_end = pwpoly_numpy.trace_matrices(degree, n_t)
    built = {
        "mass": (pwpoly_numpy.mass_matrix(degree, n_t, T), mass),
        "derivative": (pwpoly_numpy.derivative_matrix(degree, n_t, T), derivative),
        "start": (got_start, start),
        "end": (got_end, end),
        "jump": (pwpoly_numpy.jump_matrix(degree, n_t), jump),
    }
    count = n_t * (degree + 1)
    for name, (matrix, expected) in built.items():
        assert type(matrix).__name__ == "csr_array", name
        assert matrix.indices.dtype == numpy.int32 and matrix.has_canonical_format, name
        fresh = type(matrix)((matrix.data, matrix.indices, matrix.indptr), shape=matrix.shape)
        assert fresh.has_sorted_indices, name  # SciPy's own scan agrees with the flag
        assert same_bits(matrix.toarray(), expected), name  # exact, or rounded once
    # Stored entries: the diagonal (zeros too), the 2.0 entries, full rows.
    assert built["mass"][0].nnz == count
    assert numpy.all(built["derivative"][0].data == 2.0)
    assert built["derivative"][0].nnz == n_t * ((degree + 1) ** 2 // 4)
    assert built["jump"][0].nnz == (degree + 1) ** 2 * (2 * n_t - 1)
    assert got_start.nnz == got_end.nnz == count


def test_mass_entries_are_rounded_once():
    mass = pwpoly_numpy.mass_matrix(4, 3, 0.1)
    expected = [float(Fraction(0.1) / (3 * (2 * i + 1))) for i in range(5) for _ in range(3)]
    assert same_bits(mass.diagonal(), expected)


def pade(q, z):
    """The (q, q + 1) Pade approximant of exp at a rational z, exactly."""
    m, n = q, q + 1
    f = math.factorial
    p = sum(Fraction(f(m + n - j) * f(m), f(m + n) * f(j) * f(m - j)) * z**j for j in range(m + 1))
    r = sum(
        Fraction(f(m + n - j) * f(n), f(m + n) * f(j) * f(n - j)) * (-z) ** j for j in range(n + 1)
    )
    return p / r


@pytest.mark.parametrize(
    ("q", "n_t", "lam"), [(0, 4, -1.0), (1, 5, -2.0), (2, 3, 1.5), (4, 2, -8.0)]
)
def test_dg_end_values_are_pade_powers(q, n_t, lam):
    T = 1.0
    system = (
        pwpoly_numpy.derivative_matrix(q, n_t, T)
        + pwpoly_numpy.jump_matrix(q, n_t)
        - lam * pwpoly_numpy.mass_matrix(q, n_t, T)
    )
    start, end = pwpoly_numpy.trace_matrices(q, n_t)
    import scipy.sparse.linalg

    u = scipy.sparse.linalg.spsolve(system.tocsc(), start[[0], :].toarray().ravel())
    final = (end @ u)[-1]
    exact = float(pade(q, Fraction(lam) * Fraction(T) / n_t) ** n_t)
    assert abs(final - exact) <= 1e-12 * abs(exact)


# --- refusals ----------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (
            lambda: pwpoly_numpy.nodes(2, 3, 1.0, family="gauss"),
            ValueError,
            "argument 'family': unknown node family 'gauss'; expected one of 'equidistant', "
            "'gauss-legendre', 'gauss-lobatto', 'chebyshev-lobatto'",
        ),
        (
            lambda: pwpoly_numpy.transformation_matrix(2, 3, family="Gauss-Lobatto"),
            ValueError,
            "argument 'family': unknown node family 'Gauss-Lobatto'",
        ),
        (
            lambda: pwpoly_numpy.quadrature(2, 3, 1.0, family=None),
            TypeError,
            "argument 'family': must be str, not NoneType",
        ),
        (
            lambda: pwpoly_numpy.nodes(0, 3, 1.0, "gauss-lobatto"),
            ValueError,
            "argument 'degree': the gauss-lobatto family needs degree >= 1 "
            "(its nodes include both interval ends)",
        ),
        (
            lambda: pwpoly_numpy.transformation_triplets(0, 3, "chebyshev-lobatto"),
            ValueError,
            "argument 'degree': the chebyshev-lobatto family needs degree >= 1",
        ),
        (
            lambda: pwpoly_numpy.quadrature(0, 3, 1.0, "equidistant"),
            ValueError,
            "argument 'degree': the equidistant family needs degree >= 1",
        ),
        (
            lambda: pwpoly_numpy.transformation_matrix(0, 3),
            ValueError,
            "argument 'degree': the Lagrange to Legendre transformation needs degree >= 1",
        ),
        (
            lambda: pwpoly_numpy.nodes(4097, 1, 1.0, "gauss-legendre"),
            ValueError,
            "argument 'degree': the gauss-legendre family supports degree <= 4096, not 4097",
        ),
        (
            lambda: pwpoly_numpy.quadrature(2, 0, 1.0),
            ValueError,
            "argument 'n_t': must be at least 1: a grid without intervals has nothing to integrate",
        ),
        (
            lambda: pwpoly_numpy.nodes(3, 100_000_000, 1.0, "gauss-legendre"),
            ValueError,
            "arguments 'degree' and 'n_t': n_t * (degree + 1) = 400000000 nodes exceed the "
            "size limit of 268435455 float64 values",
        ),
        (
            lambda: pwpoly_numpy.nodes(3, 134217728, 1.0, "gauss-lobatto"),
            ValueError,
            "argument 'n_t': 134217728 intervals exceed the size limit of 134217727",
        ),
        (
            lambda: pwpoly_numpy.transformation_matrix(4000, 20, "gauss-lobatto"),
            ValueError,
            "arguments 'degree' and 'n_t': (degree + 1)**2 * n_t = 320160020 stored entries exceed",
        ),
        (
            lambda: pwpoly_numpy.mass_matrix(3, 100_000_000, 1.0),
            ValueError,
            "arguments 'degree' and 'n_t': n_t * (degree + 1) = 400000000 coefficients exceed "
            "the size limit of 268435455 float64 values",
        ),
        (
            lambda: pwpoly_numpy.derivative_matrix(40000, 1000, 1.0),
            ValueError,
            "arguments 'degree' and 'n_t': the derivative matrix's 400020000000 stored entries "
            "exceed the size limit of 268435455 float64 values",
        ),
        (
            lambda: pwpoly_numpy.jump_matrix(99, 20000),
            ValueError,
            "arguments 'degree' and 'n_t': the jump matrix's 399990000 stored entries exceed",
        ),
        (
            lambda: pwpoly_numpy.trace_matrices(-1, 3),
            OverflowError,
            "argument 'degree': must be 0 ... 4294967295, not -1",
        ),
        (
            lambda: pwpoly_numpy.mass_matrix(2, 3, "1"),
            TypeError,
            "argument 'T': must be real number, not str",
        ),
        (
            lambda: pwpoly_numpy.derivative_matrix(2, 3.0, 1.0),
            TypeError,
            "argument 'n_t': 'float' object cannot be interpreted as an integer",
        ),
    ],
)
def test_refusals_name_the_argument(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value).startswith(message)


def test_check_family_gives_the_codes():
    assert [_discretisation._check_family(name) for name in FAMILIES] == [0, 1, 2, 3]


def test_the_private_kernels_refuse_inconsistent_arrays():
    from pwpoly_numpy import _kernels

    out = numpy.empty(3)
    with pytest.raises(ValueError, match="family_nodes: unknown node family code"):
        _kernels.family_nodes(4, 2, 1, 1.0, out)
    with pytest.raises(ValueError, match="family_nodes: wrong array size"):
        _kernels.family_nodes(1, 2, 2, 1.0, out)
    with pytest.raises(ValueError, match="quadrature_weights: degree 0 for a family with ends"):
        _kernels.quadrature_weights(2, 0, 1, 1.0, out)
    with pytest.raises(ValueError, match="family_csr: the equidistant family has its own kernel"):
        _kernels.family_csr(0, 2, 1, out, out, out)
    indices = numpy.empty(3, numpy.int32)
    with pytest.raises(ValueError, match="time_matrix: wrong array sizes"):
        _kernels.time_matrix(0, 1, 2, 1.0, out, indices, indices)
    with pytest.raises(ValueError, match="time_matrix: unknown matrix code"):
        _kernels.time_matrix(5, 1, 2, 1.0, out, indices, indices)
