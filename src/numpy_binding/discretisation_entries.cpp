// The time-discretisation kernels of pwpoly_numpy: each checks the arrays that
// the Python layer made for the call, computes what the whole call shares
// (reference nodes, weight tables) without the lock while it holds no array,
// then fills the arrays with the core's node families and matrices in time,
// piece by piece, without the interpreter lock.
#include "discretisation_entries.hpp"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <optional>
#include <vector>

#include "batch/lagrange_arrays.hpp"
#include "galerkin/time_matrices.hpp"
#include "kernel_arrays.hpp"
#include "kernel_guard.hpp"
#include "kernel_run.hpp"
#include "nodes/family_transformation.hpp"
#include "nodes/grid_nodes.hpp"
#include "nodes/reference_nodes.hpp"

namespace pwpoly::numpy_binding {
namespace {

constexpr std::uint64_t int32_limit = std::numeric_limits<std::int32_t>::max();

NodeFamily family_argument(PyObject* object, const char* name) {
    const index_t code = unsigned_argument(object);
    require(code < node_family_count, name, "unknown node family code");
    return static_cast<NodeFamily>(code);
}

// The checks of a computed family's degree: ends need degree >= 1, and the
// reference nodes cost O(degree^2).
void require_family_degree(NodeFamily family, index_t degree, const char* name) {
    require(!shares_ends(family) || degree >= 1, name, "degree 0 for a family with ends");
    require(degree <= max_family_degree, name, "degree beyond the family's limit");
}

// The node count of the grid, after checking that it fits the size policy as
// pwpoly's Lagrange nodes do.
std::uint64_t require_grid_nodes(NodeFamily family, index_t degree, index_t n_t, const char* name) {
    const std::uint64_t count = grid_node_count(family, degree, n_t);
    require(batch::lagrange_points_fit(0, n_t) && count <= max_vector_bytes / sizeof(double), name,
            "beyond the size limits");
    return count;
}

FamilyTransformation transformation_arguments(PyObject* const* args, const char* name) {
    const NodeFamily family = family_argument(args[0], name);
    const index_t degree = unsigned_argument(args[1]);
    const index_t n_t = unsigned_argument(args[2]);
    require(family != NodeFamily::equidistant, name, "the equidistant family has its own kernel");
    require_family_degree(family, degree, name);
    require_grid_nodes(family, degree, n_t, name);
    const std::uint64_t per_row = std::uint64_t{degree} + 1;
    require(per_row * per_row * n_t <= max_vector_bytes / sizeof(double), name,
            "beyond the size limits");
    return {SquareMatrix{}, family, degree, n_t};
}

}  // namespace

// family_nodes(family, degree, n_t, T, out)
PyObject* family_nodes_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("family_nodes", nargs, 5);
        const NodeFamily family = family_argument(args[0], "family_nodes");
        const index_t degree = unsigned_argument(args[1]);
        const index_t n_t = unsigned_argument(args[2]);
        const double T = float_argument(args[3]);
        KernelArray out(args[4], ElementKind::float64, true, "out");
        const std::span<double> points = out.elements<double>();
        if (family == NodeFamily::equidistant) {
            require(batch::lagrange_points_fit(degree, n_t) &&
                        points.size() == std::uint64_t{n_t} * degree + 1,
                    "family_nodes", "wrong array size, or beyond the size limits");
            if (n_t == 0) {
                points[0] = T;
                return none();
            }
            KernelRun run{&out};
            run.over(n_t, work_of(degree), [&](std::size_t first, std::size_t last) {
                batch::fill_lagrange_points(degree, n_t, T, points, static_cast<index_t>(first),
                                            static_cast<index_t>(last));
            });
            return none();
        }
        require_family_degree(family, degree, "family_nodes");
        require(points.size() == require_grid_nodes(family, degree, n_t, "family_nodes"),
                "family_nodes", "wrong array size");
        KernelRun run{&out};
        const std::vector<double> reference =
            run.prepared_without_arrays([&] { return reference_nodes(family, degree); });
        if (n_t == 0) {
            place_grid_nodes(family, reference, n_t, T, 0, 0, points);
            return none();
        }
        run.over(n_t, work_of(std::uint64_t{degree} + 1), [&](std::size_t first, std::size_t last) {
            place_grid_nodes(family, reference, n_t, T, static_cast<index_t>(first),
                             static_cast<index_t>(last), points);
        });
        return none();
    });
}

// quadrature_weights(family, degree, n_t, T, out)
PyObject* quadrature_weights_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("quadrature_weights", nargs, 5);
        const NodeFamily family = family_argument(args[0], "quadrature_weights");
        const index_t degree = unsigned_argument(args[1]);
        const index_t n_t = unsigned_argument(args[2]);
        const double T = float_argument(args[3]);
        KernelArray out(args[4], ElementKind::float64, true, "out");
        const std::span<double> weights = out.elements<double>();
        require(n_t >= 1, "quadrature_weights", "n_t must be at least 1");
        require(family != NodeFamily::equidistant || degree >= 1, "quadrature_weights",
                "degree 0 for a family with ends");
        require_family_degree(family, degree, "quadrature_weights");
        require(weights.size() == require_grid_nodes(family, degree, n_t, "quadrature_weights"),
                "quadrature_weights", "wrong array size");
        KernelRun run{&out};
        const ReferenceRule rule =
            run.prepared_without_arrays([&] { return reference_rule(family, degree); });
        run.over(n_t, work_of(std::uint64_t{degree} + 1), [&](std::size_t first, std::size_t last) {
            place_grid_weights(family, rule.weights, n_t, T, static_cast<index_t>(first),
                               static_cast<index_t>(last), weights);
        });
        return none();
    });
}

// family_triplets(family, degree, n_t, rows, cols, values)
PyObject* family_triplets_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("family_triplets", nargs, 6);
        FamilyTransformation transformation = transformation_arguments(args, "family_triplets");
        KernelArray rows(args[3], ElementKind::int64, true, "rows");
        KernelArray cols(args[4], ElementKind::int64, true, "cols");
        KernelArray values(args[5], ElementKind::float64, true, "values");
        const std::uint64_t per_row = std::uint64_t{transformation.degree} + 1;
        const std::uint64_t count = per_row * per_row * transformation.n_t;
        require(rows.elements<std::int64_t>().size() == count &&
                    cols.elements<std::int64_t>().size() == count &&
                    values.elements<double>().size() == count,
                "family_triplets", "wrong array sizes");
        KernelRun run{&rows, &cols, &values};
        transformation.weights = run.prepared_without_arrays(
            [&] { return family_weight_table(transformation.family, transformation.degree); });
        run.over(
            transformation.row_count(), work_of(per_row), [&](std::size_t first, std::size_t last) {
                fill_family_triplets(transformation, first, last, rows.elements<std::int64_t>(),
                                     cols.elements<std::int64_t>(), values.elements<double>());
            });
        return none();
    });
}

// family_csr(family, degree, n_t, data, indices, indptr)
PyObject* family_csr_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("family_csr", nargs, 6);
        FamilyTransformation transformation = transformation_arguments(args, "family_csr");
        KernelArray data(args[3], ElementKind::float64, true, "data");
        KernelArray indices(args[4], ElementKind::int32, true, "indices");
        KernelArray indptr(args[5], ElementKind::int32, true, "indptr");
        const std::uint64_t per_row = std::uint64_t{transformation.degree} + 1;
        const batch::CsrArrays<std::int32_t> out{data.elements<double>(),
                                                 indices.elements<std::int32_t>(),
                                                 indptr.elements<std::int32_t>()};
        require(out.data.size() == per_row * per_row * transformation.n_t &&
                    out.indices.size() == out.data.size() &&
                    out.indptr.size() == per_row * transformation.n_t + 1,
                "family_csr", "wrong array sizes");
        KernelRun run{&data, &indices, &indptr};
        transformation.weights = run.prepared_without_arrays(
            [&] { return family_weight_table(transformation.family, transformation.degree); });
        if (transformation.n_t == 0) {
            out.indptr[0] = 0;
            return none();
        }
        run.over(transformation.row_count(), work_of(per_row),
                 [&](std::size_t first, std::size_t last) {
                     fill_family_csr(transformation, first, last, out);
                 });
        return none();
    });
}

// time_matrix(matrix, degree, n_t, T, data, indices, indptr)
PyObject* time_matrix_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("time_matrix", nargs, 7);
        const index_t code = unsigned_argument(args[0]);
        require(code < time_matrix_count, "time_matrix", "unknown matrix code");
        const auto matrix = static_cast<TimeMatrix>(code);
        const LegendreBasis basis{unsigned_argument(args[1]), unsigned_argument(args[2]),
                                  float_argument(args[3])};
        KernelArray data(args[4], ElementKind::float64, true, "data");
        KernelArray indices(args[5], ElementKind::int32, true, "indices");
        KernelArray indptr(args[6], ElementKind::int32, true, "indptr");
        const TimeMatrixShape shape = time_matrix_shape(matrix, basis.degree, basis.n_t);
        const batch::CsrArrays<std::int32_t> out{data.elements<double>(),
                                                 indices.elements<std::int32_t>(),
                                                 indptr.elements<std::int32_t>()};
        require(shape.entries <= int32_limit && shape.cols <= int32_limit &&
                    out.data.size() == shape.entries && out.indices.size() == shape.entries &&
                    out.indptr.size() == shape.rows + 1,
                "time_matrix", "wrong array sizes, or beyond the size limits");
        if (shape.rows == 0) {
            fill_time_matrix(matrix, basis, 0, 0, out);
            return none();
        }
        // A row writes at most 2 (degree + 1) entries (the jump matrix).
        const std::uint64_t row_work = 2 * (std::uint64_t{basis.degree} + 1);
        KernelRun run{&data, &indices, &indptr};
        run.over(shape.rows, work_of(row_work), [&](std::size_t first, std::size_t last) {
            fill_time_matrix(matrix, basis, first, last, out);
        });
        return none();
    });
}

}  // namespace pwpoly::numpy_binding
