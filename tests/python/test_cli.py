import os
import subprocess
import sys
from pathlib import Path

import pytest

import py_vexlor

PARSE_NOTE = "(positions in the message are byte offsets into the UTF-8 text; a span is start:end)"
UUID = "123e4567-e89b-12d3-a456-426614174000"


def run(*args, command=(sys.executable, "-m", "py_vexlor")):
    return subprocess.run([*command, *args], capture_output=True, text=True,
                          env={**os.environ, "PYTHONIOENCODING": "utf-8"})


# Exit status 0: the result; 1: an error of the evaluation ("error: Type: message");
# 2: a mistake on the command line (argparse's "prog: error: ..." after the usage).
@pytest.mark.parametrize("args, code, out, err", [
    (["a + b * 2", "a=1", "b=5"], 0, "11\n", ""),
    (["1 / 2"], 0, "0.50\n", ""),
    (["x * 2", "x=1.50"], 0, "3.00\n", ""),
    (["1 + 2", "--gas", "5"], 0, "3\n", ""),
    (["--gas=5", "--max-depth", "20", "1 + 2"], 0, "3\n", ""),
    (["-x * 2", "x=3"], 0, "-6\n", ""),
    (["-height", "height=3"], 0, "-3\n", ""),  # not taken for -h
    (["--", "-h", "h=1"], 0, "-1\n", ""),
    ([f"{{{UUID}}} + a", f"{UUID.upper()}=1", "a=2"], 0, "3\n", ""),
    (["--version"], 0, f"python -m py_vexlor {py_vexlor.__version__}\n", ""),
    (["1 + 2", "--gas", "4"], 1, "",
     "error: GasExhaustedError: Out of gas: instruction cost 3 exceeds remaining 2 (limit 4)\n"),
    (["1 / 0"], 1, "", "error: ZeroDivisionError: Division by zero\n"),
    (["x"], 1, "", "error: RuntimeError: Variable not found: x\n"),
    (["1", "--gas", "-1"], 1, "", "error: ValueError: gas must be non-negative\n"),
    (["1", "--max-depth", "0"], 1, "", "error: ValueError: max_depth must be between 1 and 1024\n"),
    # values go to the evaluation as text: its own messages
    (["a", "a=1e-30"], 1, "", "error: ValueError: Invalid numeric string for key 'a': Invalid decimal: unknown character\n"),
    (["a", "a=" + "9" * 29], 1, "",
     "error: ValueError: Invalid numeric string for key 'a': Invalid decimal: overflow from too many digits\n"),
    (["a", "a=x"], 1, "", "error: ValueError: Invalid numeric string for key 'a': Invalid decimal: unknown character\n"),
    # parse errors: the exact message, then the expression with carets under the byte span
    (["1 2 $"], 1, "", 'error: ValueError: Parse error: Unrecognized token `2` found at 2:3\nExpected one of "!=", "%", '
     '"*", "+", "-", "/", "//", "<", "<=", "==", ">", ">=", "?", "^", "and" or "or"\n  1 2 $\n    ^\n' + PARSE_NOTE + "\n"),
    (["a\u3000+ {ABC}"], 1, "", "error: ValueError: Parse error: Unrecognized token `ABC` found at 7:10\n"
     'Expected one of r#"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"#\n'
     "  a\u3000+ {ABC}\n        ^^^\n" + PARSE_NOTE + "\n"),  # U+3000: three bytes, two columns
    (["x +\t漢"], 1, "", "error: ValueError: Parse error: Invalid token at 4\n  x +\t漢\n     \t^^\n" + PARSE_NOTE + "\n"),
    (["1 +\n(2"], 1, "", "error: ValueError: Parse error: Unrecognized EOF found at 6\n"
     'Expected one of ")"\n  (2\n    ^\n' + PARSE_NOTE + "\n"),
    (["1e999"], 1, "", "error: ValueError: Parse error: Invalid decimal literal\n"),
    # command-line mistakes name the argument
    (["a", "1=2"], 2, "", "error: argument '1=2': the name '1' is neither an identifier nor a UUID\n"),
    (["a", "a-b=3"], 2, "", "error: argument 'a-b=3': the name 'a-b' is neither an identifier nor a UUID\n"),
    (["a", "=3"], 2, "", "error: argument '=3': the name '' is neither an identifier nor a UUID\n"),
    (["a", "or=3"], 2, "", "error: argument 'or=3': the name 'or' is a keyword\n"),
    (["a", "a"], 2, "", "error: argument 'a': expected name=value\n"),
    (["a", "a=1", "a=2"], 2, "", "error: argument 'a=2': 'a' is already given by 'a=1'\n"),
    (["x", f"{{{UUID}}}=1", f"urn:uuid:{UUID.upper()}=2"], 2, "",
     f"error: argument 'urn:uuid:{UUID.upper()}=2': 'urn:uuid:{UUID.upper()}' is already given by '{{{UUID}}}=1'\n"),
    (["1", "--gas", str(2**63)], 2, "", f"error: argument --gas: {2**63} does not fit in a signed 64-bit integer\n"),
    (["1", "--max-depth", "x"], 2, "", "error: argument --max-depth: expected an integer, got 'x'\n"),
    ([], 2, "", "error: the following arguments are required: EXPRESSION\n"),
])
def test_cli(args, code, out, err):
    proc = run(*args)
    assert (proc.returncode, proc.stdout) == (code, out), proc.stderr
    if code == 2:
        usage, message = proc.stderr.split("\n", 1)
        assert usage == "usage: python -m py_vexlor [-h] [--version] [--gas N] [--max-depth N] EXPRESSION [name=value ...]"
        assert message == "python -m py_vexlor: " + err
    else:
        assert proc.stderr == err


def test_console_script():
    script = Path(sys.executable).with_name("vexlor")
    if not script.exists():
        pytest.skip("the package is not installed in this interpreter's environment")
    proc = run("a * 2", "a=1.5", command=(str(script),))
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, "3.0\n", "")
    assert run("--version", command=(str(script),)).stdout == f"vexlor {py_vexlor.__version__}\n"
