"""Scaling: overhead per evaluation as the f64 dimensions grow, and search time as the budget grows.

The budget sweep runs a trivial objective over 10 f64 dimensions on a grid of swarm sizes and
sweep counts; a search whose cost is linear in its evaluations shows a flat time per evaluation.
"""

from __future__ import annotations

import random
import sys
from typing import Any

from bench_common import arg_parser, load_swarmtuner, machine_info, summary, timed, write_json
from bench_overhead import make_case, measure, runners_for
from plain_pso import PlainPSO


def dims_sweep(pso_class: Any, smoke: bool) -> list[dict[str, Any]]:
    dims = [1, 10, 100] if smoke else [1, 3, 10, 30, 100, 300, 1000]
    n_particles = 5 if smoke else 30
    repeats = 1 if smoke else 3
    results = []
    for d in dims:
        # About 200,000 components per search, at least 5 sweeps.
        n_iters = 2 if smoke else max(5, min(300, 200_000 // (n_particles * d)))
        case = make_case(f"f64 x{d}", [("f64", d)], n_iters)
        results.append(measure(runners_for(case, pso_class, n_particles), case, n_particles,
                               repeats, smoke))
        print(f"scaling: f64 x{d} done", file=sys.stderr)
    return results


def budget_sweep(pso_class: Any, smoke: bool) -> list[dict[str, Any]]:
    grid = [(5, 2), (10, 5)] if smoke else [
        (10, 10), (10, 100), (10, 1000), (100, 10), (100, 100), (1000, 10), (1000, 100)]
    repeats = 1 if smoke else 5
    dims = 10
    lower, upper = [-5.0] * dims, [5.0] * dims

    def f(f64):
        return 0.0

    results = []
    for n_particles, n_iters in grid:
        searches = {}
        if pso_class is not None:
            ours = pso_class(n_iters=n_iters, n_particles=n_particles)
            searches["swarmtuner"] = lambda ours=ours: ours.min(f, f64_min=lower, f64_max=upper)
        plain = PlainPSO(n_iters=n_iters, n_particles=n_particles, rng=random.Random(2))
        searches["plain"] = lambda plain=plain: plain.min(f, f64_min=lower, f64_max=upper)
        evaluations = n_particles * (n_iters + 1)
        row: dict[str, Any] = {"n_particles": n_particles, "n_iters": n_iters,
                               "evaluations": evaluations, "runners": {}}
        times: dict[str, list[float]] = {name: [] for name in searches}
        for _ in range(repeats):
            for name, search in searches.items():
                times[name].append(timed(search)[0])
        for name, ts in times.items():
            row["runners"][name] = {
                "time_s": summary(ts),
                "per_eval_s": summary([t / evaluations for t in ts]),
            }
        results.append(row)
        print(f"scaling: {n_particles} x {n_iters} done", file=sys.stderr)
    return results


def main() -> None:
    args = arg_parser(__doc__.splitlines()[0]).parse_args()
    pso_class, reason = load_swarmtuner()
    write_json(args.json, {
        "machine": machine_info(),
        "module_unavailable": reason,
        "dims": dims_sweep(pso_class, args.smoke),
        "budget": budget_sweep(pso_class, args.smoke),
    })


if __name__ == "__main__":
    main()
