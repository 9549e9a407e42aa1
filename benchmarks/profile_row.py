"""One search of a bench_floor.py row, for a profiler to break down.

bench_floor.py reports a row's totals; this runs the same search (the row's f and bounds, and
bench_floor's settings: 30 particles, 200 sweeps, c1 0.7, c2 1.0) so that callgrind can say where
its instructions go. Collecting only inside PSO.min leaves out start-up, so a count divided by
the 6,030 evaluations is the search's cost per evaluation:

    cmake -S . -B build/prof -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g \\
        -DPython_EXECUTABLE=.venv/bin/python && cmake --build build/prof -j2
    valgrind --tool=callgrind --toggle-collect='*pso_min*' \\
        .venv/bin/python benchmarks/profile_row.py "i near 2^199 x10" --module-dir build/prof
    callgrind_annotate --inclusive=yes callgrind.out.<pid>

For CPython 3.14, build and run the same inside `.ci/debian-root.sh unstable-amd64 +valgrind`
with -DPython_EXECUTABLE=/usr/bin/python3.14.

Each search starts from its own random point, and the counts move with it (by about 20
instructions per evaluation for ten big integers, 100 for the eleven kinds): compare the means
of several runs, not one run against another. The state of the small-object heap moves them
too, so compare two builds in the same environment.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("row", help="a row name of bench_floor.py, e.g. 'i near 2^199 x10'")
    parser.add_argument("--module-dir", type=Path,
                        help="a build directory to import swarmtuner from (default: installed)")
    parser.add_argument("--searches", type=int, default=1)
    args = parser.parse_args()
    if args.module_dir is not None:
        sys.path.insert(0, str(args.module_dir.resolve()))
    import bench_floor
    import swarmtuner

    row = bench_floor.row_by_name(args.row)
    f = bench_floor.trivial_objective(row)
    bounds = bench_floor.search_bounds(row)
    for _ in range(args.searches):
        swarmtuner.PSO(n_iters=bench_floor.N_ITERS, n_particles=bench_floor.N_PARTICLES,
                       **bench_floor.SETTINGS).min(f, **bounds)


if __name__ == "__main__":
    main()
