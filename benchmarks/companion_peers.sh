#!/usr/bin/env bash
# Runs benchmarks/companion_peers.py (swarmtuner_search against optuna, nevergrad and pyswarms)
# in an environment of its own, build/peers-venv (CPython 3.10; set PYTHON to choose another),
# made when missing from companion_peers.txt, with swarmtuner built from this checkout into it.
# Arguments go to the script (--quick, --runs N).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
venv="$root/build/peers-venv"
python="${PYTHON:-$(ls -d "$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"/versions/3.10.*/bin/python3.10 \
  2>/dev/null | sort -V | tail -n 1)}"
if [[ ! -x "$venv/bin/python" ]]; then
  "$python" -m venv "$venv"
fi
"$root/.ci/retry.sh" "$venv/bin/python" -m pip install --quiet -r "$here/companion_peers.txt"
# The build directory of `make install`, so the module is not compiled from scratch again.
"$venv/bin/python" -m pip install --quiet --no-build-isolation --no-deps --force-reinstall "$root" \
  --config-settings=build-dir=build/{wheel_tag}
# From build/, where pyswarms writes its report.log.
cd "$root/build"
exec "$venv/bin/python" "$here/companion_peers.py" "$@"
