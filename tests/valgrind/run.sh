#!/usr/bin/env bash
# Runs a short mixed-kind search under valgrind memcheck against the installed module.
#
#   tests/valgrind/run.sh [PYTHON]      (default .venv/bin/python, with swarmtuner installed)
#
# Fails on any memcheck error (invalid reads or writes, uses of uninitialised values, bad
# frees) and on memory definitely lost from a stack that passes through swarmtuner. The
# interpreter's own "possibly lost" blocks at exit are not errors.
set -euo pipefail
cd "$(dirname "$0")/../.."

python=${1:-.venv/bin/python}
command -v valgrind >/dev/null || {
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind
}
mkdir -p build
log=build/valgrind.log
status=0
# Python's small-object allocator reads memory it does not own; plain malloc keeps memcheck exact.
PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
  --show-leak-kinds=definite --errors-for-leak-kinds=none --num-callers=40 \
  --log-file="$log" "$python" tests/valgrind/short_search.py 2>build/valgrind.stderr || status=$?
errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -n 1)
# Definitely lost blocks whose allocation stack names the module.
ours=$(awk '/definitely lost in/ {record = 1; text = ""} record {text = text $0 "\n"}
            record && /^==[0-9]+== $/ {if (text ~ /swarmtuner/) count++; record = 0}
            END {print count + 0}' "$log")
echo "valgrind memcheck: ${errors:-?} errors, $ours definite leaks from swarmtuner (log: $log)"
if [ "$status" -ne 0 ] || [ "${errors:-1}" -ne 0 ] || [ "$ours" -ne 0 ]; then
  echo "FAILED (exit status $status)"
  grep -E "Invalid|uninitialised|definitely lost|Mismatched|Source and destination" "$log" | head -n 20
  exit 1
fi
