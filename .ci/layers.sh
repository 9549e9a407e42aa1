#!/usr/bin/env bash
# Every include points down the layers (see ARCHITECTURE.md): the numeric core includes only
# itself, the search only itself and the core, and neither includes Python.h or a header of
# the Python layer. Inside the Python layer every file has a level (the table "| Level | Files |"
# of ARCHITECTURE.md, lowest first) and includes only its own level and those below.
# Fails with the offending lines.
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

# The Python layer's levels are the table "| Level | Files |" of ARCHITECTURE.md, lowest first,
# read from there so that they are written once; a file is named by its stem (boundary.hpp and
# boundary.cpp are "boundary").
declare -A level_of
while IFS= read -r row; do
  level=$(sed -E 's/^\| *([0-9]+) *\|.*/\1/' <<<"$row")
  for stem in $(sed -E 's/^\| *[0-9]+ *\|(.*)\|$/\1/; s/[`,]/ /g' <<<"$row"); do
    level_of[$stem]=$level
  done
done < <(grep -E '^\| *[0-9]+ *\| `' ARCHITECTURE.md)
if [[ ${#level_of[@]} -eq 0 ]]; then
  echo "no level table found in ARCHITECTURE.md" >&2
  exit 1
fi
for file in src/python_layer/*; do
  stem=$(basename "${file%.*}")
  if [[ -z "${level_of[$stem]+set}" ]]; then
    echo "$file has no level in the table of ARCHITECTURE.md" >&2
    status=1
    continue
  fi
  while IFS=: read -r line included; do
    included_stem=$(basename "${included%.*}")
    if [[ -z "${level_of[$included_stem]+set}" || ${level_of[$included_stem]} -gt ${level_of[$stem]} ]]; then
      echo "$file:$line includes python_layer/$included from above its level" >&2
      status=1
    fi
  done < <(grep -nE '#include\s*"python_layer/' "$file" | sed -E 's|^([0-9]+):.*"python_layer/([^"]+)".*|\1:\2|')
done

grep -rlE '#include\s*<Python\.h>' src/numeric_core src/particle_swarm_optimization \
  && { echo "Python.h included below the Python layer" >&2; status=1; }
# Version tests and the interpreter's private API live in the compatibility unit alone.
grep -rnE 'PY_VERSION_HEX|\b_Py[A-Za-z]' src --include='*.cpp' --include='*.hpp' \
  | grep -v '^src/python_layer/cpython_compat\.' \
  && { echo "CPython version code outside src/python_layer/cpython_compat" >&2; status=1; }
if [[ $status -eq 0 ]]; then echo "layers: every include points down, in the Python layer too"; fi
exit $status
