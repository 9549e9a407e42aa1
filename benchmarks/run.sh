#!/usr/bin/env bash
# Runs every benchmark of swarmtuner and writes benchmarks/out/results.json and the report.
#
#   benchmarks/run.sh           full run; rewrites benchmarks/RESULTS.md
#   benchmarks/run.sh --smoke   tiny sizes and one repeat, for CI; writes out/RESULTS.smoke.md
#
# The benchmark environment is benchmarks/.venv (CPython 3.10, created when missing; set
# PYTHON to choose the interpreter). The peers are installed there only, from requirements.txt,
# and the module is built from this checkout into it. Nothing here judges a time: a step fails
# only when it cannot produce its numbers.
#
# The overhead against the module's own call of f and the objects it builds (bench_floor.py,
# counted by callgrind when valgrind is installed) is also measured, in a full run, on each
# version of FLOOR_VERSIONS (default 3.13; pyenv's interpreters) and FLOOR_DEBIAN_VERSIONS
# (default none, e.g. 3.14; from the Debian unstable root of .ci/debian-root.sh, with valgrind
# added to it), each in an environment of its own (benchmarks/.venv313, build/debian-bench-venv314)
# with the module built from this checkout:
#
#   FLOOR_DEBIAN_VERSIONS=3.14 benchmarks/run.sh
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
out="$here/out"
smoke=0
for arg in "$@"; do
  case "$arg" in
    --smoke) smoke=1 ;;
    *) echo "usage: $0 [--smoke]" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"
rm -f "$out"/{overhead,peers,memory,scaling,core_bench}.json "$out"/floor*.json

step() { echo "== $(date +%T) $*" >&2; }

# --- environment ------------------------------------------------------------------------------
python="${PYTHON:-/root/.pyenv/versions/3.10.13/bin/python3.10}"
if [[ ! -x "$python" ]]; then python="$(command -v python3.10 || true)"; fi
venv="$here/.venv"
if [[ ! -x "$venv/bin/python" ]]; then
  if [[ -z "$python" ]]; then echo "CPython 3.10 not found; set PYTHON" >&2; exit 1; fi
  step "creating $venv"
  "$python" -m venv "$venv" || exit 1
fi
py="$venv/bin/python"
step "installing the peers"
"$root/.ci/retry.sh" "$py" -m pip install --quiet -r "$here/requirements.txt" || exit 1

step "building swarmtuner into the benchmark environment"
# The build directory of `make install`, so the module is not compiled from scratch again.
if "$py" -m pip install --no-build-isolation --no-deps --force-reinstall --quiet "$root" \
    --config-settings=build-dir=build/{wheel_tag} >"$out/module_install.log" 2>&1; then
  echo "swarmtuner installed" >&2
else
  # The peers and the baseline are still measured; the report says the module is missing.
  echo "swarmtuner did not build (see $out/module_install.log); measuring without it" >&2
  "$py" -m pip uninstall --quiet --yes swarmtuner >/dev/null 2>&1 || true
fi

# --- C++ micro-benchmarks of the numeric core -------------------------------------------------
core_skipped=""
shopt -s nullglob
cpp_benches=("$here"/*_bench.cpp)
shopt -u nullglob
if [[ ${#cpp_benches[@]} -eq 0 ]]; then
  core_skipped="no *_bench.cpp in benchmarks/"
else
  step "building the numeric core micro-benchmarks"
  build="$root/build/bench"
  if cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSWARMTUNER_BUILD_BENCHMARKS=ON \
        -DSWARMTUNER_BUILD_MODULE=OFF -DSWARMTUNER_BUILD_TESTS=OFF >"$out/core_build.log" 2>&1 \
      && cmake --build "$build" -j2 --target swarmtuner_core_bench >>"$out/core_build.log" 2>&1; then
    step "running swarmtuner_core_bench"
    min_time=()
    if [[ $smoke -eq 1 ]]; then min_time=(--benchmark_min_time=0.01); fi
    if ! "$build/swarmtuner_core_bench" "${min_time[@]}" --benchmark_out="$out/core_bench.json" \
        --benchmark_out_format=json; then
      core_skipped="swarmtuner_core_bench exited with an error"
    fi
  else
    core_skipped="the micro-benchmarks did not build (see out/core_build.log)"
  fi
fi
if [[ -n "$core_skipped" ]]; then echo "C++ micro-benchmarks skipped: $core_skipped" >&2; fi

# --- Python benchmarks ------------------------------------------------------------------------
flags=()
if [[ $smoke -eq 1 ]]; then flags=(--smoke); fi
failed=()
cd "$here" || exit 1
for name in floor overhead peers memory scaling; do
  step "bench_$name"
  if ! "$py" "bench_$name.py" "${flags[@]}" --json "$out/$name.json"; then
    failed+=("bench_$name")
  fi
done

# --- the floor benchmark on further interpreters -----------------------------------------------
if [[ $smoke -eq 1 ]]; then
  floor_versions="" floor_debian_versions=""
else
  floor_versions="${FLOOR_VERSIONS-3.13}" floor_debian_versions="${FLOOR_DEBIAN_VERSIONS-}"
fi
# The module and the build backend go into an environment of the version, built in make
# install's build directory of that version.
install_module() {
  local venv_py=$1
  "$root/.ci/retry.sh" "$venv_py" -m pip install --quiet scikit-build-core cmake ninja &&
    "$venv_py" -m pip install --no-build-isolation --no-deps --force-reinstall --quiet "$root" \
      --config-settings=build-dir=build/{wheel_tag}
}
for version in $floor_versions; do
  step "bench_floor on CPython $version"
  pyenv_root="$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"
  interpreter="$(ls -d "$pyenv_root"/versions/"$version".*/bin/python"$version" 2>/dev/null |
    sort -V | tail -n 1)"
  extra_venv="$here/.venv${version/./}"
  if [[ -z "$interpreter" && ! -x "$extra_venv/bin/python" ]]; then
    echo "CPython $version not found" >&2
    failed+=("bench_floor $version")
    continue
  fi
  if [[ ! -x "$extra_venv/bin/python" ]]; then "$interpreter" -m venv "$extra_venv"; fi
  if ! install_module "$extra_venv/bin/python" >"$out/module_install_$version.log" 2>&1 ||
      ! "$extra_venv/bin/python" bench_floor.py --json "$out/floor-$version.json"; then
    failed+=("bench_floor $version")
  fi
done
for version in $floor_debian_versions; do
  step "bench_floor on CPython $version (Debian unstable root)"
  if ! "$root/.ci/debian-root.sh" unstable-amd64 +valgrind /bin/sh -euc '
      version=$1 venv=$2 out=$3
      cd "$4"
      [ -x "$venv/bin/python" ] || "python$version" -m venv "$venv"
      .ci/retry.sh "$venv/bin/python" -m pip install -q scikit-build-core
      "$venv/bin/python" -m pip install -q --no-build-isolation --no-deps --force-reinstall . \
        --config-settings=build-dir=build/debian-{wheel_tag} >"$out/module_install_$version.log"
      cd benchmarks
      "$venv/bin/python" bench_floor.py --json "$out/floor-$version.json"
    ' sh "$version" "$root/build/debian-bench-venv${version/./}" "$out" "$root"; then
    failed+=("bench_floor $version")
  fi
done

# --- report -----------------------------------------------------------------------------------
if [[ $smoke -eq 1 ]]; then
  markdown="$out/RESULTS.smoke.md"
  command="benchmarks/run.sh --smoke"
else
  markdown="$here/RESULTS.md"
  command="benchmarks/run.sh"
  # The command in the report names the further interpreters it was given.
  if [[ "$floor_versions" != "3.13" ]]; then
    command="FLOOR_VERSIONS=\"$floor_versions\" $command"
  fi
  if [[ -n "$floor_debian_versions" ]]; then
    command="FLOOR_DEBIAN_VERSIONS=\"$floor_debian_versions\" $command"
  fi
fi
step "writing $markdown"
revision="$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
if [[ -n "$(git -C "$root" status --porcelain --untracked-files=no -- src CMakeLists.txt 2>/dev/null)" ]]; then
  revision="$revision with local changes"
fi
"$py" bench_report.py "${flags[@]}" --markdown "$markdown" --command "$command" \
  --revision "$revision" \
  --core-skipped "$core_skipped" --failed "${failed[@]}" || exit 1
echo "results: $out/results.json and $markdown" >&2
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
