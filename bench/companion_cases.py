"""The measured operations of pwpoly_numpy, the NumPy companion, for run.py.

Each row times a pwpoly_numpy call beside a NumPy or SciPy baseline on the
same grid (degree 3, 25000 intervals) in the same run. Two more targets need
what run.py does not do per row, a wall clock across threads and a peak of
memory in a fresh interpreter: ``bench/companion.py`` measures those.
"""

from __future__ import annotations

from typing import Callable

import cases

EVALUATION_TIMES = 1_000_000
COLUMN_TIMES = 100_000
COLUMNS = 64
SWEEP_COLUMNS = (1, 2, 3, 4, 5, 8, 16, 64)
"""Column counts of the rows that set one call with m columns against m one-column calls."""
MATRIX_TIMES = 100_000
N_T = cases.N_T_COEFFICIENTS
DEGREE = cases.DEGREE


def random_times(count: int, seed: int = 11, sort: bool = False):
    import numpy

    times = numpy.random.default_rng(seed).uniform(0.0, cases.T, count)
    return numpy.sort(times) if sort else times


def evaluation_setup() -> dict:
    import numpy
    from numpy.polynomial.legendre import legval

    import pwpoly_numpy

    coefficients = numpy.array(cases.exact_floats(cases.N))
    return {
        "evaluate": pwpoly_numpy.evaluate,
        "legval": legval,
        "coefficients": coefficients,
        "interval": coefficients[::N_T].copy(),  # the degree + 1 coefficients of interval 0
        "times": random_times(EVALUATION_TIMES),
        "piecewise": cases.ppoly(N_T),
        "T": cases.T,
    }


def piecewise_setup() -> dict:
    namespace = evaluation_setup()
    import pwpoly_numpy

    namespace["p"] = pwpoly_numpy.PiecewiseLegendre(DEGREE, N_T, cases.T, namespace["coefficients"])
    return namespace


def sorted_setup() -> dict:
    namespace = evaluation_setup()
    namespace["times"] = random_times(EVALUATION_TIMES, sort=True)
    return namespace


def trajectory_setup() -> dict:
    """A 3-D trajectory, coefficients (N, 3), and its three columns as 1-D arrays."""
    import numpy

    import pwpoly_numpy

    namespace = evaluation_setup()
    trajectory = numpy.random.default_rng(5).uniform(-1.0, 1.0, (cases.N, 3))
    namespace["trajectory"] = trajectory
    namespace["x"], namespace["y"], namespace["z"] = (trajectory[:, e].copy() for e in range(3))
    namespace["p"] = pwpoly_numpy.PiecewiseLegendre(DEGREE, N_T, cases.T, trajectory)
    return namespace


def numba_value_and_velocity():
    """Value and first derivative of (N, m) flat-layout coefficients at many
    times in one pass, as a user writes it with numba: the interval, the local
    coordinate, the Legendre values and derivatives by their recurrences, then
    both sums per column. Returns f(coefficients, n_t, T, times) -> (2, n, m)."""
    import numba
    import numpy

    @numba.njit
    def fill(coefficients, n_t, T, times, out):
        w = T / n_t
        degree = coefficients.shape[0] // n_t - 1
        m = coefficients.shape[1]
        p = numpy.empty(degree + 1)
        dp = numpy.empty(degree + 1)
        for j in range(times.size):
            t = times[j]
            k = min(max(int(t / w), 0), n_t - 1)
            xi = 2.0 * (t - k * w) / w - 1.0
            p[0] = 1.0
            dp[0] = 0.0
            if degree >= 1:
                p[1] = xi
                dp[1] = 1.0
            for i in range(1, degree):
                p[i + 1] = ((2 * i + 1) * xi * p[i] - i * p[i - 1]) / (i + 1)
                dp[i + 1] = dp[i - 1] + (2 * i + 1) * p[i]
            for e in range(m):
                value = 0.0
                slope = 0.0
                for i in range(degree + 1):
                    c = coefficients[k + n_t * i, e]
                    value += c * p[i]
                    slope += c * dp[i]
                out[0, j, e] = value
                out[1, j, e] = slope * (2.0 / w)

    def value_and_velocity(coefficients, n_t, T, times):
        out = numpy.empty((2, times.size, coefficients.shape[1]))
        fill(coefficients, n_t, T, times, out)
        return out

    return value_and_velocity


def velocity_setup() -> dict:
    import numpy

    namespace = trajectory_setup()
    kernel = numba_value_and_velocity()
    both = kernel(namespace["trajectory"], N_T, cases.T, namespace["times"])  # compiles
    ours = namespace["p"](namespace["times"], nu=[0, 1])
    # The same to rounding, at the scale of each order.
    assert numpy.all(abs(both - ours).max(axis=(1, 2)) <= 1e-9 * abs(ours).max(axis=(1, 2)))
    namespace["value_and_velocity"] = kernel
    return namespace


def sweep_setup(m: int) -> Callable[[], dict]:
    def setup() -> dict:
        import numpy

        import pwpoly_numpy

        table = numpy.random.default_rng(17).uniform(-1.0, 1.0, (cases.N, m))
        return {
            "evaluate": pwpoly_numpy.evaluate,
            "table": table,
            "singles": [table[:, e].copy() for e in range(m)],
            "times": random_times(COLUMN_TIMES),
            "T": cases.T,
        }

    return setup


def numpy_basis_matrix(degree: int, n_t: int, T: float, times):
    """The basis matrix with NumPy alone: floor for the interval, the local
    coordinate, legvander for the Legendre values, csr_array around them."""
    import numpy
    import scipy.sparse
    from numpy.polynomial.legendre import legvander

    w = T / n_t
    k = numpy.clip(numpy.floor(times / w), 0, n_t - 1).astype(numpy.int64)
    xi = 2.0 * (times - k * w) / w - 1.0
    values = legvander(xi, degree)
    indices = k[:, None] + n_t * numpy.arange(degree + 1)
    indptr = numpy.arange(0, values.size + 1, degree + 1)
    return scipy.sparse.csr_array(
        (values.ravel(), indices.ravel(), indptr), shape=(times.size, n_t * (degree + 1))
    )


def columns_setup() -> dict:
    import numpy

    import pwpoly_numpy

    rng = numpy.random.default_rng(3)
    return {
        "evaluate": pwpoly_numpy.evaluate,
        "coefficients": rng.uniform(-1.0, 1.0, cases.N),
        "columns": rng.uniform(-1.0, 1.0, (cases.N, COLUMNS)),
        "times": random_times(COLUMN_TIMES, sort=True),
        "out": numpy.empty((COLUMN_TIMES, COLUMNS)),
        "single_out": numpy.empty(COLUMN_TIMES),
        "T": cases.T,
    }


def basis_matrix_setup() -> dict:
    import numpy
    import scipy.sparse
    from scipy.interpolate import BSpline

    import pwpoly_numpy

    times = random_times(MATRIX_TIMES)
    prepared = pwpoly_numpy.basis_matrix(DEGREE, N_T, cases.T, times)
    breaks = numpy.linspace(0.0, cases.T, N_T + 1)
    return {
        "basis_matrix": pwpoly_numpy.basis_matrix,
        "csr_array": scipy.sparse.csr_array,
        "data": prepared.data.copy(),
        "indices": prepared.indices.copy(),
        "indptr": prepared.indptr.copy(),
        "shape": prepared.shape,
        "times": times,
        "design_matrix": BSpline.design_matrix,
        "numpy_basis_matrix": numpy_basis_matrix,
        "knots": numpy.concatenate([[0.0] * DEGREE, breaks, [cases.T] * DEGREE]),
        "T": cases.T,
    }


def numpy_transformation(degree: int, n_t: int):
    """The transformation built with NumPy alone: the inverse of the local
    Legendre-Vandermonde matrix, broadcast into COO arrays, to csr_array."""
    import numpy
    import scipy.sparse
    from numpy.polynomial.legendre import legvander

    nodes = numpy.linspace(-1.0, 1.0, degree + 1)
    weights = numpy.linalg.inv(legvander(nodes, degree)).T  # weights[p, c]
    p, k, c = numpy.ix_(numpy.arange(degree + 1), numpy.arange(n_t), numpy.arange(degree + 1))
    shape = (degree + 1, n_t, degree + 1)
    rows = numpy.broadcast_to(p * n_t + k, shape).ravel()
    cols = numpy.broadcast_to(k * degree + c, shape).ravel()
    values = numpy.broadcast_to(weights[:, None, :], shape).ravel()
    matrix = scipy.sparse.coo_array(
        (values, (rows, cols)), shape=((degree + 1) * n_t, n_t * degree + 1)
    )
    return matrix.tocsr()


def numpy_csr(rows, cols, values, shape):
    """COO arrays to a csr_array, the usual road with NumPy and SciPy."""
    import scipy.sparse

    return scipy.sparse.coo_array((values, (rows, cols)), shape=shape).tocsr()


def numpy_mass(degree: int, n_t: int, T: float):
    """The mass matrix built with NumPy alone: T / (n_t (2i + 1)) on the diagonal."""
    import numpy

    count = n_t * (degree + 1)
    diagonal = numpy.repeat(T / (n_t * (2.0 * numpy.arange(degree + 1) + 1.0)), n_t)
    index = numpy.arange(count)
    return numpy_csr(index, index, diagonal, (count, count))


def numpy_derivative(degree: int, n_t: int, T: float):
    """The derivative matrix: 2.0 at (k + n_t i, k + n_t j) for j > i, j - i odd."""
    import numpy

    pairs = [(i, j) for i in range(degree + 1) for j in range(i + 1, degree + 1, 2)]
    i, j = (numpy.array(side)[:, None] for side in zip(*pairs))
    k = numpy.arange(n_t)[None, :]
    count = n_t * (degree + 1)
    rows = (k + n_t * i).ravel()
    return numpy_csr(rows, (k + n_t * j).ravel(), numpy.full(rows.size, 2.0), (count, count))


def numpy_jump(degree: int, n_t: int):
    """The upwind jump matrix from its two blocks of +-1 entries."""
    import numpy

    count = n_t * (degree + 1)
    i = numpy.arange(degree + 1)[:, None, None]
    j = numpy.arange(degree + 1)[None, :, None]
    k = numpy.arange(n_t)[None, None, :]
    sign_i = 1.0 - 2.0 * (i % 2)
    same = numpy.broadcast_to(sign_i * (1.0 - 2.0 * (j % 2)), (degree + 1, degree + 1, n_t))
    rows_same = numpy.broadcast_to(k + n_t * i, same.shape)
    cols_same = numpy.broadcast_to(k + n_t * j, same.shape)
    k1 = k[:, :, 1:]
    previous = numpy.broadcast_to(-sign_i, (degree + 1, degree + 1, n_t - 1))
    rows_previous = numpy.broadcast_to(k1 + n_t * i, previous.shape)
    cols_previous = numpy.broadcast_to(k1 - 1 + n_t * j, previous.shape)
    return numpy_csr(
        numpy.concatenate([rows_same.ravel(), rows_previous.ravel()]),
        numpy.concatenate([cols_same.ravel(), cols_previous.ravel()]),
        numpy.concatenate([same.ravel(), previous.ravel()]),
        (count, count),
    )


def numpy_traces(degree: int, n_t: int):
    """Both trace matrices: (-1)^i and 1 at (k, k + n_t i)."""
    import numpy

    count = n_t * (degree + 1)
    i = numpy.arange(degree + 1)[None, :]
    k = numpy.arange(n_t)[:, None]
    rows = numpy.broadcast_to(k, (n_t, degree + 1)).ravel()
    cols = (k + n_t * i).ravel()
    start = numpy.broadcast_to(1.0 - 2.0 * (i % 2), (n_t, degree + 1)).ravel()
    return (
        numpy_csr(rows, cols, start, (n_t, count)),
        numpy_csr(rows, cols, numpy.ones(rows.size), (n_t, count)),
    )


def time_matrices_setup() -> dict:
    import numpy

    import pwpoly_numpy

    # The baselines build the same matrices: checked once here.
    built = {
        "mass": (pwpoly_numpy.mass_matrix(DEGREE, N_T, cases.T), numpy_mass(DEGREE, N_T, cases.T)),
        "derivative": (
            pwpoly_numpy.derivative_matrix(DEGREE, N_T, cases.T),
            numpy_derivative(DEGREE, N_T, cases.T),
        ),
        "jump": (pwpoly_numpy.jump_matrix(DEGREE, N_T), numpy_jump(DEGREE, N_T)),
        "start": (pwpoly_numpy.trace_matrices(DEGREE, N_T)[0], numpy_traces(DEGREE, N_T)[0]),
    }
    for name, (ours, theirs) in built.items():
        assert ours.nnz == theirs.nnz and (ours != theirs).nnz == 0, name
        assert numpy.array_equal(ours.indptr, theirs.indptr), name
    return {
        "mass_matrix": pwpoly_numpy.mass_matrix,
        "derivative_matrix": pwpoly_numpy.derivative_matrix,
        "jump_matrix": pwpoly_numpy.jump_matrix,
        "trace_matrices": pwpoly_numpy.trace_matrices,
        "numpy_mass": numpy_mass,
        "numpy_derivative": numpy_derivative,
        "numpy_jump": numpy_jump,
        "numpy_traces": numpy_traces,
        "degree": DEGREE,
        "n_t": N_T,
        "T": cases.T,
    }


def numpy_family_transformation(degree: int, n_t: int, reference_nodes):
    """The transformation of a node family with NumPy alone: the inverse of the
    local Legendre-Vandermonde matrix at its reference nodes, broadcast COO
    arrays (columns k * degree + c: families with shared ends), csr_array."""
    import numpy
    from numpy.polynomial.legendre import legvander

    weights = numpy.linalg.inv(legvander(reference_nodes, degree)).T
    p, k, c = numpy.ix_(numpy.arange(degree + 1), numpy.arange(n_t), numpy.arange(degree + 1))
    shape = (degree + 1, n_t, degree + 1)
    return numpy_csr(
        numpy.broadcast_to(p * n_t + k, shape).ravel(),
        numpy.broadcast_to(k * degree + c, shape).ravel(),
        numpy.broadcast_to(weights[:, None, :], shape).ravel(),
        ((degree + 1) * n_t, n_t * degree + 1),
    )


def family_transformation_setup() -> dict:
    import pwpoly_numpy

    return {
        "transformation_matrix": pwpoly_numpy.transformation_matrix,
        "numpy_family_transformation": numpy_family_transformation,
        "lobatto": pwpoly_numpy.nodes(DEGREE, 1, 2.0, "gauss-lobatto") - 1.0,
        "degree": DEGREE,
        "n_t": N_T,
    }


def transformation_setup() -> dict:
    import pwpoly_numpy

    return {
        "transformation_matrix": pwpoly_numpy.transformation_matrix,
        "numpy_transformation": numpy_transformation,
        "degree": DEGREE,
        "n_t": N_T,
    }


def companion_cases() -> list:
    Case = cases.Case
    numpy_rows = ("numpy", "pwpoly_numpy")
    grid = f"{DEGREE}, {N_T}, T"
    return [
        Case(
            key="companion.evaluate",
            operation=f"`pwpoly_numpy.evaluate({grid}, c, times)`, {EVALUATION_TIMES} random times",
            stmt="evaluate(3, 25000, T, coefficients, times)",
            baseline="numpy `legval(times, c)` on one interval's 4 coefficients",
            baseline_stmt="legval(times, interval)",
            setup=evaluation_setup,
            target=0.6,
            per=EVALUATION_TIMES,
            item="point",
            needs=numpy_rows,
        ),
        Case(
            key="companion.evaluate_vs_ppoly",
            operation=f"`pwpoly_numpy.evaluate({grid}, c, times)`, {EVALUATION_TIMES} random times",
            stmt="evaluate(3, 25000, T, coefficients, times)",
            baseline=f"scipy `PPoly(times)`, cubic on {N_T} intervals",
            baseline_stmt="piecewise(times)",
            setup=evaluation_setup,
            target=0.05,
            per=EVALUATION_TIMES,
            item="point",
            needs=(*numpy_rows, "scipy"),
        ),
        Case(
            key="companion.evaluate_sorted_vs_ppoly",
            operation=f"`pwpoly_numpy.evaluate({grid}, c, times)`, {EVALUATION_TIMES} sorted times",
            stmt="evaluate(3, 25000, T, coefficients, times)",
            baseline=f"scipy `PPoly(times)` on the same sorted times, cubic on {N_T} intervals",
            baseline_stmt="piecewise(times)",
            setup=sorted_setup,
            target=0.4,
            per=EVALUATION_TIMES,
            item="point",
            needs=(*numpy_rows, "scipy"),
        ),
        Case(
            key="companion.evaluate_trajectory",
            operation=(
                f"`pwpoly_numpy.evaluate({grid}, c, times)`, c of shape ({cases.N}, 3), "
                f"{EVALUATION_TIMES} random times"
            ),
            stmt="evaluate(3, 25000, T, trajectory, times)",
            baseline="three calls with c of shape (100000,), one per column",
            baseline_stmt=(
                "(evaluate(3, 25000, T, x, times), evaluate(3, 25000, T, y, times), "
                "evaluate(3, 25000, T, z, times))"
            ),
            setup=trajectory_setup,
            target=0.5,
            per=EVALUATION_TIMES,
            item="point",
            needs=numpy_rows,
        ),
        Case(
            key="companion.piecewise_velocity",
            operation=(
                f"`PiecewiseLegendre({grid}, c)(times, nu=[0, 1])`, c of shape ({cases.N}, 3), "
                f"{EVALUATION_TIMES} random times"
            ),
            stmt="p(times, nu=[0, 1])",
            baseline="a numba kernel computing both in one pass (bench/companion_cases.py)",
            baseline_stmt="value_and_velocity(trajectory, 25000, T, times)",
            setup=velocity_setup,
            target=1.0,
            per=EVALUATION_TIMES,
            item="point",
            needs=(*numpy_rows, "numba"),
        ),
        *column_sweep_cases(numpy_rows),
        Case(
            key="companion.piecewise_call",
            operation=(f"`PiecewiseLegendre({grid}, c)(times)`, {EVALUATION_TIMES} random times"),
            stmt="p(times)",
            baseline=f"`pwpoly_numpy.evaluate({grid}, c, times)` on the same data",
            baseline_stmt="evaluate(3, 25000, T, coefficients, times)",
            setup=piecewise_setup,
            target=1.05,
            per=EVALUATION_TIMES,
            item="point",
            needs=numpy_rows,
        ),
        Case(
            key="companion.evaluate_columns",
            operation=(
                f"`pwpoly_numpy.evaluate({grid}, c, times)`, c of shape ({cases.N}, {COLUMNS}), "
                f"{COLUMN_TIMES} sorted times, `out=` reused (target: per point and expansion at most 0.25x "
                f"one expansion per point, so at most {0.25 * COLUMNS:g}x per point)"
            ),
            stmt="evaluate(3, 25000, T, columns, times, out=out)",
            baseline="the same with one expansion, c of shape (100000,), `out=` reused too",
            baseline_stmt="evaluate(3, 25000, T, coefficients, times, out=single_out)",
            setup=columns_setup,
            target=0.25 * COLUMNS,
            per=COLUMN_TIMES,
            item="point",
            needs=numpy_rows,
        ),
        Case(
            key="companion.basis_matrix",
            operation=f"`pwpoly_numpy.basis_matrix({grid}, times)`, {MATRIX_TIMES} random times",
            stmt="basis_matrix(3, 25000, T, times)",
            baseline="`csr_array((data, indices, indptr))` from the prepared arrays",
            baseline_stmt="csr_array((data, indices, indptr), shape=shape)",
            setup=basis_matrix_setup,
            target=2.0,
            needs=(*numpy_rows, "scipy"),
        ),
        Case(
            key="companion.basis_matrix_vs_numpy",
            operation=f"`pwpoly_numpy.basis_matrix({grid}, times)`, {MATRIX_TIMES} random times",
            stmt="basis_matrix(3, 25000, T, times)",
            baseline="NumPy: floor, local coordinate, `legvander`, `csr_array`",
            baseline_stmt="numpy_basis_matrix(3, 25000, T, times)",
            setup=basis_matrix_setup,
            target=0.2,
            needs=(*numpy_rows, "scipy"),
        ),
        Case(
            key="companion.basis_matrix_vs_bspline",
            operation=f"`pwpoly_numpy.basis_matrix({grid}, times)`, {MATRIX_TIMES} random times",
            stmt="basis_matrix(3, 25000, T, times)",
            baseline=f"scipy `BSpline.design_matrix(times, knots, 3)`, cubic on {N_T} intervals",
            baseline_stmt="design_matrix(times, knots, 3)",
            setup=basis_matrix_setup,
            target=0.05,
            needs=(*numpy_rows, "scipy"),
        ),
        Case(
            key="companion.transformation_matrix",
            operation=f"`pwpoly_numpy.transformation_matrix({DEGREE}, {N_T})`",
            stmt="transformation_matrix(degree, n_t)",
            baseline="NumPy: inverse Legendre-Vandermonde, broadcast COO arrays, to csr_array",
            baseline_stmt="numpy_transformation(degree, n_t)",
            setup=transformation_setup,
            target=0.3,
            needs=(*numpy_rows, "scipy"),
        ),
        Case(
            key="companion.transformation_matrix_lobatto",
            operation=f"`pwpoly_numpy.transformation_matrix({DEGREE}, {N_T}, family='gauss-lobatto')`",
            stmt="transformation_matrix(degree, n_t, family='gauss-lobatto')",
            baseline="NumPy: inverse Legendre-Vandermonde at the same nodes, COO arrays, to csr_array",
            baseline_stmt="numpy_family_transformation(degree, n_t, lobatto)",
            setup=family_transformation_setup,
            target=0.3,
            needs=(*numpy_rows, "scipy"),
        ),
        *time_matrix_cases(numpy_rows),
    ]


def column_sweep_cases(numpy_rows: tuple) -> list:
    """One call with m columns against m calls with one column each, per time
    and column: the cost per time and column should fall as m grows."""
    Case = cases.Case
    return [
        Case(
            key=f"companion.columns_{m}",
            operation=(
                f"`pwpoly_numpy.evaluate({DEGREE}, {N_T}, T, c, times)`, c of shape "
                f"({cases.N}, {m}), {COLUMN_TIMES} random times"
            ),
            stmt="evaluate(3, 25000, T, table, times)",
            baseline=f"{m} calls with c of shape ({cases.N},)",
            baseline_stmt="[evaluate(3, 25000, T, c, times) for c in singles]",
            setup=sweep_setup(m),
            target=1.0,
            per=COLUMN_TIMES * m,
            item="point·column",
            needs=numpy_rows,
        )
        for m in SWEEP_COLUMNS
    ]


def time_matrix_cases(numpy_rows: tuple) -> list:
    """The matrices in time, each against the same csr_array built with NumPy
    (COO arrays of its entries, then SciPy's conversion to CSR)."""
    Case = cases.Case
    rows = [
        ("mass_matrix", f"mass_matrix({DEGREE}, {N_T}, T)", "numpy_mass(degree, n_t, T)"),
        (
            "derivative_matrix",
            f"derivative_matrix({DEGREE}, {N_T}, T)",
            "numpy_derivative(degree, n_t, T)",
        ),
        ("jump_matrix", f"jump_matrix({DEGREE}, {N_T})", "numpy_jump(degree, n_t)"),
        ("trace_matrices", f"trace_matrices({DEGREE}, {N_T})", "numpy_traces(degree, n_t)"),
    ]
    return [
        Case(
            key=f"companion.{name}",
            operation=f"`pwpoly_numpy.{call}`",
            stmt=call.replace(str(N_T), "n_t").replace(f"({DEGREE},", "(degree,"),
            baseline="NumPy: COO arrays of the same entries, to csr_array",
            baseline_stmt=baseline,
            setup=time_matrices_setup,
            target=0.3,
            needs=(*numpy_rows, "scipy"),
        )
        for name, call, baseline in rows
    ]
