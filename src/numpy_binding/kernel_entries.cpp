// The kernels of pwpoly_numpy: each checks the arrays that the Python layer
// made for the call, takes hold of them and fills the result arrays with the
// batch kernels of the core, piece by piece, without the interpreter lock.
#include "kernel_entries.hpp"

#include <algorithm>
#include <limits>

#include "batch/basis_rows.hpp"
#include "batch/batch_checks.hpp"
#include "batch/coefficient_order.hpp"
#include "batch/expansion_batch.hpp"
#include "batch/lagrange_arrays.hpp"
#include "kernel_arrays.hpp"
#include "kernel_guard.hpp"
#include "kernel_run.hpp"

namespace pwpoly::numpy_binding {
namespace {

using batch::product_equals;

void require_batch_grid(const LegendreBasis& basis, const char* name) {
    require(basis.n_t >= 1 && basis.n_t <= batch::batch_max_intervals, name,
            "n_t must be 1 to 2147483647");
}

// Columns evaluated together for one time when all of them would make one
// item too long to keep Ctrl-C prompt: a window of at least two columns.
std::size_t column_window(const LegendreBasis& basis, std::size_t columns) {
    const std::size_t per_column = work_of(coefficients_per_interval(basis));
    const std::size_t window = std::max<std::size_t>(2, piece_work / per_column);
    return window >= columns ? columns : window;
}

void evaluate_columns(const batch::ExpansionColumns& expansions, std::span<const double> times,
                      std::span<double> out, bool derivative) {
    if (derivative) {
        batch::evaluate_expansion_derivatives(expansions, times, out);
    } else {
        batch::evaluate_expansions(expansions, times, out);
    }
}

template <class Index>
void fill_rows(const LegendreBasis& basis, batch::BasisTable table, KernelArray& times,
               KernelArray& data, KernelArray& indices, KernelArray& indptr) {
    const std::span<const double> at = times.elements<const double>();
    const batch::CsrArrays<Index> out{data.elements<double>(), indices.elements<Index>(),
                                      indptr.elements<Index>()};
    const auto largest = static_cast<std::uint64_t>(std::numeric_limits<Index>::max());
    const std::uint64_t per_row = coefficients_per_interval(basis);
    require(product_equals(at.size(), per_row, out.data.size()) &&
                out.indices.size() == out.data.size() && out.indptr.size() == at.size() + 1 &&
                out.data.size() <= largest && coefficient_count(basis) - 1 <= largest,
            "basis_rows", "wrong array sizes");
    KernelRun run{&times, &data, &indices, &indptr};
    run.over(at.size(), work_of(per_row), [&](std::size_t first, std::size_t last) {
        // Rows first ... last - 1 are a matrix of their own whose entries
        // start at first * per_row.
        const std::size_t entries = first * per_row;
        const batch::CsrArrays<Index> part{out.data.subspan(entries, (last - first) * per_row),
                                           out.indices.subspan(entries, (last - first) * per_row),
                                           out.indptr.subspan(first, last - first + 1)};
        batch::fill_basis_rows(basis, table, at.subspan(first, last - first), part);
        // The part numbers its entries from 0, and its columns need no
        // change; its row starts move to their place in the whole.
        for (std::size_t j = first; j <= last; ++j) {
            out.indptr[j] = static_cast<Index>(j * per_row);
        }
    });
    if (at.empty()) {
        out.indptr[0] = 0;
    }
}

void require_transformation(index_t degree, index_t n_t, const char* name) {
    require(batch::transformation_fits(degree, n_t), name, "degree 0, or beyond the size limits");
}

}  // namespace

// evaluate(degree, n_t, T, coefficients, columns, by_interval, times, out, derivative[, planes])
PyObject* evaluate_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        if (nargs != 10) {
            check_argument_count("evaluate", nargs, 9);
        }
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const auto order = bool_argument(args[5]) ? batch::CoefficientOrder::by_interval
                                                  : batch::CoefficientOrder::flat;
        const bool derivative = bool_argument(args[8]);
        const std::size_t planes = nargs == 10 ? size_argument(args[9]) : 1;
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray times(args[6], ElementKind::float64, false, "times");
        KernelArray out(args[7], ElementKind::float64, true, "out");
        require_batch_grid(basis, "evaluate");
        const std::span<const double> values = coefficients.elements<const double>();
        const std::span<const double> at = times.elements<const double>();
        const std::span<double> results = out.elements<double>();
        require(columns >= 1 && planes >= 1 && columns % planes == 0 &&
                    product_equals(coefficient_count(basis), columns, values.size()) &&
                    product_equals(at.size(), columns, results.size()),
                "evaluate", "wrong array sizes");
        // Plane p holds the results of columns p * width ... (p + 1) * width - 1
        // for all times: out has the shape (planes, times, width).
        const std::size_t width = columns / planes;
        const std::size_t plane_stride = at.size() * width;
        KernelRun run{&coefficients, &times, &out};
        const std::size_t window = column_window(basis, columns);
        if (window == columns) {
            const batch::ExpansionColumns expansions{basis, values, columns,     order,
                                                     0,     planes, plane_stride};
            run.over(at.size(), work_of(coefficients_per_interval(basis), columns),
                     [&](std::size_t first, std::size_t last) {
                         // The piece's results start at time `first` of every
                         // plane; its last plane ends within the whole.
                         const std::size_t start = first * width;
                         const std::size_t size = (planes - 1) * plane_stride + last * width;
                         evaluate_columns(expansions, at.subspan(first, last - first),
                                          results.subspan(start, size - start), derivative);
                     });
            return none();
        }
        // Very many columns: an item is one time and a window of columns of
        // one plane, the last window of a plane taking the one column that
        // would be left alone. A window has two columns at least, and so must
        // a plane.
        require(planes == 1 || width >= 2, "evaluate",
                "planes of one column each, too many to evaluate together");
        const std::size_t plane_window = std::min(window, width);
        std::size_t windows = width / plane_window;
        if (width % plane_window >= 2) {
            ++windows;
        }
        const std::size_t per_window = work_of(coefficients_per_interval(basis), plane_window);
        const std::size_t per_time = windows * planes;
        run.over(at.size() * per_time, per_window, [&](std::size_t first, std::size_t last) {
            for (std::size_t item = first; item < last; ++item) {
                const std::size_t j = item / per_time;
                const std::size_t p = item % per_time / windows;
                const std::size_t w = item % windows;
                const std::size_t start = w * plane_window;
                const std::size_t count = w + 1 == windows ? width - start : plane_window;
                const std::size_t column = p * width + start;
                // One time: its results are one row, whatever the row stride.
                const batch::ExpansionColumns expansions{basis, values.subspan(column), count,
                                                         order, columns};
                evaluate_columns(expansions, at.subspan(j, 1),
                                 results.subspan(p * plane_stride + j * width + start, count),
                                 derivative);
            }
        });
        return none();
    });
}

// order_by_interval(degree, n_t, columns, flat, out)
PyObject* order_by_interval_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("order_by_interval", nargs, 5);
        const index_t degree = unsigned_argument(args[0]);
        const index_t n_t = unsigned_argument(args[1]);
        const LegendreBasis basis{degree, n_t, 1.0};
        const std::size_t columns = size_argument(args[2]);
        KernelArray flat(args[3], ElementKind::float64, false, "flat");
        KernelArray out(args[4], ElementKind::float64, true, "out");
        require_batch_grid(basis, "order_by_interval");
        const std::span<const double> rows = flat.elements<const double>();
        const std::span<double> reordered = out.elements<double>();
        require(columns >= 1 && product_equals(coefficient_count(basis), columns, rows.size()) &&
                    reordered.size() == rows.size(),
                "order_by_interval", "wrong array sizes");
        KernelRun run{&flat, &out};
        run.over(n_t, work_of(coefficients_per_interval(basis), columns),
                 [&](std::size_t first, std::size_t last) {
                     batch::order_by_interval(basis, columns, rows, reordered, first, last);
                 });
        return none();
    });
}

// basis_rows(degree, n_t, T, times, derivative, data, indices, indptr, wide)
PyObject* basis_rows_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("basis_rows", nargs, 9);
        const LegendreBasis basis = grid_arguments(args);
        const auto table =
            bool_argument(args[4]) ? batch::BasisTable::derivatives : batch::BasisTable::values;
        const bool wide = bool_argument(args[8]);
        const ElementKind index_kind = wide ? ElementKind::int64 : ElementKind::int32;
        KernelArray times(args[3], ElementKind::float64, false, "times");
        KernelArray data(args[5], ElementKind::float64, true, "data");
        KernelArray indices(args[6], index_kind, true, "indices");
        KernelArray indptr(args[7], index_kind, true, "indptr");
        require_batch_grid(basis, "basis_rows");
        if (wide) {
            fill_rows<std::int64_t>(basis, table, times, data, indices, indptr);
        } else {
            fill_rows<std::int32_t>(basis, table, times, data, indices, indptr);
        }
        return none();
    });
}

// lagrange_points(degree, n_t, T, out)
PyObject* lagrange_points_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("lagrange_points", nargs, 4);
        const LegendreBasis grid = grid_arguments(args);
        KernelArray out(args[3], ElementKind::float64, true, "out");
        const std::span<double> points = out.elements<double>();
        require(batch::lagrange_points_fit(grid.degree, grid.n_t) &&
                    points.size() == std::uint64_t{grid.n_t} * grid.degree + 1,
                "lagrange_points", "wrong array size, or beyond the size limits");
        if (grid.n_t == 0) {
            points[0] = grid.T;
            return none();
        }
        KernelRun run{&out};
        run.over(grid.n_t, work_of(grid.degree), [&](std::size_t first, std::size_t last) {
            batch::fill_lagrange_points(grid.degree, grid.n_t, grid.T, points,
                                        static_cast<index_t>(first), static_cast<index_t>(last));
        });
        return none();
    });
}

// transformation_triplets(degree, n_t, rows, cols, values)
PyObject* transformation_triplets_entry(PyObject* /*module*/, PyObject* const* args,
                                        Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("transformation_triplets", nargs, 5);
        const index_t degree = unsigned_argument(args[0]);
        const index_t n_t = unsigned_argument(args[1]);
        KernelArray rows(args[2], ElementKind::int64, true, "rows");
        KernelArray cols(args[3], ElementKind::int64, true, "cols");
        KernelArray values(args[4], ElementKind::float64, true, "values");
        require_transformation(degree, n_t, "transformation_triplets");
        const std::uint64_t per_row = std::uint64_t{degree} + 1;
        const std::uint64_t count = per_row * per_row * n_t;
        require(rows.elements<std::int64_t>().size() == count &&
                    cols.elements<std::int64_t>().size() == count &&
                    values.elements<double>().size() == count,
                "transformation_triplets", "wrong array sizes");
        KernelRun run{&rows, &cols, &values};
        // The weights need no array: computed while the arrays are let go of.
        const TransformationTriplets transformation =
            run.prepared_without_arrays([&] { return transformation_triplets(degree, n_t); });
        run.over(per_row * n_t, work_of(per_row), [&](std::size_t first, std::size_t last) {
            batch::fill_transformation_triplets(transformation, rows.elements<std::int64_t>(),
                                                cols.elements<std::int64_t>(),
                                                values.elements<double>(), {first, last});
        });
        return none();
    });
}

// transformation_csr(degree, n_t, data, indices, indptr)
PyObject* transformation_csr_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("transformation_csr", nargs, 5);
        const index_t degree = unsigned_argument(args[0]);
        const index_t n_t = unsigned_argument(args[1]);
        KernelArray data(args[2], ElementKind::float64, true, "data");
        KernelArray indices(args[3], ElementKind::int32, true, "indices");
        KernelArray indptr(args[4], ElementKind::int32, true, "indptr");
        require_transformation(degree, n_t, "transformation_csr");
        const std::uint64_t per_row = std::uint64_t{degree} + 1;
        const batch::CsrArrays<std::int32_t> out{data.elements<double>(),
                                                 indices.elements<std::int32_t>(),
                                                 indptr.elements<std::int32_t>()};
        require(out.data.size() == per_row * per_row * n_t &&
                    out.indices.size() == out.data.size() && out.indptr.size() == per_row * n_t + 1,
                "transformation_csr", "wrong array sizes");
        KernelRun run{&data, &indices, &indptr};
        // The weights need no array: computed while the arrays are let go of.
        const TransformationTriplets transformation =
            run.prepared_without_arrays([&] { return transformation_triplets(degree, n_t); });
        // A matrix without rows (n_t = 0) has its one row start all the same.
        out.indptr[0] = 0;
        run.over(per_row * n_t, work_of(per_row), [&](std::size_t first, std::size_t last) {
            batch::fill_transformation_csr(transformation, out, {first, last});
        });
        return none();
    });
}

}  // namespace pwpoly::numpy_binding
