"""IEEE-754 helpers for the tests: bit-level comparison of doubles and a
division that follows the standard where Python's raises."""

import math
import struct


def same_float(a, b):
    """True if `a` and `b` are the same double: equal with the same sign, or both NaN."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)


def same_floats(a, b):
    return len(a) == len(b) and all(same_float(x, y) for x, y in zip(a, b))


def divide(x, y):
    """x / y in IEEE-754 arithmetic: a zero divisor gives ±inf or NaN instead of raising."""
    if y != 0:
        return x / y
    if math.isnan(x) or x == 0:
        return math.nan
    return math.copysign(math.inf, x) * math.copysign(1.0, y)
