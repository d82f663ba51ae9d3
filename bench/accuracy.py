"""Measured accuracy of pwpoly's numerics against 50-digit references.

Prints Markdown: the interpreter and library versions, then

1. the error of the time derivatives of the basis functions near and away
   from the interval ends, against the exact derivatives of the Legendre
   polynomials evaluated with mpmath at 50 digits;
2. the conditioning of the equidistant Lagrange-to-Legendre conversion: the
   condition number of the Legendre-Vandermonde matrix and the error of
   interpolating a smooth function through pwpoly, beside the same
   interpolation with exact weights;
3. where a time on a break point lands (interval and local coordinate);
4. the transformation of each node family of pwpoly_numpy (equidistant,
   Gauss-Legendre, Gauss-Lobatto, Chebyshev-Lobatto) against exact weights at
   the exact nodes, degrees 1 to 200, and the largest deviation of the
   reference nodes from their exact values.

    python3 -m pip install . -r bench/requirements.txt
    python3 bench/accuracy.py

Needs numpy and mpmath. This is a measurement, not a test: it prints what it
finds and exits 0. It takes about 85 s of CPU time, most of it in the 50-digit
inversions of the largest Vandermonde matrices and the exact Chebyshev-Lobatto
weights of degree 200 (mpmath is faster with gmpy2
installed, which it picks up by itself).
"""

from __future__ import annotations

import datetime
import math
import platform
import sys

try:
    import pwpoly
except ImportError as error:
    sys.exit(f"pwpoly is not importable ({error}); install it with `python3 -m pip install .`")

try:
    import mpmath
    import numpy
except ImportError as error:
    sys.exit(
        f"bench/accuracy.py needs numpy and mpmath ({error}); install them with "
        "`python3 -m pip install -r bench/requirements.txt`"
    )

mpf = mpmath.mpf
mpmath.mp.dps = 50

# Above this value of s = xi * xi - 1 pwpoly takes derivatives by recurrence.
END_BAND = -1e-3
# The classical quotient formula divides by s + SHIFT.
SHIFT = 1e-15

DERIVATIVE_DEGREES = (*range(1, 21), 30, 40, 50)
DEGREE_RANGES = (
    ("1–5", range(1, 6)),
    ("6–10", range(6, 11)),
    ("11–20", range(11, 21)),
    ("30", (30,)),
    ("40", (40,)),
    ("50", (50,)),
)

CONDITIONING_DEGREES = (1, 2, 4, 8, 12, 16, 20, 30, 40, 60, 80, 100)
SCAN_DEGREES = range(1, 101)
GRID_POINTS = 4001
MEANINGFUL = 1e-8


def sci(value: float) -> str:
    return "0" if value == 0.0 else f"{value:.1e}"


def print_table(header: list, rows: list) -> None:
    print("| " + " | ".join(header) + " |")
    print("| " + " | ".join("---" for _ in header) + " |")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print()


def print_header() -> None:
    now = datetime.datetime.now(datetime.timezone.utc).astimezone()
    print("## pwpoly numerical accuracy")
    print()
    print(f"- Date: {now.isoformat(timespec='seconds')}")
    print(f"- Python: {platform.python_version()} ({platform.python_implementation()})")
    print(f"- Platform: {platform.platform()}")
    print(
        f"- NumPy {numpy.__version__}; mpmath {mpmath.__version__} (backend {mpmath.libmp.BACKEND})"
    )
    print(f"- pwpoly from `{pwpoly.__file__}`")
    print(f"- References: mpmath at {mpmath.mp.dps} significant digits")
    print()


# --- 1. Time derivatives near the interval ends ---------------------------------


def local_xi(t: float) -> float:
    """pwpoly's local coordinate of t on the grid T = 2, n_t = 1: P_1(xi) = xi."""
    return pwpoly.LegendreBasis(1, 1, 2.0).evaluate_all_basis_functions(t)[1]


def reference_derivatives(xis: list, max_degree: int) -> list:
    """Rows i = 0 .. max_degree of the exact P'_i at every xi, as mpf arrays.

    P'_{n+1} = P'_{n-1} + (2n + 1) P_n is an identity of the polynomials; in
    50-digit arithmetic its rounding is far below anything measured here.
    """
    x = numpy.array([mpf(xi) for xi in xis], dtype=object)
    values = [numpy.full(len(xis), mpf(1), dtype=object), x]
    derivatives = [
        numpy.full(len(xis), mpf(0), dtype=object),
        numpy.full(len(xis), mpf(1), dtype=object),
    ]
    for n in range(1, max_degree):
        values.append(((2 * n + 1) * x * values[n] - n * values[n - 1]) / (n + 1))
        derivatives.append(derivatives[n - 1] + (2 * n + 1) * values[n])
    return derivatives


def derivative_samples() -> dict:
    """Times t on [0, 2] for the three sampled zones, picked through xi = t - 1;
    the band and the zone just outside it are told apart by pwpoly's own xi."""
    edge = math.sqrt(1.0 + END_BAND)
    band_gap = numpy.concatenate(
        ([0.0], numpy.geomspace(1e-16, 1.0 - edge, 300), numpy.linspace(0.0, 1.0 - edge, 301))
    )
    outside_gap = numpy.geomspace(1.0 - edge, 1e-2, 400)
    across = numpy.linspace(-1.0, 1.0, 2001)

    def both_ends(gaps):
        return [side * (1.0 - gap) + 1.0 for gap in gaps for side in (1.0, -1.0)]

    pooled = both_ends(band_gap) + both_ends(outside_gap)
    zones = {"band": [], "outside": [], "across": [xi + 1.0 for xi in across]}
    for t in pooled:
        xi = local_xi(t)
        s = xi * xi - 1.0
        if s > END_BAND:
            zones["band"].append(t)
        elif abs(xi) >= 0.99:
            zones["outside"].append(t)
    return {name: sorted(set(times)) for name, times in zones.items()}


def relative_errors(times: list, degree: int, reference: numpy.ndarray) -> numpy.ndarray:
    """|pwpoly's dP_degree/dt - exact P'_degree| / max |P'_degree|, per time.

    With T = 2 and n_t = 1 the interval width w is 2, so pwpoly's (P' + P') / w
    is P' itself, bit for bit (both steps are exact).
    """
    basis = pwpoly.LegendreBasis(degree, 1, 2.0)
    computed = [basis.evaluate_all_basis_function_derivatives(t)[degree] for t in times]
    scale = degree * (degree + 1) // 2
    return numpy.array(
        [float(abs(mpf(c) - r)) / scale for c, r in zip(computed, reference)], dtype=float
    )


def derivative_accuracy() -> None:
    zones = derivative_samples()
    xis = {name: [local_xi(t) for t in times] for name, times in zones.items()}
    references = {
        name: reference_derivatives(x, max(DERIVATIVE_DEGREES)) for name, x in xis.items()
    }
    errors = {
        name: {d: relative_errors(zones[name], d, references[name][d]) for d in DERIVATIVE_DEGREES}
        for name in zones
    }

    print("### 1. Time derivatives near the interval ends")
    print()
    band, outside = xis["band"], xis["outside"]
    print(
        f"`LegendreBasis(d, 1, 2.0).evaluate_all_basis_function_derivatives(t)[d]` (w = 2, so "
        "it is dP_d/dxi bit for bit) against the exact P'_d(xi) at 50 digits, at pwpoly's own xi "
        "(read back as P_1(xi)). Error relative to max over [-1, 1] of |P'_d| = d(d + 1)/2. "
        f"Zones: the end band, where s = xi*xi - 1 > {END_BAND:g} in double ({len(band)} points, "
        f"|xi| from {min(abs(x) for x in band)!r} to 1, both ends, log and uniform spacing in "
        f"1 - |xi|); just outside it ({len(outside)} points, |xi| from "
        f"{max(abs(x) for x in outside)!r} down to {min(abs(x) for x in outside):.4f}); "
        f"across [-1, 1] ({len(xis['across'])} equally spaced xi), and the part of those with "
        "|xi| ≤ 0.9."
    )
    print()
    interior = numpy.abs(numpy.array(xis["across"])) <= 0.9
    columns = (
        ("band", slice(None)),
        ("outside", slice(None)),
        ("across", slice(None)),
        ("across", interior),
    )
    rows = []
    for label, degrees in DEGREE_RANGES:
        cells = [sci(max(errors[name][d][part].max() for d in degrees)) for name, part in columns]
        rows.append([label, *cells])
    print_table(["degrees", "end band", "just outside", "across [-1, 1]", "\\|xi\\| ≤ 0.9"], rows)

    # Just outside the band the quotient's 1e-15 dominates: about SHIFT / |s| relative.
    outside_s = numpy.array([1.0 - x * x for x in outside])
    bins = ((1e-3, 2e-3), (2e-3, 5e-3), (5e-3, 2.1e-2))
    rows = []
    for low, high in bins:
        inside = (outside_s >= low) & (outside_s < high)
        worst = max(errors["outside"][d][inside].max() for d in DERIVATIVE_DEGREES if d >= 2)
        rows.append([f"{low:g} ≤ \\|s\\| < {high:g}", sci(worst), sci(SHIFT / low)])
    print("Just outside the band, by |s| (all degrees 2–50):")
    print()
    print_table(["\\|s\\|", "max error", f"{SHIFT:g} / \\|s\\| at the low end"], rows)

    exact_ends = all(
        pwpoly.LegendreBasis(d, 1, 2.0).evaluate_all_basis_function_derivatives(t)[d]
        == sign ** (d + 1) * d * (d + 1) / 2
        for d in DERIVATIVE_DEGREES
        for t, sign in ((2.0, 1), (0.0, -1))
    )
    print(f"P'_d(±1) = (±1)^(d+1) d(d+1)/2 exactly for every degree above: {exact_ends}.")
    print()


# --- 2. Conditioning of the equidistant Lagrange-to-Legendre conversion ----------


def f_double(t: float) -> float:
    return math.sin(3.0 * t) + math.exp(-t)


def f_exact(t):
    return mpmath.sin(3 * t) + mpmath.exp(-t)


def exact_weights(degree: int):
    """Exact weights W[p][c] (50 digits) and the Legendre-Vandermonde matrix.

    B[c][p] = P_p(xi_c) at the exact nodes xi_c = -1 + 2c/degree maps Legendre
    coefficients to nodal values, so W = B^-1 (B is the transpose of A).
    """
    size = degree + 1
    b = mpmath.matrix(size, size)
    for c in range(size):
        xi = mpf(-1) + mpf(2 * c) / degree
        previous, current = mpf(1), xi
        b[c, 0] = previous
        b[c, 1] = current
        for n in range(1, degree):
            previous, current = current, ((2 * n + 1) * xi * current - n * previous) / (n + 1)
            b[c, n + 1] = current
    return mpmath.inverse(b), b


def to_double(matrix) -> numpy.ndarray:
    return numpy.array(matrix.tolist(), dtype=float)


def lebesgue_constant(degree: int, grid: numpy.ndarray) -> float:
    """max over the grid of sum_c |l_c(t)| for the nodes t_c = c / degree.

    |l_c(t)| = |prod_k (t - t_k)| |w_c| / |t - t_c| with |w_c| = degree^degree /
    (c! (degree - c)!), taken in logarithms: a sum of positive terms, so nothing
    cancels and nothing overflows.
    """
    nodes = numpy.arange(degree + 1) / degree
    log_w = numpy.array(
        [
            degree * math.log(degree) - math.lgamma(c + 1) - math.lgamma(degree - c + 1)
            for c in range(degree + 1)
        ]
    )
    off_nodes = grid[numpy.min(numpy.abs(grid[:, None] - nodes[None, :]), axis=1) > 0]
    gaps = numpy.abs(off_nodes[:, None] - nodes[None, :])
    log_product = numpy.log(gaps).sum(axis=1)
    terms = numpy.exp(log_product[:, None] + log_w[None, :] - numpy.log(gaps))
    return float(max(1.0, terms.sum(axis=1).max()))


def pwpoly_coefficients(degree: int, samples: list, plain: bool) -> list:
    """Legendre coefficients from pwpoly's triplets: each row summed exactly
    (math.fsum of the rounded products) or accumulated in triplet order."""
    rows, cols, vals = pwpoly.lagrange_to_legendre_basis_transformation(degree, 1)
    if plain:
        coefficients = [0.0] * (degree + 1)
        for row, col, weight in zip(rows, cols, vals):
            coefficients[row] += weight * samples[col]
        return coefficients
    products = [[] for _ in range(degree + 1)]
    for row, col, weight in zip(rows, cols, vals):
        products[row].append(weight * samples[col])
    return [math.fsum(terms) for terms in products]


def evaluate(degree: int, coefficients: list, times) -> list:
    evaluator = pwpoly.LegendreBasisEvaluator(degree, 1, 1.0)
    evaluator.set_dofs([float(mpf(c)) for c in coefficients])
    return [evaluator.evaluate_at(t) for t in times]


def max_error(degree: int, coefficients: list, grid: numpy.ndarray, truth: list) -> float:
    return max(abs(value - f) for value, f in zip(evaluate(degree, coefficients, grid), truth))


def table_error(degree: int, weights) -> float:
    """max |W_pwpoly - W| / max |W| over the whole table."""
    exact = to_double(weights)
    table = numpy.zeros_like(exact)
    rows, cols, vals = pwpoly.lagrange_to_legendre_basis_transformation(degree, 1)
    table[rows, cols] = vals
    return float(numpy.abs(table - exact).max() / numpy.abs(exact).max())


def conversion_row(degree: int, grid: numpy.ndarray, truth: list) -> list:
    weights, b = exact_weights(degree)
    cond_exact = numpy.linalg.norm(to_double(b), 2) * numpy.linalg.norm(to_double(weights), 2)
    nodes_double = numpy.array([-1.0 + 2.0 * c / degree for c in range(degree + 1)])
    cond_double = numpy.linalg.cond(numpy.polynomial.legendre.legvander(nodes_double, degree))

    nodes = pwpoly.get_lagrange_points(degree, 1, 1.0)
    samples = [f_double(t) for t in nodes]
    exact_samples = [f_exact(mpf(c) / degree) for c in range(degree + 1)]
    from_table = pwpoly_coefficients(degree, samples, plain=False)
    from_double_samples = [row[0] for row in (weights * mpmath.matrix(samples)).tolist()]
    from_exact_samples = [row[0] for row in (weights * mpmath.matrix(exact_samples)).tolist()]
    at_nodes = evaluate(degree, from_table, nodes)
    residual = max(abs(value - f) for value, f in zip(at_nodes, samples))

    errors = [
        max_error(degree, from_table, grid, truth),
        max_error(degree, pwpoly_coefficients(degree, samples, plain=True), grid, truth),
        max_error(degree, from_double_samples, grid, truth),
        max_error(degree, from_exact_samples, grid, truth),
    ]
    return [
        str(degree),
        f"{cond_exact:.2e}",
        f"{cond_double:.2e}",
        f"{lebesgue_constant(degree, grid):.2e}",
        sci(table_error(degree, weights)),
        sci(residual),
        *(sci(e) for e in errors),
    ]


def conditioning() -> None:
    grid = numpy.linspace(0.0, 1.0, GRID_POINTS)
    truth = [float(f_exact(mpf(t))) for t in grid]
    rows = [conversion_row(degree, grid, truth) for degree in CONDITIONING_DEGREES]

    print("### 2. Conditioning of the equidistant Lagrange-to-Legendre conversion")
    print()
    print(
        "A[j][i] = P_j(xi_i) at degree + 1 equidistant nodes of [-1, 1]. cond₂(A) exact: "
        "‖A‖₂ ‖A⁻¹‖₂ with A and A⁻¹ computed at 50 digits and the 2-norms taken by NumPy "
        "on their doubles; `numpy.linalg.cond`: the same from an SVD of "
        "`numpy.polynomial.legendre.legvander` in double. Λ: the Lebesgue constant of the "
        "nodes (max over the grid of Σ|l_c(t)|). Table error: max |W − W_exact| / max "
        "|W_exact| for pwpoly's weight table W. Interpolation of f(t) = sin(3t) + exp(−t) "
        f"on [0, 1] (T = 1, n_t = 1), max |error| over {GRID_POINTS} equally spaced t, "
        "evaluated with `LegendreBasisEvaluator(d, 1, 1.0)` against f at 50 digits: "
        "pwpoly's triplets applied to double samples at `get_lagrange_points(d, 1, 1.0)` "
        "(rows summed with `math.fsum`, or accumulated in triplet order as a user's loop does); "
        "the exact weights applied at 50 digits to the same double samples; the exact "
        "weights applied to exact samples at c/d. Coefficients are rounded to double "
        "before evaluation. Residual at nodes: max |p(t_c) − f_c| of pwpoly's (fsum) "
        "polynomial at its own nodes."
    )
    print()
    print_table(
        [
            "degree",
            "cond₂(A), exact",
            "`numpy.linalg.cond`",
            "Λ",
            "table error",
            "residual at nodes",
            "pwpoly, fsum",
            "pwpoly, plain sum",
            "exact weights, double samples",
            "exact weights, exact samples",
        ],
        rows,
    )

    scan = {}
    for degree in SCAN_DEGREES:
        samples = [f_double(t) for t in pwpoly.get_lagrange_points(degree, 1, 1.0)]
        scan[degree] = max_error(degree, pwpoly_coefficients(degree, samples, False), grid, truth)
    good = [d for d in SCAN_DEGREES if scan[d] < MEANINGFUL]
    if not good:
        print(f"No degree up to {max(SCAN_DEGREES)} gives an error below {MEANINGFUL:g}.")
        print()
        return
    last = good[0]
    while last + 1 in scan and scan[last + 1] < MEANINGFUL:
        last += 1
    later = [d for d in good if d > last]
    print(
        f"Every degree from {min(SCAN_DEGREES)} to {max(SCAN_DEGREES)} through pwpoly (fsum): "
        f"error below {MEANINGFUL:g} from degree {good[0]} to {last}"
        + (f", and again at {later}" if later else ", at no degree after that")
        + "; around the limit:"
    )
    print()
    around = [d for d in range(last - 4, last + 5) if d in scan]
    print_table([str(d) for d in around], [[sci(scan[d]) for d in around]])


# --- 3. A time on a break point ---------------------------------------------------


def break_points() -> None:
    degree, n_t, span = 1, 10, 1.0
    basis = pwpoly.LegendreBasis(degree, n_t, span)
    nodes = pwpoly.get_lagrange_points(degree, n_t, span)
    rows = []
    for j in range(1, n_t):
        t = j / n_t
        table = basis.evaluate_all_basis_functions(t)
        k = table[:n_t].index(1.0)
        xi = table[k + n_t]
        evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, span)
        dofs = [0.0] * (n_t * (degree + 1))
        dofs[k + n_t] = 1.0
        evaluator.set_dofs(dofs)
        agrees = evaluator.evaluate_at(t) == xi
        w = span / n_t
        rows.append([repr(t), repr(t / w), str(k), repr(xi), repr(nodes[j]), str(agrees)])
    print("### 3. A time on a break point (T = 1, n_t = 10)")
    print()
    print(
        "k and xi from `LegendreBasis(1, 10, 1.0).evaluate_all_basis_functions(t)` (P_0 = 1 "
        "at index k, P_1 = xi at index k + n_t); the evaluator column checks that "
        "`LegendreBasisEvaluator` locates t the same way."
    )
    print()
    print_table(["t", "t / w", "k", "xi", "Lagrange node j", "evaluator agrees"], rows)


# --- 4. The transformation of each node family --------------------------------------

FAMILY_DEGREES = (
    1,
    2,
    3,
    4,
    5,
    6,
    8,
    10,
    12,
    16,
    20,
    24,
    32,
    40,
    50,
    64,
    80,
    100,
    128,
    150,
    175,
    200,
)
EQUIDISTANT_UP_TO = 100
"""Exact equidistant weights need ever more digits (cond ~ 2^degree); the table is
entirely wrong from degree 80 on (section 2)."""


def legendre_column(x, degree: int) -> list:
    """P_0(x) ... P_degree(x) in mpmath arithmetic."""
    values = [mpf(1), x]
    for n in range(1, degree):
        values.append(((2 * n + 1) * x * values[n] - n * values[n - 1]) / (n + 1))
    return values[: degree + 1]


def refined_roots(computed: numpy.ndarray, degree: int, lobatto: bool) -> list:
    """The exact nodes on [-1, 1], from the computed doubles by Newton's method
    at 50 digits on P_(degree+1) (Gauss-Legendre) or P'_degree (Gauss-Lobatto)."""
    roots = []
    n = degree if lobatto else degree + 1
    for c, start in enumerate(computed):
        if lobatto and c in (0, degree):
            roots.append(mpf(start))
            continue
        x = mpf(start)
        for _ in range(3):
            values = legendre_column(x, n)
            value, previous = values[n], values[n - 1]
            first = n * (previous - x * value) / (1 - x * x)
            if lobatto:
                x -= first / ((2 * x * first - n * (n + 1) * value) / (1 - x * x))
            else:
                x -= value / first
        roots.append(x)
    return roots


def exact_gauss_table(family: str, degree: int) -> tuple:
    """W[p][c] = (p + 1/2) w_c P_p(x_c) at the exact nodes, exact weights; for
    Gauss-Lobatto the top row with degree / 2."""
    import pwpoly_numpy

    computed = pwpoly_numpy.nodes(degree, 1, 2.0, family) - 1.0
    lobatto = family == "gauss-lobatto"
    roots = refined_roots(computed, degree, lobatto)
    table = numpy.empty((degree + 1, degree + 1))
    for c, x in enumerate(roots):
        values = legendre_column(x, degree + 1)
        if lobatto:
            weight = mpf(2) / (degree * (degree + 1) * values[degree] ** 2)
        else:
            m = degree + 1
            derivative = m * (values[m - 1] - x * values[m]) / (1 - x * x)
            weight = 2 / ((1 - x * x) * derivative**2)
        for p in range(degree + 1):
            scale = mpf(degree) / 2 if lobatto and p == degree else p + mpf(1) / 2
            table[p, c] = float(scale * weight * values[p])
    node_error = max(abs(float(mpf(x) - r)) for x, r in zip(computed, roots))
    return table, node_error


def chebyshev_to_legendre(degree: int) -> list:
    """L[p][k], T_k = sum_p L[p][k] P_p, exact (Alpert and Rokhlin), with
    Lambda(z) = Gamma(z + 1/2) / Gamma(z + 1) at 50 digits."""

    def lam(z):
        return mpmath.gamma(z + mpf(1) / 2) / mpmath.gamma(z + 1)

    table = [[mpf(0)] * (degree + 1) for _ in range(degree + 1)]
    table[0][0] = mpf(1)
    for k in range(1, degree + 1):
        table[k][k] = mpmath.sqrt(mpmath.pi) / (2 * lam(k))
        for p in range(k % 2, k, 2):
            table[p][k] = (
                -k
                * (p + mpf(1) / 2)
                * lam(mpf(k - p - 2) / 2)
                * lam(mpf(k + p - 1) / 2)
                / ((k + p + 1) * (k - p))
            )
    return table


def exact_chebyshev_table(degree: int) -> tuple:
    """W = L C: C[k][j] the Chebyshev coefficients of the Lagrange polynomial
    of node j = -cos(pi j / n), (2/n) g_k g_j T_k(x_j) (g halves the ends)."""
    import pwpoly_numpy

    n = degree
    conversion = chebyshev_to_legendre(n)
    half = [mpf(1) / 2 if i in (0, n) else mpf(1) for i in range(n + 1)]
    coefficients = [
        [2 * half[k] * half[j] * mpmath.cos(mpmath.pi * k * (n - j) / n) / n for j in range(n + 1)]
        for k in range(n + 1)
    ]
    table = numpy.empty((n + 1, n + 1))
    for p in range(n + 1):
        for j in range(n + 1):
            table[p, j] = float(
                mpmath.fsum(conversion[p][k] * coefficients[k][j] for k in range(p, n + 1, 2))
            )
    computed = pwpoly_numpy.nodes(degree, 1, 2.0, "chebyshev-lobatto") - 1.0
    exact_nodes = [-mpmath.cos(mpmath.pi * j / n) for j in range(n + 1)]
    node_error = max(abs(float(mpf(x) - r)) for x, r in zip(computed, exact_nodes))
    return table, node_error


def family_table(degree: int, family: str) -> numpy.ndarray:
    import pwpoly_numpy

    rows, cols, values = pwpoly_numpy.transformation_triplets(degree, 1, family=family)
    table = numpy.zeros((degree + 1, degree + 1))
    table[rows, cols] = values
    return table


def relative_table_error(table: numpy.ndarray, exact: numpy.ndarray) -> float:
    return float(numpy.abs(table - exact).max() / numpy.abs(exact).max())


def family_accuracy() -> None:
    try:
        import pwpoly_numpy  # noqa: F401
    except ImportError as error:
        print(f"### 4. Node families: skipped, pwpoly_numpy is not importable ({error})")
        return
    # The exact Chebyshev-Lobatto construction agrees with the inverse
    # Legendre-Vandermonde matrix at the exact nodes.
    for degree in (1, 2, 5, 9):
        exact, _ = exact_chebyshev_table(degree)
        vandermonde = mpmath.matrix(
            [
                legendre_column(-mpmath.cos(mpmath.pi * j / degree), degree)
                for j in range(degree + 1)
            ]
        )
        inverse = to_double(mpmath.inverse(vandermonde))
        assert numpy.abs(exact - inverse).max() < 1e-15, degree
    rows = []
    worst_nodes = {"gauss-legendre": 0.0, "gauss-lobatto": 0.0, "chebyshev-lobatto": 0.0}
    for degree in FAMILY_DEGREES:
        cells = [str(degree)]
        if degree <= EQUIDISTANT_UP_TO:
            weights, _ = exact_weights(degree)
            cells.append(
                sci(relative_table_error(family_table(degree, "equidistant"), to_double(weights)))
            )
        else:
            cells.append("—")
        for family in ("gauss-legendre", "gauss-lobatto"):
            exact, node_error = exact_gauss_table(family, degree)
            worst_nodes[family] = max(worst_nodes[family], node_error)
            cells.append(sci(relative_table_error(family_table(degree, family), exact)))
        exact, node_error = exact_chebyshev_table(degree)
        worst_nodes["chebyshev-lobatto"] = max(worst_nodes["chebyshev-lobatto"], node_error)
        cells.append(sci(relative_table_error(family_table(degree, "chebyshev-lobatto"), exact)))
        rows.append(cells)
    print("### 4. The transformation of each node family")
    print()
    print(
        "max |W − W_exact| / max |W_exact| for `pwpoly_numpy.transformation_triplets(d, 1, "
        "family=...)` against the exact weights at the exact nodes (50 digits): equidistant "
        "from the inverse Legendre-Vandermonde matrix; Gauss-Legendre and Gauss-Lobatto from "
        "(p + 1/2) w_c P_p(x_c) at the roots refined by Newton's method at 50 digits; "
        "Chebyshev-Lobatto from the exact Chebyshev coefficients of the Lagrange polynomials "
        "and the Chebyshev-to-Legendre conversion (Alpert and Rokhlin), checked against the "
        "inverse Legendre-Vandermonde matrix at degrees 1, 2, 5 and 9. The error includes "
        "the rounding of the nodes to doubles."
    )
    print()
    print_table(
        ["degree", "equidistant", "gauss-legendre", "gauss-lobatto", "chebyshev-lobatto"], rows
    )
    print(
        "Largest |x − x_exact| of the reference nodes on [−1, 1] at the degrees above: "
        + ", ".join(f"{family} {sci(error)}" for family, error in worst_nodes.items())
        + "."
    )
    print()


def main() -> None:
    print_header()
    derivative_accuracy()
    conditioning()
    break_points()
    family_accuracy()


if __name__ == "__main__":
    main()
