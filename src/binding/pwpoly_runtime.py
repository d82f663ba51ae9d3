"""The runtime namespace of pwpoly's native code.

``PanicException`` is the exception that pwpoly raises when one of its internal
checks fails. Its ``__module__`` is ``pwpoly_runtime``, and this module is where
``pickle`` (and so ``multiprocessing`` and ``concurrent.futures``) finds it:
``pickle.loads(pickle.dumps(error))`` gives a ``PanicException`` with the same
``args``, in this process or in a fresh one. The class derives from
``BaseException``, so ``except Exception`` does not catch it::

    from pwpoly_runtime import PanicException

    try:
        basis.evaluate_at(1.0, [1.0])
    except PanicException as error:
        print(error.args[0])

pwpoly creates the class when it is imported and sets it here; importing this
module imports pwpoly.
"""

import sys as _sys

# PanicException is set on this module by pwpoly itself, below.
__all__ = ["PanicException"]  # noqa: F822


def _obtain_panic_exception():
    # Importing pwpoly for the first time in this process sets the class here.
    import pwpoly  # noqa: F401

    if "PanicException" in globals():
        return
    # pwpoly was imported before this module: a new import runs its
    # initialisation again, which gives the same module object and sets the
    # class here.
    imported = _sys.modules.pop("pwpoly")
    try:
        import pwpoly  # noqa: F401, F811
    finally:
        _sys.modules["pwpoly"] = imported


_obtain_panic_exception()
if "PanicException" not in globals():
    raise ImportError("pwpoly_runtime: pwpoly did not provide PanicException")
