#!/bin/sh
# Instructions per row of the columnar runner for each formula of
# bench_columns_core (callgrind): the difference between two calls and one over
# 20000 rows, which leaves out the setup.
#   bench/callgrind_columns.sh build/release/bench/bench_columns_core
set -e
bin=${1:-build/release/bench/bench_columns_core}
for f in add round div_round mod_floor interest formula_div add_float64 add_text; do
  small=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin" --rows 20000 --only $f --repeat 1 2>&1 |
          sed -n 's/.*refs: *//p' | tr -d ,)
  large=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin" --rows 20000 --only $f --repeat 2 2>&1 |
          sed -n 's/.*refs: *//p' | tr -d ,)
  echo "$f $(( (large - small) / 20000 ))"
done
