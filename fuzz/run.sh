#!/usr/bin/env bash
# Runs every built fuzz target for a fixed time: fuzz/run.sh BUILD_DIR SECONDS
# Each target starts from its committed seeds (fuzz/seeds/<name>/, copied to a
# scratch corpus so the seeds stay untouched) and, if present, uses the
# dictionary fuzz/<name>.dict. Fails if any target finds a crash, a leak, a
# timeout or an invariant violation; the failing input is kept in the scratch
# directory and its path printed.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-fuzz.XXXXXX")

shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build/fuzz" >&2
  exit 1
fi

failed=0
for exe in "${targets[@]}"; do
  [ -x "$exe" ] && [ -f "$exe" ] || continue
  name=$(basename "$exe")
  corpus="$scratch/$name/corpus"
  artifacts="$scratch/$name/artifacts/"
  mkdir -p "$corpus" "$artifacts"
  if [ -d "$here/seeds/$name" ]; then
    cp -r "$here/seeds/$name/." "$corpus/"
  fi
  opts=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$artifacts")
  if [ -f "$here/$name.dict" ]; then
    opts+=(-dict="$here/$name.dict")
  fi
  echo "--- $name (${seconds}s)"
  if "$exe" "${opts[@]}" "$corpus" >"$scratch/$name/log" 2>&1; then
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$scratch/$name/log" | tail -2 || true
  else
    failed=1
    echo "FAILED: $name; log and input under $scratch/$name" >&2
    tail -40 "$scratch/$name/log" >&2
    ls "$artifacts" >&2
  fi
done

if [ $failed -ne 0 ]; then
  exit 1
fi
rm -rf "$scratch"
echo "fuzzing: no failures"
