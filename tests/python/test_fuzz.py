"""Fuzzing every entry with arguments of random types, by position and by
keyword: each call returns a value of its documented type or raises one of
the documented exceptions, and never leaves an instance held."""

import array
import math
import os
import random
import re
import struct
import sys

import pytest
from caller_objects import (
    CALLER_ERROR,
    CALLER_PANIC,
    CallerError,
    CallerTypeError,
    FailingSequence,
    LyingSequence,
    NonIteratorSequence,
    Number,
    PanicException,
    Raising,
    Unprintable,
    WrongType,
    with_receiver,
)
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import pwpoly

B = pwpoly.LegendreBasis
E = pwpoly.LegendreBasisEvaluator
MAX = 4294967295
DOFS = [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0]
BOUNDARY_INTS = [0, 1, 2, 3, 255, 256, 2**31 - 1, 2**31, MAX, 2**32, 2**63 - 1, 2**63]
BOUNDARY_INTS += [2**64 - 1, 2**64, 10**400, -1, -(2**63), -(2**64), 268435455, 268435456]
# Calls whose vectors would exceed this many elements, but stay within the
# size limit (fewer than OVER_THE_LIMIT floats), are not made: they would
# only be slow.
AFFORDABLE = 100_000
OVER_THE_LIMIT = 2**31 // 8

# The instances that a caller's conversion method may call back into.
TARGETS = {}


class Reenter:
    """A callback into one of the TARGETS; a borrow error is kept or raised on."""

    def __init__(self, target, method, swallow):
        self.target, self.method, self.swallow = target, method, swallow

    def __call__(self):
        instance = TARGETS[self.target]
        args = (0.5, DOFS) if self.target == "basis" and self.method == "evaluate_at" else (0.5,)
        if self.method == "set_dofs":
            args = (DOFS,)
        try:
            getattr(instance, self.method)(*args)
        except RuntimeError:
            if not self.swallow:
                raise

    def __repr__(self):
        return f"Reenter({self.target!r}, {self.method!r}, {self.swallow})"


REENTRIES = [
    Reenter(target, method, swallow)
    for target, methods in [
        ("basis", ["evaluate_at", "evaluate_all_basis_functions"]),
        ("evaluator", ["set_dofs", "evaluate_at", "evaluate_derivative_at"]),
    ]
    for method in methods
    for swallow in (False, True)
]


def is_float_list(result):
    return type(result) is list and all(type(x) is float for x in result)


def is_triplets(result):
    return (
        type(result) is tuple
        and len(result) == 3
        and all(type(part) is list and len(part) == len(result[0]) for part in result)
        and all(type(i) is int for part in result[:2] for i in part)
        and all(type(x) is float for x in result[2])
    )


# name, parameters, check of the result, the callable given the instances.
ENTRIES = [
    (
        "sum_as_string",
        "a b",
        lambda r: type(r) is str and r.isdigit(),
        lambda b, e: pwpoly.sum_as_string,
    ),
    (
        "lagrange_to_legendre_basis_transformation",
        "degree n_t",
        is_triplets,
        lambda b, e: pwpoly.lagrange_to_legendre_basis_transformation,
    ),
    ("get_lagrange_points", "degree n_t T", is_float_list, lambda b, e: pwpoly.get_lagrange_points),
    ("LegendreBasis.__new__", "degree n_t T", lambda r: type(r) is B, lambda b, e: B),
    ("LegendreBasisEvaluator.__new__", "degree n_t T", lambda r: type(r) is E, lambda b, e: E),
    (
        "LegendreBasis.evaluate_at",
        "t legendre_vals",
        lambda r: type(r) is float,
        lambda b, e: b.evaluate_at,
    ),
    (
        "LegendreBasis.evaluate_all_basis_functions",
        "t",
        is_float_list,
        lambda b, e: b.evaluate_all_basis_functions,
    ),
    (
        "LegendreBasis.evaluate_all_basis_function_derivatives",
        "t",
        is_float_list,
        lambda b, e: b.evaluate_all_basis_function_derivatives,
    ),
    (
        "LegendreBasisEvaluator.set_dofs",
        "legendre_vals",
        lambda r: r is None,
        lambda b, e: e.set_dofs,
    ),
    (
        "LegendreBasisEvaluator.evaluate_at",
        "t",
        lambda r: type(r) is float,
        lambda b, e: e.evaluate_at,
    ),
    (
        "LegendreBasisEvaluator.evaluate_derivative_at",
        "t",
        lambda r: type(r) is float,
        lambda b, e: e.evaluate_derivative_at,
    ),
]
NAMES = [entry[0] for entry in ENTRIES]
METHODS = [name for name in NAMES if "." in name and not name.endswith("__new__")]

PANIC_MESSAGES = [
    re.escape(CALLER_PANIC),
    re.escape("capacity overflow"),
    re.escape("Matrix view: input data buffer too small."),
    re.escape("Matrix slicing out of bounds."),
    re.escape("Lagrange to Legendre conversion not meaningful for degree 0"),
    re.escape("Failed to invert Vandermonde matrix for Lagrange to Legendre conversion."),
    re.escape(
        "assertion `left == right` failed: "
        "LegendreBasisEvaluator: set_dofs: input vector has wrong length\n"
    )
    + r"  left: \d+\n right: 9",
]
PANIC = re.compile("|".join(f"(?:{message})" for message in PANIC_MESSAGES))
BINDING = re.compile(
    r"(?P<name>[\w.]+)\(\) (takes \d+ positional arguments but \d+ (was|were) given"
    r"|got an unexpected keyword argument '.*'"
    r"|got multiple values for argument '(?P<multiple>\w+)'"
    r"|missing \d+ required positional arguments?: '\w+'.*)",
    re.S,
)
CONVERSION = re.compile(r"argument '(?P<parameter>\w+)': (?P<reason>.*)", re.S)
# The interpreter's OverflowError texts, and the module's own.
OVERFLOW = re.compile(r"out of range|too (large|big) to convert|negative int")
RECEIVER = re.compile(r"'[\w.]+' object cannot be cast as '(LegendreBasis|LegendreBasisEvaluator)'")


def size_of(value):
    """The unsigned integer that `value` converts to, if it is one that
    fits; None when the conversion fails, which allocates nothing."""
    if isinstance(value, Number):
        value = value.value
    if type(value) in (int, bool) and 0 <= value <= MAX:
        return int(value)
    return None


def affordable(name, params, args, kwargs):
    """False for the calls that would build vectors within the size limit
    but beyond AFFORDABLE elements (or invert a huge matrix)."""
    if name not in NAMES[1:3] and name != "LegendreBasisEvaluator.__new__":
        return True
    if len(args) > len(params) or not set(kwargs) <= set(params):
        return True  # refused by the binding
    bound = dict(zip(params, args))
    bound.update(kwargs)
    degree, n_t = size_of(bound.get("degree")), size_of(bound.get("n_t"))
    if degree is None or n_t is None:
        return True
    if name == "LegendreBasisEvaluator.__new__":
        counts = [n_t * (degree + 1)]
    elif name == "get_lagrange_points":
        if degree == MAX and n_t > 0:
            return True
        counts = [n_t * degree + 1, 2 * n_t]
    else:
        if degree == MAX:
            return True
        if degree > 64:
            return False
        counts = [(degree + 1) ** 2 * n_t]
    return any(count >= OVER_THE_LIMIT for count in counts) or all(
        count <= AFFORDABLE for count in counts
    )


def check_error(name, params, error):
    """The error is one of those documented for a call of `name`."""
    message = str(error)
    if isinstance(error, (CallerError, ValueError)):
        # Passed on unchanged, as raised.
        assert message == f"{type(error).__name__} {CALLER_ERROR}"
    elif type(error) is TypeError:
        if match := BINDING.fullmatch(message):
            assert match["name"] == name
            assert match["multiple"] in (None, *params)
        elif match := CONVERSION.fullmatch(message):
            assert match["parameter"] in params
            # Only an exact TypeError is wrapped.
            reason = match["reason"]
            assert not reason.endswith(CALLER_ERROR) or reason == f"TypeError {CALLER_ERROR}"
            assert not OVERFLOW.search(reason), reason
        else:
            assert RECEIVER.fullmatch(message), message
    elif type(error) is OverflowError:
        assert not message.startswith("argument ")
    elif type(error) is RuntimeError:
        assert message in ("Already borrowed", "Already mutably borrowed")
    elif type(error) is PanicException:
        assert len(error.args) == 1 and PANIC.fullmatch(error.args[0]), error.args
    else:
        assert type(error) is MemoryError, repr(error)


def fuzz_call(entry, args, kwargs, receiver=None):
    """Makes the call on fresh instances and checks its outcome, and that the
    instances are unchanged by a failure and free afterwards. Returns whether
    a call was made."""
    name, params, check_result, function_of = entry
    params = params.split()
    if not affordable(name, params, args, kwargs):
        return False
    basis, evaluator = B(2, 3, 3.0), E(2, 3, 3.0)
    evaluator.set_dofs(DOFS)
    TARGETS.update(basis=basis, evaluator=evaluator)
    function = function_of(basis, evaluator)
    if receiver is not None:
        cls, method = name.split(".")
        function = with_receiver(getattr(getattr(pwpoly, cls), method), receiver)
    try:
        result = function(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - every outcome is checked
        check_error(name, params, error)
        # A failed call changes nothing and leaves no hold behind.
        assert evaluator.evaluate_at(1.25) == -1.5
    else:
        assert receiver is None or isinstance(receiver, getattr(pwpoly, name.split(".")[0]))
        assert check_result(result), result
    evaluator.set_dofs(DOFS)
    assert evaluator.evaluate_at(1.25) == -1.5
    assert basis.evaluate_at(1.25, DOFS) == -1.5
    return True


# --- Hypothesis --------------------------------------------------------------

KINDS = {"a": "u", "b": "u", "degree": "u", "n_t": "u", "T": "f", "t": "f", "legendre_vals": "s"}
CALLER_ERRORS = [CallerError, CallerTypeError, TypeError, ValueError, PanicException]

texts = st.text(st.one_of(st.characters(), st.integers(0xD800, 0xDFFF).map(chr)), max_size=8)
reentries = st.none() | st.sampled_from(REENTRIES)
unsigned = st.one_of(
    st.integers(0, 12),
    st.sampled_from(BOUNDARY_INTS),
    st.booleans(),
    st.builds(Number, st.integers(0, 12), reentries),
)
reals = st.one_of(
    st.floats(), st.integers(-10, 10), st.builds(Number, st.floats(-100, 100), reentries)
)
scalars = st.one_of(
    unsigned,
    reals,
    st.integers(),
    texts,
    st.binary(max_size=12),
    st.none(),
    st.builds(WrongType),
    st.builds(Raising, st.sampled_from(CALLER_ERRORS)),
)


def containers(items):
    lists = st.lists(items, max_size=12)
    return st.one_of(
        lists,
        lists.map(tuple),
        st.builds(range, st.integers(-5, 12), st.integers(-5, 20)),
        st.lists(st.floats(), max_size=12).map(lambda values: array.array("d", values)),
        lists.map(lambda values: (value for value in values)),
        st.dictionaries(st.floats(allow_nan=False), items, max_size=4),
        st.builds(
            LyingSequence, lists, st.integers(-3, 10**6) | st.sampled_from([CallerError, "9"])
        ),
        st.builds(
            FailingSequence, lists, st.integers(0, 11), st.sampled_from([CallerError, TypeError])
        ),
        st.builds(NonIteratorSequence, lists, st.integers(0, 12)),
    )


values = st.recursive(scalars, containers, max_leaves=24)
# Values that a parameter of each kind accepts more often than not, so that
# calls get past the binding and the conversions into the operations.
PLAUSIBLE = {
    "u": unsigned,
    "f": reals,
    "s": st.one_of(containers(reals), st.lists(reals, min_size=8, max_size=10)),
}
keywords = st.one_of(
    st.sampled_from(list(KINDS)),
    texts,
    st.just(Unprintable("t")),
)


@st.composite
def calls(draw):
    entry = draw(st.sampled_from(ENTRIES))
    params = entry[1].split()
    count = draw(st.integers(0, len(params) + 1))
    args = [draw(PLAUSIBLE[KINDS[p]] | values) for p in params[:count]]
    args += draw(st.lists(values, max_size=count - len(args)))
    names = draw(st.lists(st.sampled_from(params) | keywords, max_size=3, unique=True))
    kwargs = {name: draw(PLAUSIBLE[KINDS.get(name, "s")] | values) for name in names}
    return entry, args, kwargs


@pytest.fixture(autouse=True)
def quiet_unraisable(monkeypatch):
    monkeypatch.setattr("sys.unraisablehook", lambda unraisable: None)


FUZZ_SETTINGS = settings(
    max_examples=500,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)


@FUZZ_SETTINGS
@given(calls())
def test_every_call_returns_its_type_or_raises_a_documented_error(call):
    entry, args, kwargs = call
    fuzz_call(entry, args, kwargs)


@FUZZ_SETTINGS
@given(
    st.sampled_from([entry for entry in ENTRIES if entry[0] in METHODS]),
    st.sampled_from([None, 5, 1.0, "x", B(2, 3, 3.0), E(2, 3, 3.0)]),
    st.data(),
)
def test_methods_check_their_receiver(entry, receiver, data):
    args = [data.draw(PLAUSIBLE[KINDS[p]]) for p in entry[1].split()]
    fuzz_call(entry, args, {}, receiver=receiver)


# --- Deterministic stress ----------------------------------------------------

SPECIAL_FLOATS = [0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, 1.7976931348623157e308, 1.25]


def random_float(rng):
    if rng.random() < 0.5:
        return rng.choice(SPECIAL_FLOATS)
    return struct.unpack("d", rng.getrandbits(64).to_bytes(8, "little"))[0]


def plausible_value(rng, kind):
    if kind == "u":
        return rng.choice((rng.randrange(13), rng.choice(BOUNDARY_INTS), True, Number(2)))
    if kind == "f":
        return rng.choice((random_float(rng), rng.randrange(-9, 9), Number(1.5)))
    items = [plausible_value(rng, "f") for _ in range(rng.choice((8, 9, 9, 9, 10)))]
    return rng.choice((items, tuple(items), array.array("d", map(float, items)), range(9)))


def random_value(rng, depth=0):
    kind = rng.randrange(16 if depth < 2 else 9)
    if kind == 0:
        return rng.choice(BOUNDARY_INTS) if rng.random() < 0.5 else rng.randrange(13)
    if kind == 1:
        return rng.getrandbits(rng.randrange(1, 90)) * rng.choice((1, -1))
    if kind == 2:
        return random_float(rng)
    if kind == 3:
        return rng.choice((True, False, None, b"\x01\x02", b""))
    if kind == 4:
        return "".join(
            chr(rng.choice((rng.randrange(0x110000), rng.randrange(0xD800, 0xE000))))
            for _ in range(rng.randrange(4))
        )
    if kind == 5:
        return rng.choice((WrongType(), Raising(rng.choice(CALLER_ERRORS))))
    if kind in (6, 7, 8):
        return Number(rng.randrange(13), rng.choice((None, *REENTRIES)))
    items = [random_value(rng, depth + 1) for _ in range(rng.choice((0, 1, 9, rng.randrange(12))))]
    if kind == 9:
        return tuple(items)
    if kind == 10:
        return range(rng.randrange(-3, 12))
    if kind == 11:
        return array.array("d", [random_float(rng) for _ in items])
    if kind == 12:
        return rng.choice(((x for x in items), {1.0: items}, set(range(len(items)))))
    if kind == 13:
        return LyingSequence(items, rng.choice((0, 3, 10**6, -1, CallerError)))
    if kind == 14:
        return FailingSequence(items, rng.randrange(12), rng.choice((CallerError, TypeError)))
    return items


def argument(rng, name):
    if name in KINDS and rng.random() < 0.7:
        return plausible_value(rng, KINDS[name])
    return random_value(rng)


def random_call(rng):
    entry = rng.choice(ENTRIES)
    params = entry[1].split()
    count = len(params) if rng.random() < 0.7 else rng.randrange(len(params) + 2)
    args = [argument(rng, name) for name in (params + ["extra"])[:count]]
    extras = ["c", "\udcff", Unprintable("t")]
    names = params[count:] if rng.random() < 0.8 else params + extras
    names = rng.sample(names, min(len(names), rng.randrange(3)))
    return entry, args, {name: argument(rng, name) for name in names}


def test_stress(capfd):
    """PWPOLY_STRESS_CALLS seeded random calls (10**5 in the sanitized run)."""
    count = int(os.environ.get("PWPOLY_STRESS_CALLS", "20000"))
    rng = random.Random(20240611)
    made = 0
    try:
        while made < count:
            entry, args, kwargs = random_call(rng)
            receiver = None
            if entry[0] in METHODS and rng.random() < 0.05:
                receiver = rng.choice((5, B(2, 3, 3.0), E(2, 3, 3.0)))
            made += fuzz_call(entry, args, kwargs, receiver)
    finally:
        # Thousands of failure reports: keep those of the last calls.
        sys.stderr.write(capfd.readouterr().err[-4000:])
