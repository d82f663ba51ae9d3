"""pwpoly_numpy's kernels without the interpreter lock: other threads run
meanwhile, threads computing at once get their own results, and Ctrl-C stops
a long kernel within a fraction of a second."""

import json
import threading

import pytest

numpy = pytest.importorskip("numpy")
pwpoly_numpy = pytest.importorskip("pwpoly_numpy")

from conftest import run_python  # noqa: E402

# Kernels long enough to watch (tens to hundreds of milliseconds), on little memory.
LONG_CALLS = {
    "evaluate": "pwpoly_numpy.evaluate(3000, 1, 1.0, numpy.ones(3001), numpy.linspace(0, 1, 40000))",
    "evaluate_derivative": "pwpoly_numpy.evaluate_derivative(3000, 1, 1.0, numpy.ones(3001), numpy.linspace(0, 1, 40000))",
    "evaluate_columns": "pwpoly_numpy.evaluate(400, 2, 1.0, numpy.ones((802, 16)), numpy.linspace(0, 1, 20000))",
    "basis_matrix": "pwpoly_numpy.basis_matrix(50, 3, 1.0, numpy.linspace(0, 1, 300000))",
    "transformation_matrix": "pwpoly_numpy.transformation_matrix(400, 1)",
    "lagrange_points": "pwpoly_numpy.lagrange_points(1, 30000000, 1.0)",
    "piecewise_derivative": "pwpoly_numpy.PiecewiseLegendre(100, 2000, 1.0, numpy.ones((202000, 4))).derivative(50)",
}


@pytest.mark.parametrize("call", LONG_CALLS.values(), ids=LONG_CALLS.keys())
def test_another_thread_makes_progress_while_a_kernel_runs(call):
    # With a switch interval of 100 s the interpreter never takes the lock
    # from the calling thread: the counting thread can only run when the call
    # gives the lock up itself.
    result = run_python(
        f"""
        import sys, threading, time
        import numpy, pwpoly_numpy
        sys.setswitchinterval(100)
        counter = 0
        stop = False
        def count():
            global counter
            while not stop:
                counter += 1
                time.sleep(0)
        thread = threading.Thread(target=count)
        thread.start()
        while counter == 0:
            time.sleep(0.001)
        before = counter
        {call}
        during = counter - before
        stop = True
        thread.join()
        print(during)
        """
    )
    assert result.returncode == 0, result.stderr
    assert int(result.stdout) > 20


def test_threads_computing_at_once_get_their_own_results():
    rng = numpy.random.default_rng(5)
    jobs = [
        (d, n_t, rng.uniform(-1, 1, (n_t * (d + 1), m)), rng.uniform(-0.5, 3.5, 5001))
        for d, n_t, m in [(3, 50, 1), (7, 9, 4), (12, 30, 2), (0, 5, 3)]
    ] * 2
    expected = [pwpoly_numpy.evaluate(d, n_t, 3.0, c, t) for d, n_t, c, t in jobs]
    results = [None] * len(jobs)

    def work(index):
        d, n_t, c, t = jobs[index]
        for _ in range(20):
            results[index] = pwpoly_numpy.evaluate(d, n_t, 3.0, c, t)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(jobs))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, wanted in zip(results, expected):
        assert got.view(numpy.uint64).tolist() == wanted.view(numpy.uint64).tolist()


# Kernels of several seconds, stopped 0.3 s in.
INTERRUPTED_CALLS = {
    "evaluate": "pwpoly_numpy.evaluate(3000, 1, 1.0, numpy.ones(3001), numpy.linspace(0, 1, 4000000))",
    "evaluate_columns": "pwpoly_numpy.evaluate_derivative(2000, 1, 1.0, numpy.ones((2001, 64)), numpy.linspace(0, 1, 200000))",
    "transformation_triplets": "pwpoly_numpy.transformation_triplets(2500, 1)",
    "piecewise_derivative": "pwpoly_numpy.PiecewiseLegendre(300, 4000, 1.0, numpy.ones((1204000, 4))).derivative(300)",
}


@pytest.mark.parametrize("call", INTERRUPTED_CALLS.values(), ids=INTERRUPTED_CALLS.keys())
def test_ctrl_c_stops_a_long_kernel_promptly(call):
    result = run_python(
        f"""
        import json, os, signal, threading, time
        import numpy, pwpoly_numpy
        sent = []
        def interrupt():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)
        timer = threading.Timer(0.3, interrupt)
        started = time.monotonic()
        timer.start()
        try:
            {call}
            outcome = "finished"
        except KeyboardInterrupt:
            outcome = "interrupted"
        caught = time.monotonic()
        timer.join()
        print(json.dumps({{"outcome": outcome, "delay": caught - sent[0],
                          "elapsed": caught - started}}))
        """,
        timeout=300,
    )
    assert result.returncode == 0, result.stderr
    report = json.loads(result.stdout)
    print(f"Ctrl-C seen after {report['delay'] * 1000:.1f} ms")
    assert report["outcome"] == "interrupted", report
    assert report["delay"] < 0.5, report  # within 100 ms when the machine is not overloaded


def test_a_kernel_on_another_thread_runs_on_when_the_main_thread_is_interrupted():
    result = run_python(
        """
        import os, signal, threading, time
        import numpy, pwpoly_numpy
        results = []
        def work():
            results.append(pwpoly_numpy.evaluate(1000, 1, 1.0, numpy.ones(1001),
                                                 numpy.linspace(0, 1, 200000)))
        thread = threading.Thread(target=work)
        thread.start()
        time.sleep(0.05)
        try:
            os.kill(os.getpid(), signal.SIGINT)
            time.sleep(5)
        except KeyboardInterrupt:
            pass
        thread.join()
        print(len(results), results[0].shape)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["1", "(200000,)"]
