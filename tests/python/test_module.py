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


# A child that imports pwpoly in a subinterpreter sharing the main
# interpreter's lock (where single-phase modules are allowed), then in the
# main interpreter, and prints a line for each: "imported 5" or
# "refused: <message>". With MAIN_FIRST the main interpreter imports it before.
OWNERSHIP_CHILD = """
import os
import textwrap
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters
if MAIN_FIRST:
    import pwpoly
code = textwrap.dedent('''
    import os
    try:
        import pwpoly
    except ImportError as error:
        os.write(1, ("refused: " + str(error) + "\\\\n").encode())
    else:
        os.write(1, ("imported " + pwpoly.sum_as_string(2, 3) + "\\\\n").encode())
''')
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
try:
    import pwpoly
except ImportError as error:
    os.write(1, ("refused: " + str(error) + "\\n").encode())
else:
    os.write(1, ("imported " + pwpoly.sum_as_string(2, 3) + "\\n").encode())
"""


@pytest.mark.parametrize("main_first", [True, False], ids=["main first", "subinterpreter first"])
def test_one_interpreter_owns_the_module(main_first, python_child):
    result = python_child(f"MAIN_FIRST = {main_first}\n{OWNERSHIP_CHILD}")
    assert result.returncode == 0, result.stderr
    in_subinterpreter, in_main = result.stdout.splitlines()
    # From 3.13 on, CPython runs the initialisation of a single-phase module
    # in the main interpreter, whichever interpreter imports it: the main
    # interpreter owns the module even when a subinterpreter imported first.
    if main_first or sys.version_info >= (3, 13):
        assert in_subinterpreter.startswith("refused: ")
        assert "subinterpreters" in in_subinterpreter
        assert in_main == "imported 5"
    else:
        assert in_subinterpreter == "imported 5"
        assert in_main.startswith("refused: ")
        assert "subinterpreters" in in_main


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
def test_library_exports_only_the_initialisation_entry():
    output = subprocess.run(
        ["nm", "-D", "--defined-only", pwpoly.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in output.splitlines() if line.strip()]
    assert symbols == ["PyInit_pwpoly"]
