"""Types of pwpoly_runtime, the runtime namespace of pwpoly's native code."""

__all__ = ["PanicException"]

class PanicException(BaseException):
    """Raised when one of pwpoly's internal checks fails.

    ``args[0]`` is the failure's message (with a backtrace when the
    environment variable ``PWPOLY_BACKTRACE`` asks for one). Derives from
    ``BaseException``, so ``except Exception`` does not catch it; pickles by
    reference to this module.
    """
