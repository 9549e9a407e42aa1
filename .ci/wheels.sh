#!/usr/bin/env bash
# Portable Linux wheels (manylinux_2_28) for x86-64 and aarch64 with GMP inside, built, repaired
# and checked:
#   .ci/wheels.sh                            CPython 3.10 to 3.15, each for x86_64 and aarch64
#   .ci/wheels.sh 3.10 3.15                  the versions named, for both processors
#   .ci/wheels.sh x86_64:3.10 aarch64:3.15   a version for one processor
#
# 1. python -m build --sdist makes dist/swarmtuner-<version>.tar.gz, the source of every wheel.
# 2. For each wheel, pip builds it from that sdist in an isolated build environment, run by an
#    x86-64 CPython of the version: pyenv's (3.10 to 3.13) or the Debian unstable root's (3.14,
#    3.15; .ci/debian-root.sh). The compiler is the Clang of zig (PyPI's ziglang) targeting
#    glibc 2.28 on the wheel's processor, whose C++ runtime (libc++) is linked into the
#    extension, so the extension needs nothing from the system but glibc symbols of 2.28 or
#    older, and no libstdc++ at all. An aarch64 wheel is cross-compiled: the interpreter's own
#    headers serve (Python's configuration is the same for the two 64-bit Linux targets in
#    everything an extension sees), _PYTHON_HOST_PLATFORM gives the wheel's tag and
#    SETUPTOOLS_EXT_SUFFIX the module's file name. GMP is Debian 12's, for aarch64 from the
#    multiarch package libgmp-dev:arm64.
# 3. auditwheel repair copies libgmp into the wheel and tags it manylinux_2_28_<processor>;
#    GMP's licence notice from the Debian package (/usr/share/doc/libgmp10/copyright) goes into
#    the wheel's .dist-info/licenses.
# 4. auditwheel show must find the repaired wheel consistent with manylinux_2_28 or an older
#    policy for its processor. Then, where an interpreter of the wheel's version and processor
#    is at hand, the wheel is installed into a fresh virtual environment of it, where
#    .ci/wheel_check.py runs a search over every element kind and checks with ldd that GMP is
#    loaded from the wheel, and the Python tests (tests/python) run against it. x86-64: every
#    version, as above. aarch64: under qemu-user emulation, in the Debian roots that have
#    an arm64 interpreter of the version: unstable (3.13, 3.14, 3.15) and Debian 12 (3.11).
#    Wheels without an interpreter are built and checked by auditwheel only, and the summary
#    says so.
#
# Repaired wheels end up in dist/wheelhouse/; the tools live in build/wheel-tools/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
[ "$(uname -m)" = x86_64 ] || { echo "portable wheels are built on x86-64 only" >&2; exit 1; }

wheels=()
for argument in "${@:-3.10 3.11 3.12 3.13 3.14 3.15}"; do
  for item in $argument; do
    case $item in
      x86_64:* | aarch64:*) wheels+=("$item") ;;
      3.*) wheels+=("x86_64:$item" "aarch64:$item") ;;
      *) echo "not a wheel: $item (VERSION, x86_64:VERSION or aarch64:VERSION)" >&2; exit 2 ;;
    esac
  done
done

# GMP's header and library, for each processor, and its licence notice, from Debian's packages.
make --no-print-directory system-deps
if printf '%s\n' "${wheels[@]}" | grep -q '^aarch64:'; then
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
  if ! dpkg -s libgmp-dev:arm64 libgcc-s1:arm64 > /dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      libgmp-dev:arm64 libgcc-s1:arm64 > /dev/null
  fi
fi
gmp_notice=/usr/share/doc/libgmp10/copyright
[ -f "$gmp_notice" ] || { echo "missing $gmp_notice (Debian's libgmp10)" >&2; exit 1; }

. .ci/wheel-tools.sh

# Per processor, under the checkout (so that a build inside a Debian root sees them too): gmp.h
# (it lives in Debian's multiarch include directory beside glibc's own headers, and zig brings
# the headers of the glibc it targets, so it is given on its own), libgmp, and a compiler.
for arch in x86_64 aarch64; do
  multiarch=$arch-linux-gnu
  debian_arch=$([ "$arch" = x86_64 ] && echo amd64 || echo arm64)
  dpkg -s "libgmp-dev:$debian_arch" > /dev/null 2>&1 || continue
  mkdir -p "$tools/gmp/$arch"
  cp "/usr/include/$multiarch/gmp.h" "$tools/gmp/$arch/gmp.h"
  cp -L "/usr/lib/$multiarch/libgmp.so.10" "$tools/gmp/$arch/libgmp.so.10"
  # The module unwinds through GCC's shared unwinder (libgcc_s, on every manylinux system)
  # rather than the one zig links into libc++: glibc ends a thread (pthread_exit, as CPython
  # does to a daemon thread at shutdown) by a forced unwind through libgcc_s, and libc++abi
  # must read that unwind's frames with the same unwinder, or the process crashes.
  cp -L "/usr/lib/$multiarch/libgcc_s.so.1" "$tools/gmp/$arch/libgcc_s.so.1"
  ln -sf libgmp.so.10 "$tools/gmp/$arch/libgmp.so"
  cat > "$tools/zig-c++-$arch" << EOF
#!/bin/sh
export ZIG_GLOBAL_CACHE_DIR="$zig_cache" ZIG_LOCAL_CACHE_DIR="$zig_cache"
exec "$zig" c++ -target $arch-linux-gnu.2.28 "\$@"
EOF
  chmod +x "$tools/zig-c++-$arch"
done

rm -rf dist/swarmtuner-*.tar.gz dist/wheelhouse "$tools/work"
mkdir -p dist/wheelhouse "$tools/work"
"$tools/venv/bin/python" -m build --sdist --outdir dist . > "$tools/work/sdist.log" 2>&1 ||
  { cat "$tools/work/sdist.log" >&2; exit 1; }
sdist=$(ls "$root"/dist/swarmtuner-*.tar.gz)
echo "sdist: $sdist"

# Runs a command on this machine ("host") or inside a Debian root (.ci/debian-root.sh), where
# the checkout is at the same path.
in_env() {
  local where=$1
  shift
  if [ "$where" = host ]; then "$@"; else "$root/.ci/debian-root.sh" ${where//:/ } "$@"; fi
}

# auditwheel offers the policies of the machine's own processor only; for an aarch64 wheel it is
# told that the machine is one (everything else it does reads the wheel's ELF files).
auditwheel_for() {
  local arch=$1
  shift
  "$tools/venv/bin/python" -c '
import platform, sys
machine = sys.argv.pop(1)
platform.machine = lambda: machine
from auditwheel.main import main
sys.argv[0] = "auditwheel"
sys.exit(main())' "$arch" "$@"
}

# The x86-64 interpreter that builds a version's wheels: "ENVIRONMENT PYTHON".
build_python() {
  local version=$1 python
  if python=$(find_python "$version" 2> /dev/null); then
    echo "host $python"
  else
    case $version in
      3.14 | 3.15) echo "unstable-amd64 /usr/bin/python$version" ;;
      *) echo "no x86-64 CPython $version here" >&2; return 1 ;;
    esac
  fi
}

# The interpreter that runs an aarch64 wheel of a version (under emulation), if any.
aarch64_python() {
  case $1 in
    3.13 | 3.14 | 3.15) echo "unstable-arm64 /usr/bin/python$1" ;;
    3.11) echo "bookworm-arm64 /usr/bin/python$1" ;;
    *) return 1 ;;
  esac
}

summary=()
for item in "${wheels[@]}"; do
  arch=${item%%:*} version=${item#*:}
  start=$SECONDS
  plat=manylinux_2_28_$arch
  read -r build_env python < <(build_python "$version")
  work=$tools/work/$arch-$version
  mkdir -p "$work/raw" "$work/repaired" "$work/scratch"
  echo "== CPython $version for $arch (built by $python, $build_env)"

  build_vars=(CXX="$tools/zig-c++-$arch"
    CMAKE_ARGS="-DGMP_INCLUDE_DIR=$tools/gmp/$arch -DGMP_LIBRARY=$tools/gmp/$arch/libgmp.so \
-DCMAKE_MODULE_LINKER_FLAGS=$tools/gmp/$arch/libgcc_s.so.1")
  if [ "$arch" != x86_64 ]; then
    suffix=$(in_env "$build_env" "$python" -c \
      'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
    build_vars+=(_PYTHON_HOST_PLATFORM="linux-$arch"
      SETUPTOOLS_EXT_SUFFIX="${suffix/x86_64-linux-gnu/$arch-linux-gnu}")
  fi
  # Debian's pyconfig.h includes the one of the target's multiarch directory, which zig does not
  # search; for aarch64 that is the x86-64 one (see 2. above).
  if [ "$build_env" != host ]; then
    headers=$("$root/.ci/debian-root.sh" "$build_env")
    mkdir -p "$tools/pyconfig/$arch-linux-gnu/python$version"
    cp "$headers/usr/include/x86_64-linux-gnu/python$version/pyconfig.h" \
      "$tools/pyconfig/$arch-linux-gnu/python$version/pyconfig.h"
    build_vars+=(CXXFLAGS="-isystem $tools/pyconfig")
  fi
  # pip runs from a virtual environment (Debian's interpreters other than the default have none).
  rm -rf "$work/build-venv"
  in_env "$build_env" "$python" -m venv "$work/build-venv"
  in_env "$build_env" env "${build_vars[@]}" \
    "$work/build-venv/bin/python" -m pip wheel --no-deps --quiet --wheel-dir "$work/raw" "$sdist"
  raw=$(ls "$work"/raw/swarmtuner-*.whl)

  LD_LIBRARY_PATH="$tools/gmp/$arch" \
    auditwheel_for "$arch" repair --plat "$plat" --only-plat --wheel-dir "$work/repaired" "$raw" \
    > "$work/repair.log" 2>&1 || { cat "$work/repair.log" >&2; exit 1; }
  wheel=$(ls "$work"/repaired/swarmtuner-*.whl)
  case "$wheel" in
    *"-cp${version/./}-cp${version/./}-$plat.whl") ;;
    *) echo "unexpected tag: $wheel" >&2; exit 1 ;;
  esac
  "$tools/venv/bin/python" .ci/wheel_licence.py "$wheel" \
    --file "$gmp_notice:swarmtuner.libs/libgmp/copyright" \
    --expression "LGPL-3.0-or-later OR GPL-2.0-or-later"

  # The policy auditwheel finds the wheel consistent with must be manylinux_2_28 or older.
  show=$(auditwheel_for "$arch" show "$wheel")
  echo "$show"
  consistent=$(echo "$show" | tr '\n' ' ' | grep -o 'platform tag: *"[^"]*"' | grep -o '"[^"]*"' |
    tr -d '"')
  if ! [[ "$consistent" =~ ^manylinux_2_([0-9]+)_$arch$ ]] || [ "${BASH_REMATCH[1]}" -gt 28 ]; then
    echo "auditwheel show: $wheel is not manylinux_2_28 or older (${consistent:-none})" >&2
    exit 1
  fi

  if [ "$arch" = x86_64 ]; then
    test_env=$build_env test_python=$python
  elif ! read -r test_env test_python < <(aarch64_python "$version"); then
    test_env=""
  fi
  if [ -n "$test_env" ]; then
    echo "-- installed and tested with $test_python ($test_env)"
    rm -rf "$work/venv"
    if [ "$arch" = x86_64 ]; then
      in_env "$test_env" "$test_python" -m venv "$work/venv"
      in_env "$test_env" "$work/venv/bin/python" -m pip install --quiet --no-compile --no-index \
        "$wheel"
      in_env "$test_env" "$root/.ci/retry.sh" "$work/venv/bin/python" -m pip install --quiet \
        --no-compile pytest hypothesis
    else
      # Under emulation pip itself is the slow part (a venv with pip took six minutes, an
      # install three), so the venv is made without it and this machine's pip installs into
      # it for the wheel's platform and interpreter, refusing what would not install there.
      # The interpreter then confirms that it accepts the wheel's tag, as its own pip would.
      in_env "$test_env" "$test_python" -m venv --without-pip "$work/venv"
      site=$(in_env "$test_env" "$work/venv/bin/python" -c \
        'import sysconfig; print(sysconfig.get_path("purelib"))')
      .ci/retry.sh "$tools/venv/bin/python" -m pip install --quiet --no-compile --only-binary=:all: \
        --platform "$plat" --python-version "$version" --implementation cp \
        --abi "cp${version/./}" --target "$site" "$wheel" pytest hypothesis
      in_env "$test_env" "$work/venv/bin/python" -c '
import sys
from packaging.tags import sys_tags
from packaging.utils import parse_wheel_filename
wheel_tags = parse_wheel_filename(sys.argv[1].rsplit("/", 1)[-1])[3]
assert wheel_tags & set(sys_tags()), f"{sys.argv[1]}: no tag this interpreter accepts"' "$wheel"
    fi
    (cd "$work/scratch" && in_env "$test_env" \
      "$work/venv/bin/python" "$root/.ci/wheel_check.py" "$root/swarmtuner.pyi" --bundled-gmp)
    # The wheel's compiler and C++ runtime differ from the development build's, so the whole
    # Python test suite runs against it too (from outside the source tree, as above).
    # Under qemu-user the address-space limit (RLIMIT_AS) that the memory-failure tests set
    # applies to the emulator's own mappings too, and those tests then fail (PanicException
    # where MemoryError is expected): they are left out there, and said so.
    emulated=()
    if [ "$arch" != x86_64 ]; then
      emulated=(--deselect tests/python/test_memory_limits.py --deselect
        tests/python/test_module_state.py::test_a_call_that_runs_out_of_memory_leaves_later_calls_working)
      echo "-- under emulation, not run: tests/python/test_memory_limits.py and" \
        "test_module_state.py::test_a_call_that_runs_out_of_memory_leaves_later_calls_working"
    fi
    tested=$SECONDS
    (cd "$work/scratch" && in_env "$test_env" \
      "$work/venv/bin/python" -m pytest -q -p no:cacheprovider -c "$root/pyproject.toml" \
      --rootdir "$root" "${emulated[@]}" "$root/tests/python")
    ran="tested on $(in_env "$test_env" "$test_python" -c \
      'import platform; print(platform.python_version(), platform.machine())')" 
    ran+=" (Python tests $((SECONDS - tested)) s)"
  else
    ran="NOT RUN: no aarch64 CPython $version here"
  fi

  mv "$wheel" dist/wheelhouse/
  summary+=("$(basename "$wheel"): auditwheel show: $consistent; $ran; $((SECONDS - start)) s")
done

echo "== Portable wheels (dist/wheelhouse)"
printf '%s\n' "${summary[@]}"
