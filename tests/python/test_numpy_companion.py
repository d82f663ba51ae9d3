"""pwpoly_numpy against pwpoly itself: bit identity of every evaluation, table
entry, node and triplet; the sparse structure of its matrices; shapes,
conversions and every refusal."""

import math
from decimal import Decimal
from fractions import Fraction

import pytest

numpy = pytest.importorskip("numpy")
pwpoly_numpy = pytest.importorskip("pwpoly_numpy")

import pwpoly  # noqa: E402
from conftest import run_python  # noqa: E402
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402


def float_error(value):
    """The message of the interpreter's float conversion of `value` as C code
    meets it (PyFloat_AsDouble, which math.copysign uses)."""
    try:
        math.copysign(value, 1.0)
    except TypeError as error:
        return str(error)
    raise AssertionError(f"{value!r} converts to float")


def same_bits(got, expected):
    """Element-wise equality of doubles to the bit; NaN equals NaN."""
    got = numpy.asarray(got, dtype=numpy.float64)
    expected = numpy.asarray(expected, dtype=numpy.float64)
    both_nan = numpy.isnan(got) & numpy.isnan(expected)
    same = got.view(numpy.uint64) == expected.view(numpy.uint64)
    return got.shape == expected.shape and bool(numpy.all(same | both_nan))


# --- strategies: grids, awkward times, coefficient and time dtypes ------------------------

SPANS = st.sampled_from([1.0, 3.0, 0.3, 7.5, -2.0, 1e-3, 1e6, 0.0, float("inf")])


@st.composite
def grids(draw):
    return draw(st.integers(0, 20)), draw(st.integers(1, 8)), draw(SPANS)


@st.composite
def times_for(draw, n_t, T, shape):
    """Times on and beside break points, outside the span, non-finite, or anywhere."""
    w = T / n_t

    def one():
        k = draw(st.integers(0, n_t))
        point = k * w
        return draw(
            st.sampled_from(
                [
                    point,
                    float(numpy.nextafter(point, -numpy.inf)),
                    float(numpy.nextafter(point, numpy.inf)),
                    -1.0,
                    2.0 * T,
                    float("inf"),
                    float("-inf"),
                    float("nan"),
                    -0.0,
                ]
            )
            | st.floats(allow_nan=True, allow_infinity=True, width=64)
        )

    return numpy.array([one() for _ in range(int(numpy.prod(shape)))]).reshape(shape)


TIME_SHAPES = st.sampled_from([(), (1,), (7,), (2, 3), (3, 1, 2), (0,)])

# Dtypes whose items pwpoly converts with float(); each converts exactly here too.
REAL_DTYPES = ["float64", "float32", "float16", "int64", "int32", "uint8", "bool", "longdouble"]


def cast(values, dtype):
    if dtype == "bool":
        return values != 0
    if numpy.dtype(dtype).kind in "iu":
        info = numpy.iinfo(dtype)
        finite = numpy.nan_to_num(values, nan=0.0, posinf=0.0, neginf=0.0)
        return numpy.clip(finite, max(info.min, -1000), min(info.max, 1000)).astype(dtype)
    with numpy.errstate(over="ignore"):
        return values.astype(dtype)


def scalar_results(degree, n_t, T, column, times, derivative):
    """pwpoly's scalar calls: an evaluator holding `column`, called at every time."""
    evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(column)
    call = evaluator.evaluate_derivative_at if derivative else evaluator.evaluate_at
    return numpy.array([call(t) for t in times.flat]).reshape(times.shape)


@settings(max_examples=150, deadline=None)
@given(
    grid=grids(),
    data=st.data(),
    columns=st.sampled_from([None, 1, 3]),
    coefficient_dtype=st.sampled_from(REAL_DTYPES),
    time_dtype=st.sampled_from(["float64", "float32", "int64", "longdouble"]),
    shape=TIME_SHAPES,
    derivative=st.booleans(),
)
def test_evaluations_match_the_scalar_evaluator_bit_for_bit(
    grid, data, columns, coefficient_dtype, time_dtype, shape, derivative
):
    degree, n_t, T = grid
    count = n_t * (degree + 1)
    width = 1 if columns is None else columns
    raw = data.draw(
        st.lists(
            st.floats(allow_nan=True, allow_infinity=True, width=64)
            | st.sampled_from([0.0, -0.0, 1.0]),
            min_size=count * width,
            max_size=count * width,
        )
    )
    coefficients = cast(
        numpy.array(raw).reshape((count,) if columns is None else (count, width)), coefficient_dtype
    )
    times = cast(data.draw(times_for(n_t, T, shape)), time_dtype)
    function = pwpoly_numpy.evaluate_derivative if derivative else pwpoly_numpy.evaluate
    result = function(degree, n_t, T, coefficients, times)
    assert result.dtype == numpy.float64
    if columns is None:
        assert same_bits(result, scalar_results(degree, n_t, T, coefficients, times, derivative))
        return
    assert result.shape == times.shape + (width,)
    for e in range(width):
        expected = scalar_results(degree, n_t, T, coefficients[:, e], times, derivative)
        assert same_bits(result[..., e], expected)


@pytest.mark.parametrize("count", [5, 500], ids=["few times", "many times"])
@pytest.mark.parametrize("derivative", [False, True])
def test_both_coefficient_orders_give_the_evaluators_bits(count, derivative):
    # Many more times than coefficients make the kernel read a reordered copy.
    degree, n_t, T = 5, 7, 2.0
    coefficients = numpy.random.default_rng(count).uniform(-1.0, 1.0, n_t * (degree + 1))
    times = numpy.linspace(-0.5, 2.5, count)
    function = pwpoly_numpy.evaluate_derivative if derivative else pwpoly_numpy.evaluate
    expected = scalar_results(degree, n_t, T, coefficients, times, derivative)
    assert same_bits(function(degree, n_t, T, coefficients, times), expected)


@settings(max_examples=80, deadline=None)
@given(grid=grids(), data=st.data(), derivative=st.booleans())
def test_basis_matrix_rows_are_the_tables_entries(grid, data, derivative):
    degree, n_t, T = grid
    times = data.draw(times_for(n_t, T, (data.draw(st.integers(0, 9)),)))
    matrix = pwpoly_numpy.basis_matrix(degree, n_t, T, times, derivative=derivative)
    basis = pwpoly.LegendreBasis(degree, n_t, T)
    table = (
        basis.evaluate_all_basis_function_derivatives
        if derivative
        else basis.evaluate_all_basis_functions
    )
    count = n_t * (degree + 1)
    assert matrix.shape == (times.size, count)
    assert matrix.nnz == times.size * (degree + 1)
    for j, t in enumerate(times):
        row = table(float(t))
        start, end = matrix.indptr[j], matrix.indptr[j + 1]
        columns = matrix.indices[start:end]
        k = columns[0]
        assert list(columns) == [k + n_t * i for i in range(degree + 1)]
        assert same_bits(matrix.data[start:end], [row[c] for c in columns])
        others = numpy.delete(numpy.array(row), columns)
        assert not numpy.any(others)  # every entry off the row's interval is 0.0


@pytest.mark.parametrize(
    ("degree", "n_t", "T"),
    [
        (2, 3, 0.3),
        (1, 3, 0.3),
        (3, 1, 1.0),
        (0, 4, 2.0),
        (5, 0, 1.5),
        (4, 7, -2.0),
        (3, 2, float("nan")),
    ],
)
def test_lagrange_points_are_pwpolys(degree, n_t, T):
    points = pwpoly_numpy.lagrange_points(degree, n_t, T)
    assert points.dtype == numpy.float64
    assert same_bits(points, pwpoly.get_lagrange_points(degree, n_t, T))


@pytest.mark.parametrize(("degree", "n_t"), [(1, 2), (2, 3), (3, 5), (4, 1), (7, 3), (3, 0)])
def test_transformation_triplets_and_matrix_are_pwpolys(degree, n_t):
    pytest.importorskip("scipy")
    expected = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    rows, cols, values = pwpoly_numpy.transformation_triplets(degree, n_t)
    assert (rows.dtype, cols.dtype, values.dtype) == (numpy.int64, numpy.int64, numpy.float64)
    assert rows.tolist() == expected[0] and cols.tolist() == expected[1]
    assert same_bits(values, expected[2])

    matrix = pwpoly_numpy.transformation_matrix(degree, n_t)
    assert matrix.format == "csr" and type(matrix).__name__ == "csr_array"
    assert matrix.shape == ((degree + 1) * n_t, n_t * degree + 1)
    assert matrix.nnz == len(expected[0])  # explicit zeros stay stored
    coo = matrix.tocoo()
    assert coo.row.tolist() == expected[0] and coo.col.tolist() == expected[1]
    assert same_bits(coo.data, expected[2])


@pytest.mark.parametrize(
    "build",
    [
        lambda: pwpoly_numpy.transformation_matrix(2, 3),
        lambda: pwpoly_numpy.basis_matrix(3, 4, 1.0, numpy.linspace(-1, 2, 50)),
        lambda: pwpoly_numpy.basis_matrix(2, 3, 3.0, [[0.5, 1.5]], derivative=True),
    ],
)
def test_sparse_matrices_are_canonical_and_keep_their_zeros(build):
    pytest.importorskip("scipy")
    matrix = build()
    assert matrix.has_sorted_indices and matrix.has_canonical_format
    fresh = type(matrix)((matrix.data, matrix.indices, matrix.indptr), shape=matrix.shape)
    assert fresh.has_sorted_indices  # SciPy's own scan agrees with the flag we set
    fresh.sum_duplicates()
    assert fresh.nnz == matrix.nnz
    assert numpy.all(numpy.diff(matrix.indptr) == matrix.nnz // matrix.shape[0])


def test_degree_two_transformation_stores_its_exact_zero():
    pytest.importorskip("scipy")
    matrix = pwpoly_numpy.transformation_matrix(2, 3)
    assert matrix.nnz == 27 and numpy.count_nonzero(matrix.data == 0.0) == 3


def test_basis_matrix_stores_zero_entries_at_a_node():
    pytest.importorskip("scipy")
    # xi = 0 at the middle of an interval: P_1 and P_3 are exactly 0.0 there.
    matrix = pwpoly_numpy.basis_matrix(3, 2, 2.0, [0.5])
    assert matrix.nnz == 4 and matrix.data.tolist() == [1.0, 0.0, -0.5, 0.0]


# --- shapes, conversions and aliasing ------------------------------------------------------


def test_result_shapes_follow_times_and_columns():
    c = numpy.arange(9.0)
    assert pwpoly_numpy.evaluate(2, 3, 3.0, c, 1.25).shape == ()
    assert pwpoly_numpy.evaluate(2, 3, 3.0, c, [[1.0, 2.0]]).shape == (1, 2)
    c2 = numpy.ones((9, 4))
    assert pwpoly_numpy.evaluate_derivative(2, 3, 3.0, c2, 0.5).shape == (4,)
    assert pwpoly_numpy.evaluate(2, 3, 3.0, c2, numpy.zeros((2, 0))).shape == (2, 0, 4)
    assert pwpoly_numpy.evaluate(2, 3, 3.0, numpy.ones((9, 0)), [1.0]).shape == (1, 0)
    scalar = pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.25, c)
    assert same_bits(pwpoly_numpy.evaluate(2, 3, 3.0, c, 1.25), scalar)


@pytest.mark.parametrize("layout", ["C", "F", "strided"])
def test_results_never_alias_inputs_and_inputs_stay_unchanged(layout):
    coefficients = numpy.array(
        numpy.arange(36.0).reshape(9, 4), order="F" if layout == "F" else "C"
    )
    times = numpy.linspace(0.0, 3.0, 20)
    if layout == "strided":
        coefficients = numpy.repeat(coefficients, 2, axis=1)[:, ::2]
        times = numpy.repeat(times, 2)[::2]
    before = coefficients.copy(), times.copy()
    result = pwpoly_numpy.evaluate(2, 3, 3.0, coefficients, times)
    assert not numpy.shares_memory(result, coefficients)
    assert not numpy.shares_memory(result, times)
    assert numpy.array_equal(coefficients, before[0]) and numpy.array_equal(times, before[1])
    expected = pwpoly_numpy.evaluate(2, 3, 3.0, numpy.ascontiguousarray(coefficients), times)
    assert same_bits(result, expected)


def test_read_only_and_foreign_buffers_are_accepted():
    coefficients = numpy.arange(9.0)
    coefficients.flags.writeable = False
    times = memoryview(numpy.array([0.25, 1.25]))
    result = pwpoly_numpy.evaluate(2, 3, 3.0, coefficients, times)
    assert same_bits(
        result, [pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(t, range(9)) for t in (0.25, 1.25)]
    )


def test_object_items_convert_as_pwpoly_converts_them():
    coefficients = [Fraction(1, 3), Decimal("0.1"), True, 2**70, 5, 6, 7, 8, 9]
    times = numpy.array([Fraction(5, 4), Decimal("0.1")], dtype=object)
    result = pwpoly_numpy.evaluate(2, 3, 3.0, coefficients, times)
    evaluator = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
    evaluator.set_dofs(coefficients)
    assert same_bits(result, [evaluator.evaluate_at(t) for t in times])


def test_grid_arguments_convert_as_pwpolys():
    result = pwpoly_numpy.evaluate(numpy.uint8(2), True + 2, Fraction(3), range(9), 1.25)
    assert same_bits(result, pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.25, range(9)))


# --- refusals: every message names its argument --------------------------------------------

GOOD = {"degree": 2, "n_t": 3, "T": 3.0, "coefficients": numpy.zeros(9), "times": [0.5]}

REFUSALS = [
    (
        {"degree": 2.0},
        TypeError,
        "argument 'degree': 'float' object cannot be interpreted as an integer",
    ),
    ({"n_t": -1}, OverflowError, "argument 'n_t': must be 0 ... 4294967295, not -1"),
    (
        {"degree": 2**32},
        OverflowError,
        "argument 'degree': must be 0 ... 4294967295, not 4294967296",
    ),
    ({"T": "1.0"}, TypeError, "argument 'T': must be real number, not str"),
    # The interpreter's own words, which vary between versions.
    ({"T": 1j}, TypeError, f"argument 'T': {float_error(1j)}"),
    ({"T": 10**400}, OverflowError, "argument 'T': int too large to convert to float"),
    (
        {"n_t": 0, "coefficients": []},
        ValueError,
        "argument 'n_t': must be at least 1: a grid without intervals has nothing to evaluate",
    ),
    (
        {"coefficients": numpy.zeros(8)},
        ValueError,
        "argument 'coefficients': expected shape (9,) or (9, *shape) for n_t * (degree + 1) = 9 coefficients in pwpoly's flat layout (the coefficient of P_i on interval k in row k + n_t * i, the interval index fastest), got shape (8,)",
    ),
    (
        {"coefficients": numpy.zeros((8, 2, 1))},
        ValueError,
        "argument 'coefficients': expected shape (9,) or (9, *shape) for n_t * (degree + 1) = 9 coefficients in pwpoly's flat layout (the coefficient of P_i on interval k in row k + n_t * i, the interval index fastest), got shape (8, 2, 1)",
    ),
    (
        {"coefficients": 1.0},
        ValueError,
        "argument 'coefficients': expected shape (9,) or (9, *shape) for n_t * (degree + 1) = 9 coefficients in pwpoly's flat layout (the coefficient of P_i on interval k in row k + n_t * i, the interval index fastest), got shape ()",
    ),
    (
        {"coefficients": numpy.zeros(9, complex)},
        TypeError,
        "argument 'coefficients': complex values are not accepted (dtype complex128); pass their real part, x.real, if that is what is meant",
    ),
    (
        {"coefficients": ["1"] * 9},
        TypeError,
        "argument 'coefficients': expected real numbers, got an array of dtype <U1",
    ),
    (
        {"times": b"ab"},
        TypeError,
        "argument 'times': expected real numbers, got an array of dtype |S2",
    ),
    (
        {"times": numpy.array(["2024-01-01"], "datetime64[D]")},
        TypeError,
        "argument 'times': expected real numbers, got an array of dtype datetime64[D]",
    ),
    (
        {"times": numpy.zeros(2, "m8[s]")},
        TypeError,
        "argument 'times': expected real numbers, got an array of dtype timedelta64[s]",
    ),
    (
        {"times": numpy.zeros(2, [("a", "f8")])},
        TypeError,
        "argument 'times': expected real numbers, got an array of dtype [('a', '<f8')]",
    ),
    ({"times": [None]}, TypeError, "argument 'times': must be real number, not NoneType"),
    ({"times": {1.0, 2.0}}, TypeError, "argument 'times': must be real number, not set"),
    (
        {"times": [[1.0], [1.0, 2.0]]},
        ValueError,
        "argument 'times': setting an array element with a sequence.",
    ),
    (
        {"degree": 268435455, "n_t": 1, "coefficients": []},
        ValueError,
        "arguments 'degree' and 'n_t': n_t * (degree + 1) = 268435456 coefficients exceed the size limit of 268435455 float64 values",
    ),
]


@pytest.mark.parametrize(("changes", "error", "message"), REFUSALS)
@pytest.mark.parametrize("function", ["evaluate", "evaluate_derivative"])
def test_evaluation_refusals_name_the_argument(function, changes, error, message):
    arguments = {**GOOD, **changes}
    with pytest.raises(error) as raised:
        getattr(pwpoly_numpy, function)(**arguments)
    assert str(raised.value).startswith(message)


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (
            lambda: pwpoly_numpy.transformation_triplets(0, 5),
            ValueError,
            "argument 'degree': the Lagrange to Legendre transformation needs degree >= 1 (degree 0 has one node per interval)",
        ),
        (
            lambda: pwpoly_numpy.transformation_matrix(0, 0),
            ValueError,
            "argument 'degree': the Lagrange to Legendre transformation needs degree >= 1",
        ),
        (
            lambda: pwpoly_numpy.transformation_triplets(20000, 1),
            ValueError,
            "arguments 'degree' and 'n_t': (degree + 1)**2 * n_t = 400040001 stored entries exceed the size limit of 268435455 float64 values",
        ),
        (
            lambda: pwpoly_numpy.transformation_triplets(1, 134217728),
            ValueError,
            "argument 'n_t': 134217728 intervals exceed the size limit of 134217727 for Lagrange nodes",
        ),
        (
            lambda: pwpoly_numpy.lagrange_points(3, 100000000, 1.0),
            ValueError,
            "arguments 'degree' and 'n_t': n_t * degree + 1 = 300000001 nodes exceed the size limit of 268435455 float64 values",
        ),
        (
            lambda: pwpoly_numpy.lagrange_points(1, 2, None),
            TypeError,
            "argument 'T': must be real number, not NoneType",
        ),
        (
            lambda: pwpoly_numpy.basis_matrix(2, 0, 1.0, [0.5]),
            ValueError,
            "argument 'n_t': must be at least 1",
        ),
        (
            lambda: pwpoly_numpy.basis_matrix(2, 3, 1.0, [1 + 2j]),
            TypeError,
            "argument 'times': complex values are not accepted",
        ),
        (
            lambda: pwpoly_numpy.basis_matrix(2, 3, 1.0, "0.5"),
            TypeError,
            "argument 'times': expected real numbers, got an array of dtype <U3",
        ),
        (
            lambda: pwpoly_numpy.transformation_matrix(2.5, 3),
            TypeError,
            "argument 'degree': 'float' object cannot be interpreted as an integer",
        ),
    ],
)
def test_other_refusals_name_the_argument(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value).startswith(message)


def test_limits_match_pwpolys_exactly_at_the_edge():
    # The largest node list pwpoly accepts is accepted here too (no allocation).
    pwpoly_numpy.lagrange_points(0, 134217727, 1.0)
    with pytest.raises(ValueError):
        pwpoly_numpy.lagrange_points(0, 134217728, 1.0)
    # The largest transformation passes the size check and fails only for want
    # of memory (6.4 GB of triplets); one interval more fails the check itself.
    result = run_python(
        """
        import pwpoly_numpy
        for n_t in (67108863, 67108864):
            try:
                pwpoly_numpy.transformation_triplets(1, n_t)
            except (MemoryError, ValueError) as error:
                print(type(error).__name__, str(error)[:60])
        """,
        env={"OPENBLAS_NUM_THREADS": "1"},
        memory_limit=1536 << 20,
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("MemoryError"), lines
    assert lines[1].startswith("ValueError arguments 'degree' and 'n_t'"), lines


def test_the_private_kernels_refuse_inconsistent_arrays():
    from pwpoly_numpy import _kernels

    out = numpy.empty(2)
    with pytest.raises(ValueError, match="evaluate: wrong array sizes"):
        _kernels.evaluate(2, 3, 3.0, numpy.zeros(8), 1, False, numpy.zeros(2), out, False)
    with pytest.raises(ValueError, match="evaluate: n_t must be 1 to 2147483647"):
        _kernels.evaluate(2, 0, 3.0, numpy.zeros(0), 1, False, numpy.zeros(2), out, False)
    with pytest.raises(TypeError, match="argument 'coefficients' has the wrong dtype"):
        _kernels.evaluate(2, 3, 3.0, numpy.zeros(9, numpy.float32), 1, False, out, out, False)
    with pytest.raises(TypeError, match="argument 'times' must be a numpy.ndarray"):
        _kernels.evaluate(2, 3, 3.0, numpy.zeros(9), 1, False, memoryview(out), out, False)
    with pytest.raises(TypeError, match="a flag must be True or False"):
        _kernels.evaluate(2, 3, 3.0, numpy.zeros(9), 1, 0, out, out, False)
    with pytest.raises(TypeError, match="a float argument must be a float"):
        _kernels.evaluate(2, 3, 3, numpy.zeros(9), 1, False, out, out, False)
    with pytest.raises(ValueError, match="transformation_csr: degree 0"):
        indices = numpy.empty(0, numpy.int32)
        _kernels.transformation_csr(0, 3, out, indices, indices)
    with pytest.raises(TypeError, match="takes 4 positional arguments but 1 were given"):
        _kernels.lagrange_points(1)


@pytest.mark.parametrize(
    ("blocked", "statement", "message"),
    [
        (
            "numpy",
            "import pwpoly_numpy",
            "pwpoly_numpy needs NumPy: install it with python3 -m pip install 'pwpoly[numpy]'",
        ),
        (
            "scipy",
            "import pwpoly_numpy; pwpoly_numpy.basis_matrix(1, 1, 1.0, [0.5])",
            "pwpoly_numpy.basis_matrix needs SciPy: install it with python3 -m pip install 'pwpoly[scipy]'",
        ),
        (
            "scipy",
            "import pwpoly_numpy; pwpoly_numpy.transformation_matrix(1, 1)",
            "pwpoly_numpy.transformation_matrix needs SciPy",
        ),
    ],
)
def test_missing_dependencies_name_the_extra(blocked, statement, message):
    result = run_python(
        f"""
        import sys
        sys.modules[{blocked!r}] = None
        try:
            {statement}
        except ImportError as error:
            print(error)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith(message)
    assert "import pwpoly_numpy; pwpoly_numpy.evaluate" not in result.stdout


def test_evaluation_works_without_scipy():
    result = run_python(
        """
        import sys
        sys.modules["scipy"] = None
        import pwpoly_numpy
        print(pwpoly_numpy.evaluate(2, 3, 3.0, range(1, 10), 1.25))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "-1.5"


def test_the_kernel_stub_matches_the_extension():
    pytest.importorskip("mypy")
    import subprocess
    import sys

    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "pwpoly_numpy._kernels"],
        capture_output=True,
        text=True,
        timeout=600,
        check=False,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_calls_and_refusals_give_back_every_block():
    import gc
    import sys

    from pwpoly_numpy import _kernels

    coefficients, times, out = numpy.arange(9.0), numpy.linspace(0, 3, 5), numpy.empty(5)

    def calls():
        pwpoly_numpy.evaluate(2, 3, 3.0, coefficients, times)
        pwpoly_numpy.evaluate_derivative(2, 3, 3.0, coefficients.reshape(9, 1), 1.0)
        pwpoly_numpy.lagrange_points(2, 3, 1.0)
        pwpoly_numpy.transformation_triplets(2, 3)
        for bad in [
            (2, 3, 3.0, coefficients[:8], times, out),
            (2, 3, 3.0, coefficients, times, times[:2]),
        ]:
            with pytest.raises(ValueError):
                _kernels.evaluate(*bad[:4], 1, False, *bad[4:], False)
        with pytest.raises(TypeError):
            _kernels.evaluate(
                2, 3, 3.0, coefficients.astype(numpy.float32), 1, False, times, out, False
            )
        with pytest.raises(TypeError):
            pwpoly_numpy.evaluate(2, 3, "T", coefficients, times)

    for _ in range(200):  # caches and free lists settle
        calls()
    gc.collect()
    before = sys.getallocatedblocks()
    references = sys.getrefcount(coefficients), sys.getrefcount(times), sys.getrefcount(out)
    for _ in range(2000):
        calls()
    gc.collect()
    # A leaking path leaks a block a call at least, 2000 here; the
    # interpreter's own caches may still take a few dozen.
    assert sys.getallocatedblocks() - before < 200
    assert (
        sys.getrefcount(coefficients),
        sys.getrefcount(times),
        sys.getrefcount(out),
    ) == references
