import os
from decimal import Decimal
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
    # values go to the evaluation as text: its own messages
    (["a", "a=1e-30"], 1, "", "error: ValueError: Invalid numeric string for key 'a': Invalid decimal: unknown character\n"),
    (["a", "a=" + "9" * 29], 1, "",
     "error: ValueError: Invalid numeric string for key 'a': Invalid decimal: overflow from too many digits\n"),
    (["a", "a=x"], 1, "", "error: ValueError: Invalid numeric string for key 'a': Invalid decimal: unknown character\n"),
    # parse errors: the message's first line, the expression with carets under the byte span,
    # then the expected tokens in words
    (["1 2 $"], 1, "", 'error: ValueError: Parse error: Unrecognized token `2` found at 2:3\n  1 2 $\n    ^\n'
     'expected one of "!=", "%", "*", "+", "-", "/", "//", "<", "<=", "==", ">", ">=", "?", "^", "and" or "or"\n'
     + PARSE_NOTE + "\n"),
    (["a\u3000+ {ABC}"], 1, "", "error: ValueError: Parse error: Unrecognized token `ABC` found at 7:10\n"
     "  a\u3000+ {ABC}\n        ^^^\nexpected a UUID\n" + PARSE_NOTE + "\n"),  # U+3000: three bytes, two columns
    (["-"], 1, "", "error: ValueError: Parse error: Unrecognized EOF found at 1\n  -\n   ^\n"
     'expected one of a number, an identifier, "(" or "{"\n' + PARSE_NOTE + "\n"),
    (["1)"], 1, "", "error: ValueError: Parse error: Unrecognized token `)` found at 1:2\n  1)\n   ^\n"
     "expected the end of the expression\n" + PARSE_NOTE + "\n"),
    (["x +\t漢"], 1, "", "error: ValueError: Parse error: Invalid token at 4\n  x +\t漢\n     \t^^\n" + PARSE_NOTE + "\n"),
    (["1 +\n(2"], 1, "", "error: ValueError: Parse error: Unrecognized EOF found at 6\n"
     '  (2\n    ^\nexpected ")"\n' + PARSE_NOTE + "\n"),
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
    (["1", "--gas", "-1"], 2, "", "error: argument --gas: -1 is not at least 0\n"),
    (["1", "--max-depth", "0"], 2, "", "error: argument --max-depth: 0 is not between 1 and 1024\n"),
    (["1", "--keep", "a"], 2, "", "error: argument --keep: only with --input\n"),
    ([], 2, "", "error: the following arguments are required: EXPRESSION\n"),
])
def test_cli(args, code, out, err):
    proc = run(*args)
    assert (proc.returncode, proc.stdout) == (code, out), proc.stderr
    if code == 2:
        usage, message = proc.stderr.split("\n", 1)
        assert usage == ("usage: python -m py_vexlor [-h] [--version] [--gas N] [--max-depth N] [--input FILE "
                         "[--output FILE] [--expr NAME=EXPRESSION] [--keep COLS] ...] [EXPRESSION] [name=value ...]")
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


CSV = "a,b,{%s}\n1.50,2,1\n3,,2\n-1,0,3\n" % UUID


# Every row of a file: columns are the variables, name=value gives every row one value.
@pytest.mark.parametrize("args, code, out, err", [
    (["a + b * 2"], 0, "result\n5.50\n\n-1\n", ""),  # an empty field is null (a blank line in one column)
    (["a / b"], 1, "", "error: ZeroDivisionError: Division by zero\n"
                       "raised by row 2 of the input (rows counted from 0), {csv}, line 4\n"),
    (["a / b", "--errors", "null"], 0, "result\n0.75\n\n\n", ""),
    (["a / b", "b=4"], 0, "result\n0.3750\n0.75\n-0.25\n", ""),
    (["a / b", "--scale", "1", "--threads", "3", "b=4"], 0, "result\n0.4\n0.8\n-0.2\n", ""),
    ([f"a * {{{UUID}}}"], 0, "result\n1.50\n6\n-3\n", ""),
    (["a * 2", "--gas", "2"], 1, "", "error: GasExhaustedError: Out of gas: instruction cost 3 exceeds "
                                     "remaining 0 (limit 2)\nraised by row 0 of the input (rows counted from 0), "
                                     "{csv}, line 2\n"),
    (["c"], 1, "", "error: {csv} has no column 'c' (for the variable c); its columns: 'a', 'b', '{{%s}}'\n" % UUID),
])
def test_cli_input(tmp_path, args, code, out, err):
    data = tmp_path / "t.csv"
    data.write_text(CSV)
    proc = run(args[0], "--input", str(data), *args[1:])
    assert (proc.returncode, proc.stdout, proc.stderr) == (code, out, err.format(csv=data))


def test_cli_input_mistakes(tmp_path):
    ragged = tmp_path / "r.csv"
    ragged.write_text("a,b\n1,2\n3\n")
    for args, message in [
        (["a", "--input", str(tmp_path / "none.csv")], "cannot read"),
        (["a", "--output", "x.csv"], "argument --output: only with --input"),
    ]:
        proc = run(*args)
        assert proc.returncode == 2 and message in proc.stderr, proc.stderr
    proc = run("a", "--input", str(ragged))  # a problem with the data
    assert proc.returncode == 1 and "line 3: 1 fields, the header has 2" in proc.stderr, proc.stderr


def test_cli_parquet_round_trip(tmp_path):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    source, target = tmp_path / "in.parquet", tmp_path / "out.parquet"
    a = pa.array([Decimal(i) / 4 for i in range(100_000)], pa.decimal128(18, 2))
    pq.write_table(pa.table({"a": a, "unused": pa.array(["x"] * len(a))}), source)
    proc = run("round(a * 1.07, 2)", "--input", str(source), "--output", str(target), "--progress", "--scale", "2")
    assert proc.returncode == 0 and proc.stderr.endswith("100%\n"), proc.stderr
    result = pq.read_table(target).column("result").to_pylist()
    assert result == [round(v * Decimal("1.07"), 2) for v in a.to_pylist()]
