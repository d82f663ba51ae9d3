"""Buffers as coefficients: bytes, bytearray, memoryview, array.array and
NumPy arrays give, call for call, what the same items give as a list (result
bits, exception type and message, warnings, the state after a failure); the
kinds read item by item keep that road; a signal handler that changes the
object during a long conversion meets no held buffer."""

import array
import re
import struct
import sys
import tempfile
import warnings

import pwpoly
import pytest
from conftest import panic_type, run_python
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

PANIC = panic_type()
T = 3.0
TIMES = (-0.5, 0.0, 0.4, 1.25, 2.999, 3.0, 7.0)
CHUNK = 1 << 16  # items between two polls of a long buffer


def outcome(call, *args):
    """A call's result bits, or its exception's type and message, with its warnings."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = call(*args)
            seen = None if result is None else struct.pack("<d", result)
        except (Exception, PANIC) as error:
            seen = (type(error), str(error))
    return seen, [(w.category, str(w.message)) for w in caught]


def observe(sequence, degree, n_t):
    """Everything the calls show of `sequence` on one grid: set_dofs on an
    evaluator holding other coefficients, its evaluations after it, and
    LegendreBasis.evaluate_at."""
    basis = pwpoly.LegendreBasis(degree, n_t, T)
    evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs([0.5 + i for i in range(n_t * (degree + 1))])
    seen = [outcome(evaluator.set_dofs, sequence)]
    for t in TIMES:
        seen.append(outcome(evaluator.evaluate_at, t))
        seen.append(outcome(evaluator.evaluate_derivative_at, t))
        seen.append(outcome(basis.evaluate_at, t, sequence))
    return seen


def same_as_items(obj, degree, n_t):
    try:
        items = list(obj)
    except Exception as error:  # iteration fails: every call must fail the same way
        items = error
    seen = observe(obj, degree, n_t)
    if isinstance(items, Exception):
        prefix = "argument 'legendre_vals': " if type(items) is TypeError else ""
        expected = (type(items), prefix + str(items))
        assert all(result == expected for result, _ in seen[::3]), seen
    else:
        assert seen == observe(items, degree, n_t)


# Bit patterns worth meeting, per item width: signed zeros, infinities, quiet
# and signalling NaNs with payloads, subnormals, extremes; integers at and
# around 2**53 and the ends of every width (as two's complement, both signs).
FLOAT_BITS = {
    2: [0x0000, 0x8000, 0x7C00, 0xFC00, 0x7E00, 0x7E15, 0x7C01, 0xFD55, 0x0001, 0x83FF, 0x7BFF],
    4: [0x0, 0x80000000, 0x7F800000, 0xFF800000, 0x7FC00000, 0x7FC12345, 0x7F800001]
    + [0xFFA00005, 0x00000001, 0x807FFFFF, 0x7F7FFFFF],
    8: [0x0, 1 << 63, 0x7FF << 52, 0xFFF << 52, 0x7FF8 << 48, 0x7FF80000DEADBEEF]
    + [0x7FF0000000000001, 0xFFF4000000000123, 0x1, 0x800FFFFFFFFFFFFF, 0x7FEFFFFFFFFFFFFF],
}


def integer_bits(width):
    top = 1 << (8 * width)
    near = [2**53 + 1, 2**53 + 3, 2**63 + 1024, 2**63 + 1025, 2**64 - 1025, 2**64 - 2**53 - 1]
    return [0, 1, 2, top - 1, top // 2, top // 2 - 1] + [b % top for b in near]


def item_bits(kind, width):
    specials = {"f": FLOAT_BITS.get(width, []), "?": [0, 1, 2, 0x80, 0xFF]}.get(kind)
    pool = integer_bits(width) if specials is None else specials
    return st.one_of(st.sampled_from(pool), st.integers(0, (1 << (8 * width)) - 1))


def grids():
    return st.tuples(st.integers(0, 3), st.integers(0, 3))


@st.composite
def lengths(draw, degree, n_t):
    n = n_t * (degree + 1)
    return draw(st.sampled_from([0, max(n - 1, 0), n, n + 1, 4 * n + 3]))


def packed(draw, kind, width, count):
    codes = {1: "B", 2: "H", 4: "I", 8: "Q"}
    return struct.pack(
        f"={count}{codes[width]}",
        *draw(st.lists(item_bits(kind, width), min_size=count, max_size=count)),
    )


@st.composite
def stdlib_buffers(draw, count):
    kind = draw(st.sampled_from(["bytes", "bytearray", "array", "memoryview"]))
    if kind in ("bytes", "bytearray"):
        raw = packed(draw, "i", 1, count)
        return bytes(raw) if kind == "bytes" else bytearray(raw)
    if kind == "array":
        code = draw(st.sampled_from("bBhHiIlLqQfd"))
        width = array.array(code).itemsize
        return array.array(code, packed(draw, "f" if code in "fd" else "i", width, count))
    formats = "?bBhHiIlLqQnNfd" + ("e" if sys.version_info >= (3, 12) else "")
    code = draw(st.sampled_from(formats))
    step = draw(st.sampled_from([1, 2, -1]))
    width = struct.calcsize(code)
    kind = "f" if code in "efd" else "?" if code == "?" else "i"
    raw = packed(draw, kind, width, max(count * abs(step), 1))
    base = draw(st.sampled_from([bytes, bytearray]))(raw)
    return memoryview(base).cast(code)[::step][:count]


@st.composite
def numpy_buffers(draw, count):
    numpy = pytest.importorskip("numpy")
    code = draw(
        st.sampled_from(["f8", "f4", "f2", "i1", "i2", "i4", "i8", "u1", "u2", "u4", "u8", "?"])
    )
    step = draw(st.sampled_from([1, 2, -1, -3]))
    native = numpy.dtype(code)
    kind = "?" if code == "?" else native.kind
    raw = packed(draw, kind, native.itemsize, max(count * abs(step), 1))
    bits = numpy.frombuffer(raw, f"u{native.itemsize}").copy()
    values = bits.view(native)
    if draw(st.booleans()):  # the same values stored in the other byte order
        values = values.byteswap().view(native.newbyteorder())
    if draw(st.booleans()):  # unaligned and read-only
        values = numpy.frombuffer(b"\0" + values.tobytes(), values.dtype, offset=1)
    values = values[::step][:count]
    if draw(st.booleans()):
        values.flags.writeable = False
    # A memoryview of it is read as memoryview items (a swapped one is refused).
    return memoryview(values) if draw(st.booleans()) else values


@pytest.mark.parametrize("family", ["stdlib", "numpy"])
@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(data=st.data(), grid=grids())
def test_buffers_give_what_their_items_give(family, data, grid):
    if family == "numpy":
        pytest.importorskip("numpy")
    count = data.draw(lengths(*grid))
    buffers = stdlib_buffers if family == "stdlib" else numpy_buffers
    same_as_items(data.draw(buffers(count)), *grid)


def test_long_buffers_give_what_their_items_give():
    numpy = pytest.importorskip("numpy")
    # Longer than one run between polls, NaNs at the run ends (and many
    # float32 NaNs among random bits), both kinds of rounding of int64.
    bits = numpy.random.default_rng(5).integers(0, 2**63, 3 * CHUNK + 5, dtype=numpy.uint64)
    bits[[CHUNK - 1, CHUNK, 2 * CHUNK + 1]] = 0x7FF0000000000001
    wide = bits.view(numpy.float64)
    for values in (wide, wide[::-1], bits.view(numpy.float32)[1::2], bits.view(numpy.int64)):
        seen = []
        for sequence in (values, list(values)):
            evaluator = pwpoly.LegendreBasisEvaluator(0, len(values), len(values))
            evaluator.set_dofs(sequence)
            seen.append(
                [struct.pack("<d", evaluator.evaluate_at(k + 0.5)) for k in range(len(values))]
            )
        assert seen[0] == seen[1]


class Doubled:
    """Mixed into subclasses of the exporters: iteration gives other items."""

    def __iter__(self):
        return iter([2 * item for item in super().__iter__()])


def memory_mapped(numpy, values):
    # The mapping keeps its own handle on the file, which stays open no longer.
    with tempfile.TemporaryFile() as backing:
        mapped = numpy.memmap(backing, values.dtype, "w+", shape=values.shape)
    mapped[:] = values
    return mapped


# Four-byte characters: "w" from 3.13 on, where "u" is deprecated.
CHARACTERS = "w" if sys.version_info >= (3, 13) else "u"

# Kinds whose iteration may run Python code, warn or fail, or that a
# memoryview cannot iterate: they keep the item-by-item road.
REFUSED = {
    "0-d array": lambda np, nine: np.array(5.0),
    "2-d array": lambda np, nine: nine.reshape(3, 3),
    "matrix": lambda np, nine: np.matrix(nine),
    "memmap": lambda np, nine: memory_mapped(np, nine),
    "subclass": lambda np, nine: nine.view(type("Sub", (Doubled, np.ndarray), {})),
    "object": lambda np, nine: nine.astype(object),
    "complex": lambda np, nine: nine.astype(complex),
    "datetime": lambda np, nine: np.arange(9).astype("M8[s]"),
    "str": lambda np, nine: nine.astype(str),
    "bytes items": lambda np, nine: nine.astype("S3"),
    "structured": lambda np, nine: np.zeros(9, [("a", "f8")]),
    "longdouble": lambda np, nine: nine.astype(np.longdouble),
    "swapped memoryview": lambda np, nine: memoryview(nine.astype(">f8")),
    "half memoryview": lambda np, nine: memoryview(nine.astype("f2")),
    "char memoryview": lambda np, nine: memoryview(b"123456789").cast("c"),
    "2-d memoryview": lambda np, nine: memoryview(bytes(9)).cast("B", (3, 3)),
    "array of characters": lambda np, nine: array.array(CHARACTERS, "123456789"),
    "bytes subclass": lambda np, nine: type("Sub", (Doubled, bytes), {})(b"123456789"),
    "bytearray subclass": lambda np, nine: type("Sub", (Doubled, bytearray), {})(b"123456789"),
    "array subclass": lambda np, nine: type("Sub", (Doubled, array.array), {})("d", nine),
}


@pytest.mark.parametrize("name", list(REFUSED))
def test_refused_kinds_keep_their_item_by_item_road(name):
    numpy = pytest.importorskip("numpy")
    same_as_items(REFUSED[name](numpy, numpy.arange(1.0, 10.0)), 2, 3)


def test_one_item_more_than_a_vector_holds_is_refused_before_any_is_read():
    numpy = pytest.importorskip("numpy")
    huge = numpy.broadcast_to(numpy.float64(1.0), (268435456,))
    overflow = (PANIC, "capacity overflow")
    assert outcome(pwpoly.LegendreBasisEvaluator(0, 4, T).set_dofs, huge)[0] == overflow
    assert outcome(pwpoly.LegendreBasis(0, 4, T).evaluate_at, 1.0, huge)[0] == overflow


class Resizing:
    """A time whose conversion, which comes first, changes the buffer."""

    def __init__(self, change):
        self.change = change

    def __float__(self):
        self.change()
        return 1.25


def test_buffers_changed_by_an_earlier_argument_and_released_after_each_call():
    base = bytearray(range(1, 10))
    view = memoryview(base)
    # The view holds the bytearray's buffer: resizing fails as it always did.
    with pytest.raises(BufferError):
        pwpoly.LegendreBasis(2, 3, T).evaluate_at(Resizing(lambda: base.append(1)), view)
    view.release()
    base.extend(b"\x07" * 3)  # no export left behind by any call
    expected = pwpoly.LegendreBasis(2, 3, T).evaluate_at(1.25, list(base) + [7])
    assert (
        pwpoly.LegendreBasis(2, 3, T).evaluate_at(Resizing(lambda: base.append(7)), base)
        == expected
    )
    view = memoryview(base)
    with pytest.raises(ValueError, match="released memoryview"):
        pwpoly.LegendreBasis(2, 3, T).evaluate_at(Resizing(view.release), view)
    for call in (
        lambda: pwpoly.LegendreBasisEvaluator(2, 3, T).set_dofs(base),
        lambda: pwpoly.LegendreBasis(2, 3, T).evaluate_at(1.0, base),
    ):
        outcome(call)
        base.append(0)  # BufferError if the call kept the export


# A signal handler that changes the object while set_dofs reads it: the
# timer fires a millisecond into a call that takes several.
HANDLER_CHILD = """
import array, signal
import pwpoly
M = 1 << 22
evaluator = pwpoly.LegendreBasisEvaluator(0, M, 1.0)
state = {{}}
def handler(signum, frame):
    if state["phase"] == "calling":
        state["phase"] = "changed"
        {change}
signal.signal(signal.SIGALRM, handler)
for attempt in range(100):
    {make}
    state["phase"] = "calling"
    signal.setitimer(signal.ITIMER_REAL, 1e-3)
    try:
        evaluator.set_dofs(obj)
        result = "ok"
    except BaseException as error:
        result = f"{{type(error).__name__}}: {{error}}"
    if state["phase"] == "changed":
        break
    state["phase"] = "after"
    signal.setitimer(signal.ITIMER_REAL, 0)
print(state["phase"], result)
"""


GROWN, CUT = r"left: 4194311\n right: 4194304", r"left: \d+\n right: 4194304"
CHANGES = {
    "bytearray grows": ("obj = bytearray(M)", "obj.extend(bytes(7))", GROWN),
    "array shrinks": ("obj = array.array('d', bytes(8 * M))", "del obj[M // 2:]", CUT),
    "memoryview released": (
        "obj = memoryview(bytearray(M))",
        "obj.release()",
        "released memoryview",
    ),
    "ndarray reallocated": (
        "import numpy; obj = numpy.zeros(M)",
        "obj.resize(M + 7, refcheck=False)",
        GROWN,
    ),
    "ndarray reshaped": ("import numpy; obj = numpy.zeros(M)", "obj.shape = (2, M // 2)", CUT),
}


@pytest.mark.parametrize(("make", "change", "expected"), CHANGES.values(), ids=CHANGES)
def test_signal_handler_changes_the_buffer_between_two_runs(make, change, expected):
    if "numpy" in make:
        pytest.importorskip("numpy")
    child = run_python(HANDLER_CHILD.format(make=make, change=change), timeout=300)
    assert child.returncode == 0, child.stderr
    assert child.stdout.startswith("changed "), child.stdout
    assert re.search(expected, child.stdout), child.stdout


IMPOSTOR_CHILD = """
import array, sys, types
import pwpoly
pwpoly.LegendreBasisEvaluator(0, 2, 1.0).set_dofs(array.array("d", [1.0, 2.0]))
pwpoly.LegendreBasis(0, 2, 1.0).evaluate_at(0.5, memoryview(b"12"))
print("numpy" in sys.modules, end=" ")
class Impostor:
    def __buffer__(self, flags):
        return memoryview(bytes(range(20, 29)))
    def __len__(self):
        return 9
    def __getitem__(self, index):
        if index >= 9:
            raise IndexError(index)
        return float(index + 1)
for module, name in (("numpy", "ndarray"), ("array", "array")):
    cls = type(f"{module}.{name}", (Impostor,), {})
    sys.modules[module] = types.ModuleType(module)
    setattr(sys.modules[module], name, cls)
    evaluator = pwpoly.LegendreBasisEvaluator(0, 9, 9.0)
    evaluator.set_dofs(cls())
    print(evaluator.evaluate_at(0.5), end=" ")
"""


def test_no_numpy_imported_and_classes_that_only_look_like_exporters_are_iterated():
    child = run_python(IMPOSTOR_CHILD)
    assert child.returncode == 0, child.stderr
    assert child.stdout.split() == ["False", "1.0", "1.0"]
