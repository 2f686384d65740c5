import subprocess
import sys

import pytest


@pytest.mark.parametrize(
    "args, code, out",
    [
        (["a + b * 2", "a=1", "b=5"], 0, "11\n"),
        (["1 / 2"], 0, "0.50\n"),
        (["x * 2", "x=1.50"], 0, "3.00\n"),
        (["1 + 2", "--gas", "5"], 0, "3\n"),
        (["1 + 2", "--gas", "4"], 1, ""),
        (["1 / 0"], 1, ""),
        (["1 +"], 1, ""),
        (["x"], 1, ""),
    ],
)
def test_cli(args, code, out):
    proc = subprocess.run([sys.executable, "-m", "py_vexlor", *args], capture_output=True, text=True)
    assert proc.returncode == code, proc.stderr
    assert proc.stdout == out
    if code:
        assert proc.stderr.startswith("error: ")
