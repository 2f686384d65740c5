"""explain() against evaluate() for the same call (median of repeats, microseconds per call).

Workloads: W1 `a + b * 2`, W2 `max(x, 3) > 10 ? 1 : 0`, W3 a 30-operator formula over six
variables holding values like Decimal('12.34') (as in bench_python.py), each given as text and as
a CompiledExpression. `explain` builds its steps only when asked: "+ steps" reads `trace.steps`,
"+ str" prints the table.

    python3 bench/bench_explain.py [--repeat 7]
"""

from __future__ import annotations

import argparse
import statistics
import timeit
from decimal import Decimal

from bench_python import W3_NAMES, w3_formula

from py_vexlor import CompiledExpression, evaluate, explain

WORKLOADS = [
    ("W1", "a + b * 2", {"a": 1, "b": 5}),
    ("W2", "max(x, 3) > 10 ? 1 : 0", {"x": 12}),
    ("W3", w3_formula(), {n: Decimal("12.34") + i for i, n in enumerate(W3_NAMES)}),
]


def per_call_us(stmt: str, names: dict[str, object], number: int, repeat: int) -> float:
    runs = timeit.Timer(stmt, globals=names).repeat(repeat=repeat, number=number)
    return statistics.median(runs) / number * 1e6


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    print("| workload | form | evaluate | explain | ratio | + steps | ratio | + str | ratio |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|")
    for name, text, vars in WORKLOADS:
        for form, expr in (("text", text), ("compiled", CompiledExpression(text, 64))):
            names = {"evaluate": evaluate, "explain": explain, "e": expr, "v": vars, "str": str}
            base = per_call_us("e.evaluate(v)" if form == "compiled" else "evaluate(e, v, None, 64)", names, 20000,
                               args.repeat)
            cells = [per_call_us(stmt, names, 2000, args.repeat)
                     for stmt in ("explain(e, v, max_depth=64)", "explain(e, v, max_depth=64).steps",
                                  "str(explain(e, v, max_depth=64))")]
            ratios = " | ".join(f"{c:.2f} | {c / base:.1f}" for c in cells)
            print(f"| {name} | {form} | {base:.2f} | {ratios} |")


if __name__ == "__main__":
    main()
