#!/usr/bin/env bash
# The C++ unit tests of the numeric core on other processors: cross-compiled with Debian's
# cross toolchains against GMP and GoogleTest from Debian's multiarch packages, and run under
# qemu-user through ctest.
#   .ci/cross-test.sh                      aarch64 (64-bit Arm) and s390x (big-endian)
#   .ci/cross-test.sh aarch64-linux-gnu    one of them
# aarch64 runs the portable code that x86-64 builds replace with x86-64 instructions; s390x
# runs everything that depends on byte order the other way round.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then triplets=("$@"); else triplets=(aarch64-linux-gnu s390x-linux-gnu); fi

packages=(qemu-user)
for triplet in "${triplets[@]}"; do
  case $triplet in
    aarch64-linux-gnu) arch=arm64 ;;
    s390x-linux-gnu) arch=s390x ;;
    *) echo "no cross build set up for $triplet" >&2; exit 1 ;;
  esac
  dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
  packages+=("g++-$triplet" "libc6:$arch" "libstdc++6:$arch" "libgmp-dev:$arch"
    "libgtest-dev:$arch")
done
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" > /dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

make --no-print-directory .venv/.swarmtuner-tools  # cmake and ctest
for triplet in "${triplets[@]}"; do
  echo "== $triplet"
  build=build/cross/$triplet
  .venv/bin/cmake -S . -B "$build" --toolchain "cmake/$triplet.cmake" \
    -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF -DCMAKE_BUILD_TYPE=Debug
  .venv/bin/cmake --build "$build" -j"${JOBS:-2}"
  machine=$(readelf -h "$build/swarmtuner_cpp_tests" | sed -n 's/^ *Machine: *//p')
  echo "swarmtuner_cpp_tests: $machine"
  case $machine in *X86-64*) echo "not a cross build" >&2; exit 1 ;; esac
  # Brief GoogleTest output: failures in full, then the count of tests run.
  GTEST_BRIEF=1 .venv/bin/ctest --test-dir "$build" --output-on-failure --verbose
done
