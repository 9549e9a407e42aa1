"""Overhead per evaluation: what a search costs beyond the calls of a trivial objective.

For each case the search runs with an objective that only returns 0.0. Its time, less the
evaluation count times the time of one call of that objective (timeit on f(**kw) with prebuilt
keyword lists of the same kinds and lengths), divided by the evaluation count, is the overhead
per evaluation; the headline is that overhead over the call floor. Floor and search are measured
back to back in every repeat, and each ratio is taken within one repeat.

These are Python-level measures: f(**kw) also pays for unpacking a dict, which the module's
own call of f does not, and the object floors are Python loops. bench_floor.py measures against
the call the module makes and objects built from C.
"""

from __future__ import annotations

import random
import sys
import timeit
from decimal import Decimal
from typing import Any, Callable

from bench_common import arg_parser, load_swarmtuner, machine_info, summary, timed, write_json
from plain_pso import PlainPSO

N_PARTICLES = 30


def _values(kind: str, n: int, rng: random.Random,
            bound: int | None = None) -> tuple[list, list, list]:
    """Lower bounds, upper bounds and sample values (the Python types f receives) of a kind;
    `bound`, for an integer kind, replaces its usual range with [-bound, bound]."""
    if bound is not None:
        return [-bound] * n, [bound] * n, [rng.randint(-bound, bound) for _ in range(n)]
    if kind in ("f64", "f32"):
        return [-5.0] * n, [5.0] * n, [rng.uniform(-5.0, 5.0) for _ in range(n)]
    if kind in ("i8", "i16", "i32"):
        return [-100] * n, [100] * n, [rng.randint(-100, 100) for _ in range(n)]
    if kind in ("i64", "i128"):
        return [-10**6] * n, [10**6] * n, [rng.randint(-10**6, 10**6) for _ in range(n)]
    if kind == "i":
        # Around 100 bits: several limbs, beyond every fixed-width kind.
        big = 10**30
        return [-big] * n, [big] * n, [rng.randint(-big, big) for _ in range(n)]
    if kind in ("c64", "c128"):
        return ([complex(-1.0, -1.0)] * n, [complex(1.0, 1.0)] * n,
                [complex(rng.uniform(-1, 1), rng.uniform(-1, 1)) for _ in range(n)])
    if kind == "d":
        return ([Decimal("-100.00")] * n, [Decimal("100.00")] * n,
                [Decimal(f"{rng.uniform(-100, 100):.2f}") for _ in range(n)])
    raise ValueError(kind)


def make_case(name: str, layout: list[tuple[str, int]], n_iters: int,
              settings: dict[str, float] | None = None,
              bounds_of: dict[str, int] | None = None) -> dict[str, Any]:
    """A search space of the given kinds and lengths, with its trivial objective and call
    arguments; `settings` are PSO keyword arguments beyond the sizes (default: none), and
    `bounds_of` gives integer kinds the range [-bound, bound] instead of their usual one."""
    rng = random.Random(20240601)
    bounds: dict[str, list] = {}
    kwargs: dict[str, list] = {}
    for kind, n in layout:
        lo, hi, sample = _values(kind, n, rng, (bounds_of or {}).get(kind))
        bounds[f"{kind}_min"] = lo
        bounds[f"{kind}_max"] = hi
        kwargs[kind] = sample
    params = ", ".join(kind for kind, _ in layout)
    # A named parameter per kind, the way objectives are written for the module.
    trivial = eval(f"lambda {params}: 0.0")  # noqa: S307 (the text is built from kind names above)
    return {
        "name": name,
        "layout": [[kind, n] for kind, n in layout],
        "bounds": bounds,
        "kwargs": kwargs,
        "f": trivial,
        "n_iters": n_iters,
        "settings": settings or {},
        "f64_only": all(kind == "f64" for kind, _ in layout) and not settings,
    }


# The two exact kinds in a converging search: every value handed to f is new, so each costs
# one Python object. Their overhead per component is compared with building such an object in
# the same process (Decimal(str) of the decimals f received; negating a big integer of the
# size f received), repeat by repeat.
D_CONVERGING = "d x10 within ±1000.000000, c1 0.7, c2 1.0"
I_CONVERGING = "i x10 within ±2^199, c1 0.7, c2 1.0"
OBJECT_FLOOR_KIND = {D_CONVERGING: "d", I_CONVERGING: "i"}

# Big integers that carry the same small values as the i64 case, and big integers of four limbs;
# these two are measured interleaved with "i64 x10", repeat by repeat, and compared with it.
I_SMALL = "i x10, within ±10^6"
I_2_200 = "i x10, within ±2^200"
INTERLEAVED = ("i64 x10", I_SMALL, I_2_200)


def cases(smoke: bool) -> list[dict[str, Any]]:
    if smoke:
        iters = {1: 3, 10: 3, 100: 2, 1000: 1}
        other = 3
    else:
        # Fewer sweeps for the wide spaces keeps every search near a second in plain Python.
        iters = {1: 300, 10: 200, 100: 60, 1000: 10}
        other = 200
    return [
        *(make_case(f"f64 x{d}", [("f64", d)], iters[d]) for d in (1, 10, 100, 1000)),
        make_case("i64 x10", [("i64", 10)], other),
        make_case(I_SMALL, [("i", 10)], other, bounds_of={"i": 10**6}),
        make_case(I_2_200, [("i", 10)], other, bounds_of={"i": 2**200}),
        make_case("i x10", [("i", 10)], other),
        make_case("c128 x10", [("c128", 10)], other),
        make_case("d x10", [("d", 10)], other),
        make_case("mix i32 x4, f64 x4, d x2", [("i32", 4), ("f64", 4), ("d", 2)], other),
        # With the default coefficients particles often rest on a bound, so decimal values
        # repeat and their Python objects are reused; with these the swarm converges and
        # nearly every decimal handed to f is a new value.
        make_case("mix, c1 0.7, c2 1.0", [("i32", 4), ("f64", 4), ("d", 2)], other,
                  {"c1": 0.7, "c2": 1.0}),
        make_case("d x10, c1 0.7, c2 1.0", [("d", 10)], other, {"c1": 0.7, "c2": 1.0}),
        converging_d_case(other),
        make_case(I_CONVERGING, [("i", 10)], other, {"c1": 0.7, "c2": 1.0},
                  bounds_of={"i": 2**199}),
    ]


def converging_d_case(n_iters: int) -> dict[str, Any]:
    case = make_case(D_CONVERGING, [("d", 10)], n_iters, {"c1": 0.7, "c2": 1.0})
    case["bounds"] = {"d_min": [Decimal("-1000.000000")] * 10,
                      "d_max": [Decimal("1000.000000")] * 10}
    return case


def received_values(case: dict[str, Any], pso_class: Any, n_particles: int) -> list:
    """Every component value f receives in one search of the case, in order."""
    kind = OBJECT_FLOOR_KIND[case["name"]]
    seen: list = []

    def f(**kw):
        seen.extend(kw[kind])
        return 0.0

    pso_class(n_iters=case["n_iters"], n_particles=n_particles, **case["settings"]).min(
        f, **case["bounds"])
    return seen


def object_floor(kind: str, values: list, smoke: bool) -> float:
    """Seconds to build one Python object of the kind from values like `values`: Decimal(str)
    for decimals, the negation of an int for big integers (a new int of the same size)."""
    sample = values[-2000:]  # from late in the search, where the values are widest
    if kind == "d":
        texts = [str(v) for v in sample]
        stmt = "for t in texts: D(t)"
        names = {"texts": texts, "D": Decimal}
    else:
        stmt = "for v in ints: -v"
        names = {"ints": sample}
    timer = timeit.Timer(stmt, globals=names)
    empty = timeit.Timer("for t in texts: pass", globals={"texts": sample})
    number = 1 if smoke else 20
    best = min(timer.repeat(repeat=3, number=number)) / number
    loop = min(empty.repeat(repeat=3, number=number)) / number
    return max(best - loop, 0.0) / len(sample)


def measure_object_floors(results: list[dict[str, Any]], cases_by_name: dict[str, dict[str, Any]],
                          pso_class: Any, n_particles: int, repeats: int,
                          smoke: bool) -> list[dict[str, Any]]:
    """Per component: the module's overhead against the cost of the Python object it becomes.
    The floor is timed in the same process once for each repeat of the search, after the
    searches, and the k-th floor is paired with the k-th search."""
    rows = []
    for name, kind in OBJECT_FLOOR_KIND.items():
        record = next((r for r in results if r["case"] == name), None)
        if pso_class is None or record is None or "swarmtuner" not in record["runners"]:
            continue
        case = cases_by_name[name]
        values = received_values(case, pso_class, n_particles)
        components = sum(n for _, n in case["layout"])
        overheads = record["runners"]["swarmtuner"]["overhead_s"]["values"]
        per_component, floors, ratios = [], [], []
        for overhead in overheads:
            floor = object_floor(kind, values, smoke)
            per_component.append(overhead / components)
            floors.append(floor)
            ratios.append(overhead / components / floor if floor > 0 else float("nan"))
        rows.append({"case": name, "kind": kind,
                     "object": "Decimal(str)" if kind == "d" else "-x (a new int)",
                     "overhead_per_component_s": summary(per_component),
                     "object_floor_s": summary(floors), "ratio": summary(ratios)})
    return rows


def call_floor(f: Callable, kwargs: dict, smoke: bool = False, direct: bool = False) -> float:
    """Seconds per call of f(**kwargs): the best of three timeit rounds of an automatic loop count.

    With direct, the keywords are spelled out in the call (f(f64=a)) instead of unpacked from a
    dict, which is the cheapest way Python itself can make the call.
    """
    names = {f"arg_{kind}": value for kind, value in kwargs.items()}
    if direct:
        stmt = "f(" + ", ".join(f"{kind}=arg_{kind}" for kind in kwargs) + ")"
    else:
        stmt = "f(**kw)"
    timer = timeit.Timer(stmt, globals={"f": f, "kw": kwargs, **names})
    if smoke:
        return timer.timeit(number=1000) / 1000
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=3, number=number)) / number


def count_evaluations(run: Callable[[Callable], Any], f: Callable) -> int:
    calls = 0

    def counted(**kw):
        nonlocal calls
        calls += 1
        return f(**kw)

    run(counted)
    return calls


def measure(runners: dict[str, Callable[[Callable], Any]], case: dict[str, Any],
            n_particles: int, repeats: int, smoke: bool = False) -> dict[str, Any]:
    """Overhead per evaluation and its ratio to the call floor, for each runner of the case."""
    return measure_interleaved([(case, runners)], n_particles, repeats, smoke)[0]


def measure_interleaved(group: list[tuple[dict[str, Any], dict[str, Callable[[Callable], Any]]]],
                        n_particles: int, repeats: int, smoke: bool = False) -> list[dict[str, Any]]:
    """measure() for several cases at once: each repeat runs every case of the group in turn,
    so that the k-th measurements of two cases were taken under the same machine load."""
    records = []
    for case, runners in group:
        f = case["f"]
        counted = {name: count_evaluations(run, f) for name, run in runners.items()}
        per_runner: dict[str, dict[str, list[float]]] = {
            name: {"search_s": [], "floor_s": [], "overhead_s": [], "ratio": [],
                   "search_cpu_s": [], "ratio_cpu": [], "direct_floor_s": [],
                   "ratio_direct": []}
            for name in runners
        }
        records.append((case, runners, counted, per_runner))
    for _ in range(repeats):
        for case, runners, counted, per_runner in records:
            f = case["f"]
            for name, run in runners.items():
                floor = call_floor(f, case["kwargs"], smoke)
                direct = call_floor(f, case["kwargs"], smoke, direct=True)
                elapsed, cpu, _ = timed(lambda run=run: run(f))
                evals = counted[name]
                overhead = (elapsed - evals * floor) / evals
                rec = per_runner[name]
                rec["search_s"].append(elapsed)
                rec["floor_s"].append(floor)
                rec["overhead_s"].append(overhead)
                rec["ratio"].append(overhead / floor)
                rec["search_cpu_s"].append(cpu)
                rec["ratio_cpu"].append((cpu - evals * floor) / evals / floor)
                rec["direct_floor_s"].append(direct)
                rec["ratio_direct"].append((elapsed - evals * direct) / evals / direct)
    results = []
    for case, _, counted, per_runner in records:
        result: dict[str, Any] = {
            "case": case["name"],
            "layout": case["layout"],
            "n_particles": n_particles,
            "n_iters": case["n_iters"],
            "evaluations_expected": n_particles * (case["n_iters"] + 1),
            "runners": {},
        }
        for name, rec in per_runner.items():
            result["runners"][name] = {
                "evaluations": counted[name],
                **{key: summary(vals) for key, vals in rec.items()},
            }
        results.append(result)
    return results


def overhead_over(results: list[dict[str, Any]], case: str, base: str) -> dict[str, Any] | None:
    """The module's overhead per evaluation in `case` over that in `base`, repeat by repeat
    (meaningful for interleaved cases, whose k-th repeats ran side by side)."""
    by_name = {r["case"]: r["runners"].get("swarmtuner") for r in results}
    if not by_name.get(case) or not by_name.get(base):
        return None
    ratios = [a / b for a, b in zip(by_name[case]["overhead_s"]["values"],
                                     by_name[base]["overhead_s"]["values"])]
    return {"case": case, "base": base, "ratio": summary(ratios)}


def runners_for(case: dict[str, Any], pso_class: Any, n_particles: int) -> dict[str, Callable]:
    runners: dict[str, Callable] = {}
    bounds = case["bounds"]
    if pso_class is not None:
        ours = pso_class(n_iters=case["n_iters"], n_particles=n_particles, **case["settings"])
        runners["swarmtuner"] = lambda f: ours.min(f, **bounds)
    if case["f64_only"]:
        plain = PlainPSO(n_iters=case["n_iters"], n_particles=n_particles, rng=random.Random(1))
        runners["plain"] = lambda f: plain.min(f, **bounds)
    return runners


def replay_check(pso_class: Any) -> dict[str, Any]:
    """Whether the plain-Python baseline, started where the module started, makes the same calls.

    The module's first n_particles calls reveal its random starting positions; from there both
    are deterministic, so every later call must carry the same point. This is what makes the
    baseline a fair "same algorithm written in Python".
    """
    if pso_class is None:
        return {"checked": False}
    n_particles, n_iters = 6, 25
    bounds = {"f64_min": [-5.0, -1.0, 0.0], "f64_max": [5.0, 3.0, 0.5]}

    def recorder(log: list) -> Callable:
        def f(f64):
            log.append(list(f64))
            return sum((v - 0.3) ** 2 for v in f64)
        return f

    ours_calls: list = []
    ours_best = pso_class(n_iters=n_iters, n_particles=n_particles).min(recorder(ours_calls),
                                                                        **bounds)
    plain_calls: list = []
    plain_best = PlainPSO(n_iters=n_iters, n_particles=n_particles).min(
        recorder(plain_calls), initial_positions=ours_calls[:n_particles], **bounds)
    mismatch = next((k for k, (a, b) in enumerate(zip(ours_calls, plain_calls)) if a != b), None)
    same = mismatch is None and len(ours_calls) == len(plain_calls) and ours_best == plain_best
    return {
        "checked": True,
        "calls": [len(ours_calls), len(plain_calls)],
        "same_calls_and_result": same,
        "first_mismatch": mismatch,
    }


def main() -> None:
    args = arg_parser(__doc__.splitlines()[0]).parse_args()
    pso_class, reason = load_swarmtuner()
    n_particles = 5 if args.smoke else N_PARTICLES
    repeats = 1 if args.smoke else 7
    results = []
    interleaved = []
    for case in cases(args.smoke):
        runners = runners_for(case, pso_class, n_particles)
        if not runners:
            continue
        if case["name"] in INTERLEAVED:
            interleaved.append((case, runners))
            # The group is measured where its last member is listed.
            if len(interleaved) == len(INTERLEAVED):
                results += measure_interleaved(interleaved, n_particles, repeats, args.smoke)
        else:
            results.append(measure(runners, case, n_particles, repeats, args.smoke))
    comparisons = [c for c in (overhead_over(results, name, INTERLEAVED[0])
                               for name in INTERLEAVED[1:]) if c]
    object_floors = measure_object_floors(results, {c["name"]: c for c in cases(args.smoke)},
                                          pso_class, n_particles, repeats, args.smoke)
    replay = replay_check(pso_class)
    write_json(args.json, {
        "machine": machine_info(),
        "module_unavailable": reason,
        "repeats": repeats,
        "baseline_replay": replay,
        "cases": results,
        "comparisons": comparisons,
        "object_floors": object_floors,
    })
    if replay["checked"] and not replay["same_calls_and_result"]:
        # The baseline no longer runs the module's algorithm, so its rows compare unlike things.
        sys.exit(f"plain-Python baseline differs from the module: {replay}")


if __name__ == "__main__":
    main()
