#!/usr/bin/env bash
# Builds the decimal benchmarks in release mode and runs them: each benchmark
# repeated (5 times by default), console output plus JSON in the build folder,
# then a table of the medians of the CPU time (less disturbed than wall time
# when other work shares the cores) with the ratio decimal128 time / our time
# per operation (goal: 2.0 or more, judged on the mixed set; the rows
# "<operation>@amounts" and "<operation>@wide" are the one-sided sets).
#   bench/run_decimal.sh [build-dir] [extra benchmark flags, e.g. --benchmark_filter=div]
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build/bench}
[ $# -gt 0 ] && shift
gen=(); command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)

cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BENCH=ON -DVEXLOR_TESTS=OFF >/dev/null
cmake --build "$dir" -j "${BUILD_JOBS:-2}" --target bench_decimal

json="$dir/bench_decimal.json"
"$dir/bench/bench_decimal" \
  --benchmark_repetitions="${REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$json" --benchmark_out_format=json \
  "$@"

python3 - "$json" <<'EOF'
import json, sys

data = json.load(open(sys.argv[1]))
median, spread = {}, {}
for b in data["benchmarks"]:
    name = b.get("run_name", b["name"])
    if b.get("aggregate_name") == "median":
        median[name] = b["cpu_time"]
    elif b.get("aggregate_name") == "cv":
        spread[name] = b["cpu_time"]
    elif b.get("run_type") == "iteration":  # a single repetition
        median.setdefault(name, b["cpu_time"])

print()
print("| operation | ours ns | decimal128 ns | ratio | goal (2x) | noise (cv ours / decimal128) |")
print("|---|---:|---:|---:|---|---|")
ops = []
for name in median:
    op = name.rsplit("/", 1)[0]
    if op not in ops:
        ops.append(op)
for op in ops:
    ours, ref = median.get(op + "/ours"), median.get(op + "/decimal128")
    if ours is None:
        continue
    cv = lambda n: f"{spread[n] * 100:.1f}%" if n in spread else "-"
    if ref is None:
        print(f"| {op} | {ours:.2f} | - | - | - | {cv(op + '/ours')} / - |")
        continue
    ratio = ref / ours
    verdict = "met" if ratio >= 2.0 else "MISSED"
    if "@" in op:  # the one-sided sets only show where the time goes
        verdict = "(" + verdict.lower() + ")"
    print(f"| {op} | {ours:.2f} | {ref:.2f} | {ratio:.2f} | {verdict} | {cv(op + '/ours')} / {cv(op + '/decimal128')} |")
EOF
