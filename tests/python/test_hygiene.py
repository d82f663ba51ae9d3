"""Memory hygiene: every entry, on success and on each failure path, gives
back what it takes: the references to its arguments, the Python objects it
creates and the native buffers behind instances and conversions."""

import array
import gc
import os
import sys

import pytest
from caller_objects import (
    CallerError,
    FailingSequence,
    LyingSequence,
    Number,
    PanicException,
    Raising,
    Unprintable,
    with_receiver,
)
from conftest import SANITIZED, run_python

import pwpoly

B = pwpoly.LegendreBasis
E = pwpoly.LegendreBasisEvaluator
MAX = 4294967295
DOFS = [float(i) for i in range(1, 10)]
# Free of the interpreter's small-int and float caches, so that their
# reference counts say what the module does with them.
BIG = 10**6 + 1
DEGREE_TWO = Number(2)
# Under PYTHONMALLOC=malloc (the sanitized run) the interpreter counts no
# blocks; LeakSanitizer watches that run instead.
BLOCKS_COUNTED = sys.getallocatedblocks() > 0
needs_blocks = pytest.mark.skipif(not BLOCKS_COUNTED, reason="allocated blocks are not counted")
# AddressSanitizer keeps freed memory in quarantine, so resident memory says
# nothing there; LeakSanitizer checks that run.
needs_plain_memory = pytest.mark.skipif(SANITIZED, reason="resident memory under AddressSanitizer")

basis = B(2, 3, 3.0)
evaluator = E(2, 3, 3.0)
evaluator.set_dofs(DOFS)
no_intervals = E(2, 0, 1.0)


def reenter(call):
    return Number(1.0, call)


# (expected outcome, function, positional arguments, keyword arguments): one
# entry per path through the binding, the conversions, the holds, the
# operations and the failure mapping.
PATHS = {
    "sum_as_string": (str, pwpoly.sum_as_string, (BIG, BIG), {}),
    "sum_as_string keywords": (str, pwpoly.sum_as_string, (), {"b": BIG, "a": BIG}),
    "sum_as_string too many": (TypeError, pwpoly.sum_as_string, (1, 2, 3), {"c": 4}),
    "sum_as_string unexpected keyword": (TypeError, pwpoly.sum_as_string, (1,), {"c": BIG}),
    "sum_as_string surrogate keyword": (TypeError, pwpoly.sum_as_string, (1, 2), {"\udcff": 1}),
    "sum_as_string unprintable keyword": (
        TypeError,
        pwpoly.sum_as_string,
        (1, 2),
        {Unprintable("x"): 1},
    ),
    "sum_as_string multiple values": (TypeError, pwpoly.sum_as_string, (BIG,), {"a": BIG}),
    "sum_as_string missing": (TypeError, pwpoly.sum_as_string, (), {}),
    "sum_as_string float": (TypeError, pwpoly.sum_as_string, (1.5, BIG), {}),
    "sum_as_string negative": (OverflowError, pwpoly.sum_as_string, (-BIG, BIG), {}),
    "sum_as_string 2**32": (OverflowError, pwpoly.sum_as_string, (BIG, 2**32), {}),
    "sum_as_string 2**64": (OverflowError, pwpoly.sum_as_string, (2**64, BIG), {}),
    "sum_as_string __index__": (str, pwpoly.sum_as_string, (Number(BIG), BIG), {}),
    "sum_as_string caller error": (
        CallerError,
        pwpoly.sum_as_string,
        (Raising(CallerError), 1),
        {},
    ),
    "sum_as_string caller TypeError": (
        TypeError,
        pwpoly.sum_as_string,
        (Raising(TypeError), 1),
        {},
    ),
    "sum_as_string caller panic": (
        PanicException,
        pwpoly.sum_as_string,
        (1, Raising(PanicException)),
        {},
    ),
    "transformation": (tuple, pwpoly.lagrange_to_legendre_basis_transformation, (2, 3), {}),
    "transformation degree 0": (
        PanicException,
        pwpoly.lagrange_to_legendre_basis_transformation,
        (0, 3),
        {},
    ),
    "transformation capacity overflow": (
        PanicException,
        pwpoly.lagrange_to_legendre_basis_transformation,
        (MAX, 0),
        {},
    ),
    "transformation str": (
        TypeError,
        pwpoly.lagrange_to_legendre_basis_transformation,
        (2, "3"),
        {},
    ),
    "lagrange points": (list, pwpoly.get_lagrange_points, (2, 3, 1.5), {}),
    "lagrange points keywords": (
        list,
        pwpoly.get_lagrange_points,
        (),
        {"T": 1.5, "n_t": 3, "degree": 2},
    ),
    "lagrange points capacity overflow": (
        PanicException,
        pwpoly.get_lagrange_points,
        (MAX, 1, 1.0),
        {},
    ),
    "lagrange points huge int T": (OverflowError, pwpoly.get_lagrange_points, (2, 3, 10**400), {}),
    "lagrange points str T": (TypeError, pwpoly.get_lagrange_points, (2, 3, "1.0"), {}),
    "LegendreBasis": (B, B, (2, 3, 3.0), {}),
    "LegendreBasis keywords": (B, B, (), {"degree": 2, "n_t": 3, "T": 3.0}),
    "LegendreBasis multiple values": (TypeError, B, (2, 3, 3.0), {"degree": 2}),
    "LegendreBasis missing": (TypeError, B, (2,), {}),
    "LegendreBasis negative": (OverflowError, B, (-1, 3, 3.0), {}),
    "LegendreBasis caller error": (CallerError, B, (2, 3, Raising(CallerError)), {}),
    "evaluate_at": (float, basis.evaluate_at, (1.25, DOFS), {}),
    "evaluate_at tuple": (float, basis.evaluate_at, (1.25, tuple(DOFS)), {}),
    "evaluate_at array": (float, basis.evaluate_at, (1.25, array.array("d", DOFS)), {}),
    "evaluate_at range": (float, basis.evaluate_at, (1.25, range(BIG, BIG + 9)), {}),
    "evaluate_at lying length": (float, basis.evaluate_at, (1.25, LyingSequence(DOFS, 10**9)), {}),
    "evaluate_at failing length": (
        float,
        basis.evaluate_at,
        (1.25, LyingSequence(DOFS, CallerError)),
        {},
    ),
    "evaluate_at too short": (PanicException, basis.evaluate_at, (1.25, DOFS[:8]), {}),
    "evaluate_at str": (TypeError, basis.evaluate_at, (1.25, "123"), {}),
    "evaluate_at not a sequence": (TypeError, basis.evaluate_at, (1.25, {1.0: 2.0}), {}),
    "evaluate_at bad item": (TypeError, basis.evaluate_at, (1.25, [*DOFS[:4], "x", *DOFS]), {}),
    "evaluate_at failing item": (
        CallerError,
        basis.evaluate_at,
        (1.25, FailingSequence(DOFS, 4, CallerError)),
        {},
    ),
    "evaluate_at failing iterator": (
        CallerError,
        basis.evaluate_at,
        (1.25, Raising(CallerError)),
        {},
    ),
    "evaluate_at receiver": (
        TypeError,
        with_receiver(B.evaluate_at, evaluator),
        (1.25, DOFS),
        {},
    ),
    "evaluate_at no intervals": (PanicException, B(2, 0, 1.0).evaluate_at, (1.25, DOFS), {}),
    "basis functions": (list, basis.evaluate_all_basis_functions, (1.25,), {}),
    "basis functions str": (TypeError, basis.evaluate_all_basis_functions, ("1.25",), {}),
    "basis functions capacity overflow": (
        PanicException,
        B(0, 268435456, 1.0).evaluate_all_basis_functions,
        (0.5,),
        {},
    ),
    "basis functions receiver": (
        TypeError,
        with_receiver(B.evaluate_all_basis_functions, 5),
        (1.25,),
        {},
    ),
    "basis derivatives": (list, basis.evaluate_all_basis_function_derivatives, (), {"t": 1.25}),
    "basis derivatives missing": (TypeError, basis.evaluate_all_basis_function_derivatives, (), {}),
    "basis derivatives no intervals": (
        PanicException,
        B(2, 0, 1.0).evaluate_all_basis_function_derivatives,
        (0.5,),
        {},
    ),
    "basis derivatives receiver": (
        TypeError,
        with_receiver(B.evaluate_all_basis_function_derivatives, None),
        (1.25,),
        {},
    ),
    "LegendreBasisEvaluator": (E, E, (DEGREE_TWO, 3, 3.0), {}),
    "LegendreBasisEvaluator capacity overflow": (PanicException, E, (MAX, MAX, 1.0), {}),
    "LegendreBasisEvaluator str": (TypeError, E, (2, 3, "3.0"), {}),
    "set_dofs": (type(None), evaluator.set_dofs, (DOFS,), {}),
    "set_dofs wrong length": (PanicException, evaluator.set_dofs, ([*DOFS, 1.0],), {}),
    "set_dofs bad item": (TypeError, evaluator.set_dofs, ([*DOFS[:8], "x"],), {}),
    "set_dofs generator": (TypeError, evaluator.set_dofs, ((x for x in ()),), {}),
    "set_dofs failing item": (
        CallerError,
        evaluator.set_dofs,
        (FailingSequence(DOFS, 8, CallerError),),
        {},
    ),
    "set_dofs caller panic": (
        PanicException,
        evaluator.set_dofs,
        ([*DOFS[:8], Raising(PanicException)],),
        {},
    ),
    "set_dofs held": (
        RuntimeError,
        evaluator.set_dofs,
        ([*DOFS[:8], reenter(lambda: evaluator.evaluate_at(1.25))],),
        {},
    ),
    "set_dofs receiver": (TypeError, with_receiver(E.set_dofs, basis), (DOFS,), {}),
    "evaluator evaluate_at": (float, evaluator.evaluate_at, (1.25,), {}),
    "evaluator evaluate_at nested": (
        float,
        evaluator.evaluate_at,
        (reenter(lambda: evaluator.evaluate_at(0.5)),),
        {},
    ),
    "evaluator evaluate_at held": (
        RuntimeError,
        evaluator.evaluate_at,
        (reenter(lambda: evaluator.set_dofs(DOFS)),),
        {},
    ),
    "evaluator evaluate_at no intervals": (PanicException, no_intervals.evaluate_at, (0.5,), {}),
    "evaluator evaluate_at receiver": (TypeError, with_receiver(E.evaluate_at, basis), (1.25,), {}),
    "evaluate_derivative_at": (float, evaluator.evaluate_derivative_at, (1.25,), {}),
    "evaluate_derivative_at too many": (
        TypeError,
        evaluator.evaluate_derivative_at,
        (1.25, 1.25),
        {},
    ),
    "evaluate_derivative_at caller error": (
        CallerError,
        evaluator.evaluate_derivative_at,
        (Raising(CallerError),),
        {},
    ),
    "evaluate_derivative_at no intervals": (
        PanicException,
        no_intervals.evaluate_derivative_at,
        (0.5,),
        {},
    ),
    "evaluate_derivative_at receiver": (
        TypeError,
        with_receiver(E.evaluate_derivative_at, 1.0),
        (1.25,),
        {},
    ),
}


def call_repeatedly(path, times):
    expected, function, args, kwargs = path
    if isinstance(expected, type) and issubclass(expected, BaseException):
        for _ in range(times):
            try:
                function(*args, **kwargs)
            except expected:
                pass
    else:
        for _ in range(times):
            function(*args, **kwargs)


def arguments_of(path):
    _, _, args, kwargs = path
    objects = [*args, *kwargs, *kwargs.values()]
    for value in list(objects):
        if isinstance(value, (list, tuple)):
            objects.extend(value)
    return objects


def owned_by_the_path(value):
    """False for the interpreter's shared objects (small ints, keyword names,
    static objects), whose counts everything changes."""
    if type(value) is int and -5 <= value <= 256 or type(value) in (str, bool, type(None)):
        return False
    return sys.getrefcount(value) < 10**8


ROUNDS = 5
# Rounds taken at most when the first ones all grew: the caches of paths that
# print tracebacks can fill in steps long after they seemed settled.
MAX_ROUNDS = 15


def steady_growth(counts):
    """A leak of one object or reference in every few hundred calls grows
    every round of a thousand calls; the interpreter's caches and free lists
    settle (after tracebacks were printed, only after thousands of calls on
    CPython 3.12 and later), leaving rounds that grow by nothing. The growth
    of each round when none grew by at most 2, else None."""
    growth = [after - before for before, after in zip(counts, counts[1:])]
    return None if min(growth) <= 2 else growth


# At most this many rounds of a thousand calls before the counts are taken.
SETTLING_ROUNDS = 30


def settle(path):
    """Calls the path until a round of a thousand calls allocates no more
    than a new round of the counts tolerates: at once on most paths; on those
    that print tracebacks, the interpreter's caches fill for thousands of
    calls (some five thousand on CPython 3.14, over ten thousand on 3.15).
    A path that keeps leaking never settles and fails the counts that
    follow."""
    call_repeatedly(path, 500)
    for _ in range(SETTLING_ROUNDS):
        gc.collect()
        before = sys.getallocatedblocks()
        call_repeatedly(path, 1000)
        gc.collect()
        if sys.getallocatedblocks() - before <= 2:
            return


def total_references():
    return sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else 0


def references_to(objects):
    return [sys.getrefcount(value) for value in objects]


@pytest.fixture(autouse=True)
def quiet_unraisable(monkeypatch):
    """Unprintable keyword names are reported as unraisable: count nothing."""
    monkeypatch.setattr(sys, "unraisablehook", lambda unraisable: None)


@pytest.mark.parametrize("name", sorted(PATHS))
def test_every_path_gives_back_what_it_takes(name, capfd):
    path = PATHS[name]
    expected, function, args, kwargs = path
    try:
        outcome = function(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - the path taken is what is checked
        outcome = error
    assert isinstance(outcome, expected), outcome
    del outcome

    settle(path)  # caches, free lists, interned texts, and what earlier tests left behind
    arguments = [value for value in arguments_of(path) if owned_by_the_path(value)]
    references = references_to(arguments)
    # Preallocated, so that taking the counts allocates nothing.
    blocks = array.array("q", [0] * MAX_ROUNDS)
    totals = array.array("q", [0] * MAX_ROUNDS)
    for i in range(MAX_ROUNDS):
        call_repeatedly(path, 1000)
        gc.collect()
        blocks[i] = sys.getallocatedblocks()
        totals[i] = total_references()
        taken = i + 1
        if taken >= ROUNDS and not (steady_growth(blocks[:taken]) or steady_growth(totals[:taken])):
            break
    capfd.readouterr()  # thousands of failure reports
    assert references_to(arguments) == references
    assert steady_growth(blocks[:taken]) is None, steady_growth(blocks[:taken])
    assert steady_growth(totals[:taken]) is None, steady_growth(totals[:taken])
    evaluator.set_dofs(DOFS)
    assert evaluator.evaluate_at(1.25) == -1.5


@needs_blocks
@pytest.mark.parametrize("cls", [B, E])
def test_instances_are_freed(cls):
    gc.collect()
    before = sys.getallocatedblocks()
    instances = [cls(2, 3, 3.0) for _ in range(1000)]
    assert sys.getallocatedblocks() - before >= 1000
    del instances
    gc.collect()
    assert sys.getallocatedblocks() - before <= 2


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


LONG = [float(i) for i in range(100_000)]
big_basis = B(0, 100_000, 1.0)
big_evaluator = E(0, 100_000, 1.0)

# Calls that convert, allocate or return vectors of 10**5 floats (800 kB), so
# that losing any one of them shows in resident memory.
HEAVY = {
    "evaluate_at": lambda: big_basis.evaluate_at(0.5, LONG),
    "evaluate_at range": lambda: big_basis.evaluate_at(0.5, range(100_000)),
    "evaluate_at too short": lambda: big_basis.evaluate_at(0.5, LONG[1:]),
    "basis functions": lambda: big_basis.evaluate_all_basis_functions(0.5),
    "set_dofs": lambda: big_evaluator.set_dofs(LONG),
    "set_dofs array": lambda: big_evaluator.set_dofs(array.array("d", LONG)),
    "set_dofs wrong length": lambda: big_evaluator.set_dofs(LONG[1:]),
    "set_dofs bad last item": lambda: big_evaluator.set_dofs([*LONG[1:], "x"]),
    "set_dofs caller error": lambda: big_evaluator.set_dofs(
        FailingSequence(LONG, 99_999, CallerError)
    ),
    "LegendreBasisEvaluator": lambda: E(0, 100_000, 1.0),
    "lagrange points": lambda: pwpoly.get_lagrange_points(1, 100_000, 1.0),
    "transformation": lambda: pwpoly.lagrange_to_legendre_basis_transformation(1, 25_000),
}


@needs_plain_memory
def test_resident_memory_does_not_grow():
    def run_all(times):
        for call in HEAVY.values():
            for _ in range(times):
                try:
                    call()
                except (PanicException, TypeError, CallerError):
                    pass

    run_all(20)
    before = resident_bytes()
    run_all(100)
    # Losing one vector per call would add 80 MB per path.
    assert resident_bytes() - before < 16 << 20


@needs_plain_memory
def test_a_deleted_evaluator_returns_its_coefficients():
    result = run_python(
        """
        import array, os, pwpoly
        def resident():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        start = resident()
        evaluator = pwpoly.LegendreBasisEvaluator(0, 1 << 24, 1.0)
        alive = resident()
        values = array.array("d", bytes(8 << 24))
        evaluator.set_dofs(values)
        replaced = resident()
        del values, evaluator
        print(start, alive, replaced, resident())
        """
    )
    assert result.returncode == 0, result.stderr
    start, alive, replaced, end = (int(word) for word in result.stdout.split())
    mib = 1 << 20
    assert alive - start > 100 * mib  # 128 MiB of zeros
    assert replaced - start < 300 * mib  # the old coefficients went; the array stays
    assert end - start < 16 * mib


@needs_plain_memory
def test_refused_memory_is_given_back():
    result = run_python(
        """
        import gc, os, sys, pwpoly
        def resident():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        def refuse(times):
            for _ in range(times):
                try:
                    pwpoly.LegendreBasisEvaluator(0, 268435455, 1.0)  # 2 GiB
                except MemoryError:
                    pass
        refuse(200)
        memory = resident()
        blocks = []
        for _ in range(5):
            refuse(500)
            gc.collect()
            blocks.append(sys.getallocatedblocks())
        print(resident() - memory, *blocks)
        """,
        memory_limit=1 << 30,
    )
    assert result.returncode == 0, result.stderr
    memory, *blocks = (int(word) for word in result.stdout.split())
    assert memory < 4 << 20
    assert steady_growth(blocks) is None, blocks
