"""py_vexlor.analyze: sound against `evaluate` on random formulas and domains,
quiet on safe rule formulas, and every witness really fails."""

import random
from decimal import Decimal

import pytest

import py_vexlor
from py_vexlor import CompiledExpression, analyze

# ---------------------------------------------------------------- realistic rules
# (formula, domains, expected failure kinds); the safe half expects none.
RULES = [
    ("min(max(amount * 0.029 + 0.30, 0.50), 25)", {"amount": "decimal128(18, 2)"}, []),
    ("principal * rate * days / 365", {"principal": "decimal128(18,2)", "rate": (0, 1, 6), "days": (0, 3650, 0)}, []),
    ("income <= 10000 ? income * 0.10 : (income <= 50000 ? 1000 + (income - 10000) * 0.20"
     " : 9000 + (income - 50000) * 0.40)", {"income": "decimal128(18, 2)"}, []),
    ("monthly * days_used / days_in_month", {"monthly": "decimal128(12,2)", "days_used": (0, 31, 0),
                                             "days_in_month": (28, 31, 0)}, []),
    ("round(amount * rate, 2)", {"amount": "decimal128(18, 2)", "rate": (Decimal("0.0001"), 10000, 6)}, []),
    ("100 * (price - cost) / price", {"price": ("0.01", 1000000, 2), "cost": (0, 1000000, 2)}, []),
    ("qty != 0 ? total / qty : 0", {"total": "decimal128(18, 2)", "qty": "int32"}, []),
    ("(qty > 0 and total >= 0) ? total / qty : 0", {"total": "decimal128(18, 2)", "qty": "int32"}, []),
    ("fee / qty", {"fee": "decimal128(10, 2)", "qty": "int32"}, ["DivisionByZero"]),
    ("total / (count - returned)", {"total": (0, 10**9, 2), "count": "uint16", "returned": "uint16"},
     ["DivisionByZero"]),
    ("principal * (1 + rate) ^ years", {"principal": "decimal128(18,2)", "rate": (0, 1, 4), "years": (0, 50, 0)},
     ["Overflow"]),
    ("sqrt(balance) * 2", {"balance": "decimal128(18, 2)"}, ["RuntimeError"]),
    ("round(amount, places)", {"amount": "decimal128(18, 2)", "places": "int8"}, ["InvalidDecimalConversion"]),
    ("amount * 1000000000000", {"amount": (-10**20, 10**20, 2)}, ["Overflow"]),
    ("qty >= 0 ? total / qty : 0", {"total": "decimal128(18, 2)", "qty": "int32"}, ["DivisionByZero"]),
]


@pytest.mark.parametrize("formula,inputs,kinds", RULES)
def test_rule_formulas(formula, inputs, kinds):
    a = analyze(formula, inputs)
    assert sorted({f.kind for f in a.failures}) == kinds, str(a)
    expr = CompiledExpression(formula)
    for f in a.failures:
        assert f.witness is not None, str(a)
        with pytest.raises((ArithmeticError, RuntimeError)) as err:
            expr.evaluate(f.witness)
        assert str(err.value).startswith(f.message)
    assert a.gas is not None and a.variables == expr.variables()


# ---------------------------------------------------------------- randomised soundness
def _expr(rng, depth):
    pick = rng.randrange(2) if depth <= 0 else rng.randrange(12)
    if pick == 0:
        return rng.choice(["0", "1", "2", "0.5", "100", "1.25", "0.001", "-1", "1000000", "7", "0.00"])
    if pick == 1:
        return rng.choice(["a", "b", "c"])
    sub = lambda: "(" + _expr(rng, depth - 1) + ")"  # noqa: E731
    if pick == 2:
        return "-" + sub()
    if pick <= 6:
        return f"{sub()} {rng.choice(['+', '-', '*', '/', '//', '%'])} {sub()}"
    if pick == 7:
        return f"{sub()} ^ {rng.choice(['0', '1', '2', '3', '-1', '0.5', 'a'])}"
    if pick == 8:
        return f"{sub()} {rng.choice(['<', '>=', '==', 'and', 'or'])} {sub()}"
    if pick == 9:
        return f"{sub()} ? {sub()} : {sub()}"
    fn = rng.choice(["abs", "floor", "ceil", "round", "sqrt", "max", "min", "sum", "average"])
    n = rng.randrange(1, 3) if fn in ("max", "min", "sum", "average", "round") else 1
    return fn + "(" + ", ".join(_expr(rng, depth - 1) for _ in range(n)) + ")"


def _domain(rng):
    """A domain and a sampler of values inside it (edges first)."""
    kind = rng.randrange(5)
    if kind == 0:
        p, s = rng.randrange(1, 19), rng.randrange(0, 5)
        s = min(s, p)
        top = (Decimal(10) ** p - 1).scaleb(-s)
        q = Decimal(1).scaleb(-s)
        return f"decimal128({p}, {s})", lambda i: (
            [-top, top, Decimal(0).quantize(q)][i] if i < 3 else (top * Decimal(rng.random() * 2 - 1)).quantize(q))
    if kind == 1:
        bits = rng.choice([8, 16, 32])
        lo, hi = -(2 ** (bits - 1)), 2 ** (bits - 1) - 1
        return f"int{bits}", lambda i: [lo, hi, 0][i] if i < 3 else rng.randint(lo, hi)
    if kind == 2:
        return "float64", lambda i: rng.choice([0.0, -0.0, 1.5, -2.25, 1e-7, 123456.789, 1e15])
    lo = rng.randint(-1000, 1000)
    hi = rng.randint(lo, 1000)
    ms = rng.randrange(0, 4)
    q = Decimal(1).scaleb(-ms)
    return (lo, hi, ms), lambda i: (
        [Decimal(lo), Decimal(hi)][i] if i < 2 else
        min(max(Decimal(rng.uniform(lo, hi)).quantize(q), Decimal(lo)), Decimal(hi)))


def test_random_formulas_sound(seed=20261208, formulas=150):
    rng = random.Random(seed)
    failed_formulas = witnessed = 0
    for _ in range(formulas):
        text = _expr(rng, rng.randrange(1, 4))
        doms = {v: _domain(rng) for v in "abc"}
        a = analyze(text, {v: d for v, (d, _) in doms.items()})
        expr = CompiledExpression(text)
        lo, hi = a.result
        seen = []
        for i in range(20):
            values = {v: sample(i if i < 3 else 3) for v, (_, sample) in doms.items()}
            try:
                r = expr.evaluate(values)
            except (ArithmeticError, RuntimeError) as e:
                match = [f for f in a.failures if str(e) == f.message
                         or (f.message.endswith((": ", "convert ")) and str(e).startswith(f.message))]
                assert match, f"{text} {values}: unlisted {e!r}\n{a}"
                seen.append(match[0])
                continue
            assert lo is None or r >= lo, (text, values, r, a)
            assert hi is None or r <= hi, (text, values, r, a)
            assert a.scales[0] <= -r.as_tuple().exponent <= a.scales[1], (text, values, r, a)
            if a.gas is not None:
                expr.evaluate(values, gas=min(a.gas, 2**63 - 1))  # within the bound: never exhausted
        if seen:
            failed_formulas += 1
            witnessed += all(f.witness is not None for f in seen)
    assert witnessed >= 0.9 * failed_formulas, (witnessed, failed_formulas)


# ---------------------------------------------------------------- inputs and objects
def test_inputs_forms_and_report():
    pa = pytest.importorskip("pyarrow")
    schema = pa.schema([("price", pa.decimal128(18, 2)), ("qty", pa.int32()), ("note", pa.utf8())])
    by_schema = analyze("price * qty", schema)
    by_text = analyze("price * qty", {"price": "decimal128(18,2)", "qty": "int32"})
    by_type = analyze("price * qty", {"price": pa.decimal128(18, 2), "qty": pa.field("q", pa.int32())})
    assert by_schema.result == by_text.result == by_type.result
    assert by_text.result[1] == Decimal("9999999999999999.99") * 2**31
    assert by_text.scales == (0, 2) and by_text.failures == []  # a zero product has scale 0
    assert [f.kind for f in analyze("note * 0", schema).failures] == ["InvalidDecimalConversion"]
    a = analyze("fee / qty", {"qty": (0, 10, 0)})
    assert "^" in str(a) or a.failures[0].start is None
    assert analyze(CompiledExpression.from_bytecode_json('[{"PushConst":"1"},{"Jump":0}]')).gas is None
    for bad, exc in [({"a": "decimal(3)"}, ValueError), ({"a": (2, 1)}, ValueError), ({"a": [1, 2]}, TypeError),
                     ([("a", 1)], TypeError), ({"a": (0, 1, 29)}, ValueError)]:
        with pytest.raises(exc):
            analyze("a", bad)
    with pytest.raises(ValueError, match="^Parse error: "):
        analyze("a +")
    with pytest.raises(ValueError, match="max_depth"):
        analyze("a", max_depth=0)
    with pytest.raises(TypeError):
        analyze(3)
    assert analyze("((a))", max_depth=3).variables == ["a"]
    for wide, top in [("decimal128(38, 10)", Decimal("9999999999999999999999999999.9999999999")),
                      ("decimal128(30,29)", Decimal("9.99999999999999999999999999999")),
                      ("decimal128(28,28)", Decimal("0.9999999999999999999999999999")),
                      ("int8", Decimal(127)), ("uint64", Decimal(2**64 - 1)), ("bool", Decimal(1))]:
        low, high = analyze("x", {"x": wide}).result
        assert low <= -top if wide[0] != "u" and wide != "bool" else low == 0
        assert high >= top, (wide, high)
    never = analyze("x > 5 ? 1 : 2", {"x": (10, 20)})
    assert [(w.kind, w.start, w.end) for w in never.warnings] == [("never-taken", 0, 5)] and never.result == (1, 1)
    assert [w.kind for w in analyze("a / b", {"b": (0, 0)}).warnings] == ["zero-divisor"]
    assert {"analyze", "Analysis", "Failure"} <= set(py_vexlor.__all__)
