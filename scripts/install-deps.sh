#!/usr/bin/env bash
# Installs what the build, the tests, the fuzzers and the benchmarks need
# (Debian packages and PyPI packages). Does nothing when all is present.
set -euo pipefail

apt_pkgs=(g++ cmake ninja-build libgtest-dev libbenchmark-dev libintelrdfpmath-dev clang libclang-rt-14-dev)
apt_pkgs+=(g++-multilib googletest)  # the 32-bit core build and its GoogleTest
missing=()
for p in "${apt_pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

py_pkgs=(pytest hypothesis scikit-build-core mypy)
py_missing=()
for p in "${py_pkgs[@]}"; do
  python3 -m pip show -q "$p" >/dev/null 2>&1 || py_missing+=("$p")
done
if [ ${#py_missing[@]} -gt 0 ]; then
  python3 -m pip install -q "${py_missing[@]}"
fi
