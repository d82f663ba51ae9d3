"""pwpoly_numpy reads numbers as pwpoly reads them, lets the caller's own
exceptions arrive as themselves, and takes only bools as flags."""

import sys

import pytest

numpy = pytest.importorskip("numpy")
pwpoly_numpy = pytest.importorskip("pwpoly_numpy")

import pwpoly  # noqa: E402


class OddFloat(float):
    """A float whose __float__ is not its value: pwpoly reads the value."""

    def __float__(self):
        return 99.0


class OddInt(int):
    """An int whose __float__ is not its value: pwpoly calls __float__."""

    def __float__(self):
        return 77.0


def pwpoly_value(degree, n_t, T, coefficients, t):
    evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
    evaluator.set_dofs(coefficients)
    return evaluator.evaluate_at(t)


@pytest.mark.parametrize(
    "coefficients",
    [
        [OddFloat(1.5), 2.0, 0.5, -1.0],
        [OddInt(3), 2.0, 0.5, -1.0],
        [OddInt(3), 2, 1, 0],
        (OddFloat(1.5), (2.0), 0.5, -1.0),
        numpy.array([OddFloat(1.5), 2.0, 0.5, -1.0], dtype=object),
    ],
    ids=[
        "float subclass",
        "int subclass among floats",
        "int subclass among ints",
        "tuple",
        "object",
    ],
)
def test_numbers_read_as_pwpoly_reads_them(coefficients):
    times = [OddFloat(0.25), 0.75, OddInt(1)]
    T = OddFloat(2.0)
    got = pwpoly_numpy.evaluate(1, 2, T, coefficients, times)
    expected = [pwpoly_value(1, 2, T, list(coefficients), float(t)) for t in (0.25, 0.75, 77.0)]
    assert got.tolist() == expected
    # Nested lists and lone numbers too.
    nested = pwpoly_numpy.evaluate(1, 2, T, coefficients, [[OddFloat(0.25)], [0.75]])
    assert nested.ravel().tolist() == expected[:2]
    assert pwpoly_numpy.evaluate(1, 2, T, coefficients, OddFloat(0.25)) == expected[0]
    assert pwpoly_numpy.lagrange_points(1, 1, OddFloat(2.0)).tolist() == [0.0, 2.0]
    assert pwpoly_numpy.lagrange_points(1, 1, OddInt(2)).tolist() == pwpoly.get_lagrange_points(
        1, 1, OddInt(2)
    )


class TwoPartError(ValueError):
    def __init__(self, code, detail):
        super().__init__(f"{code}: {detail}")
        self.code = code


class NotAnIndex(TypeError):
    pass


class TooBig(OverflowError):
    pass


def raising(error, method="__float__"):
    return type("Raising", (), {method: lambda self: (_ for _ in ()).throw(error)})()


@pytest.mark.parametrize(
    "error",
    [TwoPartError(7, "bad"), NotAnIndex("no index"), TooBig("too big"), KeyError("k")],
    ids=lambda error: type(error).__name__,
)
@pytest.mark.parametrize("place", ["T", "times", "coefficients"])
def test_the_callers_exceptions_arrive_as_themselves(error, place):
    values = {"T": 1.0, "times": [0.5], "coefficients": [1.0, 2.0]}
    values[place] = raising(error) if place == "T" else [raising(error)] * len(values[place])
    with pytest.raises(type(error)) as caught:
        pwpoly_numpy.evaluate(1, 1, values["T"], values["coefficients"], values["times"])
    assert caught.value is error
    if sys.version_info >= (3, 11):
        assert f"while pwpoly_numpy converted argument '{place}'" in caught.value.__notes__


def test_index_errors_of_the_caller_arrive_as_themselves():
    error = NotAnIndex("no index")
    with pytest.raises(NotAnIndex) as caught:
        pwpoly_numpy.lagrange_points(raising(error, "__index__"), 1, 1.0)
    assert caught.value is error


def test_numpys_own_decoding_error_arrives_as_itself():
    with pytest.raises(UnicodeDecodeError):
        pwpoly_numpy.evaluate(1, 1, 1.0, [1.0, 2.0], [b"\xff", "a"])


def test_plain_errors_name_the_argument():
    with pytest.raises(TypeError, match="^argument 'T': must be real number, not str$"):
        pwpoly_numpy.evaluate(1, 1, "1.0", [1.0, 2.0], [0.5])
    with pytest.raises(OverflowError, match="^argument 'times': int too large to convert"):
        pwpoly_numpy.evaluate(1, 1, 1.0, [1.0, 2.0], [10**400])


@pytest.mark.parametrize("derivative", [True, False, numpy.True_, numpy.False_])
def test_flags_take_bools(derivative):
    matrix = pwpoly_numpy.basis_matrix(2, 3, 3.0, [0.5, 2.5], derivative=derivative)
    table = (
        pwpoly.LegendreBasis(2, 3, 3.0).evaluate_all_basis_function_derivatives
        if derivative
        else pwpoly.LegendreBasis(2, 3, 3.0).evaluate_all_basis_functions
    )
    assert matrix.toarray()[1].tolist() == table(2.5)


@pytest.mark.parametrize(
    "derivative, kind", [(2, "int"), ("no", "str"), (None, "NoneType"), (numpy.ones(2), "ndarray")]
)
def test_flags_refuse_everything_else(derivative, kind):
    with pytest.raises(TypeError, match=f"^argument 'derivative': must be a bool, not {kind}$"):
        pwpoly_numpy.basis_matrix(2, 3, 3.0, [0.5], derivative=derivative)
