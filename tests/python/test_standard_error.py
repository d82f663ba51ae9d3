"""Failure reports on a standard error that blocks: a pipe that nobody reads,
a pipe that a Python thread drains (as Jupyter's kernel does), a signal while
a write waits, and a sys.stderr that replaces itself while it writes. Each
case runs in a child with a hard timeout: a freeze or a crash is the failure."""

import os
import queue
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest
from conftest import run_python

# A loop of caught failures, each writing a report of a few hundred bytes:
# far more than a pipe holds (64 KiB).
FAILURES = """
import pwpoly
def fail_many(count):
    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    for _ in range(count):
        try:
            basis.evaluate_at(1.0, [1.0])
        except BaseException as error:
            if type(error).__name__ != "PanicException":
                raise
"""

# File descriptor 2 on a pipe that a Python thread drains into `received`, as
# a Jupyter kernel captures it.
DRAINED_PIPE = """
import os, threading
read_end, write_end = os.pipe()
os.dup2(write_end, 2)
received = []
def drain():
    while chunk := os.read(read_end, 1024):
        received.append(chunk)
drainer = threading.Thread(target=drain, daemon=True)
drainer.start()
def stop_draining():
    # The pipe's last writers closed, the drainer reads its end and returns:
    # no thread is left holding a chunk when the interpreter exits.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 2)
    os.close(devnull)
    os.close(write_end)
    drainer.join()
"""


def test_reports_into_a_pipe_drained_by_a_python_thread_never_deadlock():
    result = run_python(
        FAILURES
        + DRAINED_PIPE
        + textwrap.dedent(
            """
            fail_many(3000)
            stop_draining()
            print("done", sum(map(len, received)) > 65536)
            """
        ),
        timeout=120,
    )
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout.split() == ["done", "True"]


def lines_of(stream):
    """A queue of the stream's lines, read by a thread; None at its end,
    where the thread closes the stream.

    A thread rather than select(): the text stream buffers ahead, so a line
    may already sit in its buffer while the pipe itself has nothing new.
    """
    lines = queue.Queue()

    def read():
        with stream:
            for line in stream:
                lines.put(line.rstrip("\n"))
        lines.put(None)

    threading.Thread(target=read, daemon=True).start()
    return lines


def next_line(lines, timeout):
    """The next line within `timeout` seconds, else the string "<timeout>"."""
    try:
        return lines.get(timeout=timeout)
    except queue.Empty:
        return "<timeout>"


@pytest.mark.skipif(sys.platform != "linux", reason="pipes and signals as on Linux")
def test_a_full_pipe_lets_other_threads_run_and_ctrl_c_stop_the_call():
    code = FAILURES + textwrap.dedent(
        """
        import sys, threading, time
        stop = threading.Event()
        def tick():
            while not stop.is_set():
                sys.stdout.write("tick\\n")
                sys.stdout.flush()
                time.sleep(0.01)
        print("started", flush=True)
        ticker = threading.Thread(target=tick, daemon=True)
        ticker.start()
        try:
            fail_many(100_000)
            print("finished", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        stop.set()
        ticker.join()
        # The module works on, once the pipe is read again.
        fail_many(3)
        print("works", pwpoly.sum_as_string(2, 3), flush=True)
        """
    )
    child = subprocess.Popen(
        [sys.executable, "-c", code],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        lines = lines_of(child.stdout)
        assert next_line(lines, 30) == "started"
        # The reports fill the pipe within a moment; then the main thread
        # waits in a write, and the ticking thread must still run.
        time.sleep(0.5)
        ticks = 0
        while ticks < 20:
            line = next_line(lines, 5)
            assert line not in ("<timeout>", None), "the child froze"
            ticks += line == "tick"
        child.send_signal(signal.SIGINT)
        outcome = "tick"
        while outcome == "tick":
            outcome = next_line(lines, 10)
        assert outcome == "interrupted", "Ctrl-C did not stop the call"
        stderr = child.stderr.read()
        assert child.wait(timeout=60) == 0, stderr[-3000:]
        rest = []
        while (line := next_line(lines, 10)) not in ("<timeout>", None):
            rest.append(line)
        assert "works 5" in rest
        # Each report written stays whole: the last one before the signal
        # may have been cut short, no other.
        assert stderr.count("panicked at") >= 60
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        child.stderr.close()


def test_a_handler_that_raises_while_a_report_waits_ends_the_call_with_its_error():
    # SIGALRM lands while the report waits on the full pipe: the handler's
    # exception replaces the PanicException of the call.
    result = run_python(
        FAILURES
        + textwrap.dedent(
            """
            import os, signal
            read_end, write_end = os.pipe()
            os.dup2(write_end, 2)
            class Stop(Exception):
                pass
            def handler(signum, frame):
                raise Stop("from the handler")
            signal.signal(signal.SIGALRM, handler)
            signal.setitimer(signal.ITIMER_REAL, 0.5)
            try:
                fail_many(100_000)
            except Stop as error:
                print(repr(error))
            """
        ),
        timeout=60,
    )
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout.strip() == "Stop('from the handler')"


def test_a_stream_that_replaces_itself_while_writing_a_traceback_is_held_to_the_end():
    # The traceback of a PanicException that comes back from Python code goes
    # to sys.stderr; this stream's write drops the last reference to it.
    result = run_python(
        """
        import sys, pwpoly
        try:
            pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
        except BaseException as error:
            Panic = type(error)
        class Vanishing:
            def write(self, text):
                sys.stderr = sys.__stderr__
                return len(text)
            def flush(self):
                print("flushed", flush=True)
            def __del__(self):
                print("released", flush=True)
        class Item:
            def __float__(self):
                raise Panic("boom")
        sys.stderr = Vanishing()
        try:
            pwpoly.LegendreBasisEvaluator(0, 1, 1.0).set_dofs([Item()])
        except BaseException as error:
            print(type(error).__name__, error.args)
        """,
        timeout=60,
    )
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout.split("\n")[:3] == ["flushed", "released", "PanicException ('boom',)"]


def test_reports_of_threads_on_a_drained_pipe_stay_whole():
    result = run_python(
        FAILURES
        + DRAINED_PIPE
        + textwrap.dedent(
            """
            workers = [threading.Thread(target=fail_many, args=(300,)) for _ in range(4)]
            for worker in workers:
                worker.start()
            for worker in workers:
                worker.join()
            stop_draining()
            text = b"".join(received).decode()
            reports = text.split("\\nthread '<unnamed>'")[1:]
            print(len(reports), all(r.count("panicked at") == 1 for r in reports))
            print(all("Matrix view: input data buffer too small." in r for r in reports))
            """
        ),
        timeout=120,
    )
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout.split() == ["1200", "True", "True"]


if os.name != "posix":  # pragma: no cover
    pytestmark = pytest.mark.skip(reason="file descriptors and signals as on POSIX")
