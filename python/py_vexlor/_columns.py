"""Columnar evaluation: compiled expressions over every row of a table or stream."""

from __future__ import annotations

import importlib
import os
from collections.abc import Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Union, overload

from ._lib import CompiledExpression
from ._output_type import output_scale, value_domain

if TYPE_CHECKING:
    from ._columnar import ColumnResult, PendingStream

_ERRORS = ("raise", "null")

Expression = Union[CompiledExpression, str]


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


def _compiled(expression: Any) -> CompiledExpression:
    if isinstance(expression, str):
        return CompiledExpression(expression)
    if not isinstance(expression, CompiledExpression):
        raise TypeError(
            f"expression must be a CompiledExpression or a str, not '{type(expression).__name__}'"
        )
    return expression


def _scale(value: Any) -> int | None:
    scale = _optional_int(value, "scale")
    if scale is not None and not 0 <= scale <= 38:
        raise ValueError("scale must be between 0 and 38")
    return scale


class _Call:
    """The arguments both entry points share, checked."""

    def __init__(self, expression: Any, keep: Any, gas: Any, errors: Any, scale: Any, threads: Any) -> None:
        self.named = isinstance(expression, Mapping)
        expressions: Mapping[Any, Any] = expression if self.named else {"result": expression}
        if not expressions:
            raise ValueError("expression: the mapping names no output")
        self.expressions: dict[str, CompiledExpression] = {}
        for name, expr in expressions.items():
            if not isinstance(name, str):
                raise TypeError(f"output names must be str, not '{type(name).__name__}'")
            self.expressions[name] = _compiled(expr)
        if isinstance(scale, Mapping):
            per_output: Mapping[Any, Any] = scale  # pyright: ignore[reportUnknownVariableType]
            unknown = [k for k in per_output if k not in self.expressions]
            if unknown:
                raise ValueError(f"scale names no output {unknown[0]!r}")
            self.scales = {name: _scale(per_output.get(name)) for name in self.expressions}
        else:
            one = _scale(scale)
            self.scales = {name: one for name in self.expressions}
        if isinstance(keep, str):
            keep = (keep,)
        self.keep = tuple(keep)
        for name in self.keep:
            if not isinstance(name, str):
                raise TypeError(f"keep must name columns by str, not '{type(name).__name__}'")
            if name in self.expressions:
                raise ValueError(f"the output {name!r} has the name of a kept column")
        self.gas = _optional_int(gas, "gas")
        if self.gas is not None and self.gas < 0:
            raise ValueError("gas must be non-negative")
        if errors not in _ERRORS:
            raise ValueError(f"errors must be 'raise' or 'null', not {errors!r}")
        self.errors_to_null = errors == "null"
        self.threads = _optional_int(threads, "threads")
        if self.threads is None:
            self.threads = _default_threads()
        elif self.threads < 1:
            raise ValueError("threads must be at least 1")

    def outputs(self) -> list[tuple[str, CompiledExpression | str, int | None]]:
        # _columnar copies the program of a CompiledExpression itself; anything else goes as its JSON.
        return [
            (name, expr if type(expr) is CompiledExpression else expr.to_bytecode_json(), self.scales[name])
            for name, expr in self.expressions.items()
        ]


class TableResult:
    """The result of evaluate_columns with several outputs or kept columns.

    Exports the table through `__arrow_c_stream__` (the kept columns, then the
    outputs, each decimal128(38, S)) and gives each output's `ColumnResult` by
    name: `result["total"]`.
    """

    def __init__(self, columns: dict[str, ColumnResult], kept: object, keep: tuple[str, ...]) -> None:
        self._columns = columns
        self._kept = kept
        self._keep = keep

    @property
    def column_names(self) -> list[str]:
        """The names of the exported columns: the kept ones, then the outputs."""
        return [*self._keep, *self._columns]

    def keys(self) -> list[str]:
        """The names of the outputs."""
        return list(self._columns)

    def __getitem__(self, name: str) -> ColumnResult:
        return self._columns[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._columns)

    def __len__(self) -> int:
        return len(next(iter(self._columns.values())))

    def __repr__(self) -> str:
        return f"<TableResult {len(self)} rows, columns {self.column_names}>"

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        from . import _columnar

        return _columnar.table_stream(self._kept, list(self._columns.values()))


class ResultStream:
    """The result of evaluate_stream: an Arrow stream, exported once.

    Each batch holds the kept columns, then the outputs, typed decimal128(38, S)
    per output (`schema_scales`). Rows are read from the input and evaluated as
    the consumer asks for batches.
    """

    def __init__(self, pending: PendingStream, scales: dict[str, int]) -> None:
        self._pending = pending
        self.scales = scales

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        return self._pending.export(list(self.scales.values()))

    def __repr__(self) -> str:
        return f"<ResultStream outputs {self.scales}>"


@overload
def evaluate_columns(
    expression: Mapping[str, Expression],
    data: Any,
    *,
    vars: dict[Any, Any] | None = None,
    keep: str | Sequence[str] = (),
    gas: int | None = None,
    errors: str = "raise",
    scale: int | Mapping[str, int] | None = None,
    threads: int | None = None,
) -> TableResult: ...
@overload
def evaluate_columns(
    expression: Expression,
    data: Any,
    *,
    vars: dict[Any, Any] | None = None,
    keep: tuple[()] = (),
    gas: int | None = None,
    errors: str = "raise",
    scale: int | Mapping[str, int] | None = None,
    threads: int | None = None,
) -> ColumnResult: ...
@overload
def evaluate_columns(
    expression: Expression,
    data: Any,
    *,
    vars: dict[Any, Any] | None = None,
    keep: str | Sequence[str] = (),
    gas: int | None = None,
    errors: str = "raise",
    scale: int | Mapping[str, int] | None = None,
    threads: int | None = None,
) -> ColumnResult | TableResult: ...
def evaluate_columns(
    expression: Expression | Mapping[str, Expression],
    data: Any,
    *,
    vars: dict[Any, Any] | None = None,
    keep: str | Sequence[str] = (),
    gas: int | None = None,
    errors: str = "raise",
    scale: int | Mapping[str, int] | None = None,
    threads: int | None = None,
) -> ColumnResult | TableResult:
    """Evaluate expressions for every row of a table.

    Args:
        expression: A `CompiledExpression`, or a text compiled as
            `CompiledExpression(expression)` would compile it; or a mapping
            from output name to such an expression.
        data: A table exporting the Arrow PyCapsule interface
            (`__arrow_c_stream__` or `__arrow_c_array__`: pyarrow, polars,
            pandas, duckdb, ...; a stream is read batch by batch), or a mapping
            from variable name to column, a column being an Arrow array or
            stream, or a sequence of values (`Decimal`, `int`, `float`,
            numeric `str`, or None for null). Variables match columns by name
            (a UUID variable by any text form of its UUID); columns the
            expressions do not use are not read.
        vars: Values of variables that have no column, shared by every row,
            read as `evaluate` reads its `vars`. A name given both here and as
            a column is a ValueError.
        keep: Names of input columns passed through unchanged ahead of the
            outputs (Arrow tables only).
        gas: Gas limit of each row, as in `evaluate`.
        errors: "raise": the lowest failing row raises the error `evaluate`
            would raise for it, with a note naming the row. "null": failing
            rows become nulls.
        scale: The scale S of the decimal128(38, S) result (an int, or a
            mapping per output), each value rounded half to even to S places.
            Default: each row keeps its exact value, exported at the largest
            scale of the results.
        threads: Number of threads (default: every core available).

    Returns:
        With one expression and no `keep`, a `ColumnResult`: one column named
        "result", exported through `__arrow_c_array__` and
        `__arrow_c_stream__` (`pyarrow.array(result)`,
        `polars.Series(result)`), indexable and iterable as `decimal.Decimal`
        values as `evaluate` gives them. Otherwise a `TableResult`. A row
        whose evaluation reads a null value is null.

    Raises:
        RuntimeError: "Variable not found: x" when no column is named for a
            variable, before any row runs; or a row's error.
        TypeError: Data or a column of a type that cannot be read.
        ValueError: Malformed Arrow data, columns of different lengths, a
            column named twice, bad arguments; or a row's error.
        OverflowError: With `scale`, a result with more than 38 digits at it.

    Example:
        >>> import pyarrow as pa
        >>> table = pa.table({"a": [1, 2], "b": [5, 6]})
        >>> evaluate_columns("a + b * 2", table).to_pylist()
        [Decimal('11'), Decimal('14')]
    """
    call = _Call(expression, keep, gas, errors, scale, threads)
    from . import _columnar

    results: list[ColumnResult]
    results, kept = _columnar.evaluate(
        call.outputs(), data, call.keep, vars, call.gas, call.errors_to_null, call.threads
    )
    if not call.named and not call.keep:
        return results[0]
    return TableResult(dict(zip(call.expressions, results)), kept, call.keep)


def evaluate_stream(
    expression: Expression | Mapping[str, Expression],
    data: Any,
    *,
    vars: dict[Any, Any] | None = None,
    keep: str | Sequence[str] = (),
    gas: int | None = None,
    errors: str = "raise",
    scale: int | Mapping[str, int] | None = None,
    threads: int | None = None,
) -> ResultStream:
    """Evaluate expressions over a table or stream as its consumer reads the results.

    The arguments are those of `evaluate_columns`; `data` must export the Arrow
    PyCapsule interface. The input's schema is read and checked by this call;
    its batches are read as the consumer asks for output, at most one batch
    per thread ahead, so that memory is bounded by the batch size and the
    thread count.

    Each output's type is decimal128(38, S), fixed before the first row: S is
    `scale` when given, else the largest scale of the results as the static
    analysis of the expression over the input's types bounds them (a
    ValueError asking for `scale=` when it cannot). A row whose value does not
    fit that type ends the stream with an error naming the row, whatever
    `errors` is; row numbers count from the start of the stream.

    Returns:
        A `ResultStream`, read once through `__arrow_c_stream__`
        (`pyarrow.RecordBatchReader.from_stream`, `polars.from_arrow`, duckdb,
        `pyarrow.parquet.ParquetWriter`, ...).
    """
    call = _Call(expression, keep, gas, errors, scale, threads)
    from . import _columnar

    pending = _columnar.open_stream(
        call.outputs(), data, call.keep, vars, call.gas, call.errors_to_null, call.threads
    )
    scales: dict[str, int] = {}
    types: dict[str, Any] | None = None
    for name, expr in call.expressions.items():
        fixed = call.scales[name]
        if fixed is None:
            if types is None:
                types = dict(pending.types())
                for key, value in (vars or {}).items():
                    types[str(key)] = value_domain(value)
            fixed = output_scale(expr, types, name)
        scales[name] = fixed
    return ResultStream(pending, scales)


def _to_pandas(column: ColumnResult) -> Any:  # pyright: ignore[reportUnusedFunction] (ColumnResult.to_pandas)
    pd = importlib.import_module("pandas")
    pa = importlib.import_module("pyarrow")
    return pd.Series(pd.arrays.ArrowExtensionArray(pa.array(column)), name=column.name)
