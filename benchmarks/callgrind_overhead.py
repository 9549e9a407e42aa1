"""Instructions per component of the converging exact-kind searches, counted by callgrind.

The rows "d/i x10 ... c1 0.7, c2 1.0" of bench_overhead.py in instruction counts, which do not
depend on the machine's load. One process runs, in turn: a search whose f returns 0; as many
bare calls of f (f(**kw), and f(i=...) spelled out) as the search made; and the floor, the
Python object each component becomes built by Python itself (-x of the ints f received, or
Decimal(str) of the decimals). Each phase is preceded by a call of os.getppid(), and callgrind
is told to start a new count there:

    valgrind --tool=callgrind --dump-before=getppid --callgrind-out-file=cg.%p \\
        python benchmarks/callgrind_overhead.py i
    python benchmarks/callgrind_overhead.py --report i cg.<pid>

The report reads the counts of the phases back from those files and prints, per component
handed to f, the module's overhead (the search less the bare calls and their loop) and the
floor, without and with the loop that runs it. The search's own start (argument matching,
sampling, the first evaluations) is part of the overhead: it is small against 200 sweeps.
"""

from __future__ import annotations

import argparse
import glob
import os
import re
from decimal import Decimal

N_PARTICLES = 30
COMPONENTS = 10
SETTINGS = {"c1": 0.7, "c2": 1.0}
BOUNDS = {
    "i": {"i_min": [-2**199] * COMPONENTS, "i_max": [2**199] * COMPONENTS},
    "d": {"d_min": [Decimal("-1000.000000")] * COMPONENTS,
          "d_max": [Decimal("1000.000000")] * COMPONENTS},
}
# The phases in the order they run; each is one part of callgrind's output.
PHASES = ("search", "calls", "direct_calls", "empty_loop", "floor", "floor_loop")


def run(kind: str, n_iters: int) -> None:
    import swarmtuner

    def f(**kw):
        return 0

    # Warm-up (imports, caches, the Decimal class), and the values f receives, whose objects
    # the floor rebuilds.
    seen: list = []

    def recorder(**kw):
        seen.extend(kw[kind])
        return 0

    pso = swarmtuner.PSO(n_iters=n_iters, n_particles=N_PARTICLES, **SETTINGS)
    pso.min(recorder, **BOUNDS[kind])
    calls = N_PARTICLES * (n_iters + 1)
    assert len(seen) == calls * COMPONENTS
    kw = {kind: seen[-COMPONENTS:]}
    arg = kw[kind]
    texts = [str(v) for v in seen]

    os.getppid()
    pso.min(f, **BOUNDS[kind])
    os.getppid()
    for _ in range(calls):
        f(**kw)
    os.getppid()
    if kind == "i":
        for _ in range(calls):
            f(i=arg)
    else:
        for _ in range(calls):
            f(d=arg)
    os.getppid()
    for _ in range(calls):
        pass
    os.getppid()
    if kind == "i":
        for v in seen:
            -v
    else:
        for t in texts:
            Decimal(t)
    os.getppid()
    for t in seen:
        pass
    os.getppid()


def phase_counts(prefix: str) -> list[int]:
    """Instructions of each part callgrind wrote for one process, in order."""
    parts = []
    for path in glob.glob(prefix + ".*") + glob.glob(prefix):
        match = re.search(r"\.(\d+)$", path)
        if not match or path == prefix:
            continue
        with open(path) as stream:
            text = stream.read()
        total = re.search(r"^(?:summary|totals): (\d+)", text, re.MULTILINE)
        parts.append((int(match.group(1)), int(total.group(1)) if total else 0))
    return [count for _, count in sorted(parts)]


def report(kind: str, prefix: str, n_iters: int) -> None:
    counts = phase_counts(prefix)
    # Part 1 is start-up and warm-up, then one part per phase and the exit.
    phases = dict(zip(PHASES, counts[1:1 + len(PHASES)]))
    components = N_PARTICLES * (n_iters + 1) * COMPONENTS
    loop = phases["empty_loop"]
    floor = (phases["floor"] - phases["floor_loop"]) / components
    # The floor as a plain loop over the values costs, the loop's own work included.
    floor_with_loop = phases["floor"] / components
    for name, bare in (("f(**kw)", phases["calls"]), (f"f({kind}=list)", phases["direct_calls"])):
        overhead = (phases["search"] - (bare - loop)) / components
        print(f"{kind}, bare calls {name}: overhead {overhead:,.0f}; floor {floor:,.0f} "
              f"(ratio {overhead / floor:.2f}), with its loop {floor_with_loop:,.0f} "
              f"(ratio {overhead / floor_with_loop:.2f})")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=("i", "d"))
    parser.add_argument("--iters", type=int, default=200)
    parser.add_argument("--report", metavar="PREFIX",
                        help="read callgrind's files PREFIX.1, PREFIX.2, ... instead of running")
    args = parser.parse_args()
    if args.report:
        report(args.kind, args.report, args.iters)
    else:
        run(args.kind, args.iters)


if __name__ == "__main__":
    main()
