// The kernels of PiecewiseLegendre: each checks the arrays that the Python
// layer made for the call, pins them, releases the interpreter lock and runs
// one calculus kernel of the core over all its items.
#include "calculus_entries.hpp"

#include "calculus/extrapolation.hpp"
#include "calculus/series_antiderivative.hpp"
#include "calculus/series_conversions.hpp"
#include "calculus/series_derivative.hpp"
#include "kernel_guard.hpp"
#include "kernel_scope.hpp"
#include "pinned_buffer.hpp"

namespace pwpoly::numpy_binding {
namespace {

using binding::PyRef;

PyRef none() { return PyRef::borrow(Py_None); }

LegendreBasis grid_arguments(PyObject* const* args) {
    const index_t degree = unsigned_argument(args[0]);
    const index_t n_t = unsigned_argument(args[1]);
    const double T = float_argument(args[2]);
    return {degree, n_t, T};
}

// The series that arguments 0 ... 2 (grid), `values` and `columns` describe,
// after the checks that keep the core's own checks from failing.
calculus::SeriesColumns series_of(const LegendreBasis& basis, const PinnedBuffer& values,
                                  std::size_t columns, const char* name) {
    const std::span<const double> elements = values.elements<const double>();
    require(basis.n_t >= 1 && columns >= 1 &&
                calculus::count_equals(coefficient_count(basis), columns, elements.size()),
            name, "wrong array sizes");
    return {basis, elements, columns};
}

}  // namespace

// differentiate(degree, n_t, T, coefficients, columns, nu, out)
PyObject* differentiate_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("differentiate", nargs, 7);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const std::uint64_t nu = size_argument(args[5]);
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer out(args[6], ElementKind::float64, true);
        const auto series = series_of(basis, coefficients, columns, "differentiate");
        const std::uint64_t rows =
            std::uint64_t{basis.n_t} * (calculus::derivative_degree(basis.degree, nu) + 1ULL);
        const std::span<double> result = out.elements<double>();
        require(calculus::count_equals(rows, columns, result.size()), "differentiate",
                "wrong array sizes");
        {
            const KernelScope scope;
            calculus::differentiate_series(series, nu, result, 0, basis.n_t);
        }
        return none();
    });
}

// integrate_pieces(degree, n_t, T, coefficients, columns, out)
PyObject* integrate_pieces_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("integrate_pieces", nargs, 6);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer out(args[5], ElementKind::float64, true);
        const auto series = series_of(basis, coefficients, columns, "integrate_pieces");
        const std::span<double> result = out.elements<double>();
        require(basis.degree < 0xFFFFFFFFU &&
                    calculus::count_equals(std::uint64_t{basis.n_t} * (basis.degree + 2ULL),
                                           columns, result.size()),
                "integrate_pieces", "wrong array sizes");
        {
            const KernelScope scope;
            calculus::integrate_pieces(series, result, 0, basis.n_t);
        }
        return none();
    });
}

// join_pieces(degree, n_t, T, coefficients, columns, pieces)
PyObject* join_pieces_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("join_pieces", nargs, 6);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer pieces(args[5], ElementKind::float64, true);
        const auto series = series_of(basis, coefficients, columns, "join_pieces");
        const std::span<double> result = pieces.elements<double>();
        require(basis.degree < 0xFFFFFFFFU &&
                    calculus::count_equals(std::uint64_t{basis.n_t} * (basis.degree + 2ULL),
                                           columns, result.size()),
                "join_pieces", "wrong array sizes");
        {
            const KernelScope scope;
            calculus::join_pieces(series, result, 0, columns);
        }
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
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer out(args[7], ElementKind::float64, true);
        const auto series = series_of(basis, coefficients, columns, "definite_integral");
        const std::span<double> result = out.elements<double>();
        require(result.size() == columns, "definite_integral", "wrong array sizes");
        require(a >= 0.0 && a <= basis.T && b >= 0.0 && b <= basis.T, "definite_integral",
                "bounds outside [0, T]");
        {
            const KernelScope scope;
            calculus::definite_integral(series, a, b, result, 0, columns);
        }
        return none();
    });
}

// end_values(degree, n_t, T, coefficients, columns, start, end)
PyObject* end_values_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("end_values", nargs, 7);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer start(args[5], ElementKind::float64, true);
        const PinnedBuffer end(args[6], ElementKind::float64, true);
        const auto series = series_of(basis, coefficients, columns, "end_values");
        const std::span<double> left = start.elements<double>();
        const std::span<double> right = end.elements<double>();
        require(
            calculus::count_equals(basis.n_t, columns, left.size()) && right.size() == left.size(),
            "end_values", "wrong array sizes");
        {
            const KernelScope scope;
            calculus::series_end_values(series, left, right, 0, basis.n_t);
        }
        return none();
    });
}

// power_coefficients(degree, n_t, T, coefficients, columns, out)
PyObject* power_coefficients_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("power_coefficients", nargs, 6);
        const LegendreBasis basis = grid_arguments(args);
        const std::size_t columns = size_argument(args[4]);
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer out(args[5], ElementKind::float64, true);
        const auto series = series_of(basis, coefficients, columns, "power_coefficients");
        const std::span<double> result = out.elements<double>();
        require(calculus::count_equals(coefficient_count(basis), columns, result.size()),
                "power_coefficients", "wrong array sizes");
        {
            const KernelScope scope;
            calculus::power_coefficients(series, result, 0, basis.n_t);
        }
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
        const PinnedBuffer weights(args[2], ElementKind::float64, false);
        const PinnedBuffer values(args[4], ElementKind::float64, false);
        const PinnedBuffer out(args[6], ElementKind::float64, true);
        const LegendreBasis basis{degree, n_t, 1.0};
        const std::uint64_t rows = std::uint64_t{degree} + 1;
        const std::span<const double> w = weights.elements<const double>();
        const std::span<const double> v = values.elements<const double>();
        const std::span<double> result = out.elements<double>();
        const std::uint64_t node_count = columns == 0 ? 0 : v.size() / columns;
        require(degree >= 1 && n_t >= 1 && columns >= 1 && w.size() == rows * rows &&
                    node_step >= 1 && node_step <= rows &&
                    calculus::count_equals(node_count, columns, v.size()) &&
                    (std::uint64_t{n_t} - 1) * node_step + rows <= node_count &&
                    calculus::count_equals(coefficient_count(basis), columns, result.size()),
                "apply_local_weights", "wrong array sizes");
        {
            const KernelScope scope;
            calculus::apply_local_weights(basis, w, node_step, v, columns, result, 0, n_t);
        }
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
        const PinnedBuffer coefficients(args[3], ElementKind::float64, false);
        const PinnedBuffer times(args[6], ElementKind::float64, false);
        const PinnedBuffer out(args[7], ElementKind::float64, true);
        const auto series = series_of(basis, coefficients, columns, "extrapolate");
        const std::span<const double> at = times.elements<const double>();
        const std::span<double> result = out.elements<double>();
        require(calculus::count_equals(at.size(), columns, result.size()), "extrapolate",
                "wrong array sizes");
        {
            const KernelScope scope;
            calculus::extrapolate_outside_span(series, policy, at, result, 0, at.size());
        }
        return none();
    });
}

// first_outside_span(T, times) -> int
PyObject* first_outside_span_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("first_outside_span", nargs, 2);
        const double T = float_argument(args[0]);
        const PinnedBuffer times(args[1], ElementKind::float64, false);
        const std::span<const double> at = times.elements<const double>();
        std::size_t index = 0;
        {
            const KernelScope scope;
            index = calculus::first_outside_span(T, at, 0, at.size());
        }
        PyRef result = PyRef::steal(PyLong_FromSize_t(index));
        if (!result) {
            throw PythonErrorPending{};
        }
        return result;
    });
}

}  // namespace pwpoly::numpy_binding
