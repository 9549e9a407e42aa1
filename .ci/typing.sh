#!/usr/bin/env bash
# Type checks: the installed stub against the built module (mypy's stubtest), then the companion
# package swarmtuner_search, the examples, the stub's usage checks and a user's script of the
# companion against the stub, by mypy in strict mode and by basedpyright (the command-line build
# of pyright, with its own Node.js) in standard mode (pyrightconfig.json).
set -euo pipefail
cd "$(dirname "$0")/.."

make install example-deps
PY=.venv/bin/python
# The examples import numpy, matplotlib, tqdm and Dask, so the checkers must see them all.
"$PY" -c "import distributed" || { echo "Dask is needed to check the examples" >&2; exit 1; }
.ci/retry.sh "$PY" -m pip install -q "mypy==2.4.1" "basedpyright==1.40.2" types-tqdm
# Run from outside the source tree, so that only the installed module and stub are seen.
(cd build && "../$PY" -m mypy.stubtest swarmtuner)
# Dask's Client and LocalCluster have no annotated signatures; calls to them are let through.
"$PY" -m mypy --strict --untyped-calls-exclude=distributed --cache-dir build/mypy-cache \
  python/swarmtuner_search examples tests/typing
.venv/bin/basedpyright --pythonpath "$PY"
