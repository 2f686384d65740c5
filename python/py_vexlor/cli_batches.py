"""The evaluation behind the command line's table mode: every batch of rows through
every output expression. This is the one place that calls the columnar engine."""

from __future__ import annotations

import re
from collections.abc import Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from ._columns import evaluate_columns
from ._lib import CompiledExpression

if TYPE_CHECKING:
    from ._columnar import ColumnResult

_ROW_NOTE = re.compile(r"^raised by row (\d+) ")
_NO_FIT = re.compile(r"^the result \S+ of row (\d+) does not fit ")


@dataclass
class Batch:
    rows: int
    columns: dict[str, Any]  # variable -> column (a list of str or None, or an Arrow array)
    kept: dict[str, Any]  # kept column -> its values as read
    lines: Sequence[int] | None  # CSV: the line of the file each row ends on


@dataclass
class Evaluated:
    batch: Batch
    first_row: int  # of the whole input, counted from 0
    outputs: dict[str, list[ColumnResult]]  # each output's results in row order, in one or more pieces


class RowFailure(Exception):
    """A row's error: the evaluation's exception, the row and the output it came from."""

    def __init__(self, error: BaseException, batch: Batch, row: int, first_row: int, output: str) -> None:
        super().__init__(str(error))
        self.error, self.batch, self.row, self.output = error, batch, row, output
        self.input_row = first_row + row


@dataclass
class Settings:
    gas: int | None
    errors: str
    threads: int | None


def _evaluate_batches(  # pyright: ignore[reportUnusedFunction]
        outputs: Mapping[str, CompiledExpression], batches: Iterable[Batch], constants: Mapping[str, str],
        scales: Mapping[str, int | None], settings: Settings) -> Iterator[Evaluated]:
    """Evaluates every output over every batch. An output whose scale is fixed gives
    decimal128(38, scale) results; one without keeps each row's own value. Raises
    RowFailure for a failing row (errors="raise")."""
    first_row = 0
    for batch in batches:
        # A name given a value on the command line is read from there, not from the input.
        columns = {name: column for name, column in batch.columns.items() if name not in constants}
        results: dict[str, list[ColumnResult]] = {}
        failures: list[RowFailure] = []
        for name, expression in outputs.items():
            try:
                results[name] = _evaluate(expression, columns, constants, batch.rows, scales[name], settings)
            except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
                row = _failing_row(error)
                if row is None:
                    raise
                failures.append(RowFailure(error, batch, row, first_row, name))
        if failures:  # the lowest failing row of any output
            raise min(failures, key=lambda failure: failure.row)
        yield Evaluated(batch, first_row, results)
        first_row += batch.rows


def _evaluate(expression: CompiledExpression, columns: dict[str, Any], constants: Mapping[str, str], rows: int,
              scale: int | None, settings: Settings) -> list[ColumnResult]:
    try:
        return [evaluate_columns(expression, columns, vars=dict(constants), gas=settings.gas, errors=settings.errors,
                                 scale=scale, threads=settings.threads)]
    except OverflowError as error:
        # Without a fixed scale, rows whose values cannot share one decimal128(38, S)
        # (1E-28 beside 10**28) are evaluated in smaller pieces: each row alone fits.
        if scale is not None or rows < 2 or getattr(error, "__notes__", None):
            raise
    half = rows // 2
    head = _evaluate(expression, {k: v[:half] for k, v in columns.items()}, constants, half, scale, settings)
    try:
        tail = _evaluate(expression, {k: v[half:] for k, v in columns.items()}, constants, rows - half, scale,
                         settings)
    except (ValueError, TypeError, ArithmeticError, RuntimeError) as error:
        _shift(error, half)
        raise
    return head + tail


def _failing_row(error: BaseException) -> int | None:
    if isinstance(error, OverflowError) and (no_fit := _NO_FIT.match(str(error))):
        return int(no_fit[1])
    for note in getattr(error, "__notes__", ()):
        if match := _ROW_NOTE.match(note):
            return int(match[1])
    return None


def _shift(error: BaseException, offset: int) -> None:
    notes = getattr(error, "__notes__", [])
    for i, note in enumerate(notes):
        if match := _ROW_NOTE.match(note):
            notes[i] = f"raised by row {int(match[1]) + offset} {note[match.end():]}"
