# The private extension of pwpoly_numpy: kernels that fill arrays made by the
# package's Python layer (C-contiguous, of the types named).

from typing import Any

def evaluate(
    degree: int,
    n_t: int,
    T: float,
    coefficients: Any,
    columns: int,
    by_interval: bool,
    times: Any,
    out: Any,
    derivative: bool,
    planes: int = ...,
    /,
) -> None: ...
def order_by_interval(degree: int, n_t: int, columns: int, flat: Any, out: Any, /) -> None: ...
def basis_rows(
    degree: int,
    n_t: int,
    T: float,
    times: Any,
    derivative: bool,
    data: Any,
    indices: Any,
    indptr: Any,
    wide: bool,
    /,
) -> None: ...
def lagrange_points(degree: int, n_t: int, T: float, out: Any, /) -> None: ...
def transformation_triplets(
    degree: int, n_t: int, rows: Any, cols: Any, values: Any, /
) -> None: ...
def transformation_csr(degree: int, n_t: int, data: Any, indices: Any, indptr: Any, /) -> None: ...
def differentiate(
    degree: int, n_t: int, T: float, coefficients: Any, columns: int, nu: int, out: Any, /
) -> None: ...
def integrate_pieces(
    degree: int, n_t: int, T: float, coefficients: Any, columns: int, out: Any, /
) -> None: ...
def join_pieces(
    degree: int, n_t: int, T: float, coefficients: Any, columns: int, pieces: Any, /
) -> None: ...
def definite_integral(
    degree: int,
    n_t: int,
    T: float,
    coefficients: Any,
    columns: int,
    a: float,
    b: float,
    out: Any,
    /,
) -> None: ...
def end_values(
    degree: int, n_t: int, T: float, coefficients: Any, columns: int, start: Any, end: Any, /
) -> None: ...
def power_coefficients(
    degree: int, n_t: int, T: float, coefficients: Any, columns: int, out: Any, /
) -> None: ...
def apply_local_weights(
    degree: int, n_t: int, weights: Any, node_step: int, values: Any, columns: int, out: Any, /
) -> None: ...
def extrapolate(
    degree: int,
    n_t: int,
    T: float,
    coefficients: Any,
    columns: int,
    extend: bool,
    times: Any,
    out: Any,
    /,
) -> None: ...
def first_outside_span(T: float, times: Any, /) -> int: ...
def family_nodes(family: int, degree: int, n_t: int, T: float, out: Any, /) -> None: ...
def quadrature_weights(family: int, degree: int, n_t: int, T: float, out: Any, /) -> None: ...
def family_triplets(
    family: int, degree: int, n_t: int, rows: Any, cols: Any, values: Any, /
) -> None: ...
def family_csr(
    family: int, degree: int, n_t: int, data: Any, indices: Any, indptr: Any, /
) -> None: ...
def time_matrix(
    matrix: int, degree: int, n_t: int, T: float, data: Any, indices: Any, indptr: Any, /
) -> None: ...
def plain_numbers(object: object, /) -> bool: ...
