#!/usr/bin/env bash
# The whole test suite: installs its needs, then builds and runs every test
# (release, portable word path, AddressSanitizer + UndefinedBehaviorSanitizer,
# the randomised differential run, a short fuzzing run, the Python tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
gen=(); command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
step() { printf '\n=== %s\n' "$*"; }

build() {  # build <dir> <cmake options...>
  local dir=$1; shift
  cmake -S . -B "$dir" "${gen[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

step "release build and C++ tests"
build build/release -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BENCH=ON
ctest --test-dir build/release --output-on-failure -j "$jobs"

step "portable word path (no unsigned __int128)"
build build/portable -DCMAKE_BUILD_TYPE=Release -DVEXLOR_PORTABLE=ON
ctest --test-dir build/portable --output-on-failure -j "$jobs"

step "AddressSanitizer + UndefinedBehaviorSanitizer"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DVEXLOR_SANITIZE=address,undefined
ctest --test-dir build/asan --output-on-failure -j "$jobs"

if [ -f tests/oracle/differential.py ]; then
  step "differential test against Python's decimal (seeded, small)"
  python3 tests/oracle/differential.py --driver build/release/tests/decimal_driver --cases 20000 --seed 7
  python3 tests/oracle/differential.py --driver build/portable/tests/decimal_driver --cases 5000 --seed 8
fi

if [ -f fuzz/CMakeLists.txt ]; then
  step "fuzzing (short, ASan + UBSan)"
  CXX=clang++ build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLOR_FUZZ=ON -DVEXLOR_TESTS=OFF \
    -DCMAKE_CXX_COMPILER=clang++
  fuzz/run.sh build/fuzz "${FUZZ_SECONDS:-20}"
fi

step "C++ core as 32-bit x86"; scripts/test-32bit.sh
step "Python tests, extension with ASan + UBSan"; scripts/test-python-asan.sh

step "Python package and tests (python3)"
python3 -m pip install -q --no-build-isolation .
python3 -m pytest -q tests/python
(cd /tmp && python3 -m mypy.stubtest py_vexlor)

# Newer interpreters present on the machine (pyenv), with their own copy of the package.
for newer in "$HOME"/.pyenv/versions/3.1[3-9]*/bin/python3; do
  [ -x "$newer" ] || continue
  step "Python package and tests ($("$newer" --version))"
  "$newer" -m pip install -q pytest hypothesis scikit-build-core
  "$newer" -m pip install -q --no-build-isolation .
  "$newer" -m pytest -q -p no:cacheprovider tests/python
done
