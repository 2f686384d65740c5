"""Checked by mypy --strict and pyright (strict), never run (tests/python/test_typing.py).

Lines that must be refused end in "# type: ignore[<mypy code>]"; both checkers report
an ignore that suppresses nothing, so each of those lines must keep its error.
"""

from collections import OrderedDict
from decimal import Decimal
from types import MappingProxyType
from uuid import UUID, uuid4

import py_vexlor
from py_vexlor import (Analysis, CompiledExpression, Failure, GasExhaustedError, ResultStream, TableResult,
                       analyze, evaluate, evaluate_batch, evaluate_columns, evaluate_stream)
from py_vexlor._columnar import ColumnResult

expr = CompiledExpression("a + b", max_depth=20)
by_name: dict[str, Decimal] = {"a": Decimal("1.5")}
ints: dict[str, int] = {"a": 1}
texts: dict[str, str] = {"a": "1.50"}
by_uuid: dict[UUID, int] = {uuid4(): 1}
mixed: dict[str, Decimal | int] = {"a": 1, "b": Decimal(2)}
any_key: dict[str | UUID, float] = {"a": 1.0, uuid4(): 2.0}
ordered: OrderedDict[str, int] = OrderedDict(a=1)

# Accepted: dicts typed narrowly, dict displays with mixed keys and values, no vars.
results: list[Decimal] = [
    expr.evaluate(by_name), expr.evaluate(ints, gas=100), expr.evaluate(texts), expr.evaluate(by_uuid),
    expr.evaluate(mixed), expr.evaluate(any_key), expr.evaluate(ordered), expr.evaluate(), expr.evaluate(None, 5),
    evaluate("a", {"a": "19.99", "b": 2, uuid4(): Decimal(1), "c": 0.5}, gas=100, max_depth=20),
    evaluate("1"), evaluate("a", vars=ints),
]
batch: list[Decimal] = evaluate_batch([expr, expr], mixed, gas=10) + evaluate_batch((expr,), {"a": 1, "b": "2"})
rebuilt: list[CompiledExpression] = CompiledExpression.from_bytecode_json_batch([expr.to_bytecode_json()])
names: list[str] = CompiledExpression.from_bytecode_json("[]").variables()
version: str = py_vexlor.__version__
gas_error: type[RuntimeError] = GasExhaustedError
total: Decimal = results[0] + 1
trace: py_vexlor.Trace = py_vexlor.explain(expr, ints, gas=100)
outputs: list[Decimal | None] = [s.output for s in trace.steps] + [py_vexlor.explain("a", None, max_depth=3).result]
failure: BaseException | None = trace.error
column: ColumnResult = evaluate_columns("a", {"a": [1]}, scale=2)
first: Decimal | None = column[0]
table: TableResult = evaluate_columns({"fee": "a * 0.1", "total": expr}, {"a": [1], "b": [2]}, vars={"k": 1})
fee: ColumnResult = table["fee"]
either: ColumnResult | TableResult = evaluate_columns(expr, {"a": [1]}, keep=["id"])
stream: ResultStream = evaluate_stream("a", {"a": [1]}, scale={"result": 2}, threads=2)

domains: dict[str, str] = {"a": "decimal128(18, 2)"}
report: Analysis = analyze("a / b", {"a": "int32", "b": (0, 10), "c": (0, 1, 2)}, max_depth=20)
low: Decimal | None = analyze(expr, domains).result[0]
top_scale: int = report.scales[1]
possible: list[Failure] = analyze(expr).failures
bound: int | None = report.gas

# Refused.
analyze("a", {"a": 3})  # type: ignore[dict-item]
nullable: dict[str, int | None] = {"a": None}
expr.evaluate(nullable)  # type: ignore[type-var]
expr.evaluate({"a": None})  # type: ignore[type-var]
evaluate("a", {1: 2})  # type: ignore[type-var]
evaluate("a", MappingProxyType(ints))  # type: ignore[call-overload]
expr.evaluate(ints, gas="10")  # type: ignore[call-overload]
evaluate_batch([expr], gas=1.5)  # type: ignore[call-overload]
evaluate_batch(["a + 1"])  # type: ignore[list-item]
CompiledExpression("1", max_depth="3")  # type: ignore[arg-type]
as_text: str = expr.evaluate()  # type: ignore[assignment]
as_float = expr.evaluate() + 1.5  # type: ignore[operator]
not_one: ColumnResult = evaluate_columns({"x": "a"}, {"a": [1]})  # type: ignore[assignment]
one_result: Decimal = evaluate_batch([expr])  # type: ignore[assignment]
py_vexlor.explain(expr, ints, 10)  # type: ignore[call-arg]
