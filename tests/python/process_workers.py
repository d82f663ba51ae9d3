"""Functions that worker processes run: importable by name, so that workers
started with the spawn method find them too."""

import pwpoly


def failing_evaluation(length):
    """Fails inside pwpoly with PanicException (too few coefficients)."""
    return pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0] * length)


def evaluation_with_failures_caught(length):
    """The same work, returning the failure's message instead of raising it:
    the way out for pools that cannot deliver a BaseException."""
    try:
        return failing_evaluation(length)
    except BaseException as error:  # noqa: BLE001 - PanicException is one
        if type(error).__name__ != "PanicException":
            raise
        return f"failed: {error.args[0]}"
