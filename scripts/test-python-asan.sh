#!/usr/bin/env bash
# The Python tests against the extension built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build/py-asan). The interpreter itself is not
# instrumented: the ASan runtime is preloaded and Python's own allocator is
# replaced by malloc, so that every object's memory is watched.
#   scripts/test-python-asan.sh [python]   (a venv's python with pytest and
#   hypothesis; default: a venv of its own made from python3 in build/py-asan/venv)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/py-asan
jobs=${JOBS:-$(nproc)}
gen=(); command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)

python=${1:-}
if [ -z "$python" ]; then
  python=$dir/venv/bin/python
  if [ ! -x "$python" ]; then
    python3 -m venv "$dir/venv"
    "$python" -m pip install -q pytest hypothesis
  fi
fi
python=$(realpath "$python")

cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLOR_PYTHON=ON -DVEXLOR_TESTS=OFF \
  -DVEXLOR_SANITIZE=address,undefined -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$dir" -j "$jobs" --target _lib _columnar _analysis

# The package as installed: its Python files next to the instrumented module.
pkg=$dir/pkg/py_vexlor
rm -rf "$dir/pkg" && mkdir -p "$pkg"
cp python/py_vexlor/*.py python/py_vexlor/*.pyi python/py_vexlor/py.typed "$pkg"/ 2>/dev/null || true
cp "$dir"/src/runtime/_lib*.so "$dir"/src/columnar_py/_columnar*.so "$dir"/src/analysis_py/_analysis*.so "$pkg"/

# RSS stays flat only without the sanitizer's quarantine: that check is left out.
asan=$(g++ -print-file-name=libasan.so)
PYTHONPATH=$(realpath "$dir/pkg") LD_PRELOAD="$asan" PYTHONMALLOC=malloc \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$python" -m pytest -q -p no:cacheprovider tests/python -k "not test_memory_stays_flat"
