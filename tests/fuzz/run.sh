#!/usr/bin/env bash
# Builds the decimal and big integer fuzz harnesses with libFuzzer, ASan and UBSan, and runs
# each for a while.
#
#   tests/fuzz/run.sh SECONDS [HARNESS...]
#
# SECONDS is the time per harness (0 only replays the seed corpus). HARNESS names are
# decimal_parse, decimal_from_f64, decimal_arith and big_int (default: all). Inputs found along the way
# are kept in build/fuzz/corpus/<harness>; a failing input is saved in build/fuzz/artifacts/
# and ends the script with a non-zero status. Needs clang-16 and libclang-rt-16-dev (clang 16 is
# the first whose <source_location> works with Debian 12's libstdc++).
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:?usage: tests/fuzz/run.sh SECONDS [HARNESS...]}
shift
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(decimal_parse decimal_from_f64 decimal_arith big_int)
fi

if ! command -v clang++-16 >/dev/null || ! ls /usr/lib/llvm-16/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "Installing clang 16 and its fuzzer runtime"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-16 libclang-rt-16-dev libgmp-dev
fi

out=build/fuzz
mkdir -p "$out/artifacts"
flags=(-std=gnu++20 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -Wall -Wextra -Wshadow -Wconversion -Isrc -Itests/cpp -Itests/fuzz)

status=0
for harness in "${harnesses[@]}"; do
  binary="$out/${harness}_fuzz"
  source="tests/fuzz/${harness}_fuzz.cpp"
  # The part of the numeric core under test.
  case "$harness" in
    big_int) tested=src/numeric_core/big_int ;;
    *) tested=src/numeric_core/decimal ;;
  esac
  if [ ! -x "$binary" ] || [ "$source" -nt "$binary" ] || [ tests/fuzz/reference.hpp -nt "$binary" ] ||
     [ "$tested.cpp" -nt "$binary" ] || [ "$tested.hpp" -nt "$binary" ]; then
    clang++-16 "${flags[@]}" "$source" "$tested.cpp" -lgmp -o "$binary"
  fi
  corpus="$out/corpus/$harness"
  mkdir -p "$corpus"
  log="$out/$harness.log"
  if [ "$seconds" -eq 0 ]; then
    run=(-runs=0)
  else
    run=(-max_total_time="$seconds")
  fi
  # The work corpus comes first, so that new inputs are written there and not to the seeds.
  if UBSAN_OPTIONS=print_stacktrace=1 "$binary" "${run[@]}" -print_final_stats=1 -max_len=256 \
       -artifact_prefix="$out/artifacts/${harness}-" "$corpus" "tests/fuzz/corpus/$harness" \
       >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E "MISMATCH|ERROR|runtime error|Test unit written" "$log" | head -n 20 || true
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  printf '%-18s %-6s %12s executions in %ss (log: %s)\n' "$harness" "$result" \
    "${executions:-?}" "$seconds" "$log"
done
exit $status
