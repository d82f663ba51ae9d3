"""Argument conversion and the size limits of pwpoly_numpy.

Numbers are converted as pwpoly converts them (unsigned 32-bit integers
through ``__index__``; floats as their stored value, other numbers through
``__float__`` or ``__index__``), arrays to private float64 copies, and every
refusal names its argument. An exception that the caller's own code raises
(an ``__index__``, ``__float__`` or ``__array__``) arrives as itself, with a
note naming the argument; only the interpreter's and NumPy's plain
``TypeError``, ``ValueError`` and ``OverflowError`` are raised anew with the
argument's name in their message.
"""

from __future__ import annotations

import operator
from typing import Any, NoReturn

import numpy
import numpy.typing as npt

from pwpoly_numpy import _kernels

UNSIGNED_MAX = 4294967295
"""Largest count or index: pwpoly's counts are unsigned 32-bit integers."""

MAX_FLOATS = 2147483647 // 8
"""Most float64 values in one vector of pwpoly (2147483647 bytes)."""

MAX_INTERVALS_WITH_NODES = 2147483647 // 16
"""Most intervals for which pwpoly places Lagrange nodes (16 bytes each)."""

REAL_KINDS = "biuf"
"""NumPy dtype kinds converted as real numbers: bool, signed, unsigned, float."""


_RENAMED = (TypeError, ValueError, OverflowError)
"""Exception types raised anew with the argument's name in the message: only
these exact types, whose constructor takes one message."""


def raise_for_argument(error: BaseException, name: str) -> NoReturn:
    """Raises `error`, a failure to convert argument `name`: an exception of
    exactly one of the _RENAMED types as a new one of the same type whose
    message starts with the argument's name, any other (the caller's own
    exception types, subclasses included) as itself, with a note naming the
    argument where the interpreter shows notes (3.11 and later)."""
    kind = type(error)
    if kind in _RENAMED:
        raise kind(f"argument '{name}': {error}") from None
    add_note = getattr(error, "add_note", None)
    if add_note is not None:
        add_note(f"while pwpoly_numpy converted argument '{name}'")
    raise error


def flag(value: object, name: str) -> bool:
    """`value` as a flag: a bool or NumPy bool, nothing else."""
    if isinstance(value, (bool, numpy.bool_)):
        return bool(value)
    raise TypeError(f"argument '{name}': must be a bool, not {type(value).__name__}")


def unsigned(value: object, name: str) -> int:
    """`value` as an unsigned 32-bit integer, through ``__index__``."""
    try:
        number = operator.index(value)  # type: ignore[arg-type, call-overload]
    except Exception as error:
        raise_for_argument(error, name)
    if not 0 <= number <= UNSIGNED_MAX:
        raise OverflowError(f"argument '{name}': must be 0 ... {UNSIGNED_MAX}, not {number}")
    return number


def real(value: object, name: str) -> float:
    """`value` as a float, as pwpoly converts a float argument: a float (of
    any subclass) as its stored value, else through ``__float__``, else
    through ``__index__``."""
    kind = type(value)
    try:
        if kind is float:
            return value  # type: ignore[return-value]
        if issubclass(kind, float):
            # The stored value, whatever the subclass's __float__ says.
            return float.__float__(value)  # type: ignore[arg-type]
        if hasattr(kind, "__float__"):
            return float(value)  # type: ignore[arg-type]
        if hasattr(kind, "__index__"):
            return float(operator.index(value))  # type: ignore[arg-type, call-overload]
    except Exception as error:
        raise_for_argument(error, name)
    raise TypeError(f"argument '{name}': must be real number, not {kind.__name__}")


def _numbers_numpy_reads_otherwise(value: object) -> bool:
    """Whether NumPy may read `value` (a number, or lists and tuples of
    numbers) otherwise than pwpoly: a subclass of float or int whose
    ``__float__`` differs from its value, among them."""
    kind = type(value)
    if kind is float or kind is int or kind is bool or isinstance(value, numpy.generic):
        return False
    if isinstance(value, (float, int)):
        return True
    if kind is list or kind is tuple:
        return not _kernels.plain_numbers(value)
    return False


def real_array(value: object, name: str) -> npt.NDArray[Any]:
    """`value` as an array of real numbers (not yet a private copy).

    Arrays of bool, integer and float dtypes are taken as they are; the items
    of an object array are converted one by one as `real` converts a number.
    Complex, string, bytes, datetime, timedelta and structured dtypes are
    refused: a complex value has no float of its own (take ``.real`` to mean
    its real part)."""
    try:
        if _numbers_numpy_reads_otherwise(value):
            # Item by item, as pwpoly reads them (a lone number, or lists that
            # hold a number NumPy would read through __float__).
            array = numpy.asarray(value, dtype=object)
        else:
            array = numpy.asarray(value)
    except Exception as error:
        raise_for_argument(error, name)
    kind = array.dtype.kind
    if kind in REAL_KINDS:
        return array
    if kind == "O":
        items = [real(item, name) for item in array.flat]
        return numpy.array(items, dtype=numpy.float64).reshape(array.shape)
    if kind == "c":
        raise TypeError(
            f"argument '{name}': complex values are not accepted (dtype {array.dtype}); "
            "pass their real part, x.real, if that is what is meant"
        )
    raise TypeError(
        f"argument '{name}': expected real numbers, got an array of dtype {array.dtype}"
    )


def private_float64(array: npt.ArrayLike) -> npt.NDArray[numpy.float64]:
    """A new C-contiguous float64 copy of `array`, which no other code can
    reach while a kernel reads it."""
    return numpy.array(array, dtype=numpy.float64, order="C", copy=True)


def float64_input(value: object, name: str) -> npt.NDArray[numpy.float64]:
    """`value` as a C-contiguous float64 array for a kernel to read: the array
    itself when it is one already (the kernel pins its memory for the call),
    else a private converted copy."""
    array = real_array(value, name)
    if (
        array.dtype.kind == "f"
        and array.dtype.itemsize == 8
        and array.dtype.isnative
        and array.flags.c_contiguous
        and array.flags.aligned
    ):
        return array
    return private_float64(array)


def check_evaluation_grid(degree: int, n_t: int) -> int:
    """N = n_t * (degree + 1), after checking that the grid has intervals and
    that N floats fit one of pwpoly's vectors."""
    if n_t == 0:
        raise ValueError(
            "argument 'n_t': must be at least 1: a grid without intervals has nothing to evaluate"
        )
    count = n_t * (degree + 1)
    if count > MAX_FLOATS:
        raise ValueError(
            f"arguments 'degree' and 'n_t': n_t * (degree + 1) = {count} coefficients exceed "
            f"the size limit of {MAX_FLOATS} float64 values"
        )
    return count


def check_node_count(degree: int, n_t: int) -> int:
    """The node count n_t * degree + 1, after pwpoly's size checks of the
    node list."""
    if n_t > MAX_INTERVALS_WITH_NODES:
        raise ValueError(
            f"argument 'n_t': {n_t} intervals exceed the size limit of "
            f"{MAX_INTERVALS_WITH_NODES} for Lagrange nodes"
        )
    count = n_t * degree + 1
    if count > MAX_FLOATS:
        raise ValueError(
            f"arguments 'degree' and 'n_t': n_t * degree + 1 = {count} nodes exceed the "
            f"size limit of {MAX_FLOATS} float64 values"
        )
    return count


def check_transformation(degree: int, n_t: int) -> int:
    """The stored-entry count (degree + 1)**2 * n_t of the transformation,
    after its checks."""
    if degree == 0:
        raise ValueError(
            "argument 'degree': the Lagrange to Legendre transformation needs degree >= 1 "
            "(degree 0 has one node per interval)"
        )
    check_node_count(degree, n_t)
    count = (degree + 1) ** 2 * n_t
    if count > MAX_FLOATS:
        raise ValueError(
            f"arguments 'degree' and 'n_t': (degree + 1)**2 * n_t = {count} stored entries "
            f"exceed the size limit of {MAX_FLOATS} float64 values"
        )
    return count


def check_coefficient_shape(shape: tuple[int, ...], count: int, name: str = "coefficients") -> int:
    """The number of values per row (the product of the trailing shape), after
    checking that `shape` is (count, *trailing): `count` rows in pwpoly's flat
    layout."""
    if len(shape) == 0 or shape[0] != count:
        raise ValueError(
            f"argument '{name}': expected shape ({count},) or ({count}, *shape) for "
            f"n_t * (degree + 1) = {count} coefficients in pwpoly's flat layout (the "
            f"coefficient of P_i on interval k in row k + n_t * i, the interval index "
            f"fastest), got shape {shape}"
        )
    return _product(shape[1:])


def _product(shape: tuple[int, ...]) -> int:
    count = 1
    for size in shape:
        count *= size
    return count


def output_array(out: object, shape: tuple[int, ...]) -> npt.NDArray[numpy.float64]:
    """A new float64 array of `shape`, or `out` after checking that it is a
    writable, aligned, C-contiguous float64 array of exactly that shape."""
    if out is None:
        return numpy.empty(shape, dtype=numpy.float64)
    if not isinstance(out, numpy.ndarray):
        raise TypeError(f"argument 'out': expected a numpy.ndarray, not {type(out).__name__}")
    if out.dtype != numpy.dtype(numpy.float64):
        raise TypeError(f"argument 'out': expected an array of dtype float64, got {out.dtype}")
    if out.shape != shape:
        raise ValueError(f"argument 'out': expected shape {shape}, got {out.shape}")
    if not (out.flags.c_contiguous and out.flags.aligned):
        raise ValueError("argument 'out': must be C-contiguous and aligned")
    if not out.flags.writeable:
        raise ValueError("argument 'out': must be writable")
    return out


def apart_from(array: npt.NDArray[Any], out: npt.NDArray[Any]) -> npt.NDArray[Any]:
    """`array`, or a private copy of it where it may share memory with `out`,
    so that a kernel never reads what it is writing."""
    if numpy.may_share_memory(array, out):
        return private_float64(array)
    return array


def sparse_module(function: str) -> Any:
    """scipy.sparse, imported on the first call of a function that needs it."""
    try:
        import scipy.sparse
    except ImportError as error:
        raise ImportError(
            f"pwpoly_numpy.{function} needs SciPy: install it with "
            "python3 -m pip install 'pwpoly[scipy]'"
        ) from error
    return scipy.sparse


def canonical_csr(sparse: Any, data: Any, indices: Any, indptr: Any, shape: tuple[int, int]) -> Any:
    """A csr_array around arrays that a kernel filled sorted and free of
    duplicates."""
    matrix = sparse.csr_array((data, indices, indptr), shape=shape, copy=False)
    # Sorted and free of duplicates by construction: say so, instead of
    # letting SciPy find out by a scan.
    matrix.has_canonical_format = True
    return matrix
