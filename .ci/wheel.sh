#!/usr/bin/env bash
# A wheel built by pip from the source tree, in an isolated build environment, installs into a
# fresh virtual environment, runs a small mixed search there and brings its type stub.
set -euo pipefail
cd "$(dirname "$0")/.."

make install  # the Debian packages and the Python 3.10 environment whose interpreter we use
python=.venv/bin/python

rm -f dist/swarmtuner-*.whl
# A build directory of its own: sharing the one of `make install`, whose tools live elsewhere,
# would make each of the two builds start over after the other.
"$python" -m pip wheel --no-deps -q . -w dist/ --config-settings=build-dir=build/wheel/{wheel_tag}
wheel=$(ls dist/swarmtuner-*.whl)
echo "built $wheel"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$python" -m venv "$scratch/venv"  # a new environment: none of our packages
"$scratch/venv/bin/python" -m pip install -q "$wheel"
cp swarmtuner.pyi "$scratch/source-stub.pyi"
# From the scratch directory, so nothing from the source tree can be imported by accident.
cd "$scratch"
venv/bin/python - <<'PY'
import filecmp
import pathlib
import sysconfig
from decimal import Decimal

import swarmtuner

module = pathlib.Path(swarmtuner.__file__)
site = pathlib.Path(sysconfig.get_paths()["platlib"])
assert module.parent == site, module
for stub in (site / "swarmtuner.pyi", site / "swarmtuner-stubs" / "__init__.pyi"):
    assert filecmp.cmp(stub, "source-stub.pyi", shallow=False), stub


def cost(i8, f64, d):
    return abs(i8[0] - 3) + abs(f64[0] - 0.5) + float(abs(d[0] - Decimal("1.25")))


pso = swarmtuner.PSO(n_iters=30, n_particles=20, c1=0.7, c2=1.0, inertia=0.5)
value, point = pso.min(
    cost,
    i8_min=[0], i8_max=[10],
    f64_min=[0.0], f64_max=[1.0],
    d_min=[Decimal("0.00")], d_max=[Decimal("5.00")],
)
assert list(point) == ["i8", "f64", "d"], point
assert isinstance(point["i8"][0], int) and isinstance(point["d"][0], Decimal), point
assert value == cost(**point), (value, point)
print("wheel smoke test passed:", value, point)
PY
