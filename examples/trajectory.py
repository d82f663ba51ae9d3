"""
Velocities and accelerations of a trajectory
============================================

A point moves along a planar curve, sampled at the Lagrange nodes of 12
intervals of [0, 2 pi]. ``PiecewiseLegendre.from_lagrange_values`` turns the
samples into a piecewise polynomial of degree 5, whose call with orders
``[0, 1, 2]`` gives positions, velocities and accelerations in one pass over
the times. The script prints the largest errors against the exact derivatives
and the speed's range, and writes trajectory.png: the path with velocity
arrows, and the speed and acceleration over time. Needs NumPy and matplotlib
(python3 -m pip install ".[plot]").
"""

from __future__ import annotations

import sys
from typing import Any

try:
    from matplotlib.figure import Figure
except ImportError:
    sys.exit("trajectory.py needs matplotlib: python3 -m pip install matplotlib")

import numpy as np
import numpy.typing as npt

import pwpoly_numpy
from pwpoly_numpy import PiecewiseLegendre

FloatArray = npt.NDArray[np.float64]
# What NumPy's functions of times return, as every NumPy version types it.
Times = npt.NDArray[np.floating[Any]]

DEGREE, N_T, T = 5, 12, 2.0 * np.pi


def path(t: Times) -> FloatArray:
    """An epicycle: x = 2 cos t + cos 3t, y = 2 sin t - sin 3t, shape (len(t), 2)."""
    return np.stack([2 * np.cos(t) + np.cos(3 * t), 2 * np.sin(t) - np.sin(3 * t)], axis=1)


def velocity(t: Times) -> FloatArray:
    return np.stack([-2 * np.sin(t) - 3 * np.sin(3 * t), 2 * np.cos(t) - 3 * np.cos(3 * t)], axis=1)


def acceleration(t: Times) -> FloatArray:
    return np.stack(
        [-2 * np.cos(t) - 9 * np.cos(3 * t), -2 * np.sin(t) + 9 * np.sin(3 * t)], axis=1
    )


def main() -> None:
    nodes = pwpoly_numpy.lagrange_points(DEGREE, N_T, T)
    p = PiecewiseLegendre.from_lagrange_values(DEGREE, N_T, T, path(nodes))
    times = np.linspace(0.0, T, 2001)
    position, speed_vector, accel = p(times, [0, 1, 2])
    print(f"{p!r}")
    for name, got, exact in (
        ("position", position, path(times)),
        ("velocity", speed_vector, velocity(times)),
        ("acceleration", accel, acceleration(times)),
    ):
        print(f"largest error of the {name:<13} {np.max(np.abs(np.subtract(got, exact))):.2e}")
    speed = np.hypot(speed_vector[:, 0], speed_vector[:, 1])
    print(f"speed between {speed.min():.3f} and {speed.max():.3f}")

    figure = Figure(figsize=(11.0, 4.8), layout="constrained")
    left, right = figure.subplots(1, 2)
    left.plot(*path(times).T, color="0.6", linewidth=4, label="exact path")
    left.plot(*position.T, color="tab:blue", label=f"degree {DEGREE} on {N_T} intervals")
    left.plot(*path(nodes).T, "o", color="tab:blue", markersize=3, label="Lagrange nodes")
    arrows = times[::40]
    at, v = p(arrows), p(arrows, 1)
    left.quiver(
        at[:, 0],
        at[:, 1],
        v[:, 0],
        v[:, 1],
        color="tab:red",
        angles="xy",
        scale_units="xy",
        scale=6.0,
        width=0.005,
    )
    left.plot([], [], color="tab:red", label="velocity p(t, 1)")
    left.set_aspect("equal")
    left.set_xlabel("x")
    left.set_ylabel("y")
    left.set_title("Path and velocity")
    left.legend(loc="upper center", bbox_to_anchor=(0.5, -0.14), ncol=2, fontsize="small")

    right.plot(times, speed, color="tab:red", label="speed |p'(t)|")
    right.plot(times, np.hypot(accel[:, 0], accel[:, 1]), color="tab:green", label="|p''(t)|")
    for k in range(N_T + 1):
        right.axvline(float(p.breakpoints[k]), color="0.7", linestyle="--", linewidth=0.8)
    right.set_xlabel("time t")
    right.set_ylabel("magnitude")
    right.set_title("Speed and acceleration (dashed: interval ends)")
    right.legend(loc="upper center", bbox_to_anchor=(0.5, -0.14), ncol=2, fontsize="small")
    figure.savefig("trajectory.png", dpi=100)
    print("wrote trajectory.png")


if __name__ == "__main__":
    main()
