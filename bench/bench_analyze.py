"""Cost of py_vexlor.analyze from Python: a 32-operator formula over 13 domains
(no failure possible), the same from a CompiledExpression, and a formula with a
possible division by zero (witness search and its check by `evaluate`).
Prints microseconds per call, best of 5 runs (process time)."""

import time

from py_vexlor import CompiledExpression, analyze

FORMULA = " + ".join(f"(x{i} * 2 - {i})" for i in range(10)) + " + a * b - c"
DOMAINS = {f"x{i}": "decimal128(18, 2)" for i in range(10)} | {"a": (0, 100), "b": (0, 100, 2), "c": "int32"}


def per_call(fn, n):
    best = float("inf")
    for _ in range(5):
        t = time.process_time()
        for _ in range(n):
            fn()
        best = min(best, (time.process_time() - t) / n)
    return best * 1e6


compiled = CompiledExpression(FORMULA, 64)
print(f"32 operators, text:     {per_call(lambda: analyze(FORMULA, DOMAINS, max_depth=64), 2000):.1f} us")
print(f"32 operators, compiled: {per_call(lambda: analyze(compiled, DOMAINS), 2000):.1f} us")
fee = {"fee": "decimal128(10, 2)", "qty": "int32", "base": (0, 100, 2)}
print(f"fee / qty + base (one failure, witness): {per_call(lambda: analyze('fee / qty + base', fee), 500):.1f} us")
