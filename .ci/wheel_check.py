"""Checks an installed swarmtuner wheel from inside the virtual environment it went into.

    venv/bin/python wheel_check.py SOURCE_STUB [--bundled-gmp]

Run from a directory outside the source tree. It checks where the module, its stubs and the
companion package swarmtuner_search (with its py.typed marker) were installed, that the module
exports nothing but its initialisation function, the licence files, that a search over every
element kind runs and one over a named space of the companion, and with
--bundled-gmp that the dynamic loader takes GMP from the wheel's own library directory and
that no C++ runtime library is needed from the system.
"""

import argparse
import filecmp
import importlib.metadata
import pathlib
import re
import subprocess
import sysconfig
from decimal import Decimal

import swarmtuner
import swarmtuner_search

KINDS = ("i8", "i16", "i32", "i64", "i128", "i", "f32", "f64", "c64", "c128", "d")
BOUNDS = {
    "i8": ([-100], [100]),
    "i16": ([-3000], [3000]),
    "i32": ([0, -70000], [10**6, 70000]),
    "i64": ([-(2**62)], [2**62]),
    "i128": ([-(2**100)], [2**100]),
    "i": ([-(10**40)], [10**40]),  # beyond 128 bits: GMP does the arithmetic
    "f32": ([0.5], [2.5]),
    "f64": ([-1e3, 0.0], [1e3, 1e-3]),
    "c64": ([0j], [1 + 1j]),
    "c128": ([-1 - 1j], [1 + 2j]),
    "d": ([Decimal("-1.25"), Decimal("0.001")], [Decimal("3.5"), Decimal("1")]),
}
TYPES = {
    **dict.fromkeys(("i8", "i16", "i32", "i64", "i128", "i"), int),
    "f32": float,
    "f64": float,
    "c64": complex,
    "c128": complex,
    "d": Decimal,
}


def distance(**point):
    """Distance of a point from the origin, as an exact Decimal for the decimal kind."""
    assert tuple(point) == KINDS, point
    total = Decimal(0)
    for kind, values in point.items():
        for x in values:
            assert type(x) is TYPES[kind], (kind, x)
            total += Decimal(abs(x)) if kind != "d" else abs(x)
    return total


def check_search():
    pso = swarmtuner.PSO(n_iters=30, n_particles=20, c1=0.7, c2=1.0, inertia=0.5)
    keywords = {}
    for kind, (low, high) in BOUNDS.items():
        keywords[f"{kind}_min"] = low
        keywords[f"{kind}_max"] = high
    for method in (pso.min, pso.max):
        value, point = method(distance, **keywords)
        assert tuple(point) == KINDS, point
        for kind, (low, high) in BOUNDS.items():
            assert len(point[kind]) == len(low), (kind, point[kind])
            for x, lo, hi in zip(point[kind], low, high):
                if TYPES[kind] is complex:  # the real and imaginary parts each in their range
                    assert lo.real <= x.real <= hi.real and lo.imag <= x.imag <= hi.imag, (kind, x)
                else:
                    assert lo <= x <= hi, (kind, x, lo, hi)
        assert value == distance(**point), (value, point)
        print(f"{method.__name__}: {value:.6g}")


def check_companion():
    space = {
        "n": swarmtuner_search.Int(1, 32),
        "rate": swarmtuner_search.Float(1e-4, 0.5, log=True),
        "price": swarmtuner_search.Dec("0.00", "50.00", step="0.01"),
        "mode": swarmtuner_search.Choice(["a", "b"]),
    }

    def cost(n, rate, price, mode):
        return abs(n - 6) + abs(rate - 0.03) + float(abs(price - Decimal("19.99"))) + (mode == "b")

    res = swarmtuner_search.minimize(cost, space, max_evals=300)
    assert 270 <= res.evals <= 300 and res.stopped is None, res
    assert res.params["price"] == res.params["price"].quantize(Decimal("0.01")), res
    print(f"swarmtuner_search.minimize: {res.value:.6g}")


def check_layout(source_stub):
    module = pathlib.Path(swarmtuner.__file__)
    site = pathlib.Path(sysconfig.get_paths()["platlib"])
    assert module.parent == site, module
    companion = pathlib.Path(swarmtuner_search.__file__).parent
    assert companion == site / "swarmtuner_search", companion
    assert (companion / "py.typed").is_file(), companion
    for stub in (site / "swarmtuner.pyi", site / "swarmtuner-stubs" / "__init__.pyi"):
        assert filecmp.cmp(stub, source_stub, shallow=False), stub
    # The export list keeps everything else, a linked-in C++ runtime included, inside.
    exported = subprocess.run(["nm", "-D", "--defined-only", str(module)], capture_output=True,
                              text=True, check=True).stdout.split()[2::3]
    assert exported == ["PyInit_swarmtuner"], exported
    dist = importlib.metadata.distribution("swarmtuner")
    licences = [f for f in dist.files if "/licenses/" in str(f)]
    assert any(f.name == "LICENSE" for f in licences), licences
    assert "MIT License" in (dist.locate_file(next(f for f in licences if f.name == "LICENSE"))
                             .read_text())
    return module, site, dist, licences


def check_bundled_gmp(module, site, dist, licences):
    ldd = subprocess.run(["ldd", str(module)], capture_output=True, text=True, check=True).stdout
    resolved = dict(re.findall(r"^\s*(\S+) => (\S+)", ldd, re.MULTILINE))
    assert "not found" not in resolved.values(), ldd
    gmp = {name: path for name, path in resolved.items() if name.startswith("libgmp")}
    assert len(gmp) == 1, ldd
    ((name, path),) = gmp.items()
    assert pathlib.Path(path).resolve().parent == (site / "swarmtuner.libs").resolve(), ldd
    # The C++ runtime is linked into the extension: nothing of it is taken from the system but
    # GCC's unwinder (libgcc_s, which every manylinux system has and glibc's thread exit uses).
    for runtime in ("libstdc++", "libc++"):
        assert not any(n.startswith(runtime) for n in resolved), ldd
    assert "libgcc_s.so.1" in resolved, ldd
    print(f"ldd: {name} => {path}")

    expression = dist.metadata["License-Expression"]
    assert "MIT" in expression and "LGPL-3.0-or-later" in expression, expression
    notices = [f for f in licences if "gmp" in str(f).lower()]
    assert len(notices) == 1, licences
    assert "GNU MP Library" in dist.locate_file(notices[0]).read_text(), notices[0]
    assert str(notices[0]).split("/licenses/", 1)[1] in dist.metadata.get_all("License-File")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source_stub", type=pathlib.Path)
    parser.add_argument("--bundled-gmp", action="store_true")
    args = parser.parse_args()
    found = check_layout(args.source_stub)
    if args.bundled_gmp:
        check_bundled_gmp(*found)
    check_search()
    check_companion()
    print(f"wheel check passed: swarmtuner {found[2].version} at {found[0]}")


if __name__ == "__main__":
    main()
