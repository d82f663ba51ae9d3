// The functions of pwpoly_numpy._kernels, each a METH_FASTCALL entry with
// positional arguments only, called by the package's Python layer.
#pragma once

#include <Python.h>

namespace pwpoly::numpy_binding {

/// evaluate(degree, n_t, T, coefficients, columns, by_interval, times, out,
/// derivative[, planes]): fills `out` (times.size * columns float64) with
/// batch::evaluate_expansions, or evaluate_expansion_derivatives when
/// `derivative` is true, from N rows of `columns` float64 coefficients in the
/// flat order, or by interval when `by_interval` is true. With `planes` (1 if
/// not given), out has the shape (planes, times.size, columns / planes): the
/// results of each group of columns / planes columns in a plane of their own;
/// planes of one column each need a call whose columns a time can evaluate
/// at once.
PyObject* evaluate_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// order_by_interval(degree, n_t, columns, flat, out): fills `out` with the
/// N rows of `columns` float64 coefficients of `flat` (in the flat order)
/// ordered by interval (batch::order_by_interval); a copy whose reads the
/// array checks guard, where NumPy's copy of a transposed view would read a
/// view that a signal handler may have left without memory.
PyObject* order_by_interval_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// basis_rows(degree, n_t, T, times, derivative, data, indices, indptr, wide):
/// fills the compressed-row arrays of the basis matrix (batch::fill_basis_rows),
/// with int64 indices when `wide` is true, int32 otherwise.
PyObject* basis_rows_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// lagrange_points(degree, n_t, T, out): fills `out` with the nodes.
PyObject* lagrange_points_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// transformation_triplets(degree, n_t, rows, cols, values): fills int64 rows
/// and columns and float64 values with the triplets of the transformation.
PyObject* transformation_triplets_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// transformation_csr(degree, n_t, data, indices, indptr): fills the
/// compressed-row arrays (int32 indices) of the transformation.
PyObject* transformation_csr_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// plain_numbers(object): True when `object`, or any item of it in lists and
/// tuples nested up to NumPy's 64 dimensions, is no subclass of float or int
/// defined in Python (whose __float__ may differ from the value NumPy reads);
/// False otherwise.
PyObject* plain_numbers_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace pwpoly::numpy_binding
