"""The command line over big files: time per row and peak memory of `vexlor --input`,
CSV to CSV and Parquet to Parquet, beside the same rows through the engine alone
(evaluate_columns, batch by batch, on columns already in memory) plus the same file
reader alone and the same writer alone. What is left over is the command line's glue.

    python bench/bench_cli.py --rows 10000000 --dir /tmp/bench_cli

Every measurement runs in a fresh process; its peak resident memory is its own
(wait4). Files are written once and reused (delete --dir to make new ones)."""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

EXPRESSION = "price * qty"
BATCH = 65536


def make_files(rows: int, folder: Path) -> tuple[Path, Path]:
    csv_path, parquet_path = folder / f"in{rows}.csv", folder / f"in{rows}.parquet"
    if not csv_path.exists():
        with open(csv_path, "w") as out:
            out.write("id,price,qty,note\n")
            step = 100_000
            for start in range(0, rows, step):
                out.write("".join(f"{i},{(i * 7919) % 100000 / 100:.2f},{i % 13 + 1},n{i % 5}\n"
                                  for i in range(start, min(rows, start + step))))
    if not parquet_path.exists():
        import pyarrow as pa
        import pyarrow.csv as pacsv
        import pyarrow.parquet as pq
        types = {"id": pa.int64(), "price": pa.decimal128(12, 2), "qty": pa.int32(), "note": pa.string()}
        reader = pacsv.open_csv(csv_path, convert_options=pacsv.ConvertOptions(column_types=types))
        with pq.ParquetWriter(parquet_path, reader.schema) as writer:
            for batch in reader:
                writer.write_batch(batch)
    return csv_path, parquet_path


# The baselines, each run in its own process by `python bench_cli.py --part NAME FILE`.
def engine_csv(path: str) -> None:
    """evaluate_columns over the CSV's text columns, batch by batch, read beforehand."""
    import csv
    from py_vexlor import evaluate_columns
    with open(path, newline="") as f:
        reader = csv.reader(f)
        next(reader)
        batch = [next(reader) for _ in range(BATCH)]
    price, qty = [r[1] for r in batch], [r[2] for r in batch]
    rows = int(os.environ["BENCH_ROWS"])
    started = time.process_time()
    for start in range(0, rows, BATCH):
        n = min(BATCH, rows - start)
        evaluate_columns(EXPRESSION, {"price": price[:n], "qty": qty[:n]}, scale=2, threads=1)
    report(time.process_time() - started)


def reader_csv(path: str) -> None:
    import csv
    import io
    started = time.process_time()
    with open(path, "rb") as raw:
        reader = csv.reader(io.TextIOWrapper(raw, encoding="utf-8-sig", newline=""))
        batch: list[list[str]] = []
        for record in reader:
            batch.append(record)
            if len(batch) == BATCH:
                batch = []
    report(time.process_time() - started)


def writer_csv(path: str) -> None:
    """The same output text (id and a two-place number per row) written to a file."""
    rows = int(os.environ["BENCH_ROWS"])
    ids = [str(i) for i in range(BATCH)]
    values = [f"{(i * 7919) % 100000 / 100 * (i % 13 + 1):.2f}" for i in range(BATCH)]
    started = time.process_time()
    with open(path, "wb") as out:
        out.write(b"id,result\n")
        for start in range(0, rows, BATCH):
            n = min(BATCH, rows - start)
            out.write(("\n".join(map(",".join, zip(ids[:n], values[:n]))) + "\n").encode())
    report(time.process_time() - started)


def engine_parquet(path: str) -> None:
    import pyarrow.parquet as pq
    from py_vexlor import evaluate_columns
    first = next(pq.ParquetFile(path).iter_batches(batch_size=BATCH, columns=["price", "qty"]))
    rows = int(os.environ["BENCH_ROWS"])
    started = time.process_time()
    for start in range(0, rows, BATCH):
        part = first.slice(0, min(BATCH, rows - start))
        evaluate_columns(EXPRESSION, {"price": part.column(0), "qty": part.column(1)}, scale=2, threads=1)
    report(time.process_time() - started)


def reader_parquet(path: str) -> None:
    import pyarrow.parquet as pq
    started = time.process_time()
    for _ in pq.ParquetFile(path).iter_batches(batch_size=BATCH, columns=["id", "price", "qty"]):
        pass
    report(time.process_time() - started)


def writer_parquet(path: str) -> None:
    from decimal import Decimal

    import pyarrow as pa
    import pyarrow.parquet as pq
    rows = int(os.environ["BENCH_ROWS"])
    ids = pa.array(range(BATCH), pa.int64())
    values = pa.array([Decimal((i * 7919) % 100000 * (i % 13 + 1)).scaleb(-2) for i in range(BATCH)],
                      pa.decimal128(38, 2))
    schema = pa.schema([("id", pa.int64()), ("result", pa.decimal128(38, 2))])
    started = time.process_time()
    with pq.ParquetWriter(path, schema) as writer:
        for start in range(0, rows, BATCH):
            n = min(BATCH, rows - start)
            writer.write_batch(pa.RecordBatch.from_arrays([ids[:n], values[:n]], schema=schema))
    report(time.process_time() - started)


def report(seconds: float) -> None:
    print(f"{seconds:.3f}")


def measure(command: list[str], rows: int) -> tuple[float, float, float]:
    """(CPU seconds, wall seconds, peak MiB) of one run in a fresh process; a part
    reports its own CPU time (its setup excluded), the command line is timed whole."""
    started = time.perf_counter()
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, env={**os.environ, "BENCH_ROWS": str(rows)})
    out = proc.stdout.read() if proc.stdout else b""
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - started
    if status != 0:
        raise SystemExit(f"{command} failed")
    text = out.decode().strip()
    seconds = float(text) if text and "--part" in command else usage.ru_utime + usage.ru_stime
    return seconds, elapsed, usage.ru_maxrss / 1024


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--dir", type=Path, default=Path("/tmp/bench_cli"))
    parser.add_argument("--part", nargs=2)
    parser.add_argument("--make", action="store_true")
    args = parser.parse_args()
    if args.part:
        globals()[args.part[0]](args.part[1])
        return
    args.dir.mkdir(parents=True, exist_ok=True)
    if args.make:
        make_files(args.rows, args.dir)
        return
    # in a process of its own: a child's peak memory counts its parent's at the fork
    subprocess.run([sys.executable, __file__, "--make", "--rows", str(args.rows), "--dir", str(args.dir)], check=True)
    csv_path, parquet_path = args.dir / f"in{args.rows}.csv", args.dir / f"in{args.rows}.parquet"
    vexlor = str(Path(sys.executable).with_name("vexlor"))
    me = [sys.executable, __file__, "--part"]
    runs = {
        "CSV to CSV": ([vexlor, EXPRESSION, "--input", str(csv_path), "--keep", "id", "--scale", "2",
                        "--threads", "1", "--output", str(args.dir / "out.csv")],
                       [me + ["engine_csv", str(csv_path)], me + ["reader_csv", str(csv_path)],
                        me + ["writer_csv", str(args.dir / "w.csv")]]),
        "Parquet to Parquet": ([vexlor, EXPRESSION, "--input", str(parquet_path), "--keep", "id", "--scale", "2",
                                "--threads", "1", "--output", str(args.dir / "out.parquet")],
                               [me + ["engine_parquet", str(parquet_path)], me + ["reader_parquet", str(parquet_path)],
                                me + ["writer_parquet", str(args.dir / "w.parquet")]]),
    }
    print(f"{args.rows} rows, '{EXPRESSION}' --keep id --scale 2 --threads 1; CPU ns per row")
    print("| run | vexlor | engine | reader | writer | sum of the three | ratio | vexlor wall ns/row | peak MiB |")
    print("|---|---|---|---|---|---|---|---|---|")
    # the same baselines for CSV output with each row's own value (no --scale)
    runs["CSV to CSV, no --scale"] = ([arg for arg in runs["CSV to CSV"][0] if arg not in ("--scale", "2")],
                                      runs["CSV to CSV"][1])
    alone: dict[str, list[float]] = {}
    for name, (command, parts) in runs.items():
        seconds, wall, peak = measure(command, args.rows)
        key = str(parts)
        if key not in alone:
            alone[key] = [measure(part, args.rows)[0] for part in parts]
        per_row = [1e9 * s / args.rows for s in (seconds, *alone[key])]
        total = sum(per_row[1:])
        print(f"| {name} | {per_row[0]:.0f} | {per_row[1]:.0f} | {per_row[2]:.0f} | {per_row[3]:.0f} | "
              f"{total:.0f} | {per_row[0] / total:.2f} | {1e9 * wall / args.rows:.0f} | {peak:.0f} |", flush=True)


if __name__ == "__main__":
    main()
