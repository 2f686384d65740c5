"""Python API benchmark: py_vexlor against eval, the cost floor and simpleeval.

Workloads (median of repeats, nanoseconds per evaluation):
  W1  a + b * 2 with two small ints
  W2  max(x, 3) > 10 ? 1 : 0
  W3  a 30-operator formula over 6 variables holding values like Decimal('12.34')
  W4  module evaluate (compile + run) of W1 and W3, against compile + eval
  W5  evaluate_batch of 1000 different expressions against one dict, per expression

Anchors: eval of a precompiled code object with decimal.Decimal values; the cost
floor of any evaluator returning a decimal.Decimal (one C call taking the dict,
plus decimal.Decimal('11')); simpleeval with a pre-parsed tree.

    python3 bench/bench_python.py [--repeat 7] [--markdown]
"""

from __future__ import annotations

import argparse
import platform
import random
import statistics
import timeit
from decimal import Decimal

import py_vexlor
from py_vexlor import CompiledExpression, evaluate, evaluate_batch

try:
    import simpleeval
except ImportError:  # pragma: no cover
    simpleeval = None

W3_NAMES = ["a", "b", "c", "d", "e", "f"]


def w3_formula() -> str:
    rng = random.Random(3)
    ops = ["+", "-", "*", "+", "-"]
    parts = [rng.choice(W3_NAMES)]
    for _ in range(30):
        parts += [rng.choice(ops), rng.choice(W3_NAMES)]
    return " ".join(parts)


def per_call_ns(stmt, setup_globals, number, repeat) -> float:
    timer = timeit.Timer(stmt, globals=setup_globals)
    runs = timer.repeat(repeat=repeat, number=number)
    return statistics.median(runs) / number * 1e9


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--number", type=int, default=20000)
    args = parser.parse_args()
    rep, num = args.repeat, args.number

    rows: list[tuple[str, dict[str, float]]] = []
    D = Decimal

    def floor_env(d):
        return {"d": d, "D": D}

    # W1
    w1 = "a + b * 2"
    e1 = CompiledExpression(w1)
    d1 = {"a": 1, "b": 5}
    dv1 = {"a": D(1), "b": D(5)}
    c1 = compile(w1, "<w1>", "eval")
    g = {"e": e1, "d": d1, "dv": dv1, "c": c1, "D": D, "evaluate": evaluate, "w": w1}
    r = {
        "py_vexlor": per_call_ns("e.evaluate(d)", g, num, rep),
        "eval": per_call_ns("eval(c, None, dv)", g, num, rep),
        "floor": per_call_ns("len(d); D('11')", floor_env(d1), num, rep),
    }
    if simpleeval:
        s = simpleeval.SimpleEval(names=dv1)
        tree = s.parse(w1)
        r["simpleeval"] = per_call_ns("s.eval(w, previously_parsed=t)", {"s": s, "w": w1, "t": tree}, num // 4, rep)
    rows.append(("W1 a + b * 2", r))

    # W2
    w2 = "max(x, 3) > 10 ? 1 : 0"
    w2py = "1 if max(x, 3) > 10 else 0"
    e2 = CompiledExpression(w2)
    d2 = {"x": 12}
    dv2 = {"x": D(12)}
    c2 = compile(w2py, "<w2>", "eval")
    g = {"e": e2, "d": d2, "dv": dv2, "c": c2}
    r = {
        "py_vexlor": per_call_ns("e.evaluate(d)", g, num, rep),
        "eval": per_call_ns("eval(c, None, dv)", g, num, rep),
        "floor": per_call_ns("len(d); D('11')", floor_env(d2), num, rep),
    }
    if simpleeval:
        s = simpleeval.SimpleEval(names=dv2, functions={"max": max})
        tree = s.parse(w2py)
        r["simpleeval"] = per_call_ns("s.eval(w, previously_parsed=t)", {"s": s, "w": w2py, "t": tree}, num // 4, rep)
    rows.append(("W2 max(x, 3) > 10 ? 1 : 0", r))

    # W3
    w3 = w3_formula()
    e3 = CompiledExpression(w3, max_depth=64)
    rng = random.Random(7)
    dv3 = {n: D(f"{rng.randint(100, 9999) / 100:.2f}") for n in W3_NAMES}
    d3 = dict(dv3)
    c3 = compile(w3, "<w3>", "eval")
    g = {"e": e3, "d": d3, "dv": dv3, "c": c3}
    r = {
        "py_vexlor": per_call_ns("e.evaluate(d)", g, num // 2, rep),
        "eval": per_call_ns("eval(c, None, dv)", g, num // 2, rep),
        "floor": per_call_ns("len(d); D('11')", floor_env(d3), num, rep),
    }
    if simpleeval:
        s = simpleeval.SimpleEval(names=dv3)
        tree = s.parse(w3)
        r["simpleeval"] = per_call_ns("s.eval(w, previously_parsed=t)", {"s": s, "w": w3, "t": tree}, num // 20, rep)
    rows.append(("W3 30 operators, 6 Decimal variables", r))

    # W4: compile + run
    for label, text, d, dv, depth in (("W4 evaluate(W1)", w1, d1, dv1, 15), ("W4 evaluate(W3)", w3, d3, dv3, 64)):
        g = {"evaluate": evaluate, "t": text, "d": d, "dv": dv, "m": depth, "D": D}
        r = {
            "py_vexlor": per_call_ns("evaluate(t, d, None, m)", g, num // 4, rep),
            "eval": per_call_ns("eval(compile(t, '<w4>', 'eval'), None, dv)", g, num // 20, rep),
            "floor": per_call_ns("len(d); D('11')", floor_env(d), num, rep),
        }
        if simpleeval:
            s = simpleeval.SimpleEval(names=dv)
            r["simpleeval"] = per_call_ns("s.eval(t)", {"s": s, "t": text}, num // 40, rep)
        rows.append((label, r))

    # W5: 1000 different expressions against one dict, per expression
    rng = random.Random(5)
    texts = []
    for i in range(1000):
        x, y = rng.choice(W3_NAMES), rng.choice(W3_NAMES)
        texts.append(f"{x} * {rng.randint(1, 99)} + {y} - {i}")
    exprs = [CompiledExpression(t) for t in texts]
    codes = [compile(t, "<w5>", "eval") for t in texts]
    g = {"evaluate_batch": evaluate_batch, "exprs": exprs, "codes": codes, "d": d3, "dv": dv3, "D": D}
    n5 = max(1, num // 1000)
    r = {
        "py_vexlor": per_call_ns("evaluate_batch(exprs, d)", g, n5, rep) / 1000,
        "eval": per_call_ns("[eval(c, None, dv) for c in codes]", g, n5, rep) / 1000,
        "floor": per_call_ns("len(d); [D('11') for _ in codes]", g, n5, rep) / 1000,
    }
    if simpleeval:
        s = simpleeval.SimpleEval(names=dv3)
        trees = [s.parse(t) for t in texts]
        r["simpleeval"] = per_call_ns(
            "[s.eval(t, previously_parsed=p) for t, p in zip(texts, trees)]",
            {"s": s, "texts": texts, "trees": trees}, 1, rep) / 1000
    rows.append(("W5 evaluate_batch, 1000 expressions (per expression)", r))

    print(f"python {platform.python_version()}, py_vexlor from {py_vexlor.__file__}")
    print()
    print("| workload | py_vexlor ns | eval ns | floor ns | simpleeval ns | eval / ours | ours / floor | simpleeval / ours |")
    print("|---|---|---|---|---|---|---|---|")
    for label, r in rows:
        ours = r["py_vexlor"]
        se = r.get("simpleeval")
        print(f"| {label} | {ours:.0f} | {r['eval']:.0f} | {r['floor']:.0f} | "
              f"{se:.0f} | {r['eval'] / ours:.2f} | {ours / r['floor']:.2f} | {se / ours:.1f} |"
              if se else
              f"| {label} | {ours:.0f} | {r['eval']:.0f} | {r['floor']:.0f} | - | {r['eval'] / ours:.2f} | "
              f"{ours / r['floor']:.2f} | - |")


if __name__ == "__main__":
    main()
