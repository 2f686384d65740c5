"""Columnar evaluation: one compiled expression over every row of a table."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any

from ._lib import CompiledExpression

if TYPE_CHECKING:
    from ._columnar import ColumnResult

_ERRORS = ("raise", "null")


def _default_threads() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def _optional_int(value: Any, name: str) -> int | None:
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int or None, not '{type(value).__name__}'")
    return value


def evaluate_columns(
    expression: CompiledExpression | str,
    data: Any,
    *,
    gas: int | None = None,
    errors: str = "raise",
    scale: int | None = None,
    threads: int | None = None,
) -> ColumnResult:
    """Evaluate one expression for every row of a table.

    Args:
        expression: A `CompiledExpression`, or a text compiled as
            `CompiledExpression(expression)` would compile it.
        data: A table exporting the Arrow PyCapsule interface
            (`__arrow_c_stream__` or `__arrow_c_array__`: pyarrow, polars,
            pandas, duckdb, ...), or a mapping from variable name to column,
            a column being an Arrow array or stream, or a sequence of values
            (`Decimal`, `int`, `float`, numeric `str`, or None for null).
            Variables match columns by name (a UUID variable by any text form
            of its UUID); columns the expression does not use are not read.
        gas: Gas limit of each row, as in `evaluate`.
        errors: "raise": the lowest failing row raises the error `evaluate`
            would raise for it, with a note naming the row. "null": failing
            rows become nulls.
        scale: The scale S of the decimal128(38, S) result, each value rounded
            half to even to S places; default: the largest scale of the results.
        threads: Number of threads (default: every core available).

    Returns:
        A `ColumnResult`: one decimal128(38, S) column, exported through
        `__arrow_c_array__` and `__arrow_c_stream__` (`pyarrow.array(result)`,
        `polars.Series(result)`), with `to_pylist()` giving `decimal.Decimal`
        values as `evaluate` would. A row whose evaluation reads a null value
        is null.

    Raises:
        RuntimeError: "Variable not found: x" when no column is named for a
            variable, before any row runs; or a row's error.
        TypeError: Data or a column of a type that cannot be read.
        ValueError: Malformed Arrow data, columns of different lengths, bad
            arguments; or a row's error.
        OverflowError: A result with more than 38 digits at the result scale.

    Example:
        >>> import pyarrow as pa
        >>> table = pa.table({"a": [1, 2], "b": [5, 6]})
        >>> evaluate_columns("a + b * 2", table).to_pylist()
        [Decimal('11'), Decimal('14')]
    """
    if isinstance(expression, str):
        expression = CompiledExpression(expression)
    elif not isinstance(expression, CompiledExpression):  # pyright: ignore[reportUnnecessaryIsInstance]
        raise TypeError(
            f"expression must be a CompiledExpression or a str, not '{type(expression).__name__}'"
        )
    gas = _optional_int(gas, "gas")
    if gas is not None and gas < 0:
        raise ValueError("gas must be non-negative")
    if errors not in _ERRORS:
        raise ValueError(f"errors must be 'raise' or 'null', not {errors!r}")
    scale = _optional_int(scale, "scale")
    if scale is not None and not 0 <= scale <= 38:
        raise ValueError("scale must be between 0 and 38")
    threads = _optional_int(threads, "threads")
    if threads is None:
        threads = _default_threads()
    elif threads < 1:
        raise ValueError("threads must be at least 1")

    from . import _columnar

    return _columnar.evaluate(
        expression.to_bytecode_json(), data, gas, errors == "null", scale, threads
    )
