"""pwpoly_numpy's evaluations with many columns, times in order and stacked
derivative orders, against one-column calls and pwpoly's scalar calls, to the
bit: each column count has its own code path, times in order reuse the last
interval, and a stack of orders is written plane by plane."""

import pytest

numpy = pytest.importorskip("numpy")
pwpoly_numpy = pytest.importorskip("pwpoly_numpy")

import pwpoly  # noqa: E402
from pwpoly_numpy import PiecewiseLegendre  # noqa: E402


def same_bits(got, expected):
    """Element-wise equality of doubles to the bit; NaN equals NaN."""
    got = numpy.asarray(got, dtype=numpy.float64)
    expected = numpy.asarray(expected, dtype=numpy.float64)
    both_nan = numpy.isnan(got) & numpy.isnan(expected)
    same = got.view(numpy.uint64) == expected.view(numpy.uint64)
    return got.shape == expected.shape and bool(numpy.all(same | both_nan))


def awkward_times(n_t, T):
    """Break points and their neighbours, both ends, outside the span, and
    points in between, in ascending order (NaN left out)."""
    w = T / n_t
    times = [-1.0, -0.0, 0.0, T, 2.0 * T, -numpy.inf, numpy.inf, numpy.nextafter(T, 0.0)]
    for k in range(n_t + 1):
        point = k * w
        times += [point, numpy.nextafter(point, -numpy.inf), numpy.nextafter(point, numpy.inf)]
        times += [point + 0.37 * w, point + 0.5 * w]
    return numpy.sort(numpy.array(times))


def orderings(n_t, T):
    """The same times sorted, with every time four times over (whole blocks in
    one interval), reversed, shuffled, and with NaN among them."""
    ordered = awkward_times(n_t, T)
    sweep = numpy.linspace(0.0, T, 8 * n_t + 5)
    shuffled = numpy.random.default_rng(1).permutation(numpy.concatenate([ordered, sweep]))
    return {
        "sorted": numpy.concatenate([ordered, sweep]),
        "duplicates": numpy.repeat(ordered, 4),
        "reversed": numpy.concatenate([ordered, sweep])[::-1].copy(),
        "shuffled": shuffled,
        "with nan": numpy.concatenate([sweep[:9], [numpy.nan], sweep[9:]]),
    }


def scalar_results(degree, n_t, T, column, times, derivative):
    evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(column)
    call = evaluator.evaluate_derivative_at if derivative else evaluator.evaluate_at
    return numpy.array([call(float(t)) for t in times])


GRIDS = [(0, 3, 3.0), (1, 2, 0.3), (3, 5, 0.7), (5, 4, 7.5), (6, 3, 1e-3), (3, 1, 1.0)]


@pytest.mark.parametrize("grid", GRIDS, ids=lambda grid: "degree {} n_t {} T {}".format(*grid))
@pytest.mark.parametrize("ordering", list(orderings(1, 1.0)))
@pytest.mark.parametrize("derivative", [False, True], ids=["value", "derivative"])
def test_times_in_any_order_give_the_scalar_calls_bits(grid, ordering, derivative):
    degree, n_t, T = grid
    times = orderings(n_t, T)[ordering]
    count = n_t * (degree + 1)
    rng = numpy.random.default_rng(degree)
    table = rng.uniform(-2.0, 2.0, (count, 2))
    function = pwpoly_numpy.evaluate_derivative if derivative else pwpoly_numpy.evaluate
    # One column, then two: the interval-by-interval copy when there are many
    # more times than coefficients, the flat table for a few of them.
    for subset in (times, times[:7]):
        expected = scalar_results(degree, n_t, T, table[:, 0], subset, derivative)
        assert same_bits(function(degree, n_t, T, table[:, 0].copy(), subset), expected)
        both = function(degree, n_t, T, table, subset)
        assert same_bits(both[:, 0], expected)
        second = scalar_results(degree, n_t, T, table[:, 1], subset, derivative)
        assert same_bits(both[:, 1], second)


@pytest.mark.parametrize("columns", [1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 64])
@pytest.mark.parametrize("derivative", [False, True], ids=["value", "derivative"])
def test_every_column_count_gives_the_bits_of_one_column_calls(columns, derivative):
    degree, n_t, T = 3, 5, 0.7
    count = n_t * (degree + 1)
    rng = numpy.random.default_rng(columns)
    table = rng.uniform(-2.0, 2.0, (count, columns))
    function = pwpoly_numpy.evaluate_derivative if derivative else pwpoly_numpy.evaluate
    times = orderings(n_t, T)
    for at in (times["shuffled"], times["duplicates"], times["sorted"][:10]):
        together = function(degree, n_t, T, table, at)
        for e in range(columns):
            alone = function(degree, n_t, T, table[:, e].copy(), at)
            assert same_bits(together[:, e], alone), f"column {e}"
    # And the scalar calls for the first and last columns.
    at = times["shuffled"]
    together = function(degree, n_t, T, table, at)
    for e in {0, columns - 1}:
        expected = scalar_results(degree, n_t, T, table[:, e], at, derivative)
        assert same_bits(together[:, e], expected)


@pytest.mark.parametrize("shape", [(), (1,), (3,), (2, 2), (5,)])
@pytest.mark.parametrize("extrapolate", ["clamp", "extend"])
def test_value_and_derivatives_in_one_pass_match_separate_calls(shape, extrapolate):
    degree, n_t, T = 4, 6, 1.5
    rng = numpy.random.default_rng(len(shape))
    p = PiecewiseLegendre(
        degree,
        n_t,
        T,
        rng.uniform(-1.0, 1.0, (n_t * (degree + 1), *shape)),
        extrapolate=extrapolate,
    )
    times = orderings(n_t, T)["shuffled"]
    times = times[numpy.isfinite(times)]
    for orders in ([0, 1], [1, 0, 2], [0, 7]):
        stacked = p(times, orders)
        assert stacked.shape == (len(orders), times.size, *shape)
        for j, nu in enumerate(orders):
            single = p(times, nu)
            # Zero rows pad the lower degrees: equal, up to the sign of a zero.
            assert numpy.array_equal(stacked[j], single)
            if nu == 0:
                assert same_bits(stacked[j], single)
        out = numpy.full(stacked.shape, 7.0)
        assert p(times, orders, out=out) is out
        assert same_bits(out, stacked)


def test_stacked_orders_read_times_that_share_memory_with_out():
    p = PiecewiseLegendre(3, 4, 2.0, numpy.random.default_rng(8).uniform(-1.0, 1.0, (16, 2)))
    buffer = numpy.zeros((2, 6, 2))
    times = buffer.reshape(-1)[:6]
    times[:] = numpy.linspace(0.0, 2.0, 6)
    expected = p(times.copy(), [0, 1])
    assert same_bits(p(times, [0, 1], out=buffer), expected)


@pytest.mark.parametrize("count", [1, 3, 4, 5, 8, 13])
@pytest.mark.parametrize("derivative", [False, True])
def test_cubic_basis_rows_written_a_row_at_a_time_are_the_tables_entries(count, derivative):
    pytest.importorskip("scipy")
    degree, n_t, T = 3, 5, 0.7
    times = orderings(n_t, T)["shuffled"][:count]
    matrix = pwpoly_numpy.basis_matrix(degree, n_t, T, times, derivative=derivative)
    basis = pwpoly.LegendreBasis(degree, n_t, T)
    table = (
        basis.evaluate_all_basis_function_derivatives
        if derivative
        else basis.evaluate_all_basis_functions
    )
    assert matrix.nnz == count * (degree + 1)
    for j, t in enumerate(times):
        row = table(float(t))
        start, end = matrix.indptr[j], matrix.indptr[j + 1]
        columns = matrix.indices[start:end]
        assert list(columns) == [columns[0] + n_t * i for i in range(degree + 1)]
        assert same_bits(matrix.data[start:end], [row[c] for c in columns])


def test_stacked_orders_of_wide_high_degree_tables_go_by_windows_of_columns():
    # So many terms per time that the kernel splits each plane's columns into
    # windows, one time at a time.
    degree, columns = 2000, 150
    rng = numpy.random.default_rng(9)
    p = PiecewiseLegendre(degree, 1, 1.0, rng.uniform(-1.0, 1.0, (degree + 1, columns)) / degree)
    times = numpy.array([0.0, 0.3, 0.5, 1.0])
    stacked = p(times, [0, 1])
    assert same_bits(stacked[0], p(times))
    assert numpy.array_equal(stacked[1], p(times, 1))
