"""The command line over a table: every row of a CSV or Parquet file evaluated by
one or more expressions, a batch of rows at a time (see cli_read, cli_write and
cli_batches, the one place that calls the engine)."""

from __future__ import annotations

import difflib
import gc
import os
import re
import uuid
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from ._lib import CompiledExpression
from .cli_batches import RowFailure, Settings, _evaluate_batches  # pyright: ignore[reportPrivateUsage]
from .cli_errors import DataError, UsageError
from .cli_read import CsvInput, ParquetInput, Progress, open_input, pyarrow_module
from .cli_write import CsvWriter, ParquetWriter, Target

_BAD_VALUE = re.compile(r"^Invalid numeric string for key '(.*)': (.*)$", re.S)
_NO_FIT = re.compile(r"^the result (\S+) of row (\d+) does not fit (decimal128\(38, \d+\))")


@dataclass
class Options:
    gas: int | None
    errors: str
    scale: int | None
    threads: int | None
    progress: bool | None  # None: shown when standard error is a terminal and the input is long


def _uuid_key(text: str) -> str | None:
    if len(text) not in (32, 36, 38, 45):
        return None
    try:
        return str(uuid.UUID(text.strip("{}").removeprefix("urn:uuid:")))
    except ValueError:
        return None


def evaluate_file(outputs: Mapping[str, CompiledExpression], source: str, target: str | None,
                  constants: Mapping[str, str], keep: Sequence[str], options: Options) -> None:
    """Evaluates every output for every row of `source` and writes the kept columns
    and the results to `target` (standard output when None). Raises UsageError,
    DataError, or RowFailure for the first failing row."""
    parquet_output = target is not None and target.lower().endswith(".parquet")
    if parquet_output:
        pyarrow_module("pyarrow.parquet", "writing")
    _check_not_input(source, target)
    progress = Progress(options.progress)
    table = open_input(source, progress)
    collecting = gc.isenabled()
    gc.disable()  # the batches make millions of short-lived lists and no cycles: a third of the time otherwise
    try:
        variables = _columns_of_variables(table, outputs, constants)
        for column in keep:
            if column not in table.columns:
                raise DataError(_missing(table, column, f"--keep {column}"))
        scales = _scales(outputs, table, variables, constants, options.scale, parquet_output)
        settings = Settings(options.gas, options.errors, options.threads)
        out = Target(target)
        try:
            writer: CsvWriter | ParquetWriter
            if parquet_output:
                kept_types = {c: _kept_type(table, c) for c in keep}
                writer = ParquetWriter(out, kept_types, list(outputs), scales)
            else:
                writer = CsvWriter(out, keep, list(outputs), scales)
            batches = table.batches(variables, list(dict.fromkeys(keep)))
            try:
                for evaluated in _evaluate_batches(outputs, batches, constants, scales, settings):
                    writer.write(evaluated)
            except RowFailure as failure:
                raise _explained(failure, table, variables, scales) from None
            writer.close()
            out.commit()
        finally:
            out.discard()
    finally:
        if collecting:
            gc.enable()
        progress.finish()
        table.close()


def _check_not_input(source: str, target: str | None) -> None:
    if source == "-" or target is None:
        return
    try:
        same = os.path.samefile(source, target)
    except OSError:
        return
    if same:
        raise UsageError(f"--output {target} is the input file: write the results to another file")


def _columns_of_variables(table: CsvInput | ParquetInput, outputs: Mapping[str, CompiledExpression],
                          constants: Mapping[str, str]) -> dict[str, str]:
    """The column each variable is read from (a UUID variable matches any text form of its UUID)."""
    given = {_uuid_key(name) or name for name in constants}
    by_key: dict[str, str] = {}
    for column in table.columns:
        by_key.setdefault(_uuid_key(column) or column, column)
    found: dict[str, str] = {}
    for expression in outputs.values():
        for variable in expression.variables():
            key = _uuid_key(variable) or variable
            if key in given or variable in found:
                continue
            if key not in by_key:
                raise DataError(_missing(table, variable, f"the variable {variable}"))
            found[variable] = by_key[key]
    return found


def _missing(table: CsvInput | ParquetInput, name: str, wanted_by: str) -> str:
    columns = table.columns
    listed = ", ".join(repr(c) for c in columns[:20]) + (f" and {len(columns) - 20} more" if len(columns) > 20 else "")
    message = f"{table.name} has no column {name!r} (for {wanted_by}); its columns: {listed or 'none'}"
    folded = [c for c in columns if c.strip().casefold() == name.casefold()]
    nearest = folded or difflib.get_close_matches(name, columns, n=1)
    return message + (f"; did you mean {nearest[0]!r}?" if nearest else "")


def _scales(outputs: Mapping[str, CompiledExpression], table: CsvInput | ParquetInput,
            variables: Mapping[str, str], constants: Mapping[str, str], scale: int | None,
            parquet_output: bool) -> dict[str, int | None]:
    """Each output's scale: --scale, or for Parquet the scale fixed by the program and
    the input's types before the first row; CSV keeps each row's own value."""
    if scale is not None or not parquet_output:
        return {name: scale for name in outputs}
    try:
        from ._output_type import output_scale, value_domain
    except ImportError:
        raise UsageError("writing Parquet needs --scale S here: the type of each output, "
                         "decimal128(38, S), is fixed before the first row") from None
    domains = {_uuid_key(name) or name: value_domain(value) for name, value in constants.items()}
    scales: dict[str, int | None] = {}
    for name, expression in outputs.items():
        types: dict[str, Any] = {}
        for var in expression.variables():  # a column's type, or the one value given by name=value
            types[var] = table.types[variables[var]] if var in variables else domains[_uuid_key(var) or var]
        try:
            scales[name] = output_scale(expression, types, name)
        except ValueError as error:
            raise UsageError(f"{error} (on the command line: --scale S)") from None
    return scales


def _kept_type(table: CsvInput | ParquetInput, column: str) -> Any:
    if isinstance(table, ParquetInput):
        return table.fields[column].type
    return pyarrow_module("pyarrow", "writing").string()


def _explained(failure: RowFailure, table: CsvInput | ParquetInput, variables: Mapping[str, str],
               scales: Mapping[str, int | None]) -> Exception:
    """The failing row's error as the command line reports it: a bad value names its
    line (CSV) or row (Parquet), column and text; another error names the row."""
    error, batch = failure.error, failure.batch
    where = (f"{table.name}, line {batch.lines[failure.row]}" if batch.lines is not None
             else f"{table.name}, row {failure.input_row} (counted from 0)")
    if isinstance(error, ValueError) and (bad := _BAD_VALUE.match(str(error))) and bad[1] in variables:
        value = table.value(bad[1], batch, failure.row)
        return DataError(f"{where}, column {variables[bad[1]]!r}: {value!r} is not a decimal number ({bad[2]})")
    if isinstance(error, OverflowError) and (no_fit := _NO_FIT.match(str(error))):
        return DataError(f"{where}: the result {no_fit[1]} of {failure.output!r} does not fit "
                         f"{no_fit[3]}; pass a smaller --scale to round the results")
    notes = [f"raised by row {failure.input_row} of the input (rows counted from 0)"
             + (f", {where}" if batch.lines is not None else "")]
    if len(scales) > 1:
        notes.append(f"in the output {failure.output!r}")
    error.__notes__ = notes
    return error  # type: ignore[return-value]
