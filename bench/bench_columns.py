"""Columnar benchmark: evaluate_columns over 10^6 rows of decimal128(18, 2) against
the columnar engines and the Python loop of `evaluate`.

Formulas (a..f hold values 1.00..99.99):
  add       a + b * 2
  formula   the 30-operator formula of bench_python.py (W3) over a..f
  ternary   max(a, 3) > 10 ? 1 : 0
  round     round(max(a, b) * 1.07, 2)
  div_round    round(a / b + c, 2)
  mod_floor    a % 7 + floor(b / 3)
  interest     round(a * (1 + b / 365) - c / 3, 2)
  formula_div  a 30-operator formula with four divisions by constants (FORMULA_DIV)
  add_float64  a + b * 2 over float64 columns (the same values)
  add_text     a + b * 2 over utf8 columns (their texts)

Peers, in the same run: pyarrow.compute (where it has the operations), polars,
duckdb with 1 and 2 threads, numexpr on float64 (not exact: the speed of
light), and, over a sample of rows as dicts of decimal.Decimal, a Python loop
of the module function `evaluate` (the way to evaluate a table before this
function) and one of a precompiled `CompiledExpression.evaluate`. The peers are given the formula with explicit parentheses, grouped as
this library groups it (to the right). Best of --repeat runs, ns per row.

Then the same rows read batch by batch (--batch-rows at a time, one call per
batch, as a stream or a Spark/Ray batch function gives them), on 1 and 2 threads.

    python3 bench/bench_columns.py [--rows 1000000] [--repeat 5] [--batch-rows 10000] [--markdown]
"""

from __future__ import annotations

import argparse
import os
import platform
import re
import sys
import time
from decimal import Decimal

import numpy as np
import pyarrow as pa

sys.path.insert(0, os.path.dirname(__file__))
from bench_python import w3_formula  # noqa: E402

from py_vexlor import CompiledExpression, evaluate, evaluate_columns  # noqa: E402

FORMULA_DIV = ("a * 1.07 + b / 4 - c * d / 100 + (e - f) / 3 + a * b - c + d * e - f + a * 2 - b + c * d - e"
               " + f * 0.5 + a - b * c + d - e / 8 + f")
FORMULAS = {
    "add": "a + b * 2",
    "formula": w3_formula(),
    "ternary": "max(a, 3) > 10 ? 1 : 0",
    "round": "round(max(a, b) * 1.07, 2)",
    "div_round": "round(a / b + c, 2)",
    "mod_floor": "a % 7 + floor(b / 3)",
    "interest": "round(a * (1 + b / 365) - c / 3, 2)",
    "formula_div": FORMULA_DIV,
    "add_float64": "a + b * 2",
    "add_text": "a + b * 2",
}
# The formulas read from columns of another type than decimal128(18, 2).
INPUT = {"add_float64": "float64", "add_text": "text"}


def grouped(text: str) -> str:
    """A chain of names and + - * with explicit parentheses: * before + and -,
    each level grouped to the right."""
    tokens = text.split()

    def expr(i: int) -> tuple[str, int]:
        left, i = term(i)
        if i < len(tokens) and tokens[i] in "+-":
            op = tokens[i]
            right, i = expr(i + 1)
            return f"({left} {op} {right})", i
        return left, i

    def term(i: int) -> tuple[str, int]:
        left = tokens[i]
        i += 1
        if i < len(tokens) and tokens[i] == "*":
            right, i = term(i + 1)
            return f"({left} * {right})", i
        return left, i

    return expr(0)[0]


def table(rows: int) -> pa.Table:
    rng = np.random.default_rng(1)
    columns = {}
    for name in "abcdef":
        words = np.zeros((rows, 2), dtype=np.int64)
        words[:, 0] = rng.integers(100, 10000, rows, dtype=np.int64)
        columns[name] = pa.Array.from_buffers(pa.decimal128(18, 2), rows, [None, pa.py_buffer(words.tobytes())])
    return pa.table(columns)


def retyped(t: pa.Table, kind: str) -> pa.Table:
    """The same values as float64, or as their texts."""
    to = pa.float64() if kind == "float64" else pa.string()
    return pa.table({name: t[name].cast(to) for name in t.column_names})


def best(fn, repeat: int) -> float:
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def peers(name: str, t: pa.Table):
    """(peer, callable or None) for one formula."""
    import duckdb
    import numexpr
    import polars as pl
    import pyarrow.compute as pc

    text = FORMULAS[name]
    out = {}
    if name in INPUT:
        return out
    two = pa.scalar(Decimal(2), pa.decimal128(1, 0))
    if name == "add":
        out["pyarrow.compute"] = lambda: pc.add(t["a"], pc.multiply(t["b"], two))
    elif name == "ternary":
        three, ten = pa.scalar(Decimal(3), pa.decimal128(1, 0)), pa.scalar(Decimal(10), pa.decimal128(2, 0))
        out["pyarrow.compute"] = lambda: pc.if_else(pc.greater(pc.max_element_wise(t["a"], three), ten), 1, 0)
    elif name == "round":
        rate = pa.scalar(Decimal("1.07"), pa.decimal128(3, 2))
        out["pyarrow.compute"] = lambda: pc.round(pc.multiply(pc.max_element_wise(t["a"], t["b"]), rate), 2)
    df = pl.from_arrow(t)
    a, b = pl.col("a"), pl.col("b")
    c = pl.col("c")
    polars_expr = {
        "add": a + b * 2,
        "div_round": (a / b + c).round(2),
        "mod_floor": a % 7 + (b / 3).floor(),
        "interest": (a * (1 + b / 365) - c / 3).round(2),
        "ternary": pl.when(pl.max_horizontal(a, pl.lit(3)) > 10).then(1).otherwise(0),
        "round": (pl.max_horizontal(a, b) * pl.lit(Decimal("1.07"))).round(2),
    }.get(name)
    if name == "formula":
        polars_expr = eval(re.sub(r"\b([a-f])\b", r'pl.col("\1")', grouped(text)))
    if name == "formula_div":
        polars_expr = eval(re.sub(r"\b([a-f])\b", r'pl.col("\1")', text))
    out["polars"] = lambda: df.select(polars_expr)
    sql = {
        "add": "a + b * 2",
        "formula": grouped(text),
        "ternary": "CASE WHEN greatest(a, 3) > 10 THEN 1 ELSE 0 END",
        "round": "round(greatest(a, b) * 1.07, 2)",
        "div_round": "round(a / b + c, 2)",
        "mod_floor": "a % 7 + floor(b / 3)",
        "interest": "round(a * (1 + b / 365) - c / 3, 2)",
        "formula_div": text,
    }[name]
    for threads in (1, 2):
        con = duckdb.connect()
        con.execute(f"SET threads={threads}")
        con.register("t", t)
        out[f"duckdb {threads}t"] = lambda con=con: con.execute(f"SELECT {sql} AS r FROM t").to_arrow_table()
    floats = {k: t[k].to_numpy().astype(np.float64) for k in "abcdef"}
    ne_text = {
        "add": "a + b * 2",
        "formula": grouped(text),
        "ternary": "where(where(a > 3, a, 3) > 10, 1, 0)",
        "round": "where(a > b, a, b) * 1.07",  # numexpr has no round
        "div_round": "a / b + c",
        "mod_floor": "a % 7 + floor(b / 3)",
        "interest": "a * (1 + b / 365) - c / 3",
        "formula_div": text,
    }[name]
    numexpr.set_num_threads(1)
    out["numexpr f64"] = lambda: numexpr.evaluate(ne_text, local_dict=floats)
    return out


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--loop-rows", type=int, default=20_000)
    parser.add_argument("--batch-rows", type=int, default=10_000)
    parser.add_argument("--markdown", action="store_true")
    args = parser.parse_args()
    t = table(args.rows)
    sample = t.slice(0, args.loop_rows).to_pylist()
    print(f"# {platform.processor() or platform.machine()}, {os.cpu_count()} cores, load {os.getloadavg()[0]:.2f},"
          f" {args.rows} rows", file=sys.stderr)
    # Every measurement once per round, the rounds interleaved, the best of all rounds kept: load
    # from other processes falls on every candidate alike.
    runs: dict[str, dict[str, object]] = {}
    inputs = {kind: retyped(t, kind) for kind in set(INPUT.values())}
    for name, text in FORMULAS.items():
        expr = CompiledExpression(text, 64)
        u = inputs.get(INPUT.get(name, ""), t)
        runs[name] = {f"ours {n}t": (lambda expr=expr, n=n, u=u: evaluate_columns(expr, u, threads=n)) for n in (1, 2)}
        for n in (1, 2):
            runs[name][f"batches {n}t"] = lambda expr=expr, n=n, ub=u.to_batches(max_chunksize=args.batch_rows): [
                evaluate_columns(expr, b, threads=n) for b in ub]
        runs[name].update(peers(name, t))
    results: dict[str, dict[str, float]] = {name: {} for name in FORMULAS}
    for _ in range(args.repeat):
        for name, candidates in runs.items():
            for peer, fn in list(candidates.items()):
                try:
                    elapsed = best(fn, 1) / args.rows
                except Exception as e:  # noqa: BLE001 - a peer without the operation is shown as "-"
                    print(f"{name}: {peer}: {type(e).__name__}: {str(e)[:100]}", file=sys.stderr)
                    del candidates[peer]
                    continue
                results[name][peer] = min(results[name].get(peer, elapsed), elapsed)
    for name, text in FORMULAS.items():
        expr = CompiledExpression(text, 64)
        results[name]["python loop"] = best(lambda: [evaluate(text, r, max_depth=64) for r in sample], 3) / len(sample)
        results[name]["compiled loop"] = best(lambda: [expr.evaluate(r) for r in sample], 3) / len(sample)
        print(name, {k: round(v * 1e9, 1) for k, v in results[name].items()}, file=sys.stderr)
    print(f"# load after: {os.getloadavg()[0]:.2f}", file=sys.stderr)
    cols = ["ours 1t", "ours 2t", "pyarrow.compute", "polars", "duckdb 1t", "duckdb 2t", "numexpr f64", "python loop",
            "compiled loop"]
    if args.markdown:
        print("| formula | " + " | ".join(cols) + " | 2t/1t | loop/ours | compiled loop/ours | ours/pc | ours/polars |"
              " ours/duckdb 1t |")
        print("|---|" + "---:|" * (len(cols) + 6))
        for name, row in results.items():
            cells = [f"{row[c] * 1e9:.1f}" if c in row else "-" for c in cols]
            ratio = lambda x, y: f"{row[x] / row[y]:.2f}" if x in row and y in row else "-"  # noqa: E731
            print(f"| {name} | " + " | ".join(cells) + f" | {ratio('ours 1t', 'ours 2t')} | "
                  f"{ratio('python loop', 'ours 1t')} | {ratio('compiled loop', 'ours 1t')} | "
                  f"{ratio('ours 1t', 'pyarrow.compute')} | "
                  f"{ratio('ours 1t', 'polars')} | {ratio('ours 1t', 'duckdb 1t')} |")
        print(f"\nBatches of {args.batch_rows} rows, one call each:\n")
        print("| formula | ours 1t | ours 2t | 2t/1t |")
        print("|---|---:|---:|---:|")
        for name, row in results.items():
            print(f"| {name} | {row['batches 1t'] * 1e9:.1f} | {row['batches 2t'] * 1e9:.1f} |"
                  f" {row['batches 1t'] / row['batches 2t']:.2f} |")


if __name__ == "__main__":
    main()
