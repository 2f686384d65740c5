"""Compile arithmetic and logical expressions once; evaluate them many times with exact decimals.

>>> from py_vexlor import CompiledExpression
>>> CompiledExpression("a + b * 2").evaluate({"a": 1, "b": 5})
Decimal('11')
"""

from ._analyze import Analysis, AnalysisWarning, Failure, analyze
from ._columns import ResultStream, TableResult, evaluate_columns, evaluate_stream
from ._explain import Step, Trace, explain
from ._lib import CompiledExpression, GasExhaustedError, evaluate, evaluate_batch

__version__ = "0.1.0"  # the package's version: pyproject.toml reads it from here

__all__ = [
    "evaluate",
    "evaluate_batch",
    "evaluate_columns",
    "evaluate_stream",
    "explain",
    "CompiledExpression",
    "GasExhaustedError",
    "TableResult",
    "ResultStream",
    "Step",
    "Trace",
    "analyze",
    "Analysis",
    "Failure",
    "AnalysisWarning",
]
