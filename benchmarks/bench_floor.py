"""Overhead per component against the call the module makes and the objects it builds from C.

Each row is a converging search (30 particles, 200 sweeps, c1 0.7, c2 1.0) whose f returns 0.
Its overhead is the search less the calls of f that it made, made again by the small extension
floor_ext/call_floor.c exactly as the module makes them: by vectorcall, with the tuple of keyword
names and no dict, on the lists f received (recorded in a first search). The floor is what an
extension pays at least for the fresh objects f receives, built by the same extension:
PyNumber_Negative of each value f received (a new object of its type and size), or for the
decimal kind decimal.Decimal(str) through PyObject_CallOneArg; the lists holding them are not
counted, except in the row of one f64, which is measured per evaluation against a fresh list
holding one float. Ratio = overhead / floor.

Every row is counted by callgrind (the script runs itself under valgrind and splits the count at
markers the extension sets between phases) and timed in this process. Beside the C-level
figures, the callgrind run also counts the Python-level measures the other overhead benchmarks
use: a call f(**kw) from Python, and the same objects built by a Python loop (-x, Decimal(str)),
each less its bare loop.

    python benchmarks/bench_floor.py --json out/floor.json [--smoke] [--rows NAME ...]

The extension is compiled for the running interpreter with CMake (from the interpreter's own
environment when it has one) into out/floor_ext/.
"""

from __future__ import annotations

import argparse
import gc
import glob
import hashlib
import importlib
import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
from decimal import Decimal
from pathlib import Path
from typing import Any, Callable

from bench_common import (
    HERE,
    OUT_DIR,
    arg_parser,
    load_swarmtuner,
    machine_info,
    summary,
    timed,
    write_json,
)

N_PARTICLES = 30
N_ITERS = 200
SETTINGS = {"c1": 0.7, "c2": 1.0}
KIND_ORDER = ("i8", "i16", "i32", "i64", "i128", "i", "f32", "f64", "c64", "c128", "d")

# The usual range of each kind, [-bound, bound]; a row may give a kind another one.
BOUNDS: dict[str, Any] = {
    "i8": 100, "i16": 100, "i32": 100, "i64": 10**6, "i128": 10**6, "i": 10**30,
    "f32": 5.0, "f64": 5.0, "c64": complex(1.0, 1.0), "c128": complex(1.0, 1.0),
    "d": Decimal("100.00"),
}

# name, layout, bounds other than the usual ones, target ratio, the target as written.
ROWS: list[dict[str, Any]] = [
    {"name": "f64 x1", "layout": [("f64", 1)], "bounds": {}, "target": 2.0,
     "target_text": "≤ 2× a fresh list holding one float", "per_evaluation": True},
    {"name": "f64 x10", "layout": [("f64", 10)], "bounds": {}, "target": 2.0},
    {"name": "i64 x10", "layout": [("i64", 10)], "bounds": {}, "target": 2.0},
    {"name": "i within ±10^6 x10", "layout": [("i", 10)], "bounds": {"i": 10**6},
     "target": 2.0},
    {"name": "i near 2^199 x10", "layout": [("i", 10)], "bounds": {"i": 2**199},
     "target": 3.0},
    {"name": "d within ±1000.000000 x10", "layout": [("d", 10)],
     "bounds": {"d": Decimal("1000.000000")}, "target": 1.6},
    {"name": "all eleven kinds x1", "layout": [(kind, 1) for kind in KIND_ORDER], "bounds": {},
     "target": 2.0},
    {"name": "i32 x4, f64 x4, d x2", "layout": [("i32", 4), ("f64", 4), ("d", 2)], "bounds": {},
     "target": 2.0},
]


def row_by_name(name: str) -> dict[str, Any]:
    for row in ROWS:
        if row["name"] == name:
            return row
    raise SystemExit(f"no row named {name!r}; rows: {', '.join(r['name'] for r in ROWS)}")


def search_bounds(row: dict[str, Any]) -> dict[str, list]:
    bounds: dict[str, list] = {}
    for kind, n in row["layout"]:
        bound = row["bounds"].get(kind, BOUNDS[kind])
        bounds[f"{kind}_min"] = [-bound] * n
        bounds[f"{kind}_max"] = [bound] * n
    return bounds


def trivial_objective(row: dict[str, Any]) -> Callable:
    """f with a named parameter per kind, the way objectives are written for the module,
    returning 0."""
    params = ", ".join(kind for kind, _ in row["layout"])
    return eval(f"lambda {params}: 0")  # noqa: S307 (the text is built from kind names above)


# ---------------------------------------------------------------------------------------------
# The extension


def build_extension(out_dir: Path = OUT_DIR) -> tuple[Any, str | None]:
    """The _call_floor module built for this interpreter (an earlier build is reused), or None
    with the reason it could not be built."""
    # A directory per interpreter: the ABI tag alone does not tell two 3.13 builds apart.
    key = hashlib.sha1(sys.base_prefix.encode()).hexdigest()[:8]
    build = out_dir / "floor_ext" / f"{sysconfig.get_config_var('SOABI')}-{key}"
    bindir = Path(sys.executable).parent
    cmake = bindir / "cmake" if (bindir / "cmake").exists() else shutil.which("cmake")
    if cmake is None:
        return None, "no cmake in the interpreter's environment or on PATH"
    ninja = bindir / "ninja" if (bindir / "ninja").exists() else shutil.which("ninja")
    generator = ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"] if ninja else []
    log = build.parent / f"{build.name}.log"
    build.mkdir(parents=True, exist_ok=True)
    with open(log, "w", encoding="utf-8") as stream:
        for cmd in ([str(cmake), "-S", str(HERE / "floor_ext"), "-B", str(build), *generator,
                     "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}"],
                    [str(cmake), "--build", str(build)]):
            if subprocess.run(cmd, stdout=stream, stderr=subprocess.STDOUT,
                              check=False).returncode != 0:
                return None, f"the extension did not build (see {log})"
    return import_extension(build), None


def extension_problems(ext: Any) -> list[str]:
    """What the extension does otherwise than its measures assume, checked with objects that
    record how they are used: the calls must reach f as keywords naming the very lists, and
    each floor must build one object from each value, given in order."""
    problems = []
    seen: list = []

    def f(**kw):
        seen.append(kw)
        return 0

    lists = [([1], [2.0]), ([3], [4.0])]
    ext.call_each(f, ("i64", "f64"), lists)
    if [tuple(kw.items()) for kw in seen] != [(("i64", a), ("f64", b)) for a, b in lists] or \
            any(kw["i64"] is not a or kw["f64"] is not b for kw, (a, b) in zip(seen, lists)):
        problems.append(f"call_each passed {seen!r} for {lists!r}")

    class Recorded:
        used: list = []

        def __init__(self, value=None):
            Recorded.used.append(value)

        def __neg__(self):
            Recorded.used.append("neg")
            return Recorded("made")

    values = [Recorded(), Recorded()]
    for name, run, expected in (
            ("negate_each", lambda: ext.negate_each(values), ["neg", "made"] * 2),
            ("listed_negation_each", lambda: ext.listed_negation_each(values),
             ["neg", "made"] * 2),
            ("construct_each", lambda: ext.construct_each(Recorded, ["a", "b"]), ["a", "b"])):
        Recorded.used = []
        run()
        if Recorded.used != expected:
            problems.append(f"{name} did {Recorded.used!r}, not {expected!r}")
    return problems


def import_extension(build: Path) -> Any:
    sys.path.insert(0, str(build))
    try:
        return importlib.import_module("_call_floor")
    finally:
        sys.path.remove(str(build))


# ---------------------------------------------------------------------------------------------
# One row: its search, the calls it made, the objects it built


class RowRun:
    """The searches and replays of one row, each a phase the caller measures."""

    def __init__(self, row: dict[str, Any], pso_class: Any, ext: Any, n_particles: int,
                 n_iters: int) -> None:
        self.row = row
        self.ext = ext
        self.n_particles, self.n_iters = n_particles, n_iters
        self.f = trivial_objective(row)
        self.bounds = search_bounds(row)
        self.pso = pso_class(n_iters=n_iters, n_particles=n_particles, **SETTINGS)
        self.evaluations = n_particles * (n_iters + 1)
        self.components = sum(n for _, n in row["layout"])
        # A first search, which also warms the module's caches, records every call of f.
        rows: list[tuple] = []
        names: list[tuple] = []

        def recorder(**kw):
            names.append(tuple(kw))
            rows.append(tuple(kw.values()))
            return 0

        self.pso.min(recorder, **self.bounds)
        assert len(rows) == self.evaluations, (len(rows), self.evaluations)
        self.kwnames = names[0]
        self.calls = rows
        self.dicts = [dict(zip(self.kwnames, r)) for r in rows]
        self.values: dict[str, list] = {}
        for k, kind in enumerate(self.kwnames):
            self.values[kind] = [v for r in rows for v in r[k]]
        self.texts = {kind: [str(v) for v in vals] for kind, vals in self.values.items()
                      if kind == "d"}

    # C-level phases

    def search(self) -> None:
        self.pso.min(self.f, **self.bounds)

    def direct_calls(self) -> None:
        self.ext.call_each(self.f, self.kwnames, self.calls)

    def floor_phases(self) -> list[tuple[str, Callable[[], None]]]:
        """The C-level floor, one phase per kind; the row measured per evaluation adds the
        fresh list holding its one float."""
        phases = []
        for kind in self.kwnames:
            if kind == "d":
                texts = self.texts[kind]
                phases.append((f"floor {kind}",
                               lambda texts=texts: self.ext.construct_each(Decimal, texts)))
            else:
                values = self.values[kind]
                phases.append((f"floor {kind}",
                               lambda values=values: self.ext.negate_each(values)))
        if self.row.get("per_evaluation"):
            values = self.values[self.kwnames[0]]
            phases.append(("floor [f64]",
                           lambda: self.ext.listed_negation_each(values)))
        return phases

    # Python-level phases (the measures of bench_overhead.py, counted)

    def python_phases(self) -> list[tuple[str, Callable[[], None]]]:
        f, dicts = self.f, self.dicts

        def kw_calls():
            for kw in dicts:
                f(**kw)

        def kw_loop():
            for kw in dicts:
                pass

        # f(f64=a, ...) with the keywords spelled out, Python's cheapest form of the call; the
        # unpacking of each recorded row is in its bare loop too.
        names = [f"a{k}" for k in range(len(self.kwnames))]
        unpack = ", ".join(names) + ","
        keywords = ", ".join(f"{kind}={name}" for kind, name in zip(self.kwnames, names))
        scope: dict[str, Any] = {}
        exec(  # noqa: S102 (the text is built from kind names)
            f"def spelled(f, calls):\n    for {unpack} in calls:\n        f({keywords})\n"
            f"def spelled_loop(calls):\n    for {unpack} in calls:\n        pass\n", scope)
        calls = self.calls
        phases = [("py f(**kw)", kw_calls), ("py f(**kw) loop", kw_loop),
                  ("py f(k=list)", lambda: scope["spelled"](f, calls)),
                  ("py f(k=list) loop", lambda: scope["spelled_loop"](calls))]
        for kind in self.kwnames:
            if kind == "d":
                texts = self.texts[kind]

                def build(texts=texts, D=Decimal):
                    for t in texts:
                        D(t)

                items = texts
            else:
                items = self.values[kind]

                def build(values=items):
                    for v in values:
                        -v  # noqa: B018 (the new object is the point)

            def loop(items=items):
                for _ in items:
                    pass

            phases += [(f"py floor {kind}", build), (f"py floor {kind} loop", loop)]
        return phases

    def phases(self, python_level: bool) -> list[tuple[str, Callable[[], None]]]:
        out = [("search", self.search), ("calls", self.direct_calls), *self.floor_phases()]
        return out + self.python_phases() if python_level else out

    def describe(self) -> dict[str, Any]:
        return RowRun.description(self.row, self.n_particles, self.n_iters)

    @staticmethod
    def description(row: dict[str, Any], n_particles: int, n_iters: int) -> dict[str, Any]:
        return {"case": row["name"], "layout": [list(p) for p in row["layout"]],
                # The kinds in the order the module names them to f.
                "kinds": [kind for kind in KIND_ORDER if kind in dict(row["layout"])],
                "evaluations": n_particles * (n_iters + 1),
                "components": sum(n for _, n in row["layout"]), "target": row["target"],
                "target_text": row.get("target_text", f"≤ {row['target']:g}×"),
                "per_evaluation": bool(row.get("per_evaluation"))}


def figures(counts: dict[str, float], run: dict[str, Any]) -> dict[str, Any]:
    """Overhead and floor per component (per evaluation for the row of one f64) from the
    measures of the phases, in instructions or seconds alike."""
    evals, comps = run["evaluations"], run["components"]
    overhead = counts["search"] - counts["calls"]
    floor = sum(counts[f"floor {kind}"] for kind in run["kinds"])
    out: dict[str, Any] = {
        "search_per_eval": counts["search"] / evals,
        "call_per_eval": counts["calls"] / evals,
        "overhead_per_eval": overhead / evals,
        "overhead_per_component": overhead / evals / comps,
        "floor_per_component": floor / evals / comps,
        "floor_by_kind": {kind: counts[f"floor {kind}"] / len_of(run, kind)
                          for kind in run["kinds"]},
    }
    if run["per_evaluation"]:
        listed = counts["floor [f64]"] / evals
        out["listed_floor_per_eval"] = listed
        out["ratio"] = overhead / evals / listed
        out["ratio_to_one_object"] = out["overhead_per_component"] / out["floor_per_component"]
    else:
        out["ratio"] = overhead / floor
    if "py f(**kw)" in counts:
        py_call = (counts["py f(**kw)"] - counts["py f(**kw) loop"]) / evals
        py_spelled = (counts["py f(k=list)"] - counts["py f(k=list) loop"]) / evals
        py_floor = sum(counts[f"py floor {kind}"] - counts[f"py floor {kind} loop"]
                       for kind in run["kinds"]) / evals / comps
        py_overhead = (counts["search"] / evals - py_call) / comps
        out["python"] = {"call_per_eval": py_call, "spelled_call_per_eval": py_spelled,
                         "floor_per_component": py_floor,
                         "overhead_per_component": py_overhead,
                         "ratio": py_overhead / py_floor}
    return out


def len_of(run: dict[str, Any], kind: str) -> int:
    n = dict((k, n) for k, n in run["layout"])[kind]
    return run["evaluations"] * n


# ---------------------------------------------------------------------------------------------
# Timing in this process


def time_rows(names: list[str], pso_class: Any, ext: Any, n_particles: int, n_iters: int,
              repeats: int, passes: int) -> list[dict[str, Any]]:
    """Each repeat times every phase `passes` times in a row and keeps its shortest time (and,
    apart, its shortest CPU time): a phase lasts milliseconds, and on a shared machine a pass
    that another process interrupts only ever takes longer."""
    results = []
    for name in names:
        run = RowRun(row_by_name(name), pso_class, ext, n_particles, n_iters)
        desc = run.describe()
        wall: list[dict[str, float]] = []
        cpu: list[dict[str, float]] = []
        for _ in range(repeats):
            w: dict[str, float] = {}
            c: dict[str, float] = {}
            for phase, fn in run.phases(python_level=False):
                times = [timed(fn)[:2] for _ in range(passes)]
                w[phase] = min(t[0] for t in times)
                c[phase] = min(t[1] for t in times)
            wall.append(w)
            cpu.append(c)
        keys = ["overhead_per_component", "floor_per_component", "ratio", "call_per_eval",
                "overhead_per_eval"]
        if desc["per_evaluation"]:
            keys.append("listed_floor_per_eval")
        # Wall time, and process CPU time, which other processes sharing the cores do not
        # stretch.
        for label, measured in (("time", wall), ("cpu_time", cpu)):
            per_repeat = [figures(m, desc) for m in measured]
            desc[label] = {key: summary([p[key] for p in per_repeat]) for key in keys}
        results.append(desc)
    return results


# ---------------------------------------------------------------------------------------------
# Counting under callgrind


def count_child(names: list[str], n_particles: int, n_iters: int, build: Path,
                out: Path) -> None:
    """The process callgrind runs: one search of each row named and its phases, each phase
    ended by a marker."""
    pso_class, reason = load_swarmtuner()
    if pso_class is None:
        raise SystemExit(f"swarmtuner unavailable: {reason}")
    ext = import_extension(build)
    if not ext.counting():
        raise SystemExit("not running under callgrind, or the extension has no client requests")
    for name in names:
        run = RowRun(row_by_name(name), pso_class, ext, n_particles, n_iters)
        gc.collect()
        gc.disable()
        ext.mark(f"{name}|setup")
        for phase, fn in run.phases(python_level=True):
            fn()
            ext.mark(f"{name}|{phase}")
        gc.enable()
        del run
    write_json(out, names)


def parse_dumps(prefix: str) -> dict[str, int]:
    """Instructions of each part callgrind wrote, by the name of the marker that ended it."""
    counts: dict[str, int] = {}
    for path in glob.glob(prefix + ".*"):
        with open(path, encoding="utf-8", errors="replace") as stream:
            text = stream.read()
        name = re.search(r"^desc: Trigger: Client Request: (.*)$", text, re.MULTILINE)
        total = re.search(r"^(?:summary|totals): (\d+)", text, re.MULTILINE)
        if name and total:
            counts[name.group(1)] = int(total.group(1))
    return counts


def count_in_process(valgrind: str, names: list[str], n_particles: int, n_iters: int,
                     build: Path) -> dict[str, dict[str, int]]:
    """One process under callgrind running one search of each row named: the instructions of
    each row's phases."""
    with tempfile.TemporaryDirectory() as tmp:
        done = Path(tmp) / "done.json"
        cmd = [valgrind, "--tool=callgrind", f"--callgrind-out-file={tmp}/cg.%p",
               "--dump-line=no", "--dump-instr=no", sys.executable, __file__,
               "--count-child", str(build), "--json", str(done),
               "--iters", str(n_iters), "--particles", str(n_particles), "--rows", *names]
        env = dict(os.environ, PYTHONHASHSEED="0")
        proc = subprocess.run(cmd, capture_output=True, text=True, check=False, env=env)
        if proc.returncode != 0 or not done.exists():
            raise RuntimeError(f"callgrind run exited {proc.returncode}: "
                               f"{proc.stderr.strip()[-1500:]}")
        counts = parse_dumps(f"{tmp}/cg")
    by_row: dict[str, dict[str, int]] = {name: {} for name in names}
    for key, value in counts.items():
        case, phase = key.split("|", 1)
        if case in by_row and phase != "setup":
            by_row[case][phase] = value
    return by_row


def count_rows(names: list[str], n_particles: int, n_iters: int, searches: int, build: Path,
               own_process: bool) -> tuple[list[dict[str, Any]] | None, str | None]:
    """The rows counted by callgrind: the figures of all the searches' phases summed, and the
    spread of each figure over the searches (which start at random, and whose values, the
    objects of the floor included, differ with the point the swarm converges to).

    With own_process, each search runs in a process of its own, so that no search meets the
    heap that an earlier one left: CPython's small-object allocator can then find a pool that
    each evaluation empties and refills, which was seen to add some 450 instructions per
    evaluation to an f64 search."""
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        return None, "valgrind is not installed"
    groups = [[name] for name in names] if own_process else [names]
    each: dict[str, list[dict[str, int]]] = {name: [] for name in names}
    try:
        for _ in range(searches):
            for group in groups:
                for name, phases in count_in_process(valgrind, group, n_particles, n_iters,
                                                     build).items():
                    each[name].append(phases)
    except RuntimeError as exc:
        return None, str(exc)
    rows = []
    for name in names:
        row = RowRun.description(row_by_name(name), n_particles, n_iters)
        summed = {phase: sum(c[phase] for c in each[name]) for phase in each[name][0]}
        row["searches"] = searches
        row["instructions"] = figures(summed, {**row,
                                               "evaluations": row["evaluations"] * searches})
        single = [figures(c, row) for c in each[name]]
        row["instructions_spread"] = {
            key: summary([f[key] for f in single])
            for key in ("ratio", "overhead_per_component", "floor_per_component")}
        row["phases"] = summed
        rows.append(row)
    return rows, None


# ---------------------------------------------------------------------------------------------


def main() -> None:
    parser = arg_parser(__doc__.splitlines()[0])
    parser.add_argument("--rows", nargs="*", default=[r["name"] for r in ROWS])
    parser.add_argument("--iters", type=int, default=None, help="sweeps per search")
    parser.add_argument("--particles", type=int, default=None)
    parser.add_argument("--searches", type=int, default=None,
                        help="searches per row counted by callgrind")
    parser.add_argument("--no-count", action="store_true", help="time only, without callgrind")
    parser.add_argument("--no-time", action="store_true", help="count only")
    parser.add_argument("--count-child", type=Path, help=argparse.SUPPRESS)
    args = parser.parse_args()
    n_particles = args.particles or (5 if args.smoke else N_PARTICLES)
    n_iters = args.iters or (3 if args.smoke else N_ITERS)
    searches = args.searches or (1 if args.smoke else 3)
    if args.count_child:
        count_child(args.rows, n_particles, n_iters, args.count_child, args.json)
        return

    result: dict[str, Any] = {"machine": machine_info(), "python": sys.version.split()[0],
                              "n_particles": n_particles, "n_iters": n_iters,
                              "settings": SETTINGS, "rows": []}
    pso_class, reason = load_swarmtuner()
    ext, ext_reason = build_extension() if pso_class is not None else (None, None)
    result["module_unavailable"] = reason
    result["extension_unavailable"] = ext_reason
    if ext is not None:
        problems = extension_problems(ext)
        if problems:
            ext, result["extension_unavailable"] = None, "; ".join(problems)
    if pso_class is None or ext is None:
        write_json(args.json, result)
        sys.exit(f"bench_floor: {reason or result['extension_unavailable']}")
    repeats, passes = (1, 1) if args.smoke else (7, 5)
    result["repeats"] = repeats
    result["passes"] = passes
    timed_rows = ({} if args.no_time else
                  {r["case"]: r for r in time_rows(args.rows, pso_class, ext, n_particles,
                                                   n_iters, repeats, passes)})
    counted_rows: dict[str, Any] = {}
    if not args.no_count:
        # The smoke run only checks that the counting works, in one process.
        counted, why = count_rows(args.rows, n_particles, n_iters, searches,
                                  Path(ext.__file__).parent, own_process=not args.smoke)
        result["count_unavailable"] = why
        counted_rows = {r["case"]: r for r in counted or []}
    for name in args.rows:
        row = {**counted_rows.get(name, {}), **timed_rows.get(name, {})}
        if row:
            result["rows"].append(row)
    write_json(args.json, result)
    if result.get("count_unavailable"):
        print(f"bench_floor: not counted: {result['count_unavailable']}", file=sys.stderr)


if __name__ == "__main__":
    main()
