#!/usr/bin/env bash
# The Python tests on the other supported CPython versions (make test covers 3.10), each in its
# own virtual environment with the module built for that interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."

for version in 3.11 3.12 3.13; do
  make python-test PYTHON_VERSION="$version"
done
