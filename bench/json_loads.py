"""Times Python's json.loads on a bytecode JSON text, for comparison with the
C++ reader (bench_compiler's BM_ReadJson1000 on the same text).

    VEXLOR_BENCH_JSON_OUT=/tmp/program.json build/bench/bench_compiler \
        --benchmark_filter=ReadJson1000
    python3 bench/json_loads.py /tmp/program.json [--ours MB_PER_S]

Prints json.loads' throughput in MB/s (1 MB = 10^6 bytes) and, given the
reader's MB/s (Google Benchmark's "M/s" is 2^20 bytes; pass it as printed with
--ours-mib), the ratio reader / json.loads.
"""

import argparse
import json
import time
import timeit


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("path")
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--ours", type=float, help="the C++ reader's throughput in MB/s (10^6 bytes)")
    group.add_argument("--ours-mib", type=float, help="the C++ reader's throughput in MiB/s as Google Benchmark prints it")
    args = parser.parse_args()

    with open(args.path, encoding="utf-8") as f:
        text = f.read()
    size = len(text.encode("utf-8"))
    json.loads(text)  # warm up, and check the text is JSON

    # CPU time of this process, like Google Benchmark's "CPU" column, so that
    # the comparison holds on a loaded machine.
    timer = timeit.Timer(lambda: json.loads(text), timer=time.process_time)
    number, _ = timer.autorange()
    best = min(timer.repeat(repeat=7, number=number)) / number
    mb_per_s = size / best / 1e6
    print(f"text: {size} bytes")
    print(f"json.loads: {best * 1e6:.1f} us CPU per call, {mb_per_s:.1f} MB/s")
    ours = args.ours if args.ours is not None else (args.ours_mib * 1.048576 if args.ours_mib is not None else None)
    if ours is not None:
        print(f"reader: {ours:.1f} MB/s, ratio reader / json.loads = {ours / mb_per_s:.2f}")


if __name__ == "__main__":
    main()
