// The kernels of PiecewiseLegendre: calculus on Legendre series and
// evaluation outside the span, each a METH_FASTCALL entry with positional
// arguments only, called by the package's Python layer.
#pragma once

#include <Python.h>

namespace pwpoly::numpy_binding {

/// differentiate(degree, n_t, T, coefficients, columns, nu, out): fills `out`
/// with the coefficients of the derivative of order nu
/// (calculus::differentiate_series).
PyObject* differentiate_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// integrate_pieces(degree, n_t, T, coefficients, columns, out): each
/// interval's antiderivative vanishing at its left end, degree + 1.
PyObject* integrate_pieces_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// join_pieces(degree, n_t, T, coefficients, columns, pieces): makes the
/// pieces that integrate_pieces made of `coefficients` continuous and zero at
/// t = 0, in place.
PyObject* join_pieces_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// definite_integral(degree, n_t, T, coefficients, columns, a, b, out): the
/// integral from a to b of every column into `out` (columns float64).
PyObject* definite_integral_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// end_values(degree, n_t, T, coefficients, columns, start, end): the values
/// at xi = -1 and xi = +1 of every interval (n_t * columns float64 each).
PyObject* end_values_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// power_coefficients(degree, n_t, T, coefficients, columns, out): the
/// coefficients of scipy's PPoly, (degree + 1) * n_t * columns float64.
PyObject* power_coefficients_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// apply_local_weights(degree, n_t, weights, node_step, values, columns, out): Legendre
/// coefficients from values at the Lagrange nodes.
PyObject* apply_local_weights_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// extrapolate(degree, n_t, T, coefficients, columns, extend, times, out):
/// rewrites the results of times outside [0, T] (NaN, or the end polynomials
/// continued when `extend` is true).
PyObject* extrapolate_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// first_outside_span(T, times) -> int: the index of the first time outside
/// [0, T] or NaN, or times.size when there is none.
PyObject* first_outside_span_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace pwpoly::numpy_binding
