#!/usr/bin/env bash
# The C++ core (decimal, parser, compiler, vm) built and tested as 32-bit x86
# (-m32, g++-multilib), with GoogleTest built for that target from Debian's
# sources in /usr/src/googletest. No benchmarks and no Python module here.
#   scripts/test-32bit.sh [build-dir]   (default build/m32)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(realpath -m "${1:-build/m32}")
jobs=${JOBS:-$(nproc)}
gen=(); command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
flags=(-DCMAKE_CXX_FLAGS=-m32 -DCMAKE_C_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-m32 -DCMAKE_SHARED_LINKER_FLAGS=-m32)

if [ ! -f "$dir/gtest/.installed" ]; then
  cmake -S /usr/src/googletest -B "$dir/gtest-build" "${gen[@]}" "${flags[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$dir/gtest" >/dev/null
  cmake --build "$dir/gtest-build" -j "$jobs"
  cmake --install "$dir/gtest-build" >/dev/null
  touch "$dir/gtest/.installed"
fi

cmake -S . -B "$dir" "${gen[@]}" "${flags[@]}" -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BENCH=OFF \
  -DVEXLOR_PYTHON=OFF -DCMAKE_PREFIX_PATH="$dir/gtest" -DGTest_DIR="$dir/gtest/lib/cmake/GTest" >/dev/null
cmake --build "$dir" -j "$jobs"
file -L "$dir/tests/test_vm" | grep -q 'ELF 32-bit' || { echo "test_vm is not a 32-bit executable" >&2; exit 1; }
ctest --test-dir "$dir" --output-on-failure -j "$jobs"
if [ -f tests/oracle/differential.py ]; then
  python3 tests/oracle/differential.py --driver "$dir/tests/decimal_driver" --cases 5000 --seed 32
fi
