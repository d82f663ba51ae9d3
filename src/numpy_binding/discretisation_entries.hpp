// The kernels of pwpoly_numpy's time discretisation: node families,
// quadrature weights, their transformations, and the matrices in time. Each
// is a METH_FASTCALL entry with positional arguments only.
#pragma once

#include <Python.h>

namespace pwpoly::numpy_binding {

/// family_nodes(family, degree, n_t, T, out): fills `out` with the nodes of
/// the family (code 0 to 3, NodeFamily) on the grid; equidistant through
/// batch::fill_lagrange_points, with pwpoly's bits.
PyObject* family_nodes_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// quadrature_weights(family, degree, n_t, T, out): fills `out` with the
/// weights of the composite rule at the family's nodes.
PyObject* quadrature_weights_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// family_triplets(family, degree, n_t, rows, cols, values): the
/// transformation of a computed family (codes 1 to 3) as int64/int64/float64
/// triplets.
PyObject* family_triplets_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// family_csr(family, degree, n_t, data, indices, indptr): the same as
/// compressed-row arrays with int32 indices.
PyObject* family_csr_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

/// time_matrix(matrix, degree, n_t, T, data, indices, indptr): the
/// compressed-row arrays (int32 indices) of a matrix in time (code 0 to 4,
/// TimeMatrix).
PyObject* time_matrix_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace pwpoly::numpy_binding
