"""PiecewiseLegendre beyond one process: Dask's map_blocks over a chunked
array of times, on a LocalCluster of two worker processes that receive the
object by pickle, gives the bits of the direct call."""

import functools
import logging
import os

import pytest

numpy = pytest.importorskip("numpy")
pwpoly_numpy = pytest.importorskip("pwpoly_numpy")
dask_array = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")


def same_bits(got, expected):
    got = numpy.asarray(got)
    return got.shape == expected.shape and got.tobytes() == expected.tobytes()


def test_map_blocks_on_two_worker_processes_gives_the_direct_bits():
    rng = numpy.random.default_rng(18)
    p = pwpoly_numpy.PiecewiseLegendre(
        5, 40, 2.0, rng.uniform(-1.0, 1.0, (240, 3)), extrapolate="extend"
    )
    times = rng.uniform(-0.5, 2.5, 40_000)
    chunks = 10_000
    with (
        distributed.LocalCluster(
            n_workers=2,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
            silence_logs=logging.ERROR,
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        worker_processes = set(client.run(os.getpid).values())
        assert len(worker_processes) == 2 and os.getpid() not in worker_processes
        lazy_times = dask_array.from_array(times, chunks=chunks)
        values = lazy_times.map_blocks(p, dtype=float, new_axis=1, chunks=(chunks, 3))
        together = lazy_times.map_blocks(
            functools.partial(p, nu=[0, 1, 2]),
            dtype=float,
            new_axis=[0, 2],
            chunks=(3, chunks, 3),
        )
        got_values, got_together = dask_array.compute(values, together)
    assert same_bits(got_values, p(times))
    assert same_bits(got_together, p(times, [0, 1, 2]))
