"""explain() against evaluate over random expressions and variables; the command line's analysis modes."""

import os
import random
import subprocess
import sys
from decimal import Decimal

import pytest

import py_vexlor
from py_vexlor import CompiledExpression, GasExhaustedError, evaluate, explain

VALUES = [0, 1, -1, 2, 7, "0.5", "-2.50", "0.000001", "1E-7", "-0.00", "3.14159", 10**20, "79228162514264337593543950335",
          "12345678901234.5678", 1.1, True]
CALLS = ["max", "min", "round", "sqrt", "abs", "floor", "ceil", "sum", "average", "add", "mul", "nope"]
BINARY = ["+", "-", "*", "/", "//", "%", "^", "==", "!=", "<", "<=", ">", ">=", "and", "or"]


def expression(rng, depth=0):
    r = rng.random()
    if depth > 4 or r < 0.08 * depth:
        return rng.choice(["a", "b", "c", "{12345678-1234-1234-1234-123456789abc}", "2", "0", "1.50", "0.1", "3"])
    if r < 0.45:
        return f"{rng.choice(['-', '+', 'not '])}({expression(rng, depth + 1)})"
    if r < 0.55:
        args = ", ".join(expression(rng, depth + 1) for _ in range(rng.randint(0, 3)))
        return f"{rng.choice(CALLS)}({args})"
    if r < 0.65:
        return f"({expression(rng, depth + 1)}) < {expression(rng, depth + 1)} ? {expression(rng, depth + 1)} : " \
               f"({expression(rng, depth + 1)})"
    left, right = expression(rng, depth + 1), expression(rng, depth + 1)
    if rng.random() < 0.5:
        left = f"({left})"
    return f"{left} {rng.choice(BINARY)} {right}"


def outcome(call):
    try:
        return "ok", repr(call())
    except (ArithmeticError, RuntimeError) as e:
        return type(e), str(e)


KIND_CLASSES = {"DivisionByZero": ZeroDivisionError, "Overflow": OverflowError, "OutOfGas": GasExhaustedError}


@pytest.mark.parametrize("seed", range(12))
def test_explain_agrees_with_evaluate(seed):
    rng = random.Random(seed)
    done = 0
    while done < 60:
        text = expression(rng)
        try:
            CompiledExpression(text, 64)
        except ValueError:  # the generator ignores the grammar's limits on comparisons and conditionals
            continue
        done += 1
        names = ["a", "b", "c", "{12345678-1234-1234-1234-123456789abc}"]
        vars = {n: rng.choice(VALUES) for n in names if rng.random() < 0.9}
        gas = rng.choice([None, None, 0, 5, 20, 200])
        expected = outcome(lambda: evaluate(text, vars, gas, 64))
        trace = explain(text, vars, gas=gas, max_depth=64)
        got = ("ok", repr(trace.result)) if trace.error is None else (type(trace.error), str(trace.error))
        assert got == expected, text
        kind, detail = trace._outcome  # what the traced run itself gave
        if kind == "ok":
            assert ("ok", repr(Decimal(detail))) == expected, text
            last = [s for s in trace.steps if not s.instruction.startswith("Jump")][-1]
            assert repr(last.output) == expected[1], text
        else:
            assert (KIND_CLASSES.get(kind, RuntimeError), detail) == expected, text
        # The gas: exactly what evaluate needs.
        if kind != "OutOfGas" and trace.gas < 2**63:
            assert outcome(lambda: evaluate(text, vars, trace.gas, 64)) == expected, text
            if trace.gas > 0:
                assert outcome(lambda: evaluate(text, vars, trace.gas - 1, 64))[0] is GasExhaustedError, text
        # Each step's output is its source span's value, and its gas what it used so far.
        source = text.encode()
        used = 0
        for step in trace.steps:
            assert step.gas >= used
            used = step.gas
            if step.output is not None:
                part = source[step.start:step.end].decode()
                assert repr(evaluate(part, vars, None, 64)) == repr(step.output), (text, part)


def test_explain_of_compiled_json_and_bad_arguments():
    loop = CompiledExpression.from_bytecode_json('[{"LoadVar":{"Name":"x"}},{"JumpIfFalse":3},{"Jump":0},'
                                                 '{"PushConst":"1"}]')
    trace = explain(loop, {"x": 0})
    assert trace.result == 1 and [s.branch for s in trace.steps] == [None, "else", None]
    assert trace.steps[0].start is None and trace.gas == 3
    with pytest.raises(ValueError, match="gas must be non-negative"):
        explain("a", {"a": 1}, gas=-1)
    with pytest.raises(TypeError):
        explain("a", {"a": object()})
    with pytest.raises(ValueError, match="Parse error"):
        explain("a +", {})
    assert "error: ZeroDivisionError: Division by zero" in str(explain("a / 0", {"a": 1}))


def vexlor(*args):
    return subprocess.run([sys.executable, "-m", "py_vexlor", *args], capture_output=True, text=True,
                          env={**os.environ, "PYTHONIOENCODING": "utf-8"})


@pytest.mark.parametrize("args, code, out, err", [
    (["--explain", "(c - p) / p * 100", "c=12.50", "p=10"], 0,
     ["6  Div            (c - p) / p * 100  2.50, 1000  0.0025   13", "result: 0.0025", "gas used: 13",
      "warning: (c - p) / p * 100 groups to the right here: it is (c - p) / (p * 100), not ((c - p) / p) * 100"], ""),
    (["--explain", "a / b", "--gas", "4", "a=1", "b=0"], 1,
     ["2  Div          a / b   1, 0    failed    2", "error: GasExhaustedError: Out of gas"], ""),
    (["--explain", "--", "-a", "a=2"], 0, ["1  Neg          -a      2       -2        2"], ""),
    (["--explain", "a", "a=x"], 1, [], "error: ValueError: Invalid numeric string for key 'a'"),
    (["--explain", "a", "a=1", "a=2"], 2, [], "variable 'a' given twice"),
    (["--check", "a", "--gas", "3"], 2, [], "argument --gas: only with --explain"),
    (["--check", "a", "a=2..1"], 2, [], "expected finite bounds with LOW <= HIGH"),
])
def test_command_line(args, code, out, err):
    done = vexlor(*args)
    assert done.returncode == code, done.stderr
    for line in out:
        assert line in done.stdout.splitlines() or line in done.stdout
    assert err in done.stderr


@pytest.mark.skipif(not hasattr(py_vexlor, "analyze"), reason="py_vexlor.analyze is not there yet")
def test_command_line_check():
    assert vexlor("--check", "a / b", "a=0..1000", "b=0.00..99.99").returncode == 1
    assert vexlor("--check", "a / b", "a=int64", "b=1..5").returncode == 0


def test_analysis_module_entries():
    from py_vexlor import _analysis

    assert _analysis.instruction_spans("a - b * 2", 15) == [(0, 1, 0, 1), (4, 5, 4, 5), (8, 9, 8, 9), (4, 9, 6, 7),
                                                             (0, 9, 2, 3)]
    assert [w[0] for w in _analysis.syntax_warnings("a % b * c == a % b * c", 15)] == [
        "right-grouping", "self-comparison", "right-grouping"]
    assert _analysis.syntax_warnings("a * b * c", 15) == []
    with pytest.raises(ValueError, match="Parse error"):
        _analysis.syntax_warnings("(", 15)
    with pytest.raises(TypeError):
        _analysis.instruction_spans(b"a", 15)
    with pytest.raises(ValueError):
        _analysis.trace(object(), [], None)


def test_argument_errors_evaluate_raises_are_raised():
    for gas in (2**63, 2**64):
        with pytest.raises(OverflowError, match="int too big to convert"):
            explain("1", {}, gas=gas)


def test_a_changed_object_is_traced_as_it_is_now():
    e = CompiledExpression("a - b")
    assert explain(e, {"a": 5, "b": 2}).steps[2].end == 5
    e.__setstate__(("(a - b)", 15))  # the same program, another text: the spans follow it
    assert [(s.start, s.end) for s in explain(e, {"a": 5, "b": 2}).steps] == [(1, 2), (5, 6), (1, 6)]
    e.__setstate__(("a + b", 15))  # a text that is not the program's: no spans
    trace = explain(e, {"a": 5, "b": 2})
    assert trace.result == 3 and trace.source is None and trace.steps[2].start is None
