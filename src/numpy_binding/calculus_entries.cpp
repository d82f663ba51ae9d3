// The kernels of PiecewiseLegendre: each checks the arrays that the Python
// layer made for the call, takes hold of them and runs one calculus kernel of
// the core over its items, piece by piece, without the interpreter lock.
#include "calculus_entries.hpp"

#include <algorithm>
#include <limits>

#include "calculus/extrapolation.hpp"
#include "calculus/series_antiderivative.hpp"
#include "calculus/series_conversions.hpp"
#include "calculus/series_derivative.hpp"
#include "kernel_arrays.hpp"
#include "kernel_guard.hpp"
#include "kernel_run.hpp"

namespace pwpoly::numpy_binding {
namespace {

using binding::PyRef;
using calculus::count_equals;

// The series that the grid, `values` and `columns` describe, after the checks
// that keep the core's own checks from failing.
calculus::SeriesColumns series_of(const LegendreBasis& basis, const KernelArray& values,
                                  std::size_t columns, const char* name) {
    const std::span<const double> elements = values.elements<const double>();
    require(basis.n_t >= 1 && columns >= 1 &&
                count_equals(coefficient_count(basis), columns, elements.size()),
            name, "wrong array sizes");
    return {basis, elements, columns};
}

// Rows of an interval's work with `columns` values each: (degree + 1) * columns.
std::size_t interval_work(const LegendreBasis& basis, std::size_t columns,
                          std::uint64_t factor = 1) {
    return work_of(work_of(coefficients_per_interval(basis) + 1, columns), factor);
}

index_t interval(std::size_t k) { return static_cast<index_t>(k); }

}  // namespace

// differentiate(degree, n_t, T, coefficients, columns, nu, out)
PyObject* differentiate_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("differentiate", nargs, 7);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const std::uint64_t nu = size_argument(args[5]);
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray out(args[6], ElementKind::float64, true, "out");
        const auto series = series_of(basis, coefficients, columns, "differentiate");
        const std::uint64_t rows =
            std::uint64_t{basis.n_t} * (calculus::derivative_degree(basis.degree, nu) + 1ULL);
        const std::span<double> result = out.elements<double>();
        require(count_equals(rows, columns, result.size()), "differentiate", "wrong array sizes");
        const std::uint64_t steps = std::min<std::uint64_t>(nu, basis.degree) + 1;
        KernelRun run{&coefficients, &out};
        run.over(basis.n_t, interval_work(basis, columns, steps),
                 [&](std::size_t first, std::size_t last) {
                     calculus::differentiate_series(series, nu, result, interval(first),
                                                    interval(last));
                 });
        return none();
    });
}

// integrate_pieces(degree, n_t, T, coefficients, columns, out)
PyObject* integrate_pieces_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("integrate_pieces", nargs, 6);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray out(args[5], ElementKind::float64, true, "out");
        const auto series = series_of(basis, coefficients, columns, "integrate_pieces");
        const std::span<double> result = out.elements<double>();
        require(basis.degree < 0xFFFFFFFFU &&
                    count_equals(std::uint64_t{basis.n_t} * (basis.degree + 2ULL), columns,
                                 result.size()),
                "integrate_pieces", "wrong array sizes");
        KernelRun run{&coefficients, &out};
        run.over(basis.n_t, interval_work(basis, columns, 2),
                 [&](std::size_t first, std::size_t last) {
                     calculus::integrate_pieces(series, result, interval(first), interval(last));
                 });
        return none();
    });
}

// join_pieces(degree, n_t, T, coefficients, columns, pieces)
PyObject* join_pieces_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("join_pieces", nargs, 6);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray pieces(args[5], ElementKind::float64, true, "pieces");
        const auto series = series_of(basis, coefficients, columns, "join_pieces");
        const std::span<double> result = pieces.elements<double>();
        require(basis.degree < 0xFFFFFFFFU &&
                    count_equals(std::uint64_t{basis.n_t} * (basis.degree + 2ULL), columns,
                                 result.size()),
                "join_pieces", "wrong array sizes");
        // A column is one item, along all intervals.
        KernelRun run{&coefficients, &pieces};
        run.over(columns, work_of(basis.n_t, 4), [&](std::size_t first, std::size_t last) {
            calculus::join_pieces(series, result, first, last);
        });
        return none();
    });
}

// definite_integral(degree, n_t, T, coefficients, columns, a, b, out)
PyObject* definite_integral_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("definite_integral", nargs, 8);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const double a = float_argument(args[5]);
        const double b = float_argument(args[6]);
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray out(args[7], ElementKind::float64, true, "out");
        const auto series = series_of(basis, coefficients, columns, "definite_integral");
        const std::span<double> result = out.elements<double>();
        require(result.size() == columns, "definite_integral", "wrong array sizes");
        require(a >= 0.0 && a <= basis.T && b >= 0.0 && b <= basis.T, "definite_integral",
                "bounds outside [0, T]");
        // A column is one item, along the intervals between the bounds.
        KernelRun run{&coefficients, &out};
        run.over(columns, work_of(basis.n_t + 2ULL * coefficients_per_interval(basis)),
                 [&](std::size_t first, std::size_t last) {
                     calculus::definite_integral(series, a, b, result, first, last);
                 });
        return none();
    });
}

// end_values(degree, n_t, T, coefficients, columns, start, end)
PyObject* end_values_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("end_values", nargs, 7);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray start(args[5], ElementKind::float64, true, "start");
        KernelArray end(args[6], ElementKind::float64, true, "end");
        const auto series = series_of(basis, coefficients, columns, "end_values");
        const std::span<double> left = start.elements<double>();
        const std::span<double> right = end.elements<double>();
        require(count_equals(basis.n_t, columns, left.size()) && right.size() == left.size(),
                "end_values", "wrong array sizes");
        KernelRun run{&coefficients, &start, &end};
        run.over(
            basis.n_t, interval_work(basis, columns, 2), [&](std::size_t first, std::size_t last) {
                calculus::series_end_values(series, left, right, interval(first), interval(last));
            });
        return none();
    });
}

// power_coefficients(degree, n_t, T, coefficients, columns, out)
PyObject* power_coefficients_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("power_coefficients", nargs, 6);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray out(args[5], ElementKind::float64, true, "out");
        const auto series = series_of(basis, coefficients, columns, "power_coefficients");
        const std::span<double> result = out.elements<double>();
        require(count_equals(coefficient_count(basis), columns, result.size()),
                "power_coefficients", "wrong array sizes");
        // Each piece forms the (degree + 1)^2 table again, which is small
        // beside the degree where the conversion is still meaningful.
        KernelRun run{&coefficients, &out};
        run.over(basis.n_t, interval_work(basis, columns, coefficients_per_interval(basis)),
                 [&](std::size_t first, std::size_t last) {
                     calculus::power_coefficients(series, result, interval(first), interval(last));
                 });
        return none();
    });
}

// apply_local_weights(degree, n_t, weights, node_step, values, columns, out)
PyObject* apply_local_weights_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("apply_local_weights", nargs, 7);
        const index_t degree = unsigned_argument(args[0]);
        const index_t n_t = unsigned_argument(args[1]);
        const std::uint64_t node_step = size_argument(args[3]);
        const std::size_t columns = size_argument(args[5]);
        KernelArray weights(args[2], ElementKind::float64, false, "weights");
        KernelArray values(args[4], ElementKind::float64, false, "values");
        KernelArray out(args[6], ElementKind::float64, true, "out");
        const LegendreBasis basis{degree, n_t, 1.0};
        const std::uint64_t rows = std::uint64_t{degree} + 1;
        const std::span<const double> w = weights.elements<const double>();
        const std::span<const double> v = values.elements<const double>();
        const std::span<double> result = out.elements<double>();
        const std::uint64_t node_count = columns == 0 ? 0 : v.size() / columns;
        require(degree >= 1 && n_t >= 1 && columns >= 1 && w.size() == rows * rows &&
                    node_step >= 1 && node_step <= rows &&
                    count_equals(node_count, columns, v.size()) &&
                    (std::uint64_t{n_t} - 1) * node_step + rows <= node_count &&
                    count_equals(coefficient_count(basis), columns, result.size()),
                "apply_local_weights", "wrong array sizes");
        KernelRun run{&weights, &values, &out};
        run.over(n_t, interval_work(basis, columns, rows),
                 [&](std::size_t first, std::size_t last) {
                     calculus::apply_local_weights(basis, w, node_step, v, columns, result,
                                                   interval(first), interval(last));
                 });
        return none();
    });
}

// extrapolate(degree, n_t, T, coefficients, columns, extend, times, out)
PyObject* extrapolate_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("extrapolate", nargs, 8);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const auto policy =
            bool_argument(args[5]) ? calculus::OutsideSpan::extend : calculus::OutsideSpan::nan;
        KernelArray coefficients(args[3], ElementKind::float64, false, "coefficients");
        KernelArray times(args[6], ElementKind::float64, false, "times");
        KernelArray out(args[7], ElementKind::float64, true, "out");
        const auto series = series_of(basis, coefficients, columns, "extrapolate");
        const std::span<const double> at = times.elements<const double>();
        const std::span<double> result = out.elements<double>();
        require(count_equals(at.size(), columns, result.size()), "extrapolate",
                "wrong array sizes");
        KernelRun run{&coefficients, &times, &out};
        run.over(at.size(), interval_work(basis, columns),
                 [&](std::size_t first, std::size_t last) {
                     calculus::extrapolate_outside_span(series, policy, at, result, first, last);
                 });
        return none();
    });
}

// first_outside_span(T, times) -> int
PyObject* first_outside_span_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("first_outside_span", nargs, 2);
        const double T = float_argument(args[0]);
        KernelArray times(args[1], ElementKind::float64, false, "times");
        const std::span<const double> at = times.elements<const double>();
        // Each piece records its first time outside; the earliest piece that
        // finds one decides, and later pieces have nothing to add.
        std::size_t found = at.size();
        KernelRun run{&times};
        run.over(at.size(), 1, [&](std::size_t first, std::size_t last) {
            if (found == at.size()) {
                const std::size_t index = calculus::first_outside_span(T, at, first, last);
                found = index == last ? at.size() : index;
            }
        });
        PyRef result = PyRef::steal(PyLong_FromSize_t(found));
        if (!result) {
            throw PythonErrorPending{};
        }
        return result;
    });
}

}  // namespace pwpoly::numpy_binding
