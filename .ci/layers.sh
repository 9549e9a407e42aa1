#!/usr/bin/env bash
# Every include points down the layers (see ARCHITECTURE.md): the numeric core includes only
# itself, the search only itself and the core, and neither includes Python.h or a header of
# the Python layer. Fails with the offending lines.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
# check FOLDER ALLOWED: every quoted include in FOLDER must start with one of ALLOWED's folders.
check() {
  local folder=$1 allowed=$2 found
  found=$(grep -rnE '#include\s*"[^"]*"' "$folder" | grep -vE "#include\s*\"($allowed)/" || true)
  if [[ -n "$found" ]]; then
    echo "$folder includes from above its layer:" >&2
    echo "$found" >&2
    status=1
  fi
}
check src/numeric_core 'numeric_core'
check src/particle_swarm_optimization 'numeric_core|particle_swarm_optimization'
check src/python_layer 'numeric_core|particle_swarm_optimization|python_layer'
grep -rlE '#include\s*<Python\.h>' src/numeric_core src/particle_swarm_optimization \
  && { echo "Python.h included below the Python layer" >&2; status=1; }
if [[ $status -eq 0 ]]; then echo "layers: every include points down"; fi
exit $status
