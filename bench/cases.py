"""The measured operations of pwpoly and the baselines they are compared with.

Each case pairs one pwpoly statement with one baseline statement. Both are
plain Python statements run against the names that the case's `setup` returns
(bound as local variables of the timing loop), so `run.py` can time them
side by side and `callgrind_calls.py` can run either one under valgrind.
"""

from __future__ import annotations

import array
import math
import random
import time
import timeit
from dataclasses import dataclass
from typing import Callable

import pwpoly

N = 100_000
"""Entries where a size is needed: coefficients, table entries, nodes."""

DEGREE = 3
T = 1.0
TIME = 0.4321
"""An ordinary time inside the span, away from interval ends."""

N_T_COEFFICIENTS = N // (DEGREE + 1)  # 25000 intervals: N coefficients
N_T_NODES = (N - 1) // DEGREE  # 33333 intervals: N Lagrange nodes
LOOP_TIMES = 10_000
"""Times per pass in the rows that evaluate at many times."""

MEMORY_N_T = 250_000  # degree 3: 4 million triplets
MEMORY_TARGET_BYTES_PER_TRIPLET = 64.0

CALL_FLOOR = ("math.copysign(t, 1.0)", "math.copysign(t, 1.0)")
SUM_FLOOR = ("sum(lst)", "sum(lst)")
FLOAT_LIST_FLOOR = ("array('d').tolist()", "doubles.tolist()")


@dataclass
class Case:
    key: str
    """Short name used to select the case on the command line."""
    operation: str
    """What the pwpoly column measures, as shown in the table."""
    stmt: str
    baseline: str
    """What the baseline column measures, as shown in the table."""
    baseline_stmt: str
    setup: Callable[[], dict]
    target: float | None = None
    """Largest acceptable ratio pwpoly / baseline; None for rows kept for the record."""
    per: int = 1
    """Items one statement handles; times are reported per item when above 1."""
    item: str = "call"
    unroll: int = 1
    """Copies of the statement per loop iteration, to make the loop's own cost small."""
    needs: tuple = ()
    """Modules the case needs besides pwpoly (peers)."""


def timer_for(stmt: str, namespace: dict, unroll: int, clock=time.perf_counter) -> timeit.Timer:
    """A timer whose loop body is `unroll` copies of `stmt`, with the names of
    `namespace` bound as local variables of the timing function."""
    body = "\n".join([stmt] * unroll)
    setup = "\n".join(f"{name} = _namespace[{name!r}]" for name in namespace) or "pass"
    return timeit.Timer(body, setup=setup, timer=clock, globals={"_namespace": namespace})


def exact_floats(count: int, seed: int = 2024) -> list:
    """`count` Python floats (exactly `float`, never int) in [-1, 1]."""
    rng = random.Random(seed)
    return [rng.uniform(-1.0, 1.0) for _ in range(count)]


def evaluator_with_coefficients() -> pwpoly.LegendreBasisEvaluator:
    evaluator = pwpoly.LegendreBasisEvaluator(DEGREE, N_T_COEFFICIENTS, T)
    evaluator.set_dofs(exact_floats(N))
    return evaluator


def call_setup() -> dict:
    return {"evaluator": evaluator_with_coefficients(), "t": TIME, "math": math}


def list_setup() -> dict:
    return {
        "basis": pwpoly.LegendreBasis(DEGREE, N_T_COEFFICIENTS, T),
        "evaluator": pwpoly.LegendreBasisEvaluator(DEGREE, N_T_COEFFICIENTS, T),
        "t": TIME,
        "lst": exact_floats(N),
    }


def table_setup() -> dict:
    return {
        "basis": pwpoly.LegendreBasis(DEGREE, N_T_COEFFICIENTS, T),
        "t": TIME,
        "doubles": array.array("d", exact_floats(N)),
    }


def nodes_setup() -> dict:
    return {
        "get_lagrange_points": pwpoly.get_lagrange_points,
        "degree": DEGREE,
        "n_t": N_T_NODES,
        "T": T,
        "doubles": array.array("d", exact_floats(N_T_NODES * DEGREE + 1)),
    }


def transformation_setup() -> dict:
    rows, columns, values = pwpoly.lagrange_to_legendre_basis_transformation(
        DEGREE, N_T_COEFFICIENTS
    )
    return {
        "transformation": pwpoly.lagrange_to_legendre_basis_transformation,
        "degree": DEGREE,
        "n_t": N_T_COEFFICIENTS,
        "row_array": array.array("q", rows),
        "column_array": array.array("q", columns),
        "value_array": array.array("d", values),
    }


def sum_as_string_setup() -> dict:
    return {"sum_as_string": pwpoly.sum_as_string, "t": TIME, "math": math}


def legval_setup() -> dict:
    import numpy
    from numpy.polynomial.legendre import legval

    namespace = call_setup()
    namespace["legval"] = legval
    namespace["xi"] = -0.3
    namespace["coefficients"] = numpy.array(exact_floats(DEGREE + 1, seed=7))
    return namespace


def ppoly(n_t: int):
    """A scipy piecewise cubic on the same grid as the pwpoly cases."""
    import numpy
    from scipy.interpolate import PPoly

    rng = numpy.random.default_rng(7)
    coefficients = rng.uniform(-1.0, 1.0, size=(DEGREE + 1, n_t))
    return PPoly(coefficients, numpy.linspace(0.0, T, n_t + 1))


def ppoly_scalar_setup() -> dict:
    namespace = call_setup()
    namespace["piecewise"] = ppoly(N_T_COEFFICIENTS)
    return namespace


def ppoly_array_setup() -> dict:
    import numpy

    rng = random.Random(11)
    times = [rng.uniform(0.0, T) for _ in range(LOOP_TIMES)]
    return {
        "evaluate_at": evaluator_with_coefficients().evaluate_at,
        "times": times,
        "time_array": numpy.array(times),
        "piecewise": ppoly(N_T_COEFFICIENTS),
    }


BUFFER_SIZES = (N, 10 * N)
"""Coefficient counts of the buffer rows: the usual N, and ten times as many."""


def buffer_setup(size: int, kind: str) -> dict:
    """A grid of `size` coefficients and those coefficients held as `kind`: one
    of "float64", "float32", "int64" (NumPy arrays) or "array" (array('d'))."""
    import numpy

    n_t = size // (DEGREE + 1)
    values = numpy.random.default_rng(2024).uniform(-1.0, 1.0, size)
    buffers = {
        "float64": values,
        "float32": values.astype(numpy.float32),
        "int64": (values * 2.0**62).astype(numpy.int64),
        "array": array.array("d", values.tobytes()),
    }
    evaluator = pwpoly.LegendreBasisEvaluator(DEGREE, n_t, T)
    evaluator.set_dofs(values)
    return {
        "basis": pwpoly.LegendreBasis(DEGREE, n_t, T),
        "evaluator": evaluator,
        "t": TIME,
        "buffer": buffers[kind],
        "values": values,
        "float64": numpy.float64,
    }


def buffer_cases() -> list:
    """set_dofs and LegendreBasis.evaluate_at on NumPy arrays and array('d'),
    at two sizes, each beside the NumPy operation that touches the same data."""
    rows = []
    for size in BUFFER_SIZES:
        n_t = size // (DEGREE + 1)
        evaluator = f"LegendreBasisEvaluator({DEGREE}, {n_t}, T)"
        for kind, label, baseline, baseline_stmt in (
            ("float64", "ndarray float64", "ndarray.copy()", "values.copy()"),
            ("array", "array('d')", "ndarray.copy()", "values.copy()"),
            ("float32", "ndarray float32", "ndarray.astype(float64)", "buffer.astype(float64)"),
            ("int64", "ndarray int64", "ndarray.astype(float64)", "buffer.astype(float64)"),
        ):
            rows.append(
                Case(
                    key=f"buffer.set_dofs.{kind}.{size}",
                    operation=f"`{evaluator}.set_dofs(buffer)`, {label}, {size} items",
                    stmt="evaluator.set_dofs(buffer)",
                    baseline=f"`{baseline}`, {label}, {size} items",
                    baseline_stmt=baseline_stmt,
                    setup=lambda size=size, kind=kind: buffer_setup(size, kind),
                    target=1.5,
                    needs=("numpy",),
                )
            )
        rows.append(
            Case(
                key=f"buffer.basis.evaluate_at.float64.{size}",
                operation=(
                    f"`LegendreBasis({DEGREE}, {n_t}, T).evaluate_at(t, buffer)`, "
                    f"ndarray float64, {size} items"
                ),
                stmt="basis.evaluate_at(t, buffer)",
                baseline=f"`{evaluator}.evaluate_at(t)`",
                baseline_stmt="evaluator.evaluate_at(t)",
                setup=lambda size=size: buffer_setup(size, "float64"),
                target=4.0,
                unroll=20,
                needs=("numpy",),
            )
        )
    return rows


def all_cases() -> list:
    evaluator = f"LegendreBasisEvaluator({DEGREE}, {N_T_COEFFICIENTS}, T)"
    basis = f"LegendreBasis({DEGREE}, {N_T_COEFFICIENTS}, T)"
    call_floor, call_floor_stmt = CALL_FLOOR
    sum_floor, sum_floor_stmt = SUM_FLOOR
    list_floor, list_floor_stmt = FLOAT_LIST_FLOOR
    nodes = N_T_NODES * DEGREE + 1
    triplets = (DEGREE + 1) ** 2 * N_T_COEFFICIENTS
    from companion_cases import companion_cases

    return [
        *companion_cases(),
        Case(
            key="evaluator.evaluate_at",
            operation=f"`{evaluator}.evaluate_at(t)`",
            stmt="evaluator.evaluate_at(t)",
            baseline=f"`{call_floor}`",
            baseline_stmt=call_floor_stmt,
            setup=call_setup,
            target=1.3,
            unroll=20,
        ),
        Case(
            key="evaluator.evaluate_derivative_at",
            operation=f"`{evaluator}.evaluate_derivative_at(t)`",
            stmt="evaluator.evaluate_derivative_at(t)",
            baseline=f"`{call_floor}`",
            baseline_stmt=call_floor_stmt,
            setup=call_setup,
            target=1.3,
            unroll=20,
        ),
        Case(
            key="basis.evaluate_at",
            operation=f"`{basis}.evaluate_at(t, lst)`, {N} floats",
            stmt="basis.evaluate_at(t, lst)",
            baseline=f"`{sum_floor}`, {N} floats",
            baseline_stmt=sum_floor_stmt,
            setup=list_setup,
            target=1.5,
        ),
        Case(
            key="evaluator.set_dofs",
            operation=f"`{evaluator}.set_dofs(lst)`, {N} floats",
            stmt="evaluator.set_dofs(lst)",
            baseline=f"`{sum_floor}`, {N} floats",
            baseline_stmt=sum_floor_stmt,
            setup=list_setup,
            target=1.5,
        ),
        Case(
            key="basis.evaluate_all_basis_functions",
            operation=f"`{basis}.evaluate_all_basis_functions(t)`, {N} entries",
            stmt="basis.evaluate_all_basis_functions(t)",
            baseline=f"`{list_floor}`, {N} floats",
            baseline_stmt=list_floor_stmt,
            setup=table_setup,
            target=0.3,
        ),
        Case(
            key="basis.evaluate_all_basis_function_derivatives",
            operation=f"`{basis}.evaluate_all_basis_function_derivatives(t)`, {N} entries",
            stmt="basis.evaluate_all_basis_function_derivatives(t)",
            baseline=f"`{list_floor}`, {N} floats",
            baseline_stmt=list_floor_stmt,
            setup=table_setup,
            target=0.3,
        ),
        Case(
            key="get_lagrange_points",
            operation=f"`get_lagrange_points({DEGREE}, {N_T_NODES}, T)`, {nodes} nodes",
            stmt="get_lagrange_points(degree, n_t, T)",
            baseline=f"`{list_floor}`, {nodes} floats",
            baseline_stmt=list_floor_stmt,
            setup=nodes_setup,
            target=1.1,
            per=nodes,
            item="element",
        ),
        Case(
            key="lagrange_to_legendre_basis_transformation",
            operation=(
                f"`lagrange_to_legendre_basis_transformation({DEGREE}, {N_T_COEFFICIENTS})`, "
                f"{triplets} triplets"
            ),
            stmt="transformation(degree, n_t)",
            baseline="`.tolist()` of array('q') rows, array('q') cols, array('d') values",
            baseline_stmt="(row_array.tolist(), column_array.tolist(), value_array.tolist())",
            setup=transformation_setup,
            target=0.4,
        ),
        Case(
            key="sum_as_string",
            operation="`sum_as_string(2, 3)`",
            stmt="sum_as_string(2, 3)",
            baseline=f"`{call_floor}`",
            baseline_stmt=call_floor_stmt,
            setup=sum_as_string_setup,
            unroll=20,
        ),
        Case(
            key="peer.legval",
            operation="`evaluator.evaluate_at(t)` (locates the interval, degree 3)",
            stmt="evaluator.evaluate_at(t)",
            baseline="numpy `legval(xi, c)`, one interval's 4 coefficients, scalar",
            baseline_stmt="legval(xi, coefficients)",
            setup=legval_setup,
            unroll=20,
            needs=("numpy",),
        ),
        Case(
            key="peer.ppoly_scalar",
            operation="`evaluator.evaluate_at(t)`",
            stmt="evaluator.evaluate_at(t)",
            baseline=f"scipy `PPoly(t)`, cubic on {N_T_COEFFICIENTS} intervals, scalar",
            baseline_stmt="piecewise(t)",
            setup=ppoly_scalar_setup,
            unroll=20,
            needs=("numpy", "scipy"),
        ),
        Case(
            key="peer.ppoly_array",
            operation=f"`[evaluator.evaluate_at(t) for t in times]`, {LOOP_TIMES} times",
            stmt="[evaluate_at(t) for t in times]",
            baseline=f"scipy `PPoly(times)`, array of {LOOP_TIMES} times",
            baseline_stmt="piecewise(time_array)",
            setup=ppoly_array_setup,
            per=LOOP_TIMES,
            item="point",
            needs=("numpy", "scipy"),
        ),
        *buffer_cases(),
    ]
