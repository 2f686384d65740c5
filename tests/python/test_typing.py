"""The stubs as a type checker sees them: tests/typing/api_usage.py must pass mypy --strict
and pyright (strict) with its expected errors marked, and so must the package itself."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import py_vexlor

SAMPLES = Path(__file__).parent.parent / "typing"
PACKAGE = Path(py_vexlor.__file__).parent


@pytest.mark.parametrize("checker", [
    ["mypy", "--strict", "--cache-dir", "{tmp}", str(SAMPLES / "api_usage.py")],
    ["mypy", "--strict", "--cache-dir", "{tmp}", "-p", "py_vexlor"],
    ["pyright", "-p", str(SAMPLES / "pyrightconfig.json"), "--pythonpath", sys.executable,
     str(SAMPLES / "api_usage.py"), str(PACKAGE)],
], ids=["mypy-samples", "mypy-package", "pyright"])
def test_type_checkers_accept_the_samples(checker, tmp_path):
    pytest.importorskip(checker[0])
    args = [arg.replace("{tmp}", str(tmp_path)) for arg in checker]
    env = {**os.environ, "PYRIGHT_PYTHON_IGNORE_WARNINGS": "1"}  # no look-up of newer pyright releases
    proc = subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=tmp_path, env=env)
    assert proc.returncode == 0, proc.stdout + proc.stderr
