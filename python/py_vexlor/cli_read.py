"""Reading a table for the command line, a batch of rows at a time (memory stays
bounded whatever the input's size).

CSV (a file, or standard input for "-") is read with the standard library: every
field as the text written in the file, an empty field as null. A leading BOM is
skipped; fields may be quoted (and hold commas, quotes, line breaks). A blank line
is a null row in a one-column file (as polars writes a null there) and is skipped
in any other. Parquet needs pyarrow and a file; it is read by record batches."""

from __future__ import annotations

import csv
import importlib
import io
import itertools
import operator
import sys
import time
from collections.abc import Iterator, Mapping, Sequence
from typing import Any

from .cli_batches import Batch
from .cli_errors import DataError, UsageError

BATCH_ROWS = 65536
BATCH_FIELDS = 1 << 20  # a wide CSV gets shorter batches

# Arrow type texts as the output type's analysis reads them.
_ARROW_TEXT = {"string": "utf8", "large_string": "large_utf8", "double": "float64", "float": "float32",
               "halffloat": "float16"}


def pyarrow_module(module: str, doing: str) -> Any:
    """A pyarrow module, needed for Parquet only (py_vexlor itself does not depend on it)."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise DataError(f"{doing} Parquet needs pyarrow, an optional extra "
                         "(pip install 'py_vexlor[parquet]' or pip install pyarrow)") from None


def open_input(path: str, progress: Progress) -> CsvInput | ParquetInput:
    if path.lower().endswith(".parquet"):
        return ParquetInput(path, progress)
    return CsvInput(path, progress)


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


class CsvInput:
    def __init__(self, path: str, progress: Progress) -> None:
        self.name = "standard input" if path == "-" else path
        self.progress = progress
        if path == "-":
            raw, self.size = sys.stdin.buffer, 0
        else:
            try:
                raw = open(path, "rb")
            except OSError as error:
                raise UsageError(f"cannot read {path}: {error.strerror}") from None
            self.size = _size(raw)
        self.raw = raw
        self.counted = _Counted(raw)
        self.reader = csv.reader(io.TextIOWrapper(io.BufferedReader(self.counted, 1 << 16),
                                                  encoding="utf-8-sig", newline=""))
        try:
            self.columns: list[str] = next(self.reader)
        except StopIteration:
            raise DataError(f"{self.name} is empty: a CSV input starts with a header row") from None
        except (UnicodeDecodeError, csv.Error) as error:
            raise DataError(f"cannot read {self.name}, line 1: {error}") from None
        self.types = {column: "utf8" for column in self.columns}

    def close(self) -> None:
        if self.raw is not sys.stdin.buffer:
            self.raw.close()

    def value(self, column: str, batch: Batch, row: int) -> object:
        return batch.columns[column][row]

    def batches(self, variables: Mapping[str, str], keep: list[str]) -> Iterator[Batch]:
        """Batches of rows: `variables` maps each variable to its column."""
        index = {column: i for i, column in reversed(list(enumerate(self.columns)))}
        picked = [(var, index[column]) for var, column in variables.items()]
        kept_at = [(column, index[column]) for column in keep]
        width = len(self.columns)
        limit = max(1024, min(BATCH_ROWS, BATCH_FIELDS // max(width, 1)))
        reader = self.reader
        while True:
            before = reader.line_num
            try:
                records = list(itertools.islice(reader, limit))
            except (UnicodeDecodeError, csv.Error) as error:
                raise DataError(f"cannot read {self.name}, line {reader.line_num + 1}: {error}") from None
            if not records:
                return
            lines: Sequence[int]
            if reader.line_num - before == len(records) and set(map(len, records)) == {width}:
                lines = range(before + 1, reader.line_num + 1)  # one line per row, none blank
            else:
                records, lines = self._irregular(records, width, before)
                if not records:
                    continue
            self.progress.update(self.counted.count, self.size)
            columns = {var: _nulls_for_empty(list(map(operator.itemgetter(i), records))) for var, i in picked}
            kept = {column: list(map(operator.itemgetter(i), records)) for column, i in kept_at}
            yield Batch(len(records), columns, kept, lines)

    def _irregular(self, records: list[list[str]], width: int, line: int) -> tuple[list[list[str]], list[int]]:
        """Rows with line breaks in quoted fields, blank lines, or a wrong number of fields."""
        rows: list[list[str]] = []
        lines: list[int] = []
        for record in records:
            line += 1 + sum(f.count("\n") + f.count("\r") - f.count("\r\n") for f in record)
            if len(record) != width:
                if record:
                    raise DataError(f"{self.name}, line {line}: {len(record)} fields, the header has {width}")
                if width != 1:
                    continue
                record = [""]
            rows.append(record)
            lines.append(line)
        return rows, lines


class ParquetInput:
    def __init__(self, path: str, progress: Progress) -> None:
        pq = pyarrow_module("pyarrow.parquet", "reading")
        self.name, self.progress = path, progress
        try:
            open(path, "rb").close()
        except OSError as error:
            raise UsageError(f"cannot read {path}: {error.strerror}") from None
        try:
            # read a column chunk through a small buffer, no row group ahead: memory stays bounded
            self.file = pq.ParquetFile(path, pre_buffer=False, buffer_size=1 << 20)
        except (OSError, ValueError) as error:
            raise DataError(f"cannot read {path}: {error}") from None
        schema = self.file.schema_arrow
        self.columns = list(schema.names)
        self.fields = {field.name: field for field in reversed(list(schema))}
        self.types = {name: _ARROW_TEXT.get(str(field.type), str(field.type)) for name, field in self.fields.items()}

    def close(self) -> None:
        self.file.close()

    def value(self, column: str, batch: Batch, row: int) -> object:
        return batch.columns[column][row].as_py()

    def batches(self, variables: Mapping[str, str], keep: list[str]) -> Iterator[Batch]:
        wanted = list(dict.fromkeys([*variables.values(), *keep]))
        total, done = self.file.metadata.num_rows, 0
        try:
            for batch in self.file.iter_batches(batch_size=BATCH_ROWS, columns=wanted):
                done += batch.num_rows
                self.progress.update(done, total)
                columns = {var: batch.column(column) for var, column in variables.items()}
                yield Batch(batch.num_rows, columns, {column: batch.column(column) for column in keep}, None)
        except (OSError, ValueError) as error:
            raise DataError(f"cannot read {self.name}: {error}") from None


def _nulls_for_empty(values: list[str]) -> list[str | None]:
    if "" not in values:
        return values  # type: ignore[return-value]
    return [v or None for v in values]


def _size(file: Any) -> int:
    try:
        end: int = file.seek(0, io.SEEK_END)
        return max(1, end)
    except OSError:  # not seekable (a pipe): no progress bar
        return 0
    finally:
        try:
            file.seek(0)
        except OSError:
            pass


class Progress:
    """A one-line bar on standard error, redrawn at most ten times a second."""

    def __init__(self, show: bool | None) -> None:
        self.show, self.start, self.drawn, self.last = show, time.monotonic(), False, 0.0

    def update(self, done: int, total: int) -> None:
        if not total:
            return
        now = time.monotonic()
        if self.show is None:  # a terminal, and more than a second of work ahead
            self.show = sys.stderr.isatty() and done < total and now - self.start > 0.2
        if not self.show or (now - self.last < 0.1 and done < total):
            return
        self.last = now
        share = min(done / total, 1.0)
        bar = "#" * int(share * 30)
        sys.stderr.write(f"\r[{bar:<30}] {share:4.0%}")
        sys.stderr.flush()
        self.drawn = True

    def finish(self) -> None:
        if self.drawn:
            sys.stderr.write("\n")
            sys.stderr.flush()
