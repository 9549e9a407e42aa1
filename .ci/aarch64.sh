#!/usr/bin/env bash
# The C++ unit tests of the numeric core on 64-bit Arm: cross-compiled with Debian's
# g++-aarch64-linux-gnu against arm64 GMP and GoogleTest from Debian's multiarch packages, and
# run under qemu-aarch64 (Debian's qemu-user) through ctest. This is where the portable code
# paths run that x86-64 builds replace with x86-64 instructions.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
fi
packages=(g++-aarch64-linux-gnu qemu-user libc6:arm64 libstdc++6:arm64 libgmp-dev:arm64
  libgtest-dev:arm64)
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
build=build/aarch64
.venv/bin/cmake -S . -B "$build" --toolchain cmake/aarch64-linux-gnu.cmake \
  -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF -DCMAKE_BUILD_TYPE=Debug
.venv/bin/cmake --build "$build" -j"${JOBS:-2}"
readelf -h "$build/swarmtuner_cpp_tests" | grep -q 'Machine: *AArch64' ||
  { echo "$build/swarmtuner_cpp_tests is not an AArch64 program" >&2; exit 1; }
# Brief GoogleTest output: failures in full, then the count of tests run.
GTEST_BRIEF=1 .venv/bin/ctest --test-dir "$build" --output-on-failure --verbose
