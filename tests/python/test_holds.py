"""Holds on instances: calls that re-enter the same instance from Python code run
during argument conversion, and the state an instance keeps after any failure."""

import pwpoly
import pytest
from conftest import panic_type

DOFS = [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0]


def fresh_evaluator():
    instance = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
    instance.set_dofs(DOFS)
    return instance


class Reentrant:
    """Converts to `value`, calling `action` on the way and keeping what it gave."""

    def __init__(self, action, value=1.0, swallow=True):
        self.action = action
        self.value = value
        self.swallow = swallow
        self.outcome = None

    def run(self):
        try:
            self.outcome = ("ok", self.action())
        except RuntimeError as error:
            self.outcome = ("error", str(error))
            if not self.swallow:
                raise

    def __float__(self):
        self.run()
        return self.value


class ReentrantSequence(Reentrant):
    """Nine floats; `hook` names the member (__len__, __iter__, __next__) that runs `action`."""

    def __init__(self, action, hook):
        super().__init__(action)
        self.hook = hook

    def __len__(self):
        if self.hook == "len":
            self.run()
        return len(DOFS)

    def __getitem__(self, index):
        return DOFS[index]

    def __iter__(self):
        if self.hook == "iter":
            self.run()
        for index, value in enumerate(DOFS):
            if self.hook == "next" and index == 4:
                self.run()
            yield value


INNER = {
    "evaluate_at": "Already mutably borrowed",
    "evaluate_derivative_at": "Already mutably borrowed",
    "set_dofs": "Already borrowed",
}


@pytest.mark.parametrize("inner", sorted(INNER))
@pytest.mark.parametrize("hook", ["item", "len", "iter", "next"])
def test_set_dofs_holds_the_evaluator_exclusively(inner, hook):
    instance = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
    method = getattr(instance, inner)
    action = lambda: method(DOFS if inner == "set_dofs" else 1.25)
    if hook == "item":
        probe = Reentrant(action, value=DOFS[0])
        argument = [probe] + DOFS[1:]
    else:
        probe = argument = ReentrantSequence(action, hook)
    assert instance.set_dofs(argument) is None
    assert probe.outcome == ("error", INNER[inner])
    assert instance.evaluate_at(1.25) == -1.5


def test_set_dofs_leaves_other_instances_free():
    instance = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
    other = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
    probe = Reentrant(lambda: other.set_dofs(DOFS), value=DOFS[0])
    instance.set_dofs([probe] + DOFS[1:])
    assert probe.outcome == ("ok", None)
    assert other.evaluate_at(1.25) == -1.5


@pytest.mark.parametrize("method", ["evaluate_at", "evaluate_derivative_at"])
def test_evaluations_hold_the_evaluator_shared(method):
    instance = fresh_evaluator()
    expected = getattr(instance, method)(1.25)

    nested = Reentrant(lambda: instance.evaluate_at(1.25), value=1.25)
    assert getattr(instance, method)(nested) == expected
    assert nested.outcome == ("ok", -1.5)

    nested = Reentrant(lambda: instance.evaluate_derivative_at(1.25), value=1.25)
    assert getattr(instance, method)(nested) == expected
    assert nested.outcome == ("ok", -14.000000000000032)

    writer = Reentrant(lambda: instance.set_dofs([0.0] * 9), value=1.25)
    assert getattr(instance, method)(writer) == expected
    assert writer.outcome == ("error", "Already borrowed")


@pytest.mark.parametrize(
    "call",
    [
        lambda basis, t: basis.evaluate_at(t, DOFS),
        lambda basis, t: basis.evaluate_at(1.25, [t] + DOFS[1:]),
        lambda basis, t: basis.evaluate_all_basis_functions(t),
        lambda basis, t: basis.evaluate_all_basis_function_derivatives(t),
    ],
)
def test_legendre_basis_calls_nest(call):
    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    nested = Reentrant(lambda: basis.evaluate_all_basis_functions(1.25), value=1.25)
    call(basis, nested)
    assert nested.outcome == ("ok", [0.0, 1.0, 0.0, 0.0, -0.5, 0.0, 0.0, -0.125, 0.0])
    nested = Reentrant(lambda: basis.evaluate_at(1.25, DOFS), value=1.25)
    call(basis, nested)
    assert nested.outcome == ("ok", -1.5)


def panic():
    return panic_type()("from caller code")


class Hostile:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


def expected(kind):
    return panic_type() if kind == "panic" else kind


FAILED_SET_DOFS = {
    "type error in an item": (TypeError, lambda e: e.set_dofs(DOFS[:8] + ["x"])),
    "str": (TypeError, lambda e: e.set_dofs("123456789")),
    "not a sequence": (TypeError, lambda e: e.set_dofs(9)),
    "too short": ("panic", lambda e: e.set_dofs(DOFS[:8])),
    "too long": ("panic", lambda e: e.set_dofs(DOFS + [10.0])),
    "empty": ("panic", lambda e: e.set_dofs([])),
    "value error in an item": (
        ValueError,
        lambda e: e.set_dofs([Hostile(ValueError("no"))] + DOFS[1:]),
    ),
    "panic in an item": ("panic", lambda e: e.set_dofs(DOFS[:4] + [Hostile(panic())] + DOFS[5:])),
    "huge int item": (OverflowError, lambda e: e.set_dofs([10**400] + DOFS[1:])),
    "borrow error": (
        RuntimeError,
        lambda e: e.set_dofs([Reentrant(lambda: e.set_dofs([0.0] * 9), swallow=False)] + DOFS[1:]),
    ),
    "binding error": (TypeError, lambda e: e.set_dofs([0.0] * 9, legendre_vals=[0.0] * 9)),
}


@pytest.mark.parametrize("failure", sorted(FAILED_SET_DOFS))
def test_failed_set_dofs_keeps_the_coefficients_and_frees_the_instance(failure):
    kind, call = FAILED_SET_DOFS[failure]
    instance = fresh_evaluator()
    with pytest.raises(expected(kind)):
        call(instance)
    assert instance.evaluate_at(1.25) == -1.5
    assert instance.evaluate_derivative_at(1.25) == -14.000000000000032
    instance.set_dofs([0.0] * 9)
    assert instance.evaluate_at(1.25) == 0.0


@pytest.mark.parametrize(
    ("kind", "call"),
    [
        (TypeError, lambda e: e.evaluate_at("x")),
        (ValueError, lambda e: e.evaluate_derivative_at(Hostile(ValueError("no")))),
        ("panic", lambda e: e.evaluate_at(Hostile(panic()))),
        (RuntimeError, lambda e: e.evaluate_at(Reentrant(lambda: e.set_dofs(DOFS), swallow=False))),
        (TypeError, lambda e: e.evaluate_derivative_at(1.25, 2.0)),
    ],
)
def test_failed_evaluation_releases_its_hold(kind, call):
    instance = fresh_evaluator()
    with pytest.raises(expected(kind)):
        call(instance)
    instance.set_dofs([0.0] * 9)
    assert instance.evaluate_at(1.25) == 0.0


def test_internal_failures_release_the_shared_hold():
    empty = pwpoly.LegendreBasisEvaluator(2, 0, 1.0)
    for call in (empty.evaluate_at, empty.evaluate_derivative_at):
        with pytest.raises(panic_type()):
            call(0.5)
        assert empty.set_dofs([]) is None
