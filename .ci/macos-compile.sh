#!/usr/bin/env bash
# The macOS source build, compiled only: every source file under src/ is compiled to an object
# file by zig's Clang for x86_64-macos and aarch64-macos (zig brings the macOS C headers and
# libc++). Nothing is linked or run: there is no macOS here, nor its linker and libraries.
#
# The Python layer is compiled against the headers of the oldest and the newest CPython the
# project supports: 3.10 (pyenv's) and 3.15 (the Debian unstable root's, .ci/debian-root.sh,
# flattened with its x86-64 pyconfig.h in place of Debian's multiarch wrapper). GMP's header is
# Debian's x86-64 gmp.h. These are Linux builds' headers: for the two macOS targets, which are
# LP64 like x86-64 Linux, they give the same sizes and types (GMP's mp_limb_t is unsigned long,
# as in Homebrew's gmp.h), so the check covers the code's own platform dependencies (threads,
# integer types, the C++ library), not differences in how Python or GMP were configured.
#
# The flags are those of CMakeLists.txt, less -Wsign-conversion, which Clang's -Wconversion
# implies and GCC's (the project's warning set) does not; with WERROR=ON (as CI sets it) a
# warning fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

make --no-print-directory system-deps  # GMP's header
. .ci/wheel-tools.sh

headers=$tools/macos-headers
rm -rf "$headers" "$tools/macos-obj"
mkdir -p "$headers/gmp" "$tools/macos-obj"
cp "$(dpkg -L "libgmp-dev:$(dpkg --print-architecture)" | grep '/gmp\.h$' | head -n 1)" \
  "$headers/gmp/gmp.h"

python310=$(find_python 3.10)
ln -s "$("$python310" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')" \
  "$headers/python3.10"
root=$(.ci/debian-root.sh unstable-amd64)
cp -r "$root/usr/include/python3.15" "$headers/python3.15"
cp "$root/usr/include/x86_64-linux-gnu/python3.15/pyconfig.h" "$headers/python3.15/pyconfig.h"

flags=(-std=gnu++20 -ffp-contract=off -fvisibility=hidden -Wall -Wextra -Wshadow -Wconversion
  -Wno-sign-conversion -Isrc -isystem "$headers/gmp")
[ "${WERROR:-OFF}" != ON ] || flags+=(-Werror)

# One line per compilation: target, Python headers (- for none), source file.
jobs=$tools/macos-obj/jobs
: > "$jobs"
for target in x86_64-macos aarch64-macos; do
  for source in src/numeric_core/*.cpp src/particle_swarm_optimization/*.cpp; do
    echo "$target - $source" >> "$jobs"
  done
  for python in python3.10 python3.15; do
    for source in src/python_layer/*.cpp; do echo "$target $python $source" >> "$jobs"; done
  done
done

compile() {
  local target=$1 python=$2 source=$3 object
  object=$tools/macos-obj/$target/$python/${source//\//_}.o
  mkdir -p "$(dirname "$object")"
  local extra=()
  [ "$python" = - ] || extra=(-isystem "$headers/$python")
  "$zig" c++ -target "$target" "${flags[@]}" "${extra[@]}" -c "$source" -o "$object" ||
    { echo "FAILED: $source for $target${python/#-/}" >&2; return 255; }
}
export -f compile
export tools zig headers
export FLAGS_FILE=$tools/macos-obj/flags
printf '%s\n' "${flags[@]}" > "$FLAGS_FILE"

# xargs stops at the first failure (exit 255 from compile).
xargs -P "${JOBS:-2}" -L 1 bash -c 'mapfile -t flags < "$FLAGS_FILE"; compile "$@"' compile \
  < "$jobs"

for target in x86_64-macos aarch64-macos; do
  echo "$target: $(find "$tools/macos-obj/$target" -name '*.o' | wc -l) object files" \
    "($(ls src/*/*.cpp | wc -l) sources; the Python layer for CPython 3.10 and 3.15)"
done
echo "macOS compile check passed in $((SECONDS - start)) s"
