"""Stream benchmark: evaluate_stream over long streams, with bounded memory.

  stream    10^8 rows (--rows) of `a + b * 2` and of the 30-operator formula
            (bench_python.py, W3), streamed from a generator that yields one
            --batch-rows batch of decimal128(18, 2) columns again and again,
            into a consumer that drops each batch: ns per row and the growth of
            the process's peak resident memory; then 10^6 rows streamed against
            evaluate_columns on the same rows in memory, best of --repeat each,
            taken one after the other (the machine's load changes over a long run),
            in time and in processor time.
  overlap   a Python producer that spends per batch as long as one thread
            evaluates it: evaluate_stream with threads=2 (reading ahead)
            against producing and evaluating one after the other on 1 thread.
  parquet   a Parquet file of --parquet-mb (row groups of --batch-rows,
            written to a temporary folder and deleted after) evaluated to
            another Parquet file batch by batch: time and peak memory growth
            (the file read with pre_buffer=False: pyarrow's read-ahead buffers
            otherwise grow with the file).

Each part runs in a process of its own, so that its peak memory is its own.

    python3 bench/bench_stream.py [--rows 100000000] [--batch-rows 100000] [--threads 2]
                                  [--parquet-mb 2048] [--parts stream,overlap,parquet]
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np
import pyarrow as pa

sys.path.insert(0, os.path.dirname(__file__))
from bench_python import w3_formula  # noqa: E402

from py_vexlor import CompiledExpression, evaluate_columns, evaluate_stream  # noqa: E402

FORMULAS = {name: CompiledExpression(text, max_depth=64) for name, text in [("add", "a + b * 2"), ("formula", w3_formula())]}


def peak_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def cpu_seconds() -> float:
    """The process's processor time, every thread's: steadier than the clock on a busy machine."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def cents_column(rng: np.random.Generator, rows: int) -> pa.Array:
    """decimal128(18, 2) values 1.00..99.99, built straight into the Arrow buffer."""
    words = np.zeros((rows, 2), dtype=np.int64)
    words[:, 0] = rng.integers(100, 10000, rows)
    return pa.Array.from_buffers(pa.decimal128(18, 2), rows, [None, pa.py_buffer(words)])


def batch_of(rows: int, seed: int = 1) -> pa.RecordBatch:
    rng = np.random.default_rng(seed)
    return pa.record_batch({name: cents_column(rng, rows) for name in "abcdef"})


def drain(stream: object) -> int:
    rows = 0
    for batch in pa.RecordBatchReader.from_stream(stream):
        rows += batch.num_rows
    return rows


def part_stream(args: argparse.Namespace) -> dict[str, object]:
    batch = batch_of(args.batch_rows)
    out: dict[str, object] = {}
    scales = {key: evaluate_columns(expr, batch, threads=1).scale for key, expr in FORMULAS.items()}
    for key, expr in FORMULAS.items():  # first: the peak memory of the process is still that of one batch
        count = args.rows // args.batch_rows

        def batches():
            for _ in range(count):
                yield batch

        before = peak_mib()
        start = time.perf_counter()
        rows = drain(evaluate_stream(expr, pa.RecordBatchReader.from_batches(batch.schema, batches()),
                                     scale=scales[key], threads=args.threads))
        elapsed = time.perf_counter() - start
        out[f"{key}_stream_ns"] = elapsed / rows * 1e9
        out[f"{key}_stream_rows"] = rows
        out[f"{key}_stream_peak_growth_mib"] = peak_mib() - before
    # Per-row time on a busy machine: the stream of 10^6 rows and evaluate_columns on the same rows in
    # memory, one after the other, best of --repeat each.
    table = pa.Table.from_batches([batch_of(1_000_000, seed=2)])
    chunks = table.to_batches(max_chunksize=args.batch_rows)
    for key, expr in FORMULAS.items():
        best = {"columns": float("inf"), "stream": float("inf"), "columns_cpu": float("inf"),
                "stream_cpu": float("inf")}
        for _ in range(args.repeat):
            for kind in ("columns", "stream"):
                start, start_cpu = time.perf_counter(), cpu_seconds()
                if kind == "columns":
                    evaluate_columns(expr, table, threads=args.threads)
                else:
                    drain(evaluate_stream(expr, pa.RecordBatchReader.from_batches(table.schema, iter(chunks)),
                                          scale=scales[key], threads=args.threads))
                best[kind] = min(best[kind], time.perf_counter() - start)
                best[kind + "_cpu"] = min(best[kind + "_cpu"], cpu_seconds() - start_cpu)
        for name, seconds in best.items():
            out[f"{key}_{name}_1e6_ns"] = seconds / 1e6 * 1e9
        out[f"{key}_ratio"] = best["stream"] / best["columns"]
        out[f"{key}_cpu_ratio"] = best["stream_cpu"] / best["columns_cpu"]
    return out


def part_overlap(args: argparse.Namespace) -> dict[str, object]:
    text = FORMULAS["formula"]
    batch = batch_of(args.batch_rows)
    count = max(8, min(100, args.rows // args.batch_rows))
    scale = evaluate_columns(text, batch, threads=1).scale
    start = time.perf_counter()
    for _ in range(5):
        evaluate_columns(text, batch, threads=1)
    cost = (time.perf_counter() - start) / 5

    result: dict[str, object] = {"batch_eval_ms": cost * 1e3, "batches": count}
    for kind in ("spin", "sleep"):  # Python work holding the interpreter lock, or waiting as for I/O

        def produce() -> pa.RecordBatch:
            if kind == "sleep":
                time.sleep(cost)
                return batch
            until = time.perf_counter() + cost
            while time.perf_counter() < until:
                pass
            return batch

        start = time.perf_counter()
        for _ in range(count):
            evaluate_columns(text, produce(), threads=1)
        sequential = time.perf_counter() - start

        def batches():
            for _ in range(count):
                yield produce()

        start = time.perf_counter()
        drain(evaluate_stream(text, pa.RecordBatchReader.from_batches(batch.schema, batches()), scale=scale,
                              threads=2))
        overlapped = time.perf_counter() - start
        result[f"{kind}_sequential_s"] = sequential
        result[f"{kind}_overlapped_s"] = overlapped
        result[f"{kind}_ratio"] = overlapped / sequential
    return result


def part_parquet(args: argparse.Namespace) -> dict[str, object]:
    import pyarrow.parquet as pq

    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "in.parquet"), os.path.join(folder, "out.parquet")
        batch = batch_of(args.batch_rows)
        schema = pa.schema([("id", pa.int64()), ("a", batch.schema.field("a").type),
                            ("b", batch.schema.field("b").type)])
        rows = 0
        with pq.ParquetWriter(source, schema, compression="none") as writer:
            while rows == 0 or os.path.getsize(source) < args.parquet_mb * 2**20:
                ids = pa.array(np.arange(rows, rows + batch.num_rows, dtype=np.int64))
                writer.write_batch(pa.record_batch([ids, batch["a"], batch["b"]], schema=schema),
                                   row_group_size=args.batch_rows)
                rows += batch.num_rows
        size = os.path.getsize(source)
        before = peak_mib()
        start = time.perf_counter()
        # pre_buffer=False: with it, the Parquet reader keeps what it read ahead, growing with the file
        reader = pq.ParquetFile(source, pre_buffer=False).iter_batches(batch_size=args.batch_rows)
        stream = pa.RecordBatchReader.from_stream(evaluate_stream(
            {"total": FORMULAS["add"]}, pa.RecordBatchReader.from_batches(schema, reader), keep=["id"], scale=2,
            threads=args.threads))
        with pq.ParquetWriter(target, stream.schema) as writer:
            for out in stream:
                writer.write_batch(out)
        elapsed = time.perf_counter() - start
        return {"rows": rows, "file_mib": size / 2**20, "seconds": elapsed, "ns_per_row": elapsed / rows * 1e9,
                "peak_growth_mib": peak_mib() - before, "row_group_rows": args.batch_rows}


PARTS = {"stream": part_stream, "overlap": part_overlap, "parquet": part_parquet}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=100_000_000)
    parser.add_argument("--batch-rows", type=int, default=100_000)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--parquet-mb", type=int, default=2048)
    parser.add_argument("--parts", default="stream,overlap,parquet")
    parser.add_argument("--one", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.one:
        print(json.dumps(PARTS[args.one](args)))
        return
    for part in args.parts.split(","):
        argv = [sys.executable, __file__, *sys.argv[1:], "--one", part]
        done = subprocess.run(argv, capture_output=True, text=True, check=True)
        print(part, json.dumps(json.loads(done.stdout.strip().splitlines()[-1]), indent=1))


if __name__ == "__main__":
    main()
