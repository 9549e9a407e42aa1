#!/usr/bin/env bash
# Runs the Python tests against the sanitized module: `run_python_tests.sh PYTHON MODULE_DIR`.
# The interpreter is not built with the sanitizers, so their runtime is preloaded (with
# libstdc++, whose exceptions it must intercept) and Python's allocator is bypassed.
#
# When the process exits, LeakSanitizer stops every thread from a tracer thread of its own and
# scans memory. That tracer now and then crashes by itself ("Tracer caught signal 11", then
# "LeakSanitizer has encountered a fatal error"), a fault of the runtime that is not a leak and
# says nothing about this code; such a run has checked nothing, so it is run again, at most
# twice more. A leak report or a failing test is never run again.
set -uo pipefail
python=$1
module_dir=$2

log=$(mktemp)
trap 'rm -f "$log"' EXIT
for attempt in 1 2 3; do
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so.6)" \
    PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=1 PYTHONPATH="$module_dir" \
    SWARMTUNER_UNDER_ASAN=1 \
    "$python" -m pytest -q -p no:cacheprovider 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  if [[ $status -eq 0 ]]; then
    exit 0
  fi
  if ! grep -q "LeakSanitizer has encountered a fatal error" "$log" ||
    grep -q "LeakSanitizer: detected memory leaks" "$log" ||
    ! grep -Eq "^[0-9]+ passed" "$log" ||
    grep -Eq "^[0-9]+ passed.*(failed|error)" "$log"; then
    exit "$status"
  fi
  echo "===== the leak checker's own tracer failed (attempt $attempt); running the tests again"
done
exit "$status"
