"""Argument binding and value conversion shared by every callable: the binder's
messages and the order in which they are detected, and the float, unsigned and
sequence conversions with their error wrapping."""

import array
import collections
import contextlib
import math
import operator
import sys

import pwpoly
import pytest
from ieee import divide, same_float

try:
    import numpy
except ImportError:
    numpy = None

# Full name in messages: parameter names.
SIGNATURES = {
    "sum_as_string()": "a b",
    "LegendreBasis.__new__()": "degree n_t T",
    "LegendreBasisEvaluator.__new__()": "degree n_t T",
    "LegendreBasis.evaluate_at()": "t legendre_vals",
    "LegendreBasis.evaluate_all_basis_functions()": "t",
    "LegendreBasis.evaluate_all_basis_function_derivatives()": "t",
    "LegendreBasisEvaluator.set_dofs()": "legendre_vals",
    "LegendreBasisEvaluator.evaluate_at()": "t",
    "LegendreBasisEvaluator.evaluate_derivative_at()": "t",
}
VALID = {"a": 1, "b": 2, "degree": 1, "n_t": 2, "T": 2.0, "t": 0.5, "legendre_vals": [1, 2, 3, 4]}
each_callable = pytest.mark.parametrize("name", list(SIGNATURES))
EVALUATE_AT = "LegendreBasis.evaluate_at()"


def resolve(name):
    """The callable with this full name; methods are bound to a fresh instance."""
    owner, _, function = name[:-2].rpartition(".")
    if not owner:
        return getattr(pwpoly, function)
    cls = getattr(pwpoly, owner)
    return cls if function == "__new__" else getattr(cls(1, 2, 2.0), function)


def signature(name):
    params = SIGNATURES[name].split()
    return resolve(name), params, [VALID[p] for p in params]


def observable(result):
    """Something comparable about a call's result (instances by their behaviour)."""
    if isinstance(result, pwpoly.LegendreBasis):
        return result.evaluate_all_basis_function_derivatives(0.5)
    if isinstance(result, pwpoly.LegendreBasisEvaluator):
        result.set_dofs([1.0, 2.0, 3.0, 4.0])
        return result.evaluate_derivative_at(1.5)
    return result


def message_of(call, *args, **kwargs):
    with pytest.raises(BaseException) as info:
        call(*args, **kwargs)
    return info.type, str(info.value)


# --- binding --------------------------------------------------------------------------------


@each_callable
def test_keywords_bind_in_any_order(name):
    call, params, valid = signature(name)
    expected = observable(call(*valid))
    assert observable(call(**dict(reversed(list(zip(params, valid)))))) == expected
    assert observable(call(valid[0], **dict(zip(params[1:], valid[1:])))) == expected


@each_callable
@pytest.mark.parametrize("extra", [1, 2])
def test_too_many_positional_arguments_come_before_keywords(name, extra):
    call, params, valid = signature(name)
    given = len(valid) + extra
    expected = (
        TypeError,
        f"{name} takes {len(params)} positional arguments but {given} were given",
    )
    args = valid + ["bad"] * extra
    assert message_of(call, *args) == expected
    assert message_of(call, *args, zzz=1, **{params[0]: 1}) == expected


@each_callable
def test_unexpected_keyword_comes_before_missing_arguments_and_conversion(name):
    call, _, valid = signature(name)
    expected = (TypeError, f"{name} got an unexpected keyword argument 'zzz'")
    assert message_of(call, *valid, zzz=1) == expected
    assert message_of(call, zzz=1) == expected
    assert message_of(call, "bad", zzz=1) == expected


@each_callable
def test_multiple_values(name):
    call, params, valid = signature(name)
    for param in (params[0], params[-1]):
        expected = (TypeError, f"{name} got multiple values for argument '{param}'")
        assert message_of(call, *valid, **{param: valid[0]}) == expected


def test_keywords_are_examined_in_the_order_given():
    assert message_of(pwpoly.sum_as_string, 1, c=2, a=3)[1].endswith("keyword argument 'c'")
    assert message_of(pwpoly.sum_as_string, 1, a=3, c=2)[1].endswith("argument 'a'")


@pytest.mark.parametrize(
    ("name", "args", "kwargs", "names"),
    [
        ("LegendreBasis.__new__()", (), {}, "'degree', 'n_t', and 'T'"),
        ("LegendreBasisEvaluator.__new__()", (2,), {}, "'n_t' and 'T'"),
        ("LegendreBasis.__new__()", (), {"n_t": 3}, "'degree' and 'T'"),
        ("LegendreBasis.__new__()", (), {"T": 1}, "'degree' and 'n_t'"),
        ("LegendreBasis.__new__()", (-1, 3), {}, "'T'"),
        ("LegendreBasis.__new__()", (), {"T": 1, "n_t": 3}, "'degree'"),
        ("sum_as_string()", (), {}, "'a' and 'b'"),
        ("sum_as_string()", (), {"b": "x"}, "'a'"),
        ("LegendreBasis.evaluate_at()", (), {}, "'t' and 'legendre_vals'"),
        ("LegendreBasis.evaluate_at()", (), {"legendre_vals": 1}, "'t'"),
        ("LegendreBasisEvaluator.set_dofs()", (), {}, "'legendre_vals'"),
        ("LegendreBasisEvaluator.evaluate_derivative_at()", (), {}, "'t'"),
    ],
)
def test_missing_arguments_are_listed_in_declaration_order(name, args, kwargs, names):
    count = names.count("'") // 2
    noun = "argument" if count == 1 else "arguments"
    expected = f"{name} missing {count} required positional {noun}: {names}"
    assert message_of(resolve(name), *args, **kwargs) == (TypeError, expected)


@pytest.mark.parametrize(
    ("call", "error", "first"),
    [
        (lambda: pwpoly.sum_as_string(b="x", a="y"), TypeError, "argument 'a': "),
        (
            lambda: pwpoly.LegendreBasis(T="x", n_t="y", degree="z"),
            TypeError,
            "argument 'degree': ",
        ),
        (
            lambda: pwpoly.LegendreBasisEvaluator(T="x", n_t="y", degree=2),
            TypeError,
            "argument 'n_t': ",
        ),
        (lambda: pwpoly.LegendreBasis(-1, "x", "y"), OverflowError, "can't convert negative"),
        (lambda: resolve(EVALUATE_AT)(legendre_vals="x", t="y"), TypeError, "argument 't': "),
    ],
)
def test_parameters_convert_in_declaration_order(call, error, first):
    error_type, message = message_of(call)
    assert error_type is error
    assert message.startswith(first)


class ShownAs(str):
    def __str__(self):
        return "shown"


@each_callable
@pytest.mark.parametrize(
    ("keyword", "shown"),
    [
        ("\ud800", "\ufffd" * 3),
        ("t\udcff", "t" + "\ufffd" * 3),
        ("t\0", "t\0"),
        ("c\0d", "c\0d"),
        (ShownAs("c"), "shown"),
    ],
)
def test_unexpected_keyword_names_are_shown_as_text(name, keyword, shown):
    call, _, valid = signature(name)
    expected = (TypeError, f"{name} got an unexpected keyword argument '{shown}'")
    assert message_of(call, *valid, **{keyword: 1}) == expected
    assert message_of(call, **{keyword: 1}) == expected


class UnprintableName(str):
    def __str__(self):
        raise RuntimeError("no text for this name")


class NamelessMeta(type):
    @property
    def __name__(cls):
        raise RuntimeError("no name for this type")


class NamelessName(UnprintableName, metaclass=NamelessMeta):
    pass


@pytest.fixture
def unraisable(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    return seen


@pytest.mark.parametrize("name", ["sum_as_string()", "LegendreBasis.__new__()"])
def test_keyword_whose_text_fails_is_reported_unprintable(name, unraisable):
    call, _, valid = signature(name)
    key = UnprintableName("c")
    assert message_of(call, *valid, **{key: 3}) == (
        TypeError,
        f"{name} got an unexpected keyword argument '<unprintable UnprintableName object>'",
    )
    assert [report.object for report in unraisable] == [key]
    assert isinstance(unraisable[0].exc_value, RuntimeError)
    _, message = message_of(call, *valid, **{NamelessName("c"): 3})
    assert message.endswith("got an unexpected keyword argument '<unprintable object>'")


def test_str_subclass_keyword_binds_by_its_text(unraisable):
    assert pwpoly.sum_as_string(1, **{UnprintableName("b"): 2}) == "3"
    assert unraisable == []


# --- conversions ----------------------------------------------------------------------------


class HasFloat:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class HasIndex:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Raises:
    """Raises `error` from every conversion hook and from iteration."""

    def __init__(self, error):
        self.error = error

    def raise_it(self):
        raise self.error

    __float__ = __index__ = __iter__ = raise_it

    def __getitem__(self, index):
        return 0.0


class FloatWithOtherFloat(float):
    def __float__(self):
        return 99.0


class IntWithOtherIndex(int):
    def __index__(self):
        return 99


FLOATS = [
    (3, 3.0),
    (True, 1.0),
    (False, 0.0),
    (-1, -1.0),
    (2**53 + 1, 9007199254740992.0),
    (-(2**80), -1.2089258196146292e24),
    (HasFloat(2.5), 2.5),
    (HasFloat(-1.0), -1.0),
    (HasIndex(7), 7.0),
    (FloatWithOtherFloat(1.5), 1.5),
    (math.nan, math.nan),
    (math.inf, math.inf),
    (-math.inf, -math.inf),
    (-0.0, -0.0),
    (0.0, 0.0),
]
if numpy is not None:
    FLOATS += [(numpy.float32(0.1), 0.10000000149011612), (numpy.int64(-5), -5.0)]


@pytest.mark.parametrize(("value", "expected"), FLOATS)
def test_float_conversion(value, expected):
    # The degree-0 expansion returns its coefficient as converted, and 2 / T
    # shows up in the derivative table.
    assert same_float(pwpoly.LegendreBasis(0, 1, 1.0).evaluate_at(0.5, [value]), expected)
    table = pwpoly.LegendreBasis(1, 1, value).evaluate_all_basis_function_derivatives(0.0)
    assert same_float(table[1], divide(2.0, expected))


FLOAT_SITES = [
    (lambda v: pwpoly.LegendreBasis(1, 1, v), "T"),
    (lambda v: pwpoly.LegendreBasisEvaluator(1, 1, v), "T"),
    (lambda v: resolve(EVALUATE_AT)(v, []), "t"),
    (lambda v: resolve("LegendreBasis.evaluate_all_basis_functions()")(v), "t"),
    (lambda v: resolve("LegendreBasis.evaluate_all_basis_function_derivatives()")(v), "t"),
    (lambda v: resolve("LegendreBasisEvaluator.evaluate_at()")(v), "t"),
    (lambda v: resolve("LegendreBasisEvaluator.evaluate_derivative_at()")(v), "t"),
    (lambda v: resolve(EVALUATE_AT)(0.5, [1, v, 3, 4]), "legendre_vals"),
    (lambda v: resolve("LegendreBasisEvaluator.set_dofs()")((1, 2, v, 4)), "legendre_vals"),
]


@pytest.mark.parametrize("value", ["1.0", None, 1j, HasFloat(1), HasIndex(2.0), [1.0]])
@pytest.mark.parametrize(("call", "param"), FLOAT_SITES)
def test_float_type_errors_are_wrapped_with_the_parameter_name(value, call, param):
    _, interpreter = message_of(math.isnan, value)  # the interpreter's own message
    assert message_of(call, value) == (TypeError, f"argument '{param}': {interpreter}")


@pytest.mark.parametrize("value", [10**400, -(10**400), HasIndex(10**400)])
@pytest.mark.parametrize(("call", "param"), FLOAT_SITES)
def test_float_overflow_is_not_wrapped(value, call, param):
    assert message_of(call, value) == (OverflowError, "int too large to convert to float")


UNSIGNED_SITES = [
    lambda v: pwpoly.sum_as_string(v, 0),
    lambda v: pwpoly.sum_as_string(0, v),
    lambda v: pwpoly.LegendreBasis(v, 1, 1.0),
    lambda v: pwpoly.LegendreBasisEvaluator(1, v, 1.0),
]
UNSIGNED = [(0, "0"), (True, "1"), (4294967295, "4294967295"), (HasIndex(5), "5")]
UNSIGNED += [(IntWithOtherIndex(3), "3")]
if numpy is not None:
    UNSIGNED += [(numpy.uint32(6), "6"), (numpy.int64(7), "7")]


@pytest.mark.parametrize(("value", "expected"), UNSIGNED)
def test_unsigned_conversion(value, expected):
    assert pwpoly.sum_as_string(value, 0) == expected
    assert pwpoly.sum_as_string(4294967295, value) == str(4294967295 + int(expected))


@pytest.mark.parametrize(
    ("value", "message"),
    [
        (2**32, "out of range integral type conversion attempted"),
        (2**64 - 1, "out of range integral type conversion attempted"),
        (HasIndex(2**32), "out of range integral type conversion attempted"),
        (-1, "can't convert negative int to unsigned"),
        (HasIndex(-(2**70)), "can't convert negative int to unsigned"),
        (2**64, "int too big to convert"),
    ],
)
@pytest.mark.parametrize("call", UNSIGNED_SITES)
def test_unsigned_range_errors_are_not_wrapped(value, message, call):
    assert message_of(call, value) == (OverflowError, message)


@pytest.mark.parametrize("value", [1.0, "1", None, HasIndex(2.0), HasFloat(1.0)])
@pytest.mark.parametrize(("call", "param"), list(zip(UNSIGNED_SITES, ["a", "b", "degree", "n_t"])))
def test_unsigned_type_errors_are_wrapped_with_the_parameter_name(value, call, param):
    _, interpreter = message_of(operator.index, value)
    assert message_of(call, value) == (TypeError, f"argument '{param}': {interpreter}")


class GetItemOnly:
    def __init__(self, length=None):
        self.length = length

    def __getitem__(self, index):
        if index < 3:
            return index + 0.5
        raise IndexError(index)

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


class OwnIterList(list):
    def __iter__(self):
        return iter([9.0, 8.0])


class OwnIterTuple(tuple):
    __iter__ = OwnIterList.__iter__


def read_back(values, count):
    """Hands `values` to an evaluator of `count` degree-0 intervals and reads them back."""
    instance = pwpoly.LegendreBasisEvaluator(0, count, float(count))
    instance.set_dofs(values)
    return [instance.evaluate_at(k + 0.5) for k in range(count)]


SEQUENCES = [
    ((1, 2.5, True), [1.0, 2.5, 1.0]),
    ([FloatWithOtherFloat(1.5), 2**53 + 1, HasIndex(3)], [1.5, 9007199254740992.0, 3.0]),
    (range(3), [0.0, 1.0, 2.0]),
    (bytes([1, 2]), [1.0, 2.0]),
    (bytearray([255]), [255.0]),
    (array.array("d", [0.25, -0.0]), [0.25, -0.0]),
    (array.array("i", [-3, 4]), [-3.0, 4.0]),
    (collections.deque([1, 2]), [1.0, 2.0]),
    (OwnIterList([1.0]), [9.0, 8.0]),
    (OwnIterTuple([1.0, 2.0, 3.0]), [9.0, 8.0]),
    (GetItemOnly(0), [0.5, 1.5, 2.5]),
    (GetItemOnly(1000), [0.5, 1.5, 2.5]),
    (GetItemOnly(RuntimeError("no length")), [0.5, 1.5, 2.5]),
    (GetItemOnly(2**70), [0.5, 1.5, 2.5]),
    (GetItemOnly(-1), [0.5, 1.5, 2.5]),
]
if numpy is not None:
    SEQUENCES += [
        (numpy.array([0.1, 2.0]), [0.1, 2.0]),
        (numpy.array([0.1], dtype=numpy.float32), [0.10000000149011612]),
        (numpy.arange(3), [0.0, 1.0, 2.0]),
    ]


@pytest.mark.parametrize(("values", "expected"), SEQUENCES)
def test_sequence_conversion(values, expected):
    got = read_back(values, len(expected))
    assert all(same_float(a, b) for a, b in zip(got, expected)), got


class Outer:
    class Inner:
        pass


SEQUENCE_SITES = [
    lambda v: resolve("LegendreBasisEvaluator.set_dofs()")(v),
    lambda v: resolve(EVALUATE_AT)(0.5, v),
]


@pytest.mark.parametrize(
    ("value", "message"),
    [
        ("123", "Can't extract `str` to `Vec`"),
        (UnprintableName("12"), "Can't extract `str` to `Vec`"),
        (5, "'int' object cannot be cast as 'Sequence'"),
        ({1.0: 2}, "'dict' object cannot be cast as 'Sequence'"),
        ((x for x in [1.0]), "'generator' object cannot be cast as 'Sequence'"),
        ({1.0}, "'set' object cannot be cast as 'Sequence'"),
        (iter([1.0]), "'list_iterator' object cannot be cast as 'Sequence'"),
        (None, "'NoneType' object cannot be cast as 'Sequence'"),
        (Outer.Inner(), "'Outer.Inner' object cannot be cast as 'Sequence'"),
    ],
)
@pytest.mark.parametrize("call", SEQUENCE_SITES)
def test_non_sequences_are_refused(value, message, call):
    assert message_of(call, value) == (TypeError, f"argument 'legendre_vals': {message}")


@pytest.mark.parametrize("call", SEQUENCE_SITES)
def test_items_past_the_needed_ones_are_converted_too(call):
    assert message_of(call, [1.0] * 4 + ["x"])[0] is TypeError
    assert message_of(call, [1.0] * 4 + [10**400])[0] is OverflowError


class Shrinking:
    def __init__(self, owner):
        self.owner = owner

    def __float__(self):
        self.owner.pop()
        return 1.0


class Growing(Shrinking):
    def __float__(self):
        self.owner.extend([5.0, 6.0])
        return 2.0


@pytest.mark.parametrize("item_type", [Shrinking, Growing])
@pytest.mark.parametrize("position", [0, 2])
def test_list_changed_by_an_item_gives_what_iteration_gives(item_type, position):
    def fresh():
        values = [0.5, 1.5, 2.5, 3.5]
        values[position] = item_type(values)
        return values

    expected = [float(x) for x in fresh()]
    assert read_back(fresh(), len(expected)) == expected


@pytest.mark.parametrize(
    "error", [ValueError("v"), OverflowError("o"), RuntimeError("r"), KeyboardInterrupt()]
)
@pytest.mark.parametrize("call", UNSIGNED_SITES + [c for c, _ in FLOAT_SITES] + SEQUENCE_SITES)
def test_errors_other_than_type_error_pass_unchanged(error, call):
    with pytest.raises(type(error)) as info:
        call(Raises(error))
    assert info.value is error


def test_type_error_subclass_is_not_wrapped():
    error = type("Special", (TypeError,), {})("mine")
    with pytest.raises(TypeError) as info:
        resolve("LegendreBasisEvaluator.set_dofs()")(Raises(error))
    assert info.value is error


def test_wrapping_keeps_the_cause_of_the_original():
    root = KeyError("root")

    class Chained:
        def __float__(self):
            raise TypeError("bad item") from root

    with pytest.raises(TypeError) as info:
        resolve("LegendreBasisEvaluator.set_dofs()")([Chained()] * 4)
    assert str(info.value) == "argument 'legendre_vals': bad item"
    assert info.value.__cause__ is root

    with pytest.raises(TypeError) as info:
        resolve("LegendreBasisEvaluator.evaluate_at()")(Raises(TypeError("plain")))
    assert str(info.value) == "argument 't': plain"
    assert info.value.__cause__ is None

    with pytest.raises(TypeError) as info:
        resolve("LegendreBasisEvaluator.set_dofs()")(Raises(TypeError("no iterator")))
    assert str(info.value) == "argument 'legendre_vals': no iterator"

    with pytest.raises(TypeError) as info:
        resolve("LegendreBasisEvaluator.evaluate_at()")(Raises(TypeError("lone \udc80")))
    assert str(info.value) == "argument 't': lone \ufffd\ufffd\ufffd"


def test_wrapped_error_whose_text_fails_is_reported_unprintable(unraisable):
    error = TypeError(UnprintableName("x"))
    call = resolve("LegendreBasisEvaluator.evaluate_at()")
    assert message_of(call, Raises(error)) == (
        TypeError,
        "argument 't': <unprintable TypeError object>",
    )
    assert [report.object for report in unraisable] == [error]


@pytest.mark.parametrize(
    "call",
    [
        lambda item, seq: resolve("LegendreBasisEvaluator.set_dofs()")(seq),
        lambda item, seq: resolve("LegendreBasisEvaluator.set_dofs()")((1.0, item, "x")),
        lambda item, seq: resolve(EVALUATE_AT)(item, seq),
        lambda item, seq: resolve(EVALUATE_AT)(item, seq[:2]),
        lambda item, seq: resolve("LegendreBasis.evaluate_all_basis_functions()")(item),
        lambda item, seq: pwpoly.LegendreBasis(2, 1, item, zzz=seq),
        lambda item, seq: pwpoly.sum_as_string(1, item),
    ],
)
def test_arguments_are_not_leaked(call):
    item = HasFloat(0.5)
    seq = [1.0, item, 3.0, 4.0]
    before = sys.getrefcount(item), sys.getrefcount(seq)
    for _ in range(50):
        with contextlib.suppress(BaseException):
            call(item, seq)
    assert (sys.getrefcount(item), sys.getrefcount(seq)) == before
