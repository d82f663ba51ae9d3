// The initialisation entry of pwpoly_numpy._kernels: the function table, and
// the cancellation check and standard-error writer installed in this
// extension's copy of the core.
#include <Python.h>
#include <pthread.h>

#include <string_view>

#include "calculus_entries.hpp"
#include "discretisation_entries.hpp"
#include "kernel_arrays.hpp"
#include "kernel_entries.hpp"
#include "kernel_guard.hpp"
#include "kernel_run.hpp"
#include "py_ref.hpp"
#include "report_writer.hpp"
#include "support/cancellation.hpp"
#include "support/standard_error.hpp"

namespace pwpoly::numpy_binding {
namespace {

using binding::PyRef;

// NOLINTBEGIN(cppcoreguidelines-pro-type-cstyle-cast)
PyMethodDef kernel_functions[] = {
    {"evaluate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&evaluate_entry)),
     METH_FASTCALL,
     "evaluate(degree, n_t, T, coefficients, columns, by_interval, times, out, derivative)"},
    {"order_by_interval",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&order_by_interval_entry)),
     METH_FASTCALL, "order_by_interval(degree, n_t, columns, flat, out)"},
    {"basis_rows", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&basis_rows_entry)),
     METH_FASTCALL, "basis_rows(degree, n_t, T, times, derivative, data, indices, indptr, wide)"},
    {"lagrange_points",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lagrange_points_entry)),
     METH_FASTCALL, "lagrange_points(degree, n_t, T, out)"},
    {"transformation_triplets",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&transformation_triplets_entry)),
     METH_FASTCALL, "transformation_triplets(degree, n_t, rows, cols, values)"},
    {"transformation_csr",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&transformation_csr_entry)),
     METH_FASTCALL, "transformation_csr(degree, n_t, data, indices, indptr)"},
    {"differentiate",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&differentiate_entry)),
     METH_FASTCALL, "differentiate(degree, n_t, T, coefficients, columns, nu, out)"},
    {"integrate_pieces",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&integrate_pieces_entry)),
     METH_FASTCALL, "integrate_pieces(degree, n_t, T, coefficients, columns, out)"},
    {"join_pieces", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&join_pieces_entry)),
     METH_FASTCALL, "join_pieces(degree, n_t, T, coefficients, columns, pieces)"},
    {"definite_integral",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&definite_integral_entry)),
     METH_FASTCALL, "definite_integral(degree, n_t, T, coefficients, columns, a, b, out)"},
    {"end_values", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&end_values_entry)),
     METH_FASTCALL, "end_values(degree, n_t, T, coefficients, columns, start, end)"},
    {"power_coefficients",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&power_coefficients_entry)),
     METH_FASTCALL, "power_coefficients(degree, n_t, T, coefficients, columns, out)"},
    {"apply_local_weights",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&apply_local_weights_entry)),
     METH_FASTCALL, "apply_local_weights(degree, n_t, weights, node_step, values, columns, out)"},
    {"extrapolate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&extrapolate_entry)),
     METH_FASTCALL, "extrapolate(degree, n_t, T, coefficients, columns, extend, times, out)"},
    {"first_outside_span",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&first_outside_span_entry)),
     METH_FASTCALL, "first_outside_span(T, times)"},
    {"family_nodes",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&family_nodes_entry)),
     METH_FASTCALL, "family_nodes(family, degree, n_t, T, out)"},
    {"quadrature_weights",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&quadrature_weights_entry)),
     METH_FASTCALL, "quadrature_weights(family, degree, n_t, T, out)"},
    {"family_triplets",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&family_triplets_entry)),
     METH_FASTCALL, "family_triplets(family, degree, n_t, rows, cols, values)"},
    {"family_csr", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&family_csr_entry)),
     METH_FASTCALL, "family_csr(family, degree, n_t, data, indices, indptr)"},
    {"time_matrix", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&time_matrix_entry)),
     METH_FASTCALL, "time_matrix(matrix, degree, n_t, T, data, indices, indptr)"},
    {"plain_numbers",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&plain_numbers_entry)),
     METH_FASTCALL, "plain_numbers(object)"},
    {nullptr, nullptr, 0, nullptr},
};
// NOLINTEND(cppcoreguidelines-pro-type-cstyle-cast)

PyModuleDef kernels_module = {
    PyModuleDef_HEAD_INIT,
    "pwpoly_numpy._kernels",
    "Array kernels of pwpoly_numpy, on pwpoly's numerics core; called by the package only.",
    -1,
    kernel_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Records the main thread, which alone runs signal handlers, from
// threading.main_thread(); in a subinterpreter no thread handles them.
void record_signal_thread() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        return;
    }
    PyRef threading = PyRef::steal(PyImport_ImportModule("threading"));
    PyRef main_thread =
        threading ? PyRef::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                  : PyRef();
    PyRef ident =
        main_thread ? PyRef::steal(PyObject_GetAttrString(main_thread.get(), "ident")) : PyRef();
    const unsigned long value = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
    if (PyErr_Occurred() != nullptr) {
        throw PythonErrorPending{};
    }
    set_signal_thread(value);
}

// In a forked child the forking thread is the only one, and the interpreter
// makes it the main thread, whichever thread it was in the parent.
void signal_thread_after_fork() noexcept { set_signal_thread(PyThread_get_thread_ident()); }

// Failure reports of kernels: the lock is released while a write waits, if
// this thread holds it.
bool write_kernel_report(std::string_view text, std::string_view first_note) noexcept {
    return python_support::write_report(text, first_note, !lock_released_by_kernel());
}

// numpy.ndarray, the one type of array the kernels take.
void record_array_type() {
    PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
    PyRef type = numpy ? PyRef::steal(PyObject_GetAttrString(numpy.get(), "ndarray")) : PyRef();
    if (!type) {
        throw PythonErrorPending{};
    }
    // Kept for the life of the process, as NumPy itself is.
    set_array_type(type.release());
}

PyRef create_module() {
    record_signal_thread();
    record_array_type();
    static const bool fork_handler =
        pthread_atfork(nullptr, nullptr, &signal_thread_after_fork) == 0;
    (void)fork_handler;
    install_cancellation_check(&check_for_interrupt);
    install_standard_error_writer(&write_kernel_report);
    PyRef module = PyRef::steal(PyModule_Create(&kernels_module));
    if (!module) {
        throw PythonErrorPending{};
    }
    return module;
}

}  // namespace
}  // namespace pwpoly::numpy_binding

// The interpreter looks the entry up by this name, underscores and all.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
PyMODINIT_FUNC PyInit__kernels() {
    return pwpoly::numpy_binding::kernel_entry(
        [] { return pwpoly::numpy_binding::create_module(); });
}
