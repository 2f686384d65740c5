"""Writing the command line's results: CSV (a file or standard output) or Parquet.

A file is written under a temporary name in the target's folder and renamed into
place only when the run succeeds: a failed or interrupted run leaves no partial
file and never truncates an existing one.

CSV: plain notation (never an exponent), exactly S places with --scale S and each
row's own value otherwise, a null as an empty field (a blank line in a one-column
file). Parquet: kept columns as read, then each output as decimal128(38, S)."""

from __future__ import annotations

import importlib
import itertools
import os
import re
import stat
import sys
import tempfile
from collections.abc import Mapping, Sequence
from decimal import Decimal
from typing import IO, Any, cast

from .cli_batches import Evaluated
from .cli_errors import DataError, UsageError
from .cli_read import pyarrow_module

_NEEDS_QUOTES = re.compile(r'[,"\r\n]').search


class Target:
    """The output. A regular file (new or existing) is written under a temporary name in
    its folder and renamed into place by commit(); standard output, a device or a pipe is
    written as the rows come."""

    def __init__(self, path: str | None) -> None:
        self.path, self.temporary, self.opened = path, None, False
        if path is None:
            self.file: IO[bytes] = sys.stdout.buffer
            return
        try:
            kind = os.stat(path).st_mode
        except FileNotFoundError:
            kind = stat.S_IFREG
        except OSError as error:
            raise UsageError(f"cannot write {path}: {error.strerror}") from None
        if stat.S_ISDIR(kind):
            raise UsageError(f"cannot write {path}: it is a folder")
        try:
            if not stat.S_ISREG(kind):  # renaming over /dev/null would replace the device
                self.file, self.opened = open(path, "wb"), True
                return
            self.path = os.path.realpath(path)  # through a symbolic link, the file it names is replaced
            folder, base = os.path.split(self.path)
            handle, self.temporary = tempfile.mkstemp(prefix=f".{base}.", suffix=".partial", dir=folder)
        except OSError as error:
            raise UsageError(f"cannot write {path}: {error.strerror}") from None
        self.file = os.fdopen(handle, "wb")

    def commit(self) -> None:
        if self.temporary is None:
            self.file.flush()
            if self.opened:
                self.file.close()
            return
        self.file.close()
        os.chmod(self.temporary, _mode(self.path or ""))
        os.replace(self.temporary, self.path or "")
        self.temporary = None

    def discard(self) -> None:
        if self.temporary is not None:
            self.file.close()
            os.unlink(self.temporary)
            self.temporary = None
        elif self.opened and not self.file.closed:
            try:
                self.file.close()
            except OSError:
                pass


def _mode(path: str) -> int:
    """An existing file keeps its permissions; a new one gets what open() would give it."""
    try:
        return os.stat(path).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


def _quoted(text: str) -> str:
    return '"' + text.replace('"', '""') + '"' if _NEEDS_QUOTES(text) else text


def _quoted_all(texts: list[str]) -> list[str]:
    return list(map(_quoted, texts)) if _NEEDS_QUOTES("".join(texts)) else texts


class CsvWriter:
    def __init__(self, target: Target, kept: Sequence[str], outputs: Sequence[str],
                 scales: Mapping[str, int | None]) -> None:
        self.target, self.scales = target, scales
        self.header: str | None = ",".join(map(_quoted, [*kept, *outputs])) + "\n"  # written with the first rows
        self.arrow: Any = None  # pyarrow, for a long input (not worth its import for a short one)

    def write(self, evaluated: Evaluated) -> None:
        if self.header is None and self.arrow is None:
            try:
                self.arrow = importlib.import_module("pyarrow")
            except ImportError:
                self.arrow = False
        columns = [_kept_texts(name, values) for name, values in evaluated.batch.kept.items()]
        for name, pieces in evaluated.outputs.items():
            columns.append(_number_texts(pieces, self.scales[name], self.arrow or None))
        rows = map(",".join, zip(*columns))
        self.target.file.write(((self.header or "") + "\n".join(rows) + "\n").encode())
        self.header = None

    def close(self) -> None:
        if self.header is not None:  # no rows
            self.target.file.write(self.header.encode())


def _number_texts(pieces: Sequence[Any], scale: int | None, pa: Any) -> list[str]:
    texts: list[str] = []
    for piece in pieces:
        if scale is not None and pa is not None and (arrow := _arrow_texts(piece, pa)) is not None:
            texts += arrow
            continue
        values = piece.to_pylist()
        if scale is None:  # str() is quick but may give an exponent: 1E-7, 0E-12
            texts += ["" if v is None else s if "E" not in (s := str(v)) else format(v, "f") for v in values]
        elif piece.null_count == 0:  # rounded half to even to `scale` places, as the engine rounds
            texts += map(format, values, itertools.repeat(f".{scale}f"))
        else:
            places = f".{scale}f"
            texts += ["" if v is None else format(v, places) for v in values]
    return texts


def _arrow_texts(piece: Any, pa: Any) -> list[str] | None:
    """The decimal128(38, S) values as pyarrow prints them: exactly S places, unless a
    small value is printed with an exponent (then None)."""
    texts: list[str | None] = pa.array(piece).cast(pa.string()).to_pylist()
    plain = ["" if t is None else t for t in texts] if piece.null_count else cast("list[str]", texts)
    return None if "E" in "".join(plain) else plain


def _kept_texts(name: str, values: Any) -> list[str]:
    """A kept column as CSV fields: numbers in plain notation, text quoted where needed."""
    if isinstance(values, list):  # CSV: the text as read
        return _quoted_all(cast("list[str]", values))
    pa = pyarrow_module("pyarrow", "reading")
    if pa.types.is_decimal(values.type):
        return ["" if v is None else format(v, "f") for v in values.to_pylist()]
    if pa.types.is_floating(values.type):
        return ["" if v is None else format(Decimal(repr(v)), "f") for v in values.to_pylist()]
    try:
        texts = values.cast(pa.large_string()).to_pylist()
    except (pa.ArrowInvalid, pa.ArrowNotImplementedError):
        raise DataError(f"the kept column {name!r} of type {values.type} cannot be written as CSV text") from None
    return _quoted_all(["" if v is None else v for v in texts])


class ParquetWriter:
    def __init__(self, target: Target, kept_types: Mapping[str, Any], outputs: Sequence[str],
                 scales: Mapping[str, int | None]) -> None:
        self.pa = pyarrow_module("pyarrow", "writing")
        pq = pyarrow_module("pyarrow.parquet", "writing")
        fields = [self.pa.field(name, kind) for name, kind in kept_types.items()]
        fields += [self.pa.field(name, self.pa.decimal128(38, scales[name] or 0)) for name in outputs]
        self.schema = self.pa.schema(fields)
        self.writer = pq.ParquetWriter(target.temporary or target.file, self.schema)

    def write(self, evaluated: Evaluated) -> None:
        pa = self.pa
        arrays: list[Any] = []
        for values in evaluated.batch.kept.values():
            if isinstance(values, list):  # CSV: an empty field is null
                read = cast("list[str]", values)
                values = pa.array([v or None for v in read], pa.string())
            arrays.append(values)
        for pieces in evaluated.outputs.values():
            arrays.append(pa.concat_arrays([pa.array(piece) for piece in pieces]))
        self.writer.write_batch(pa.RecordBatch.from_arrays(arrays, schema=self.schema))

    def close(self) -> None:
        self.writer.close()
