#!/usr/bin/env bash
# The Python tests on CPython versions that pyenv does not have here, from a source build inside
# the Debian unstable root (.ci/debian-root.sh: Debian's interpreters, g++ and GMP):
#   .ci/debian-python-test.sh             CPython 3.14 and 3.15
#   .ci/debian-python-test.sh 3.15        the versions named
# Each version gets its own virtual environment (build/debian-venv3XX) and build directory; the
# examples' extra packages are installed where PyPI has wheels of them for that version (the
# tests of an example whose packages are missing say why they are skipped).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then versions=("$@"); else versions=(3.14 3.15); fi
for version in "${versions[@]}"; do
  start=$SECONDS
  venv=build/debian-venv${version/./}
  echo "== CPython $version (Debian unstable root), source build"
  .ci/debian-root.sh unstable-amd64 /bin/sh -euc '
    version=$1 venv=$2 werror=$3
    [ -x "$venv/bin/python" ] || "python$version" -m venv "$venv"
    .ci/retry.sh "$venv/bin/python" -m pip install -q pytest hypothesis scikit-build-core
    .ci/retry.sh "$venv/bin/python" -m pip install -q --only-binary :all: numpy matplotlib tqdm ||
      echo "the examples'"'"' packages have no wheels for $version: their tests are skipped"
    .ci/retry.sh "$venv/bin/python" -m pip install -q --only-binary :all: "dask[distributed]" ||
      echo "Dask has no wheels for $version: the test of its example is skipped"
    "$venv/bin/python" -m pip install -q --no-build-isolation --no-deps . \
      --config-settings=build-dir=build/debian-{wheel_tag} \
      --config-settings=cmake.define.SWARMTUNER_WERROR="$werror"
    "$venv/bin/python" -c "import platform; print(\"CPython\", platform.python_version())"
    "$venv/bin/python" -m pytest -q -p no:cacheprovider
  ' sh "$version" "$venv" "${WERROR:-OFF}"
  echo "CPython $version: $((SECONDS - start)) s"
done
