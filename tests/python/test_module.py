"""The module object: its attributes, documentation, identity across imports,
the one-interpreter rule and the single exported symbol."""

import importlib
import inspect
import shutil
import subprocess
import sys

import pytest

import pwpoly

NAMES = [
    "sum_as_string",
    "lagrange_to_legendre_basis_transformation",
    "get_lagrange_points",
    "LegendreBasis",
    "LegendreBasisEvaluator",
]


def test_all_lists_the_five_names_in_order_of_addition():
    assert pwpoly.__all__ == NAMES
    own = [name for name in vars(pwpoly) if not name.startswith("__")]
    assert own == NAMES


def test_module_documentation_is_one_sentence():
    assert isinstance(pwpoly.__doc__, str)
    assert pwpoly.__doc__.strip().endswith(".")
    assert pwpoly.__name__ == "pwpoly"


@pytest.mark.parametrize(
    ("name", "signature", "doc"),
    [
        ("sum_as_string", "(a, b)", "Formats the sum of two numbers as string."),
        ("lagrange_to_legendre_basis_transformation", "(degree, n_t)", None),
        ("get_lagrange_points", "(degree, n_t, T)", None),
    ],
)
def test_functions_are_builtins_bound_to_the_module(name, signature, doc):
    function = getattr(pwpoly, name)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc
    assert function.__self__ is pwpoly
    assert function.__module__ == "pwpoly"
    assert function.__name__ == function.__qualname__ == name
    assert type(function).__name__ == "builtin_function_or_method"


@pytest.mark.parametrize(
    ("name", "doc"),
    [
        ("LegendreBasis", ""),
        (
            "LegendreBasisEvaluator",
            "Class to evaluate legendre basis more often without copying the dofs from "
            "python each time",
        ),
    ],
)
def test_class_properties(name, doc):
    cls = getattr(pwpoly, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == cls.__qualname__ == name
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert cls.__doc__ == doc
    assert cls.__text_signature__ == "(degree, n_t, T)"
    assert list(inspect.signature(cls).parameters) == ["degree", "n_t", "T"]
    assert cls.__bases__ == (object,)
    instance = cls(1, 1, 1.0)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        instance.anything = 1
    with pytest.raises(TypeError):
        import weakref

        weakref.ref(instance)
    assert not hasattr(instance, "__dict__")


@pytest.mark.parametrize(
    ("cls", "methods"),
    [
        (
            "LegendreBasis",
            {
                "evaluate_at": "($self, t, legendre_vals)",
                "evaluate_all_basis_functions": "($self, t)",
                "evaluate_all_basis_function_derivatives": "($self, t)",
            },
        ),
        (
            "LegendreBasisEvaluator",
            {
                "set_dofs": "($self, legendre_vals)",
                "evaluate_at": "($self, t)",
                "evaluate_derivative_at": "($self, t)",
            },
        ),
    ],
)
def test_method_signatures(cls, methods):
    klass = getattr(pwpoly, cls)
    for name, signature in methods.items():
        method = getattr(klass, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ is None


def test_reimport_gives_the_same_module_object():
    pwpoly.marker_for_reimport = 42
    try:
        del sys.modules["pwpoly"]
        again = importlib.import_module("pwpoly")
        assert again is pwpoly
        assert again.marker_for_reimport == 42
        assert again.__all__ == NAMES
    finally:
        sys.modules["pwpoly"] = pwpoly
        del pwpoly.marker_for_reimport


def test_subinterpreter_import_is_refused(python_child):
    result = python_child(
        """
        import pwpoly
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters
        code = '''
        try:
            import pwpoly
        except ImportError as error:
            import os
            os.write(1, ("refused: " + str(error) + "\\\\n").encode())
        else:
            import os
            os.write(1, b"imported\\\\n")
        '''
        import textwrap
        code = textwrap.dedent(code)
        try:
            interp = interpreters.create("legacy")
        except TypeError:
            try:
                interp = interpreters.create(isolated=False)
            except TypeError:
                interp = interpreters.create()
        try:
            interpreters.run_string(interp, code)
        finally:
            interpreters.destroy(interp)
        print(pwpoly.sum_as_string(2, 3))
        """
    )
    assert result.returncode == 0, result.stderr
    first, second = result.stdout.splitlines()
    assert first.startswith("refused: ")
    assert "subinterpreters" in first
    assert second == "5"


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
def test_library_exports_only_the_initialisation_entry():
    output = subprocess.run(
        ["nm", "-D", "--defined-only", pwpoly.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in output.splitlines() if line.strip()]
    assert symbols == ["PyInit_pwpoly"]
