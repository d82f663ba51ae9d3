"""Caller objects that misbehave in the ways argument conversion meets them:
conversion methods that raise, return the wrong type, lie about a length or
call back into the module; and a way round the type check of method
descriptors, to call a method with a receiver of the wrong type."""

import ctypes

from conftest import panic_type

PanicException = panic_type()
CALLER_PANIC = "raised by the caller"
# The end of the message of every other error that caller objects raise: it
# starts with the name of the error's type.
CALLER_ERROR = "raised by the caller"


class CallerError(Exception):
    """An error of the caller's own code: it reaches the caller unchanged."""


class CallerTypeError(CallerError, TypeError):
    """A TypeError subclass: passes unchanged too, only an exact TypeError is wrapped."""


class Raising:
    """Every conversion method raises a new `error_type`."""

    def __init__(self, error_type):
        self.error_type = error_type

    def raise_error(self, *args):
        if self.error_type is PanicException:
            raise PanicException(CALLER_PANIC)
        raise self.error_type(f"{self.error_type.__name__} {CALLER_ERROR}")

    __float__ = __index__ = __len__ = __iter__ = __getitem__ = raise_error

    def __repr__(self):
        return f"Raising({self.error_type.__name__})"


class WrongType:
    """__float__ and __index__ return objects of the wrong type."""

    def __float__(self):
        return "1.0"

    def __index__(self):
        return 1.5

    def __repr__(self):
        return "WrongType()"


class Number:
    """Converts to `value` through __float__ and __index__, calling `action`
    first (which may call back into the module)."""

    def __init__(self, value, action=None):
        self.value = value
        self.action = action

    def __float__(self):
        if self.action is not None:
            self.action()
        return float(self.value)

    def __index__(self):
        if self.action is not None:
            self.action()
        return int(self.value)

    def __repr__(self):
        return f"Number({self.value!r}, {self.action!r})"


class LyingSequence:
    """A sequence of `items` (iterated through __getitem__) whose __len__
    returns `length`: a wrong count, a negative one, one of the wrong type,
    or an exception type to raise."""

    def __init__(self, items, length):
        self.items = list(items)
        self.length = length

    def __len__(self):
        if isinstance(self.length, type):
            raise self.length(f"{self.length.__name__} {CALLER_ERROR}")
        return self.length

    def __getitem__(self, index):
        return self.items[index]

    def __repr__(self):
        return f"LyingSequence({self.items!r}, {self.length!r})"


class FailingSequence(LyingSequence):
    """A sequence whose item `index` raises `error_type`."""

    def __init__(self, items, index, error_type):
        super().__init__(items, len(items))
        self.index = index
        self.error_type = error_type

    def __getitem__(self, index):
        if index == self.index:
            raise self.error_type(f"{self.error_type.__name__} {CALLER_ERROR}")
        return self.items[index]

    def __repr__(self):
        return f"FailingSequence({self.items!r}, {self.index}, {self.error_type.__name__})"


class NonIteratorSequence(LyingSequence):
    """A sequence whose __iter__ returns something that is not an iterator."""

    def __iter__(self):
        return 5


class Unprintable(str):
    """A keyword name whose str() raises."""

    def __str__(self):
        raise CallerError(f"CallerError {CALLER_ERROR}")


def with_receiver(descriptor, receiver):
    """The method of `descriptor` bound to `receiver` whatever its type, as
    the method descriptor never allows: the receiver check of the module
    itself is then all that stands in the way."""
    # PyMethodDescrObject: the object header, d_type, d_name, d_qualname, then
    # the PyMethodDef pointer.
    offset = object.__basicsize__ + 3 * ctypes.sizeof(ctypes.c_void_p)
    method_def = ctypes.c_void_p.from_address(id(descriptor) + offset).value
    new_function = ctypes.pythonapi.PyCFunction_NewEx
    new_function.restype = ctypes.py_object
    new_function.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.py_object]
    return new_function(method_def, receiver, None)
