#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the fuzzers and the
# benchmarks need. Does nothing when all is present. Python packages are not
# installed here: scripts/test-all.sh installs them into virtual environments of
# its own (build/venv-X.Y), never into the machine's interpreters.
set -euo pipefail

# python3-venv: the virtual environments; nodejs: pyright (else it fetches node at run time).
apt_pkgs=(g++ cmake ninja-build libgtest-dev libbenchmark-dev libintelrdfpmath-dev clang libclang-rt-14-dev
  python3 python3-venv nodejs)
apt_pkgs+=(g++-multilib googletest)  # the 32-bit core build and its GoogleTest
missing=()
for p in "${apt_pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
command -v java >/dev/null 2>&1 || missing+=(default-jre-headless)  # the Spark test's runtime
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
