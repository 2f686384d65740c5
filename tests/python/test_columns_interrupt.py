"""Ctrl-C during a long evaluate_columns raises KeyboardInterrupt promptly, whatever the thread count."""

import subprocess
import sys

import pytest

pytest.importorskip("pyarrow")

CHILD = r"""
import os, signal, sys, threading, time
import pyarrow as pa
import py_vexlor

threads = int(sys.argv[1])
table = pa.table({"a": pa.array(range(1, 400_001))})  # about 8 s of fractional powers on one thread
sent = []
def interrupt():
    time.sleep(0.5)
    sent.append(time.monotonic())
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt, daemon=True).start()
started = time.monotonic()
try:
    py_vexlor.evaluate_columns("a ^ 0.5", table, threads=threads)
    print("finished", time.monotonic() - started)
except KeyboardInterrupt:
    print("interrupted", time.monotonic() - sent[0])
print(py_vexlor.evaluate_columns("a * 2", {"a": [1, 2]}, threads=threads).to_pylist())
"""


@pytest.mark.parametrize("threads", [1, 2])
def test_sigint_raises_keyboard_interrupt_promptly(threads):
    out = subprocess.run([sys.executable, "-c", CHILD, str(threads)], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    outcome, seconds = out.stdout.splitlines()[0].split()
    assert outcome == "interrupted"
    assert float(seconds) < 5
    assert out.stdout.splitlines()[1] == "[Decimal('2'), Decimal('4')]"
