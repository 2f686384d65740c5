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

# Python: every interpreter (python3 and the newer ones that pyenv holds) gets a
# virtual environment of its own, build/venv-X.Y, with the build requirements and
# every test extra of pyproject.toml ("test" and each "*-test"); the package is
# built in build/py-X.Y and installed there. The machine's interpreters are left as
# they are.
pyproject() {  # pyproject <python> build|extras: build requirements, or the test extras
  "$1" - "$2" <<'EOF'
import sys, tomllib
with open("pyproject.toml", "rb") as f:
    data = tomllib.load(f)
if sys.argv[1] == "build":
    print("\n".join(data["build-system"]["requires"]))
else:
    extras = data["project"].get("optional-dependencies", {})
    print(",".join(name for name in extras if name == "test" or name.endswith("-test")))
EOF
}

declare -A tested=()
for py in python3 "$HOME"/.pyenv/versions/3.1[3-9]*/bin/python3; do
  command -v "$py" >/dev/null 2>&1 || continue
  version=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  [ -z "${tested[$version]:-}" ] || continue
  tested[$version]=1
  venv="$PWD/build/venv-$version"
  step "Python package and tests ($("$py" --version), $venv)"
  [ -x "$venv/bin/python" ] || "$py" -m venv "$venv"
  requires=$(pyproject "$venv/bin/python" build)
  extras=$(pyproject "$venv/bin/python" extras)
  mapfile -t build_requires <<< "$requires"
  "$venv/bin/python" -m pip install -q "${build_requires[@]}"
  # The Spark and Ray tests run on the first interpreter only: they take two minutes of CI.
  if [ ${#tested[@]} -eq 1 ]; then extras="$extras,engines"; fi
  "$venv/bin/python" -m pip install -q --no-build-isolation -C build-dir="build/py-$version" ".[$extras]"
  "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
  (cd /tmp && "$venv/bin/python" -m mypy.stubtest py_vexlor)
done
