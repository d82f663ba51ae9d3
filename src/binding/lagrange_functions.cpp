// The module functions of the Lagrange basis: the nodes of the whole span,
// and the Lagrange-to-Legendre transformation as (row, column, value) lists.
#include <cstdint>
#include <vector>

#include "binder.hpp"
#include "converters.hpp"
#include "entry_guard.hpp"
#include "grid_arguments.hpp"
#include "lagrange/lagrange_basis.hpp"
#include "lagrange/transformation_triplets.hpp"
#include "module_contents.hpp"
#include "results.hpp"
#include "support/cancellation.hpp"

namespace pwpoly::binding {
namespace {

constexpr std::array<std::string_view, 2> transformation_parameters = {"degree", "n_t"};

constexpr FunctionDescription points_description{"", "get_lagrange_points", grid_parameters};
constexpr FunctionDescription transformation_description{
    "", "lagrange_to_legendre_basis_transformation", transformation_parameters};

PyObject* get_lagrange_points(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return entry_guard([&] {
        const auto bound = bind_vectorcall<3>(points_description, args, nargs, kwnames);
        const index_t degree = convert_argument("degree", bound[0], to_index);
        const index_t n_t = convert_argument("n_t", bound[1], to_index);
        const double T = convert_argument("T", bound[2], to_float);
        // The coordinates go straight into the list; no node vector is built.
        const std::size_t count = lagrange_node_count(degree, n_t);
        ListBuilder points(count);
        std::size_t position = 0;
        for_each_lagrange_point(degree, n_t, T, [&](double x) {
            check_index(position, count);
            points.set(position++, float_result(x).release());
        });
        return points.finish();
    });
}

// Python objects that a result list refers to many times. Equal numbers in
// one result share one immutable object: every row index occurs degree + 1
// times, every column index up to 2 (degree + 1) times, and there are only
// (degree + 1)^2 distinct weights. Kept in a list of their own, so that an
// interrupted call releases them as it releases its result lists.
class SharedNumbers {
public:
    explicit SharedNumbers(std::size_t count) : numbers_(count) {}

    /// Appends `number` (a new reference, taken over, or NULL for a failed
    /// creation).
    void add(PyObject* number) {
        if (number == nullptr) {
            fail_python_api_call();
        }
        numbers_.set(count_++, number);
    }
    /// Number `i` (borrowed).
    [[nodiscard]] PyObject* operator[](std::size_t i) const { return numbers_.item(i); }

private:
    ListBuilder numbers_;
    std::size_t count_ = 0;
};

// The three lists of the triplets, in row-major order: for p = 0 .. d, for
// k = 0 .. n_t - 1, for c = 0 .. d, the triplet (p n_t + k, k d + c, W[p][c]).
PyRef triplet_lists(const TransformationTriplets& triplets) {
    const std::size_t d = triplets.degree;
    const std::size_t n_t = triplets.n_t;
    const std::size_t per_row = d + 1;
    ListBuilder rows(triplets.count);
    ListBuilder cols(triplets.count);
    ListBuilder values(triplets.count);
    if (triplets.count == 0) {
        return tuple_result(rows.finish(), cols.finish(), values.finish());
    }

    SharedNumbers weights(per_row * per_row);
    for (std::size_t p = 0; p <= d; ++p) {
        for (std::size_t c = 0; c <= d; ++c) {
            weights.add(PyFloat_FromDouble(triplets.weights.at(p, c)));
        }
    }
    CancellationCounter poll;
    SharedNumbers columns(n_t * d + 1);
    for (std::size_t column = 0; column <= n_t * d; ++column) {
        poll.tick();
        columns.add(PyLong_FromSize_t(column));
    }

    std::size_t m = 0;
    for (std::size_t p = 0; p <= d; ++p) {
        for (std::size_t k = 0; k < n_t; ++k) {
            poll.tick(per_row);
            PyRef row = PyRef::steal(PyLong_FromSize_t(p * n_t + k));
            if (!row) {
                fail_python_api_call();
            }
            for (std::size_t c = 0; c <= d; ++c, ++m) {
                rows.set(m, new_ref(row.get()));
                cols.set(m, new_ref(columns[k * d + c]));
                values.set(m, new_ref(weights[p * per_row + c]));
            }
        }
    }
    return tuple_result(rows.finish(), cols.finish(), values.finish());
}

PyObject* lagrange_to_legendre_basis_transformation(PyObject* /*module*/, PyObject* const* args,
                                                    Py_ssize_t nargs, PyObject* kwnames) {
    return entry_guard([&] {
        const auto bound = bind_vectorcall<2>(transformation_description, args, nargs, kwnames);
        const index_t degree = convert_argument("degree", bound[0], to_index);
        const index_t n_t = convert_argument("n_t", bound[1], to_index);
        // Neither the span nor the nodes change the matrix: every size is
        // checked, then the local weights are computed; nothing else is built
        // before the lists.
        return triplet_lists(transformation_triplets(degree, n_t));
    });
}

}  // namespace

PyMethodDef lagrange_to_legendre_basis_transformation_method = {
    "lagrange_to_legendre_basis_transformation",
    fastcall_entry<&lagrange_to_legendre_basis_transformation>(), METH_FASTCALL | METH_KEYWORDS,
    "lagrange_to_legendre_basis_transformation(degree, n_t)\n--\n\n"};

PyMethodDef get_lagrange_points_method = {
    "get_lagrange_points", fastcall_entry<&get_lagrange_points>(), METH_FASTCALL | METH_KEYWORDS,
    "get_lagrange_points(degree, n_t, T)\n--\n\n"};

}  // namespace pwpoly::binding
