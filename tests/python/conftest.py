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


def exhaustion_in_threads(setup, call, threads):
    """A child script that fills its 1 GiB address space, frees nothing or a
    few blocks, then runs `call` on the main thread and on `threads` other
    threads in turn; it prints the set of exception names that `call` raised.

    The threads start before anything is exhausted: freed blocks stay mapped
    by the allocator, so a thread started later may find no room for its
    stack, which would test the interpreter, not the call.
    """
    return textwrap.dedent(setup) + textwrap.dedent(
        f"""
        import resource, threading
        outcomes = set()

        def exhaust_then_fail(headroom):
            hog = []
            for size in (1 << 20, 1 << 12, 1 << 9):
                try:
                    while True:
                        hog.append(bytes(size))
                except MemoryError:
                    pass
            del hog[len(hog) - headroom:]
            try:
                {call}
            except BaseException as error:
                outcomes.add(type(error).__name__)
            del hog

        def when_told(go, headroom):
            go.wait()
            exhaust_then_fail(headroom)

        gates = [threading.Event() for _ in range({threads})]
        workers = [threading.Thread(target=when_told, args=(go, headroom))
                   for headroom, go in enumerate(gates)]
        for worker in workers:
            worker.start()
        limit = 1 << 30
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        exhaust_then_fail(0)
        for go, worker in zip(gates, workers):
            go.set()
            worker.join()
        print(sorted(outcomes))
        """
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
