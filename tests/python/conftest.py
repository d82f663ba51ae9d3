"""Shared helpers for the Python tests of pwpoly."""

import os
import subprocess
import sys
import textwrap

import pytest

# Set by scripts/run_sanitized.sh: the module is built with AddressSanitizer.
SANITIZED = os.environ.get("PWPOLY_SANITIZED") == "1"


def run_python(code, env=None, timeout=120, memory_limit=None):
    """Runs `code` in a fresh interpreter; returns the completed process.

    `memory_limit` (bytes) caps the child's address space, so that a faulty
    size check cannot exhaust the machine.
    """
    full_env = dict(os.environ)
    full_env.pop("PWPOLY_BACKTRACE", None)
    if env:
        full_env.update(env)
    preexec = None
    if memory_limit is not None:
        if SANITIZED:
            pytest.skip(
                "an address-space limit leaves no room for AddressSanitizer's shadow memory"
            )
        import resource

        def preexec():
            resource.setrlimit(resource.RLIMIT_AS, (memory_limit, memory_limit))

    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=full_env,
        timeout=timeout,
        preexec_fn=preexec,
    )


@pytest.fixture
def python_child():
    return run_python


def panic_type():
    """The PanicException class, taken from a failure the module raises."""
    import pwpoly

    try:
        pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
    except BaseException as error:  # noqa: BLE001 - the class is what we want
        return type(error)
    raise AssertionError("no internal failure raised")
