"""swarmtuner against other particle swarm libraries on the same problems and the same budget.

Every library minimises the same pure-Python objective body on a list (a peer hands it its numpy
row as row.tolist()), with a global-best topology and, where the library lets them be set, the
same inertia, coefficients, velocity limit and bound rule. Each peer runs in its own process
(scikit-opt changes the multiprocessing start method when imported), and in that process
swarmtuner runs alternately with it, so every time ratio is taken within one run. A peer's own
fastest mode, a numpy objective, is reported as a separate row.

Each library's framework overhead per evaluation is also counted by callgrind, with no
timing involved (--no-time runs only that, --no-count skips it): each peer's process runs under
valgrind, and markers set by bench_floor.py's extension split the count into a run and the
calls of the objective that run made, made again as the library made them.
"""

from __future__ import annotations

import argparse
import contextlib
import gc
import io
import json
import logging
import math
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import timeit
import traceback
from pathlib import Path
from typing import Any, Callable

from bench_common import (
    PROBLEMS,
    arg_parser,
    counting,
    load_swarmtuner,
    machine_info,
    package_versions,
    summary,
    timed,
    write_json,
)
from plain_pso import PlainPSO

# The shared settings: swarmtuner's defaults for the coefficients.
INERTIA = 0.5
COEFF = 2.0  # both the social and the cognitive factor, so naming conventions cannot swap them
MAX_V = 0.2  # fraction of the bound width

# The rows where every library calls the same Python body once per point.
PYTHON_MODE = "python objective"

PEERS = ["plain", "pygmo", "pyswarm", "pyswarms", "sko"]
PEER_PACKAGES = {
    "plain": None,
    "pygmo": "pygmo",
    "pyswarm": "pyswarm",
    "pyswarms": "pyswarms",
    "sko": "scikit-opt",
}

# What each peer lets us set, for the report.
PEER_NOTES = {
    "plain": "this repository's plain-Python version of the same algorithm: identical settings "
             "and sweeps, f64 lists, no random factors",
    "pygmo": "pg.pso variant 1 (inertia weight), neighb_type 1 (gbest), omega 0.5, eta1 = eta2 "
             "= 2.0, max_vel 0.2; random factors r1, r2 per component",
    "pyswarm": "omega 0.5, phip = phig = 2.0, minstep = minfunc = -1 (no early stop); velocity "
               "limit fixed by the library at the full bound width, random starting velocities "
               "and random factors",
    "pyswarms": "GlobalBestPSO, w 0.5, c1 = c2 = 2.0, velocity_clamp +-0.2 x width, bh_strategy "
                "nearest (clip to bounds), vh_strategy zero; n x T evaluations (no separate "
                "evaluation of the starting swarm); random factors",
    "sko": "sko.PSO.PSO, w 0.5, c1 = c2 = 2.0; no velocity limit can be set, random starting "
           "velocities within the full width, positions clipped; random factors",
}


# ---------------------------------------------------------------------------------------------
# numpy forms of the objectives, for the peers' own fastest modes


def _numpy_rows(problem: str, np: Any) -> Callable:
    """Objective over a whole swarm (one value per row)."""
    if problem == "sphere":
        return lambda X: (X * X).sum(axis=1)
    two_pi = 2.0 * math.pi
    return lambda X: 10.0 * X.shape[1] + (X * X - 10.0 * np.cos(two_pi * X)).sum(axis=1)


def _numpy_point(problem: str, np: Any) -> Callable:
    """Objective of one numpy point."""
    if problem == "sphere":
        return lambda x: float(np.dot(x, x))
    two_pi = 2.0 * math.pi
    return lambda x: 10.0 * x.shape[0] + float(np.sum(x * x - 10.0 * np.cos(two_pi * x)))


# ---------------------------------------------------------------------------------------------
# One search per library. Each returns the best value found; the evaluation count is read from
# the counter that the objective goes through.


def keyword_objective(body: Callable) -> tuple[Callable, list[int]]:
    """The counted body as the module and the plain version call it: f(f64=[...])."""
    counted, calls = counting(body)

    def objective(f64):
        return counted(f64)

    return objective, calls


def keyword_call(body: Callable, point: list[float]) -> tuple[Callable[[], Any], int]:
    objective, _ = keyword_objective(body)
    return (lambda: objective(f64=point)), 1


def run_swarmtuner(pso_class, body, lo, hi, dims, n, iters, seed, coeff=COEFF):
    # The module draws its starting positions from its own per-thread generator, seeded from
    # the operating system; there is no seed to hand it.
    del seed
    objective, calls = keyword_objective(body)

    pso = pso_class(n_iters=iters, n_particles=n, c1=coeff, c2=coeff, inertia=INERTIA, max_v=MAX_V)
    value, _ = pso.min(objective, f64_min=[lo] * dims, f64_max=[hi] * dims)
    return value, calls


def run_plain(body, lo, hi, dims, n, iters, seed, coeff=COEFF):
    objective, calls = keyword_objective(body)

    pso = PlainPSO(n_iters=iters, n_particles=n, c1=coeff, c2=coeff, inertia=INERTIA,
                   max_v=MAX_V, rng=random.Random(seed))
    value, _ = pso.min(objective, f64_min=[lo] * dims, f64_max=[hi] * dims)
    return value, calls


run_plain.objective_call = keyword_call  # type: ignore[attr-defined]


def row_objective(body: Callable) -> tuple[Callable, list[int]]:
    """The counted body as a peer calls it on one point: f(row), row a numpy array."""
    counted, calls = counting(body)

    def objective(x):
        return counted(x.tolist())

    return objective, calls


def row_call(body: Callable, point: list[float]) -> tuple[Callable[[], Any], int]:
    import numpy as np  # noqa: PLC0415

    objective, _ = row_objective(body)
    x = np.array(point)
    return (lambda: objective(x)), 1


def row_replay(body: Callable, points: list[list[float]], n: int) -> tuple[Callable, list]:
    """The objective as a peer calls it on one point, and the numpy rows of the given points."""
    import numpy as np  # noqa: PLC0415

    del n
    objective, _ = row_objective(body)
    return objective, [np.array(p) for p in points]


def make_pygmo_runner(numpy_mode: bool, problem: str):
    import numpy as np  # noqa: PLC0415
    import pygmo as pg  # noqa: PLC0415

    point_np = _numpy_point(problem, np)

    class Problem:
        def __init__(self, fitness_of, dims, lo, hi):
            self.fitness_of = fitness_of
            self.bounds = ([lo] * dims, [hi] * dims)

        def fitness(self, x):
            return [self.fitness_of(x)]

        def get_bounds(self):
            return self.bounds

    def run(body, lo, hi, dims, n, iters, seed, coeff=COEFF):
        if numpy_mode:
            calls = [0]

            def fitness_of(x):
                calls[0] += 1
                return point_np(x)
        else:
            fitness_of, calls = row_objective(body)

        prob = pg.problem(Problem(fitness_of, dims, lo, hi))
        algo = pg.algorithm(pg.pso(gen=iters, omega=INERTIA, eta1=coeff, eta2=coeff,
                                   max_vel=MAX_V, variant=1, neighb_type=1, memory=False,
                                   seed=seed))
        pop = pg.population(prob, size=n, seed=seed)
        pop = algo.evolve(pop)
        return float(pop.champion_f[0]), calls

    def objective_call(body, point):
        fitness_of, _ = row_objective(body)
        problem = Problem(fitness_of, len(point), -1.0, 1.0)
        x = np.array(point)
        return (lambda: problem.fitness(x)), 1

    def replay(body, points, n):
        fitness_of, _ = row_objective(body)
        return Problem(fitness_of, len(points[0]), -1.0, 1.0).fitness, \
            [np.array(p) for p in points]

    run.objective_call = objective_call
    run.replay = replay
    return run


def make_pyswarm_runner(numpy_mode: bool, problem: str):
    import numpy as np  # noqa: PLC0415
    from pyswarm import pso  # noqa: PLC0415

    point_np = _numpy_point(problem, np)

    def run(body, lo, hi, dims, n, iters, seed, coeff=COEFF):
        if numpy_mode:
            calls = [0]

            def objective(x):
                calls[0] += 1
                return point_np(x)
        else:
            objective, calls = row_objective(body)

        result = pso(objective, [lo] * dims, [hi] * dims, swarmsize=n, omega=INERTIA,
                     phip=coeff, phig=coeff, maxiter=iters, minstep=-1.0, minfunc=-1.0,
                     seed=seed)
        return float(result.fun), calls

    run.objective_call = row_call
    run.replay = row_replay
    return run


def make_pyswarms_runner(numpy_mode: bool, problem: str):
    import numpy as np  # noqa: PLC0415
    from pyswarms.single import GlobalBestPSO  # noqa: PLC0415

    rows_np = _numpy_rows(problem, np)

    def run(body, lo, hi, dims, n, iters, seed, coeff=COEFF):
        if numpy_mode:
            calls = [0]

            def objective(X):
                calls[0] += X.shape[0]
                return rows_np(X)
        else:
            counted, calls = counting(body)

            def objective(X):
                return np.array([counted(row.tolist()) for row in X])

        np.random.seed(seed)
        vmax = MAX_V * (hi - lo)
        opt = GlobalBestPSO(n_particles=n, dimensions=dims,
                            options={"c1": coeff, "c2": coeff, "w": INERTIA},
                            bounds=(np.full(dims, lo), np.full(dims, hi)),
                            velocity_clamp=(-vmax, vmax), bh_strategy="nearest",
                            vh_strategy="zero")
        cost, _ = opt.optimize(objective, iters=iters, verbose=False)
        return float(cost), calls

    def objective_call(body, point, swarm=30):
        # One call covers the whole swarm: a matrix of `swarm` rows.
        counted, _ = counting(body)
        X = np.array([point] * swarm)
        return (lambda: np.array([counted(row.tolist()) for row in X])), swarm

    def replay(body, points, n):
        # One call per sweep, on the matrix of that sweep's points.
        counted, _ = counting(body)
        return (lambda X: np.array([counted(row.tolist()) for row in X])), \
            [np.array(points[k:k + n]) for k in range(0, len(points), n)]

    run.objective_call = objective_call
    run.replay = replay
    return run


def make_sko_runner(numpy_mode: bool, problem: str):
    import numpy as np  # noqa: PLC0415
    from sko.PSO import PSO  # noqa: PLC0415
    from sko.tools import set_run_mode  # noqa: PLC0415

    rows_np = _numpy_rows(problem, np)

    def run(body, lo, hi, dims, n, iters, seed, coeff=COEFF):
        if numpy_mode:
            calls = [0]

            def objective(X):
                calls[0] += X.shape[0]
                return rows_np(X)

            set_run_mode(objective, "vectorization")
        else:
            objective, calls = row_objective(body)

        np.random.seed(seed)
        opt = PSO(func=objective, n_dim=dims, pop=n, max_iter=iters, lb=[lo] * dims,
                  ub=[hi] * dims, w=INERTIA, c1=coeff, c2=coeff)
        opt.run()
        return float(opt.gbest_y), calls

    run.objective_call = row_call
    run.replay = row_replay
    return run


PEER_FACTORIES = {
    "pygmo": make_pygmo_runner,
    "pyswarm": make_pyswarm_runner,
    "pyswarms": make_pyswarms_runner,
    "sko": make_sko_runner,
}


# ---------------------------------------------------------------------------------------------
# Worker: one peer against swarmtuner in one process


def sizes(smoke: bool) -> dict[str, int]:
    if smoke:
        return {"dims": 10, "n": 10, "iters": 5, "runs": 1}
    return {"dims": 10, "n": 30, "iters": 100, "runs": 10}


def compare(peer: str, mode: str, problem: str, peer_run: Callable, pso_class: Any,
            size: dict[str, int]) -> dict[str, Any]:
    """Alternate runs of the peer and of swarmtuner on one problem; times, counts, best values."""
    spec = PROBLEMS[problem]
    body, lo, hi = spec["body"], spec["lower"], spec["upper"]
    dims, n, iters, runs = size["dims"], size["n"], size["iters"], size["runs"]
    ours_t, peer_t, ours_best, peer_best, ratios = [], [], [], [], []
    ours_cpu, peer_cpu, cpu_ratios = [], [], []
    ours_evals = peer_evals = None
    if mode == PYTHON_MODE:
        point = sample_point(lo, hi, dims)
        ours_objective_s = objective_cost(*keyword_call(body, point), smoke=runs == 1)
        peer_objective_s = objective_cost(*peer_run.objective_call(body, point),
                                          smoke=runs == 1)
    # One untimed run of each side first, so lazy set-up inside a library is not timed.
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        peer_run(body, lo, hi, dims, n, iters, 999)
    if pso_class is not None:
        run_swarmtuner(pso_class, body, lo, hi, dims, n, iters, 999)
    for i in range(runs):
        seed = 1000 + i

        def one_peer(seed=seed):
            with contextlib.redirect_stdout(io.StringIO()), \
                    contextlib.redirect_stderr(io.StringIO()):
                return peer_run(body, lo, hi, dims, n, iters, seed)

        def one_ours(seed=seed):
            return run_swarmtuner(pso_class, body, lo, hi, dims, n, iters, seed)

        # Alternate who goes first, so neither side always runs on a warmer machine.
        order = [("peer", one_peer), ("ours", one_ours)]
        if i % 2:
            order.reverse()
        times: dict[str, tuple[float, float]] = {}
        for who, fn in order:
            if who == "ours" and pso_class is None:
                continue
            elapsed, cpu, (best, calls) = timed(fn)
            times[who] = (elapsed, cpu)
            if who == "ours":
                ours_t.append(elapsed)
                ours_cpu.append(cpu)
                ours_best.append(best)
                ours_evals = calls[0]
            else:
                peer_t.append(elapsed)
                peer_cpu.append(cpu)
                peer_best.append(best)
                peer_evals = calls[0]
        if "ours" in times:
            ratios.append(times["ours"][0] / times["peer"][0])
            cpu_ratios.append(times["ours"][1] / times["peer"][1])
    row = {
        "peer": peer,
        "mode": mode,
        "problem": problem,
        "dims": dims,
        "n_particles": n,
        "n_iters": iters,
        "runs": runs,
        "peer_evaluations": peer_evals,
        "ours_evaluations": ours_evals,
        "peer_time_s": summary(peer_t),
        "ours_time_s": summary(ours_t),
        "ratio_ours_over_peer": summary(ratios),
        "peer_cpu_s": summary(peer_cpu),
        "ours_cpu_s": summary(ours_cpu),
        "cpu_ratio_ours_over_peer": summary(cpu_ratios),
        "peer_best": summary(peer_best),
        "ours_best": summary(ours_best),
    }
    if ours_evals and peer_evals and ratios:
        # Per-evaluation ratio: corrects for the peers whose budget is n x T.
        row["per_eval_ratio_ours_over_peer"] = statistics.median(ratios) * (
            peer_evals / ours_evals)
    if mode == PYTHON_MODE:
        # Timed again after the runs; the smaller time is the less disturbed one.
        ours_objective_s = min(ours_objective_s,
                               objective_cost(*keyword_call(body, point), smoke=runs == 1))
        peer_objective_s = min(peer_objective_s,
                               objective_cost(*peer_run.objective_call(body, point),
                                              smoke=runs == 1))
    if mode == PYTHON_MODE and ours_evals and peer_evals and ours_t:
        # What each library adds to an evaluation beyond calling the objective it was given,
        # run by run.
        ours_over = [t / ours_evals - ours_objective_s for t in ours_t]
        peer_over = [t / peer_evals - peer_objective_s for t in peer_t]
        row["ours_objective_s"] = ours_objective_s
        row["peer_objective_s"] = peer_objective_s
        row["ours_overhead_per_eval_s"] = summary(ours_over)
        row["peer_overhead_per_eval_s"] = summary(peer_over)
        row["overhead_ratio_ours_over_peer"] = summary(
            [o / p for o, p in zip(ours_over, peer_over)])
    return row


def sample_point(lo: float, hi: float, dims: int) -> list[float]:
    rng = random.Random(7)
    return [rng.uniform(lo, hi) for _ in range(dims)]


def objective_cost(call: Callable[[], Any], evaluations: int, smoke: bool) -> float:
    """Seconds per evaluation of one call of the objective exactly as a library was given it,
    on an argument of the kind it receives (a keyword list, a numpy row or a numpy swarm)."""
    timer = timeit.Timer(call)
    if smoke:
        return timer.timeit(number=200) / 200 / evaluations
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=3, number=number)) / number / evaluations


def worker(peer: str, smoke: bool) -> dict[str, Any]:
    pso_class, reason = load_swarmtuner()
    # Imports happen here, before any clock starts.
    modes: dict[str, Callable[[str], Callable]] = {}
    if peer == "plain":
        modes[PYTHON_MODE] = lambda problem: run_plain
    else:
        factory = PEER_FACTORIES[peer]
        modes[PYTHON_MODE] = lambda problem: factory(False, problem)
        modes["numpy objective"] = lambda problem: factory(True, problem)
    logging.disable(logging.CRITICAL)  # pyswarms reports through logging

    size = sizes(smoke)
    rows = []
    for problem in PROBLEMS:
        for mode, make in modes.items():
            try:
                rows.append(compare(peer, mode, problem, make(problem), pso_class, size))
            except Exception:  # noqa: BLE001 (a peer that breaks is reported, not fatal)
                rows.append({"peer": peer, "mode": mode, "problem": problem,
                             "error": traceback.format_exc(limit=3)[-2000:]})
    return {
        "peer": peer,
        "module_unavailable": reason,
        "package": PEER_PACKAGES[peer],
        "notes": PEER_NOTES[peer],
        "rows": rows,
    }


def coefficient_sweep(smoke: bool) -> dict[str, Any]:
    """swarmtuner's median best value for a few settings of both coefficients (quality only).

    The search has no random factors, so the coefficients act at full strength on every step;
    this shows how much of the quality gap to the peers comes from the shared setting 2.0.
    """
    pso_class, reason = load_swarmtuner()
    if pso_class is None:
        return {"module_unavailable": reason}
    size = sizes(smoke)
    rows = []
    for coeff in (2.0, 1.0, 0.5):
        for inertia in (0.5, 0.9):
            row: dict[str, Any] = {"c1": coeff, "c2": coeff, "inertia": inertia}
            for problem, spec in PROBLEMS.items():
                pso = pso_class(n_iters=size["iters"], n_particles=size["n"], c1=coeff,
                                c2=coeff, inertia=inertia, max_v=MAX_V)
                body = spec["body"]
                bests = [pso.min(lambda f64: body(f64), f64_min=[spec["lower"]] * size["dims"],
                                 f64_max=[spec["upper"]] * size["dims"])[0]
                         for _ in range(size["runs"])]
                row[problem] = statistics.median(bests)
            rows.append(row)
    return {"rows": rows}


# ---------------------------------------------------------------------------------------------
# Framework overhead per evaluation counted by callgrind

# The budget and coefficients of the counted comparison; inertia and velocity limit are shared
# with the timed one.
COUNT_SIZE = {"dims": 10, "n": 30, "iters": 200}
COUNT_SIZE_SMOKE = {"dims": 10, "n": 5, "iters": 3}
COUNT_COEFF = 1.0
COUNT_SEED = 1234
# The smoke run counts one peer, the one that imports least, to check that the machinery works.
COUNT_PEERS_SMOKE = ["pyswarm"]


def count_worker(peer: str, smoke: bool, build: Path) -> list[dict[str, Any]]:
    """The process callgrind runs: per problem, a run of swarmtuner and one of the peer, each
    followed by the calls of the objective that run made, made again as the library made them
    (for swarmtuner by the benchmark extension, by vectorcall on the very lists), and for the
    peer the bare loop over their arguments. A first run of each records the points."""
    from bench_floor import import_extension  # noqa: PLC0415

    ext = import_extension(build)
    if not ext.counting():
        raise SystemExit("not running under callgrind, or the extension has no client requests")
    pso_class, reason = load_swarmtuner()
    if pso_class is None:
        raise SystemExit(f"swarmtuner unavailable: {reason}")
    logging.disable(logging.CRITICAL)
    size = COUNT_SIZE_SMOKE if smoke else COUNT_SIZE
    rows = []
    for problem, spec in PROBLEMS.items():
        body = spec["body"]
        args = (spec["lower"], spec["upper"], size["dims"], size["n"], size["iters"], COUNT_SEED)
        peer_run = PEER_FACTORIES[peer](False, problem)

        def quiet(run, *a, **kw):
            with contextlib.redirect_stdout(io.StringIO()), \
                    contextlib.redirect_stderr(io.StringIO()):
                return run(*a, **kw)

        ours_lists: list = []
        peer_points: list = []

        def ours_recorder(f64, lists=ours_lists, body=body):
            lists.append(f64)
            return body(f64)

        def peer_recorder(x, points=peer_points, body=body):
            points.append(x)
            return body(x)

        run_swarmtuner(pso_class, ours_recorder, *args, coeff=COUNT_COEFF)
        quiet(peer_run, peer_recorder, *args, coeff=COUNT_COEFF)
        ours_objective, _ = keyword_objective(body)
        ours_calls = [(lst,) for lst in ours_lists]
        target, replayed = peer_run.replay(body, peer_points, size["n"])

        def replay_calls(target=target, replayed=replayed):
            for a in replayed:
                target(a)

        def replay_loop(replayed=replayed):
            for _ in replayed:
                pass

        gc.collect()
        gc.disable()
        ext.mark(f"{problem}|setup")
        _, ours_count = run_swarmtuner(pso_class, body, *args, coeff=COUNT_COEFF)
        ext.mark(f"{problem}|ours run")
        ext.call_each(ours_objective, ("f64",), ours_calls)
        ext.mark(f"{problem}|ours calls")
        _, peer_count = quiet(peer_run, body, *args, coeff=COUNT_COEFF)
        ext.mark(f"{problem}|peer run")
        replay_calls()
        ext.mark(f"{problem}|peer calls")
        replay_loop()
        ext.mark(f"{problem}|peer loop")
        gc.enable()
        rows.append({"problem": problem, "ours_evaluations": ours_count[0],
                     "ours_replayed": len(ours_calls), "peer_evaluations": peer_count[0],
                     "peer_replayed": len(peer_points)})
    return rows


def count_peers(peers: list[str], smoke: bool) -> dict[str, Any]:
    """Per peer and problem, the framework overhead per evaluation of swarmtuner and of the
    peer in instructions: a run less the calls of the objective it made, made again."""
    from bench_floor import build_extension, parse_dumps  # noqa: PLC0415

    size = COUNT_SIZE_SMOKE if smoke else COUNT_SIZE
    result: dict[str, Any] = {"settings": {"inertia": INERTIA, "c1": COUNT_COEFF,
                                           "c2": COUNT_COEFF, "max_v": MAX_V, **size},
                              "peers": {}}
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        result["unavailable"] = "valgrind is not installed"
        return result
    ext, why = build_extension()
    if ext is None:
        result["unavailable"] = why
        return result
    build = Path(ext.__file__).parent
    for peer in peers:
        if peer not in PEER_FACTORIES or (smoke and peer not in COUNT_PEERS_SMOKE):
            continue
        with tempfile.TemporaryDirectory() as tmp:
            out = Path(tmp) / "rows.json"
            cmd = [valgrind, "--tool=callgrind", f"--callgrind-out-file={tmp}/cg.%p",
                   "--dump-line=no", "--dump-instr=no", sys.executable, __file__,
                   "--count-worker", peer, "--extension", str(build), "--json", str(out)]
            if smoke:
                cmd.append("--smoke")
            proc = subprocess.run(cmd, capture_output=True, text=True, check=False,
                                  env=dict(os.environ, PYTHONHASHSEED="0"))
            if proc.returncode != 0 or not out.exists():
                result["peers"][peer] = {"error": f"callgrind run exited {proc.returncode}: "
                                         + proc.stderr.strip()[-1500:]}
                continue
            rows = json.loads(out.read_text(encoding="utf-8"))
            counts = parse_dumps(f"{tmp}/cg")
        for row in rows:
            c = {key.split("|", 1)[1]: v for key, v in counts.items()
                 if key.split("|", 1)[0] == row["problem"]}
            ours = (c["ours run"] - c["ours calls"]) / row["ours_evaluations"]
            theirs = (c["peer run"] - (c["peer calls"] - c["peer loop"])) / row["peer_evaluations"]
            row.update({"phases": c, "ours_overhead_per_eval": ours,
                        "peer_overhead_per_eval": theirs, "ratio_ours_over_peer": ours / theirs})
        result["peers"][peer] = {"rows": rows}
        print(f"peers: {peer} counted", file=sys.stderr)
    return result


def main() -> None:
    parser = arg_parser(__doc__.splitlines()[0])
    parser.add_argument("--worker", choices=PEERS, help="run one peer in this process")
    parser.add_argument("--peers", nargs="*", default=PEERS, help="peers to run")
    parser.add_argument("--no-time", action="store_true", help="only the callgrind counts")
    parser.add_argument("--no-count", action="store_true", help="only the timed comparison")
    parser.add_argument("--count-worker", choices=list(PEER_FACTORIES), help=argparse.SUPPRESS)
    parser.add_argument("--extension", type=Path, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        write_json(args.json, worker(args.worker, args.smoke))
        return
    if args.count_worker:
        write_json(args.json, count_worker(args.count_worker, args.smoke, args.extension))
        return

    versions = package_versions([p for p in PEER_PACKAGES.values() if p] + ["numpy"])
    peers: dict[str, Any] = {}
    for peer in [] if args.no_time else args.peers:
        package = PEER_PACKAGES[peer]
        if package and versions.get(package) is None:
            peers[peer] = {"peer": peer, "error": f"{package} is not installed in this environment"}
            continue
        with tempfile.TemporaryDirectory() as tmp:
            out = Path(tmp) / "peer.json"
            cmd = [sys.executable, __file__, "--worker", peer, "--json", str(out)]
            if args.smoke:
                cmd.append("--smoke")
            proc = subprocess.run(cmd, capture_output=True, text=True, check=False)
            if proc.returncode != 0 or not out.exists():
                peers[peer] = {"peer": peer, "error": f"worker exited {proc.returncode}: "
                               + proc.stderr.strip()[-2000:]}
            else:
                peers[peer] = json.loads(out.read_text(encoding="utf-8"))
        print(f"peers: {peer} done", file=sys.stderr)
    write_json(args.json, {
        "machine": machine_info(),
        "versions": versions,
        "settings": {"inertia": INERTIA, "c1": COEFF, "c2": COEFF, "max_v": MAX_V,
                     **sizes(args.smoke)},
        "peers": peers,
        "coefficients": coefficient_sweep(args.smoke) if not args.no_time else None,
        "counted": count_peers(args.peers, args.smoke) if not args.no_count else None,
    })


if __name__ == "__main__":
    try:
        main()
    except Exception:
        traceback.print_exc()
        sys.exit(1)
