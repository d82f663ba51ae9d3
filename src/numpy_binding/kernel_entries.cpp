// The kernels of pwpoly_numpy: each checks the arrays that the Python layer
// made for the call, pins them, releases the interpreter lock and fills the
// result arrays with the batch kernels of the core.
#include "kernel_entries.hpp"

#include <limits>

#include "batch/basis_rows.hpp"
#include "batch/batch_checks.hpp"
#include "batch/expansion_batch.hpp"
#include "batch/lagrange_arrays.hpp"
#include "kernel_guard.hpp"
#include "kernel_scope.hpp"
#include "pinned_buffer.hpp"

namespace pwpoly::numpy_binding {
namespace {

using batch::product_equals;
using binding::PyRef;

PyRef none() { return PyRef::borrow(Py_None); }

LegendreBasis basis_arguments(PyObject* const* args) {
    const index_t degree = unsigned_argument(args[0]);
    const index_t n_t = unsigned_argument(args[1]);
    const double T = float_argument(args[2]);
    return {degree, n_t, T};
}

void require_batch_grid(const LegendreBasis& basis, const char* name) {
    require(basis.n_t >= 1 && basis.n_t <= batch::batch_max_intervals, name,
            "n_t must be 1 to 2147483647");
}

template <class Index>
void fill_rows(const LegendreBasis& basis, batch::BasisTable table, std::span<const double> times,
               const PinnedBuffer& data, const PinnedBuffer& indices, const PinnedBuffer& indptr) {
    const batch::CsrArrays<Index> out{data.elements<double>(), indices.elements<Index>(),
                                      indptr.elements<Index>()};
    const auto largest = static_cast<std::uint64_t>(std::numeric_limits<Index>::max());
    require(product_equals(times.size(), coefficients_per_interval(basis), out.data.size()) &&
                out.indices.size() == out.data.size() && out.indptr.size() == times.size() + 1 &&
                out.data.size() <= largest && coefficient_count(basis) - 1 <= largest,
            "basis_rows", "wrong array sizes");
    const KernelScope scope;
    batch::fill_basis_rows(basis, table, times, out);
}

void require_transformation(index_t degree, index_t n_t, const char* name) {
    require(batch::transformation_fits(degree, n_t), name, "degree 0, or beyond the size limits");
}

}  // namespace

// evaluate(degree, n_t, T, coefficients, columns, by_interval, times, out, derivative)
PyObject* evaluate_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("evaluate", nargs, 9);
        const LegendreBasis basis = basis_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const auto order = bool_argument(args[5]) ? batch::CoefficientOrder::by_interval
                                                  : batch::CoefficientOrder::flat;
        const bool derivative = bool_argument(args[8]);
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer times(args[6], ElementKind::float64, false);
        const PinnedBuffer out(args[7], ElementKind::float64, true);
        require_batch_grid(basis, "evaluate");
        const batch::ExpansionColumns expansions{basis, coefficients.elements<const double>(),
                                                 columns, order};
        const std::span<const double> at = times.elements<const double>();
        const std::span<double> results = out.elements<double>();
        require(columns >= 1 &&
                    product_equals(coefficient_count(basis), columns, expansions.values.size()) &&
                    product_equals(at.size(), columns, results.size()),
                "evaluate", "wrong array sizes");
        {
            const KernelScope scope;
            if (derivative) {
                batch::evaluate_expansion_derivatives(expansions, at, results);
            } else {
                batch::evaluate_expansions(expansions, at, results);
            }
        }
        return none();
    });
}

// basis_rows(degree, n_t, T, times, derivative, data, indices, indptr, wide)
PyObject* basis_rows_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("basis_rows", nargs, 9);
        const LegendreBasis basis = basis_arguments(args);
        const auto table =
            bool_argument(args[4]) ? batch::BasisTable::derivatives : batch::BasisTable::values;
        const bool wide = bool_argument(args[8]);
        const ElementKind index_kind = wide ? ElementKind::int64 : ElementKind::int32;
        const PinnedBuffer times(args[3], ElementKind::float64, false);
        const PinnedBuffer data(args[5], ElementKind::float64, true);
        const PinnedBuffer indices(args[6], index_kind, true);
        const PinnedBuffer indptr(args[7], index_kind, true);
        require_batch_grid(basis, "basis_rows");
        const std::span<const double> at = times.elements<const double>();
        if (wide) {
            fill_rows<std::int64_t>(basis, table, at, data, indices, indptr);
        } else {
            fill_rows<std::int32_t>(basis, table, at, data, indices, indptr);
        }
        return none();
    });
}

// lagrange_points(degree, n_t, T, out)
PyObject* lagrange_points_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("lagrange_points", nargs, 4);
        const LegendreBasis grid = basis_arguments(args);
        const PinnedBuffer out(args[3], ElementKind::float64, true);
        const std::span<double> points = out.elements<double>();
        require(batch::lagrange_points_fit(grid.degree, grid.n_t) &&
                    points.size() == std::uint64_t{grid.n_t} * grid.degree + 1,
                "lagrange_points", "wrong array size, or beyond the size limits");
        {
            const KernelScope scope;
            batch::fill_lagrange_points(grid.degree, grid.n_t, grid.T, points);
        }
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
        const PinnedBuffer rows(args[2], ElementKind::int64, true);
        const PinnedBuffer cols(args[3], ElementKind::int64, true);
        const PinnedBuffer values(args[4], ElementKind::float64, true);
        require_transformation(degree, n_t, "transformation_triplets");
        const std::uint64_t count = (std::uint64_t{degree} + 1) * (std::uint64_t{degree} + 1) * n_t;
        require(rows.elements<std::int64_t>().size() == count &&
                    cols.elements<std::int64_t>().size() == count &&
                    values.elements<double>().size() == count,
                "transformation_triplets", "wrong array sizes");
        {
            const KernelScope scope;
            batch::fill_transformation_triplets(
                transformation_triplets(degree, n_t), rows.elements<std::int64_t>(),
                cols.elements<std::int64_t>(), values.elements<double>());
        }
        return none();
    });
}

// transformation_csr(degree, n_t, data, indices, indptr)
PyObject* transformation_csr_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("transformation_csr", nargs, 5);
        const index_t degree = unsigned_argument(args[0]);
        const index_t n_t = unsigned_argument(args[1]);
        const PinnedBuffer data(args[2], ElementKind::float64, true);
        const PinnedBuffer indices(args[3], ElementKind::int32, true);
        const PinnedBuffer indptr(args[4], ElementKind::int32, true);
        require_transformation(degree, n_t, "transformation_csr");
        const std::uint64_t per_row = std::uint64_t{degree} + 1;
        const batch::CsrArrays<std::int32_t> out{data.elements<double>(),
                                                 indices.elements<std::int32_t>(),
                                                 indptr.elements<std::int32_t>()};
        require(out.data.size() == per_row * per_row * n_t &&
                    out.indices.size() == out.data.size() && out.indptr.size() == per_row * n_t + 1,
                "transformation_csr", "wrong array sizes");
        {
            const KernelScope scope;
            batch::fill_transformation_csr(transformation_triplets(degree, n_t), out);
        }
        return none();
    });
}

}  // namespace pwpoly::numpy_binding
