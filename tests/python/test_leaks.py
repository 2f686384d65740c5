"""Repeated calls, error paths included, leave the process's memory flat."""

import gc
import pickle
import tracemalloc
import uuid
from decimal import Decimal

import pytest

import py_vexlor._lib as m
from py_vexlor import CompiledExpression

E = CompiledExpression("a + b * 2 + max(a, b)")
J = E.to_bytecode_json()
U = uuid.UUID("123e4567-e89b-12d3-a456-426614174000")


def swallow(fn):
    def call():
        try:
            fn()
        except Exception:
            pass

    return call


OPERATIONS = {
    "evaluate": lambda: E.evaluate({"a": 1, "b": Decimal("2.5")}, gas=100),
    "module evaluate": lambda: m.evaluate("a * 2", {"a": 1.5, U: "3"}),
    "batch": lambda: m.evaluate_batch([E, E], {"a": 1, "b": 2}),
    "json": lambda: CompiledExpression.from_bytecode_json_batch([J, E.to_bytecode_json()]),
    "pickle": lambda: pickle.loads(pickle.dumps(E)),
    "repr, variables, eq": lambda: (repr(E), E.variables(), E == E, E != 1),
    "parse error": swallow(lambda: CompiledExpression("1 + (")),
    "depth error": swallow(lambda: CompiledExpression("1+" * 30 + "1")),
    "binding error": swallow(lambda: m.evaluate("1", None, None, None, 5)),
    "key error": swallow(lambda: E.evaluate({1: 2})),
    "value error": swallow(lambda: E.evaluate({"a": "bad"})),
    "type error": swallow(lambda: E.evaluate({"a": None})),
    "vm error": swallow(lambda: E.evaluate({"a": 1})),
    "gas error": swallow(lambda: E.evaluate({"a": 1, "b": 2}, gas=3)),
    "json error": swallow(lambda: CompiledExpression.from_bytecode_json('[{"Call":["max"]}]')),
    "batch json error": swallow(lambda: CompiledExpression.from_bytecode_json_batch([J, "[1]"])),
    "setstate error": swallow(lambda: E.__setstate__((1, 2))),
}


def rss_kib():
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    import resource

    return pages * resource.getpagesize() // 1024


@pytest.mark.parametrize("name", OPERATIONS)
def test_memory_stays_flat(name):
    op = OPERATIONS[name]
    for _ in range(2000):
        op()
    gc.collect()
    tracemalloc.start()
    before_py = tracemalloc.get_traced_memory()[0]
    before_rss = rss_kib()
    for _ in range(20000):
        op()
    gc.collect()
    after_py = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    after_rss = rss_kib()
    assert after_py - before_py < 64 * 1024, f"Python allocations grew by {after_py - before_py} bytes"
    assert after_rss - before_rss < 4 * 1024, f"RSS grew by {after_rss - before_rss} KiB"
