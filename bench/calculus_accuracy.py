"""Accuracy of PiecewiseLegendre's derivatives and integrals against exact values.

On grids whose interval width is a power of two, dyadic times have exact local
coordinates, so exact rational arithmetic (fractions.Fraction) gives the exact
derivative of the stored polynomial and its exact integrals. Errors are given
relative to the magnitude of the terms, M = sum_i |c_i| |P_i^(nu)(1)| (2/w)^nu
on the interval (for integrals, w * sum_i |c_i| over the intervals covered),
both as a fraction of M and in units of 2**-52 M. For comparison, the first
derivative of pwpoly's formula (``evaluate_derivative``) on the same points.

    python3 bench/calculus_accuracy.py [--seeds 6]

Needs NumPy; prints a Markdown table. Takes a few minutes.
"""

from __future__ import annotations

import argparse
import functools
import math
import platform
import sys
import time
from fractions import Fraction

import numpy

import pwpoly_numpy

EPS = 2.0**-52
DEGREES = [(1, 5), (6, 10), (11, 20)]
N_T = 4
WIDTHS = [0.25, 1.0, 4.0]
STEPS = 16
"""Points per interval: xi = -1 + 2 j / STEPS, both ends included."""


MAX_DEGREE = max(high for _, high in DEGREES)
TABLE: list[list[Fraction]] = []


def legendre_powers(degree: int) -> list[list[Fraction]]:
    table = [[Fraction(1)], [Fraction(0), Fraction(1)]]
    for n in range(1, degree):
        raised = [Fraction(0)] + [(2 * n + 1) * x for x in table[n]]
        lower = table[n - 1] + [Fraction(0), Fraction(0)]
        table.append([(raised[j] - n * lower[j]) / (n + 1) for j in range(n + 2)])
    return table[: degree + 1]


def horner(powers: list[Fraction], x: Fraction) -> Fraction:
    total = Fraction(0)
    for coefficient in reversed(powers):
        total = total * x + coefficient
    return total


@functools.cache
def legendre_derivatives(nu: int, xi: Fraction) -> tuple[Fraction, ...]:
    """P_i^(nu)(xi) for i = 0 ... MAX_DEGREE, exactly (nu = -1: the integral
    of P_i from -1 to xi)."""
    if not TABLE:
        TABLE.extend(legendre_powers(MAX_DEGREE))
    values = []
    for powers in TABLE:
        if nu < 0:
            primitive = [Fraction(0)] + [x / (j + 1) for j, x in enumerate(powers)]
            values.append(horner(primitive, xi) - horner(primitive, Fraction(-1)))
        else:
            d = [powers[j] * math.perm(j, nu) for j in range(nu, len(powers))]
            values.append(horner(d, xi))
    return tuple(values)


def coefficient_sets(degree: int, seeds: int) -> list[numpy.ndarray]:
    """Random coefficients of every degree alike, and decaying ones (as those
    of a smooth function)."""
    sets = []
    for seed in range(seeds):
        rng = numpy.random.default_rng(seed)
        values = rng.uniform(-1.0, 1.0, (degree + 1) * N_T)
        if seed % 2:
            values *= numpy.repeat(10.0 ** -numpy.arange(degree + 1), N_T)
        sets.append(values)
    return sets


def interval_times(w: float) -> list[float]:
    """Dyadic times of every interval: STEPS + 1 equally spaced local
    coordinates and two just outside the band near each end where pwpoly's
    formula switches rules (1 - 2**-10 and 1 - 2**-9)."""
    local = [-1 + 2 * j / STEPS for j in range(STEPS + 1)]
    local += [sign * (1 - 2.0**-e) for sign in (-1, 1) for e in (9, 10)]
    return [k * w + (xi + 1) * w / 2 for k in range(N_T) for xi in local]


def derivative_errors(degree: int, seeds: int) -> dict[str, float]:
    """Largest error / M over all points, per order (and pwpoly's formula)."""
    worst: dict[str, float] = {}
    orders = [1, 2, 3, 4]
    for w in WIDTHS:
        T = N_T * w
        scale = Fraction(2) / Fraction(w)
        times = numpy.array(interval_times(w))
        for coefficients in coefficient_sets(degree, seeds):
            p = pwpoly_numpy.PiecewiseLegendre(degree, N_T, T, coefficients)
            values = p(times, orders)
            formula = pwpoly_numpy.evaluate_derivative(degree, N_T, T, coefficients, times)
            for index, t in enumerate(times):
                q = Fraction(t) / Fraction(w)
                k = min(math.floor(q), N_T - 1)
                xi = 2 * (q - k) - 1
                series = [Fraction(float(c)) for c in coefficients[k::N_T]]
                for slot, nu in enumerate(orders):
                    at = legendre_derivatives(nu, xi)
                    ends = legendre_derivatives(nu, Fraction(1))
                    exact = sum((c * v for c, v in zip(series, at)), Fraction(0)) * scale**nu
                    magnitude = sum((abs(c * v) for c, v in zip(series, ends)), Fraction(0))
                    magnitude *= scale**nu
                    if magnitude == 0:
                        continue
                    error = float(abs(Fraction(float(values[slot, index])) - exact) / magnitude)
                    worst[f"nu={nu}"] = max(worst.get(f"nu={nu}", 0.0), error)
                    if nu == 1:
                        error = float(abs(Fraction(float(formula[index])) - exact) / magnitude)
                        worst["formula"] = max(worst.get("formula", 0.0), error)
    return worst


def integral_errors(degree: int, seeds: int) -> float:
    """Largest error / magnitude of p.integrate(a, b) over dyadic pairs."""
    worst = 0.0
    for w in WIDTHS:
        T = N_T * w
        width = Fraction(w)
        points = [k * w + j * w / 4 for k in range(N_T) for j in range(4)] + [T]
        for coefficients in coefficient_sets(degree, seeds):
            p = pwpoly_numpy.PiecewiseLegendre(degree, N_T, T, coefficients)
            exact_series = [[Fraction(float(c)) for c in coefficients[k::N_T]] for k in range(N_T)]
            for a in points[::3]:
                for b in points:
                    lower, upper = sorted((Fraction(a), Fraction(b)))
                    exact = Fraction(0)
                    magnitude = Fraction(0)
                    for k, series in enumerate(exact_series):
                        left = max(lower, k * width)
                        right = min(upper, (k + 1) * width)
                        if left > right:
                            continue
                        g_left = legendre_derivatives(-1, 2 * (left - k * width) / width - 1)
                        g_right = legendre_derivatives(-1, 2 * (right - k * width) / width - 1)
                        for c, gl, gr in zip(series, g_left, g_right):
                            exact += c * (gr - gl) * width / 2
                            magnitude += abs(c) * width
                    if a > b:
                        exact = -exact
                    got = Fraction(float(p.integrate(a, b)))
                    worst = max(worst, float(abs(got - exact) / magnitude))
    return worst


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=6, help="coefficient sets per grid")
    options = parser.parse_args()
    started = time.perf_counter()
    print(
        f"CPython {platform.python_version()}, NumPy {numpy.__version__}, "
        f"{platform.machine()}; {N_T} intervals of width {WIDTHS}, {options.seeds} "
        f"coefficient sets each, {STEPS + 5} points per interval\n"
    )
    header = [
        "degrees",
        "nu = 1",
        "nu = 2",
        "nu = 3",
        "nu = 4",
        "integrals",
        "pwpoly formula, nu = 1",
    ]
    rows = []
    for low, high in DEGREES:
        worst: dict[str, float] = {}
        integral = 0.0
        for degree in range(low, high + 1):
            for key, value in derivative_errors(degree, options.seeds).items():
                worst[key] = max(worst.get(key, 0.0), value)
            integral = max(integral, integral_errors(degree, options.seeds))

        def cell(error: float) -> str:
            return f"{error:.1e} ({error / EPS:.1f} u)"

        rows.append(
            [f"{low}–{high}"]
            + [cell(worst.get(f"nu={nu}", 0.0)) for nu in (1, 2, 3, 4)]
            + [cell(integral), cell(worst["formula"])]
        )
    print("| " + " | ".join(header) + " |")
    print("| " + " | ".join(["---"] * len(header)) + " |")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print(
        f"\nLargest error / M, and in units u = 2**-52 M. Measured in {time.perf_counter() - started:.0f} s."
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
