#!/usr/bin/env bash
# Reliability checks beyond the unit tests: the decimal and big integer fuzz harnesses (about
# 20 s each), a soak of 5,000 searches and a valgrind memcheck run of a short mixed-kind search.
set -euo pipefail
cd "$(dirname "$0")/.."

make install
tests/fuzz/run.sh "${FUZZ_SECONDS:-20}"
.venv/bin/python tests/soak/soak.py "${SOAK_SEARCHES:-5000}"
tests/valgrind/run.sh .venv/bin/python
