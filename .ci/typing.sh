#!/usr/bin/env bash
# Type checks: the installed stub against the built module (mypy's stubtest), then the examples
# and the stub's usage checks against the installed stub (mypy in strict mode).
set -euo pipefail
cd "$(dirname "$0")/.."

make install
PY=.venv/bin/python
"$PY" -m pip install -q "mypy==2.4.1"
# Run from outside the source tree, so that only the installed module and stub are seen.
(cd build && "../$PY" -m mypy.stubtest swarmtuner)
"$PY" -m mypy --strict --cache-dir build/mypy-cache examples tests/typing
