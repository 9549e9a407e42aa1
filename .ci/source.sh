#!/usr/bin/env bash
# Source builds as a user meets them (tests/build): the messages when GMP or a C++20 compiler
# is missing, the sdist's contents, and an install from a read-only copy of the sdist's tree in
# a clean build environment.
set -euo pipefail
cd "$(dirname "$0")/.."

make install  # the Debian packages and the Python 3.10 environment with pytest and cmake
.ci/retry.sh .venv/bin/python -m pip install -q "build==1.6.1"
.venv/bin/python -m pytest -q -p no:cacheprovider tests/build
