"""Compile arithmetic and logical expressions once; evaluate them many times with exact decimals.

>>> from py_vexlor import CompiledExpression
>>> CompiledExpression("a + b * 2").evaluate({"a": 1, "b": 5})
Decimal('11')
"""

from ._analyze import Analysis, AnalysisWarning, Failure, analyze
from ._columns import evaluate_columns
from ._lib import CompiledExpression, GasExhaustedError, evaluate, evaluate_batch

__version__ = "0.1.0"  # the package's version: pyproject.toml reads it from here

__all__ = [
    "evaluate", "evaluate_batch", "evaluate_columns", "CompiledExpression", "GasExhaustedError",
    "analyze", "Analysis", "Failure", "AnalysisWarning",
]
