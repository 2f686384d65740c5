"""The command line over a table: every row of a CSV or Parquet file evaluated as
one set of variables, through evaluate_columns, a chunk of rows at a time.

CSV is read with the standard library (every field as text, an empty field as
null); Parquet needs pyarrow. Results are written as CSV (a column "result", an
empty field for null), or as Parquet when the output's name ends in ".parquet".
"""

from __future__ import annotations

import csv
import importlib
import io
import re
import sys
import time
import uuid
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import IO, Any

from ._columns import evaluate_columns
from ._lib import CompiledExpression

CHUNK_ROWS = 65536
_ROW_NOTE = re.compile(r"^raised by row (\d+) ")


class InputError(Exception):
    """A file that cannot be read as a table (reported as a command-line mistake)."""


@dataclass
class Options:
    gas: int | None
    errors: str
    scale: int | None
    threads: int | None
    progress: bool | None  # None: shown when standard error is a terminal and the input is long


def _column_keys(variables: Sequence[str]) -> dict[str, str]:
    """The key a column header must reduce to for each variable, and the variable."""
    keys: dict[str, str] = {}
    for name in variables:
        keys[_uuid_key(name) or name] = name
    return keys


def _uuid_key(text: str) -> str | None:
    if len(text) not in (32, 36, 38, 45):
        return None
    try:
        return str(uuid.UUID(text.strip("{}").removeprefix("urn:uuid:")))
    except ValueError:
        return None


class _Counted(io.RawIOBase):
    """A binary file that counts the bytes read from it (the progress of a CSV)."""

    def __init__(self, raw: Any) -> None:
        self.raw: Any = raw
        self.count = 0

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        n: int = self.raw.readinto(buffer) or 0
        self.count += n
        return n


def _csv_chunks(path: str, variables: Sequence[str], progress: _Progress) -> Iterator[dict[str, Any]]:
    try:
        raw = open(path, "rb")
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror}") from None
    with raw:
        size = _size(raw)
        counted = _Counted(raw)
        text = io.TextIOWrapper(io.BufferedReader(counted), encoding="utf-8-sig", newline="")
        reader = csv.reader(text)
        try:
            header = next(reader)
        except StopIteration:
            raise InputError(f"{path} is empty: a CSV input starts with a header row") from None
        except (UnicodeDecodeError, csv.Error) as error:
            raise InputError(f"cannot read {path}: {error}") from None
        wanted = _column_keys(variables)
        picked = [(i, wanted[key]) for i, h in enumerate(header) if (key := _uuid_key(h) or h) in wanted]
        while True:
            columns: dict[str, list[str | None]] = {name: [] for _, name in picked}
            rows = 0
            try:
                for record in reader:
                    if len(record) != len(header):
                        raise InputError(f"{path}, line {reader.line_num}: {len(record)} fields, "
                                         f"the header has {len(header)}")
                    for i, name in picked:
                        columns[name].append(record[i] or None)
                    rows += 1
                    if rows == CHUNK_ROWS:
                        break
            except (UnicodeDecodeError, csv.Error) as error:
                raise InputError(f"cannot read {path}, line {reader.line_num}: {error}") from None
            if rows == 0:
                return
            progress.update(counted.count, size)
            yield {"rows": rows, "columns": columns}


def _parquet_chunks(path: str, variables: Sequence[str], progress: _Progress) -> Iterator[dict[str, Any]]:
    pq = _pyarrow("pyarrow.parquet", "reading")
    try:
        file = pq.ParquetFile(path)
    except (OSError, ValueError) as error:
        raise InputError(f"cannot read {path}: {error}") from None
    wanted = _column_keys(variables)
    picked = [(h, wanted[key]) for h in file.schema_arrow.names if (key := _uuid_key(h) or h) in wanted]
    total, done = file.metadata.num_rows, 0
    for batch in file.iter_batches(batch_size=CHUNK_ROWS, columns=[h for h, _ in picked]):
        done += batch.num_rows
        progress.update(done, total)
        yield {"rows": batch.num_rows, "columns": {name: batch.column(h) for h, name in picked}}


def _pyarrow(module: str, doing: str) -> Any:
    """A pyarrow module, needed for Parquet only (py_vexlor itself does not depend on it)."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise InputError(f"{doing} Parquet needs pyarrow (pip install pyarrow)") from None


def _size(file: IO[bytes]) -> int:
    try:
        return max(1, file.seek(0, io.SEEK_END))
    finally:
        file.seek(0)


class _Progress:
    """A one-line bar on standard error, redrawn at most ten times a second."""

    def __init__(self, show: bool | None) -> None:
        self.show, self.start, self.drawn, self.last = show, time.monotonic(), False, 0.0

    def update(self, done: int, total: int) -> None:
        now = time.monotonic()
        if self.show is None:  # a terminal, and more than a second of work ahead
            self.show = sys.stderr.isatty() and done < total and now - self.start > 0.2
        if not self.show or (now - self.last < 0.1 and done < total):
            return
        self.last = now
        share = min(done / total, 1.0) if total else 1.0
        bar = "#" * int(share * 30)
        sys.stderr.write(f"\r[{bar:<30}] {share:4.0%}")
        sys.stderr.flush()
        self.drawn = True

    def finish(self) -> None:
        if self.drawn:
            sys.stderr.write("\n")
            sys.stderr.flush()


class _Writer:
    def __init__(self, output: str | None) -> None:
        self.output = output
        self.parquet: Any = None
        self.csv: Any = None
        self.file: IO[str] | None = None
        if output is not None and output.endswith(".parquet"):
            self.pa, self.pq = _pyarrow("pyarrow", "writing"), _pyarrow("pyarrow.parquet", "writing")
        else:
            try:
                file = sys.stdout if output is None else open(output, "w", newline="", encoding="utf-8")
            except OSError as error:
                raise InputError(f"cannot write {output}: {error.strerror}") from None
            self.file = file
            self.csv = csv.writer(file, lineterminator="\n")
        self.started = False

    def write(self, result: Any) -> None:
        if self.csv is not None:
            self.header()
            self.csv.writerows([["" if v is None else str(v)] for v in result.to_pylist()])
            return
        array = self.pa.array(result)
        if self.parquet is None:
            self.parquet = self.pq.ParquetWriter(self.output, self.pa.schema([("result", array.type)]))
        elif array.type != self.parquet.schema.field("result").type:
            array = array.cast(self.parquet.schema.field("result").type)
        self.parquet.write_table(self.pa.table({"result": array}))

    def header(self) -> None:
        if self.csv is not None and not self.started:
            self.csv.writerow(["result"])
            self.started = True

    def finish(self) -> None:
        """After the last row: an input without rows still gives a header or an empty column."""
        self.header()
        if self.csv is None and self.parquet is None:
            self.parquet = self.pq.ParquetWriter(self.output, self.pa.schema([("result", self.pa.decimal128(38, 0))]))

    def close(self) -> None:
        if self.parquet is not None:
            self.parquet.close()
        elif self.file is not None and self.file is not sys.stdout:
            self.file.close()


def evaluate_file(expression: CompiledExpression, path: str, output: str | None,
                  constants: Mapping[str, str], options: Options) -> None:
    """Evaluates `expression` for every row of `path` and writes the results.
    Raises InputError for a file that cannot be read or written, or the first failing
    row's exception with a note naming its row in the whole file."""
    given = {_uuid_key(name) or name for name in constants}
    variables = [v for v in expression.variables() if (_uuid_key(v) or v) not in given]
    progress = _Progress(options.progress)
    reader = _parquet_chunks if path.endswith(".parquet") else _csv_chunks
    writer = _Writer(output)
    first_row = 0
    try:
        for chunk in reader(path, variables, progress):
            rows = chunk["rows"]
            columns = {**chunk["columns"], **{name: [value] * rows for name, value in constants.items()}}
            try:
                result = evaluate_columns(expression, columns, gas=options.gas, errors=options.errors,
                                          scale=options.scale, threads=options.threads)
            except Exception as error:
                _renumber(error, first_row)
                raise
            writer.write(result)
            first_row += rows
        writer.finish()
    finally:
        progress.finish()
        writer.close()


def _renumber(error: BaseException, first_row: int) -> None:
    """Rewrites the note of a row error so that it counts rows of the whole file."""
    notes = getattr(error, "__notes__", None)
    if not notes:
        return
    for i, note in enumerate(notes):
        if match := _ROW_NOTE.match(note):
            notes[i] = f"raised by row {first_row + int(match[1])} of the input (rows counted from 0)"
