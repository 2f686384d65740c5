"""The installed `vexlor` over files and pipes: one test per promise of its table mode."""

import os
import random
import signal
import stat
import subprocess
import sys
import time
from decimal import ROUND_HALF_EVEN, Decimal
from pathlib import Path

import pytest

from py_vexlor import CompiledExpression

VEXLOR = Path(sys.executable).with_name("vexlor")
pytestmark = pytest.mark.skipif(not VEXLOR.exists(), reason="the package is not installed here")
USAGE = "usage: vexlor "


def vexlor(*args, stdin=None, env=None):
    return subprocess.run([str(VEXLOR), *args], input=stdin, capture_output=True, text=True,
                          env={**os.environ, "PYTHONIOENCODING": "utf-8", **(env or {})})


def test_streams_standard_input_and_output_and_a_closed_pipe(tmp_path):
    # the text as written: 0.1 is never a float, 1.50 keeps its places
    proc = vexlor("a * 3", "--input", "-", stdin="a\n0.1\n1.50\n")
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, "result\n0.3\n4.50\n", "")
    rows = tmp_path / "rows.csv"
    rows.write_text("a\n" + "1\n" * 300_000)
    shell = f"'{VEXLOR}' 'a * 2' --input - < '{rows}' | head -n 2; exit ${{PIPESTATUS[0]}}"
    proc = subprocess.run(["bash", "-c", shell], capture_output=True, text=True)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, "result\n2\n", "")
    shadow = tmp_path / "shadow" / "pyarrow"  # pyarrow is an optional extra
    shadow.mkdir(parents=True)
    (shadow / "__init__.py").write_text("raise ImportError('not installed')")
    path = os.pathsep.join(filter(None, [str(shadow.parent), os.environ.get("PYTHONPATH")]))
    proc = vexlor("a", "--input", str(rows), "--output", str(tmp_path / "o.parquet"), "--scale", "0",
                  env={"PYTHONPATH": path})
    assert (proc.returncode, proc.stderr) == (1, "error: writing Parquet needs pyarrow, an optional extra "
                                                 "(pip install 'py_vexlor[parquet]' or pip install pyarrow)\n")


def test_name_value_arguments_and_the_expression_among_them(tmp_path):
    data = tmp_path / "t.csv"
    data.write_text("x\n1\n2\n")
    for args in (["r=3", "x * r", "--input", str(data)], ["--input", str(data), "--expr", "result=x * r", "r=3"]):
        proc = vexlor(*args)
        assert (proc.returncode, proc.stdout) == (0, "result\n3\n6\n"), proc.stderr


def test_several_outputs_and_kept_columns(tmp_path):
    data = tmp_path / "t.csv"
    data.write_text('id,q,p,note\n7,2,1.25,"a, b"\n8,3,0.5,\n')
    proc = vexlor("q * p", "--input", str(data), "--expr", "double=q * p * 2", "--keep", "note,id")
    assert (proc.returncode, proc.stdout) == (0, 'note,id,result,double\n"a, b",7,2.50,5.00\n,8,1.5,3.0\n'), proc.stderr
    for args in (["--expr", "id=q", "--keep", "id"], ["q", "--expr", "result=p"], ["q", "--keep", "result"]):
        proc = vexlor("--input", str(data), *args)
        assert proc.returncode == 2 and proc.stderr.startswith(USAGE), proc.stderr


def test_parquet_output_type_is_fixed_before_the_first_row(tmp_path):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    source, target = tmp_path / "in.parquet", tmp_path / "out.parquet"
    # one place in the first batch, four places past row 65536
    values = [Decimal("4.5")] * 70_000 + [Decimal("0.1234")]
    pq.write_table(pa.table({"a": pa.array(values, pa.decimal128(10, 4))}), source)
    proc = vexlor("a * 1", "--input", str(source), "--output", str(target), "--scale", "4")
    assert proc.returncode == 0, proc.stderr
    column = pq.read_table(target).column("result")
    assert column.type == pa.decimal128(38, 4) and column.to_pylist() == values
    proc = vexlor("a * 1", "--input", str(source), "--output", str(target), "--scale", "1")
    assert pq.read_table(target).column("result").to_pylist()[-2:] == [Decimal("4.5"), Decimal("0.1")]
    try:
        import py_vexlor._output_type  # noqa: F401
    except ImportError:  # without the analysis of the output type, --scale is asked for up front
        proc = vexlor("a * 1", "--input", str(source), "--output", str(target))
        assert proc.returncode == 2 and "needs --scale S" in proc.stderr, proc.stderr


def test_file_outputs_appear_whole_or_not_at_all(tmp_path):
    data, target = tmp_path / "t.csv", tmp_path / "out.csv"
    data.write_text("a\n" + "1\n" * 70_000 + "0\n")
    target.write_text("before\n")
    proc = vexlor("1 / a", "--input", str(data), "--output", str(target))  # fails in the second batch
    assert proc.returncode == 1 and "raised by row 70000 of the input" in proc.stderr, proc.stderr
    assert target.read_text() == "before\n" and sorted(os.listdir(tmp_path)) == ["out.csv", "t.csv"]
    proc = vexlor("a", "--input", str(data), "--output", str(data))
    assert proc.returncode == 2 and "is the input file" in proc.stderr and data.stat().st_size == 140_004
    # Ctrl-C while the input is still coming: no partial file
    run = subprocess.Popen([str(VEXLOR), "a", "--input", "-", "--output", str(target)],
                           stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    run.stdin.write(b"a\n" + b"1\n" * 100_000)
    run.stdin.flush()
    deadline = time.monotonic() + 30
    while len(os.listdir(tmp_path)) < 3 and time.monotonic() < deadline:  # the temporary file exists
        time.sleep(0.01)
    run.send_signal(signal.SIGINT)
    assert run.wait() == 130 and run.stderr.read() == b"interrupted\n"
    run.stdin.close()
    assert target.read_text() == "before\n" and sorted(os.listdir(tmp_path)) == ["out.csv", "t.csv"]
    proc = vexlor("a * 2", "--input", str(data), "--output", str(target), "--threads", "2")
    assert proc.returncode == 0 and target.read_text().splitlines()[:2] == ["result", "2"]
    # a pipe (like a device) is written as the rows come, never renamed over
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    reader = subprocess.Popen(["cat", str(fifo)], stdout=subprocess.PIPE)
    proc = vexlor("a * 2", "--input", str(data), "--output", str(fifo))
    assert proc.returncode == 0 and reader.communicate()[0].count(b"\n") == 70_002
    assert stat.S_ISFIFO(os.stat(fifo).st_mode)


def _random_decimal(rng):
    return f"{rng.choice(['', '-'])}{rng.randrange(10 ** rng.randrange(1, 12))}" + (
        f".{rng.randrange(10 ** (places := rng.randrange(1, 10))):0{places}d}" if rng.random() < 0.7 else "")


def test_csv_that_other_tools_read_back(tmp_path):
    # input: BOM, quoted fields, a blank line (skipped here), exponents and null
    data = tmp_path / "t.csv"
    rng = random.Random(21)
    rows = [(_random_decimal(rng), _random_decimal(rng)) for _ in range(300)]
    rows += [("1E-7", "2.25E-7"), ("0E-12", ""), ("1E-28", "10000000000000000000000000000")]
    data.write_text("\ufeff\"a\",b\n" + "\n".join(f'"{a}",{b}' if i % 7 else f"{a},{b}\n"
                                                  for i, (a, b) in enumerate(rows)) + "\n", encoding="utf-8")
    outputs = {"result": "a + b", "q": "a / (b - 1)", "m": "a * b"}
    proc = vexlor("a + b", "--input", str(data), "--expr", "q=a / (b - 1)", "--expr", "m=a * b", "--errors", "null")
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    assert lines[0] == "result,q,m" and len(lines) == len(rows) + 1
    for (a, b), line in zip(rows, lines[1:]):  # each row's own exact value, plain notation
        expected = []
        for text in outputs.values():
            try:
                value = CompiledExpression(text).evaluate({"a": a, "b": b or "0"}) if b else None
            except (ArithmeticError, ValueError):
                value = None
            expected.append("" if value is None else format(value, "f"))
        assert line == ",".join(expected), (a, b)
    assert "E" not in proc.stdout
    # exactly --scale places, in the first batch and after it (rounded half to even)
    many = [_random_decimal(rng) for _ in range(70_000)] + ["1E-7", "-0.005", "0.015"]
    (tmp_path / "many.csv").write_text("a,b\n" + "".join(f"{a},\n" for a in many))
    proc = vexlor("a", "--input", str(tmp_path / "many.csv"), "--scale", "2", "--output", str(tmp_path / "o.csv"))
    texts = (tmp_path / "o.csv").read_text().splitlines()[1:]
    rounded = [Decimal(a).quantize(Decimal("0.01"), ROUND_HALF_EVEN) for a in many]
    assert texts == [format(v.copy_abs() if v.is_zero() else v, "f") for v in rounded], proc.stderr
    assert texts[-3:] == ["0.00", "0.00", "0.02"]
    one = tmp_path / "one.csv"  # one column: a blank line is a null row, written back as one
    one.write_text("a\n1.5\n\n10\n")
    proc = vexlor("a * 2", "--input", str(one), "--scale", "2", "--output", str(tmp_path / "n.csv"))
    assert (tmp_path / "n.csv").read_text() == "result\n3.00\n\n20.00\n", proc.stderr
    pd = pytest.importorskip("pandas")
    assert pd.read_csv(tmp_path / "o.csv")["result"].dtype == "float64"
    assert pd.read_csv(tmp_path / "n.csv", skip_blank_lines=False)["result"].isna().tolist() == [False, True, False]
    pl = pytest.importorskip("polars")
    assert pl.read_csv(tmp_path / "n.csv")["result"].to_list() == [3.0, None, 20.0]
    duckdb = pytest.importorskip("duckdb")
    assert duckdb.sql(f"select result from '{tmp_path / 'n.csv'}'").fetchall() == [(3.0,), (None,), (20.0,)]


@pytest.mark.parametrize("args, code, message", [
    (["a", "--scale", "40"], 2, "argument --scale: 40 is not between 0 and 38"),
    (["a", "--threads", "0"], 2, "argument --threads: 0 is not between 1 and 1024"),
    (["a", "--input", "{dir}/none.csv"], 2, "cannot read {dir}/none.csv: No such file or directory"),
    (["price * 2"], 1, "{csv} has no column 'price' (for the variable price); its columns: 'id', ' price', "
                       "'qty'; did you mean ' price'?"),
    (["qty", "--keep", "ID"], 1, "{csv} has no column 'ID' (for --keep ID); its columns: 'id', ' price', "
                                 "'qty'; did you mean 'id'?"),
    (["qty * 2"], 1, "{csv}, line 4, column 'qty': 'n/a' is not a decimal number (Invalid decimal: unknown character)"),
    (["10 / qty", "--keep", "id"], 1, "ZeroDivisionError: Division by zero\nraised by row 1 of the input "
                                      "(rows counted from 0), {csv}, line 3"),
    (["--expr", "x=qty * 2", "--expr", "y=10 / qty"], 1, "ZeroDivisionError: Division by zero\nraised by row 1 "
                                                         "of the input (rows counted from 0), {csv}, line 3\n"
                                                         "in the output 'y'"),  # the lowest row of any output
])
def test_messages(tmp_path, args, code, message):
    data = tmp_path / "t.csv"
    data.write_text("id, price,qty\n1,2,3\n2,5,0\n3,4,n/a\n")
    proc = vexlor(*[arg.format(dir=tmp_path) for arg in args], *([] if "--input" in args else ["--input", str(data)]))
    assert proc.returncode == code and proc.stdout == ""
    if code == 2:
        assert proc.stderr.startswith(USAGE) and proc.stderr.endswith(f"error: {message.format(dir=tmp_path)}\n")
    else:
        assert proc.stderr == f"error: {message.format(csv=data)}\n"


def test_help_shows_examples_for_files():
    proc = vexlor("--help")
    examples = [line for line in proc.stdout.splitlines() if line.startswith("  vexlor ") and "--input" in line]
    assert proc.returncode == 0 and len(examples) >= 2 and "status 0" in proc.stdout
