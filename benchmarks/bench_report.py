"""Gathers the benchmark outputs into out/results.json and renders them as a Markdown report."""

from __future__ import annotations

import argparse
import datetime
import json
import math
from pathlib import Path
from typing import Any

from bench_common import OUT_DIR, machine_info, package_versions, write_json

SECTIONS = ["overhead", "peers", "memory", "scaling", "core_bench"]
# bench_floor.py writes floor.json in the benchmark environment and floor-<version>.json for
# each further interpreter.
FLOOR_GLOB = "floor*.json"
PROBLEM_NAMES = ["sphere", "rastrigin"]


def load(path: Path) -> Any:
    if not path.exists():
        return None
    try:
        return json.loads(path.read_text(encoding="utf-8"))
    except json.JSONDecodeError as exc:
        return {"error": f"unreadable {path.name}: {exc}"}


# ---------------------------------------------------------------------------------------------
# Formatting


def t(seconds: float | None) -> str:
    """A duration with a unit that keeps three significant digits readable."""
    if seconds is None or (isinstance(seconds, float) and math.isnan(seconds)):
        return "n/a"
    a = abs(seconds)
    if a >= 1.0:
        return f"{seconds:.3g} s"
    if a >= 1e-3:
        return f"{seconds * 1e3:.3g} ms"
    if a >= 1e-6:
        return f"{seconds * 1e6:.3g} µs"
    return f"{seconds * 1e9:.3g} ns"


def x(ratio: float | None, digits: int = 3) -> str:
    if ratio is None:
        return "n/a"
    return f"{ratio:.{digits}g}"


def spread(s: dict | None, fmt=t) -> str:
    """median [min – max] of a summary, or just the median when there was one sample."""
    if not s or s.get("median") is None:
        return "n/a"
    if s["n"] == 1:
        return fmt(s["median"])
    return f"{fmt(s['median'])} [{fmt(s['min'])} – {fmt(s['max'])}]"


def b(n: float | None) -> str:
    if n is None:
        return "n/a"
    return f"{n / 1e6:.1f} MB"


def g(v: Any) -> str:
    if v is None:
        return "n/a"
    if isinstance(v, float):
        return f"{v:.4g}"
    return str(v)


def table(header: list[str], rows: list[list[str]]) -> list[str]:
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    out += ["| " + " | ".join(r) + " |" for r in rows]
    return out


# ---------------------------------------------------------------------------------------------
# Sections


def cpu_object_ratio(data: dict, row: dict) -> float | None:
    """The median over repeats of the overhead per component taken from the search's process
    CPU time (which other processes sharing the cores do not stretch) over the object floor."""
    case = next((c for c in data.get("cases", []) if c["case"] == row["case"]), None)
    ours = (case or {}).get("runners", {}).get("swarmtuner")
    if not ours or "search_cpu_s" not in ours:
        return None
    evals = ours["evaluations"]
    components = sum(n for _, n in case["layout"])
    ratios = [(cpu - evals * floor) / evals / components / obj
              for cpu, floor, obj in zip(ours["search_cpu_s"]["values"], ours["floor_s"]["values"],
                                         row["object_floor_s"]["values"]) if obj > 0]
    return sorted(ratios)[len(ratios) // 2] if ratios else None


def n(v: float | None) -> str:
    """An instruction count, whole."""
    return "n/a" if v is None else f"{v:,.0f}"


def counted_ratio(row: dict) -> str:
    """The instruction ratio of a floor row over all its counted searches, with its range over
    the single searches when there were several."""
    ratio = (row.get("instructions") or {}).get("ratio")
    each = (row.get("instructions_spread") or {}).get("ratio") or {}
    if ratio is None or each.get("n", 0) < 2:
        return x(ratio)
    return f"{x(ratio)} [{x(each['min'])} – {x(each['max'])}]"


def version_key(doc: dict) -> tuple[int, ...]:
    return tuple(int(p) for p in doc.get("python", "0").split(".") if p.isdigit())


def floor_section(docs: list[dict]) -> list[str]:
    lines = ["## 1. Overhead against the call the module makes, per object it builds", ""]
    if not docs:
        return lines + ["Not run.", ""]
    first = docs[0]
    lines += [
        f"C-level measures. Each case is a converging search ({first['n_particles']} particles, "
        f"{first['n_iters']} sweeps, c1 {first['settings']['c1']}, c2 "
        f"{first['settings']['c2']}) whose f returns 0. Overhead = the search less the calls "
        "of f it made, made again by the benchmark's own extension (`floor_ext/call_floor.c`, "
        "compiled by `bench_floor.py`) exactly as the module makes them: by vectorcall with "
        "the tuple of keyword names and no dict, on the very lists f received. Floor = what "
        "an extension pays at least for the fresh objects f receives, built by the same "
        "extension: `PyNumber_Negative` of each value f received (a new object of its type "
        "and size), or `Decimal(str)` through `PyObject_CallOneArg` for the decimal kind; "
        "the lists holding them are not counted, except in the row of one f64, which is "
        "per evaluation against a fresh list holding one float. Both are per component "
        "(per evaluation for that row). Ratio = overhead / floor, beside its target. "
        "Instructions are counted by callgrind (the machine's load does not change them) "
        f"over {first['rows'][0].get('searches', 1) if first.get('rows') else 1} searches "
        "of each case, each from its own random start and in a process of its own: the "
        "ratio of their sums, and in brackets the range of the single searches' ratios (the "
        "values, and so the objects of the floor, depend on where the swarm converges). A "
        "process of its own, because the counts depend on the state of CPython's "
        "small-object allocator: a search that meets the heap an earlier search left can "
        "find a pool that every evaluation empties and refills, which was seen to add about "
        "40 instructions per int component and 450 per evaluation of ten f64 components. "
        f"Times: {first.get('repeats', 1)} repeat(s), each timing every phase "
        f"{first.get('passes', 1)} time(s) and keeping its shortest; each ratio is taken "
        "within one repeat, median [min – max]. Process CPU time, which other processes "
        "sharing the cores do not stretch, is the steadier figure on a shared machine; wall "
        "time is shown beside it. A time ratio also differs from the instruction ratio where "
        "the search and the floor run at different instructions per cycle.",
        "",
    ]
    docs = sorted(docs, key=version_key)
    names = [r["case"] for r in docs[0].get("rows", [])]
    header = ["case", "target"]
    for doc in docs:
        header += [f"{doc['python']}: instructions", f"{doc['python']}: CPU time"]
    rows = []
    for name in names:
        row = next(r for r in docs[0]["rows"] if r["case"] == name)
        cells = [name, row["target_text"]]
        for doc in docs:
            mine = next((r for r in doc.get("rows", []) if r["case"] == name), {})
            cells.append(counted_ratio(mine))
            cells.append(spread((mine.get("cpu_time") or {}).get("ratio"), x))
        rows.append(cells)
    lines += ["Overhead / floor:", ""] + table(header, rows) + [""]
    for doc in docs:
        lines += floor_detail(doc)
    return lines


def floor_detail(doc: dict) -> list[str]:
    lines = [f"### CPython {doc['python']}", ""]
    for key, what in (("module_unavailable", "swarmtuner"),
                      ("extension_unavailable", "the benchmark extension"),
                      ("count_unavailable", "the callgrind counts")):
        if doc.get(key):
            lines += [f"Not measured, {what}: {doc[key]}.", ""]
    rows = []
    python_rows = []
    for r in doc.get("rows", []):
        i = r.get("instructions") or {}
        tm = r.get("time") or {}
        ct = r.get("cpu_time") or {}
        per = "eval" if r["per_evaluation"] else "component"
        rows.append([
            r["case"], f"{r.get('searches', 1)} x {r['evaluations']:,} x {r['components']}",
            n(i.get("search_per_eval")), n(i.get("call_per_eval")),
            n(i.get("overhead_per_component")) + f" / {per}",
            n(i.get("listed_floor_per_eval") if r["per_evaluation"]
              else i.get("floor_per_component")),
            counted_ratio(r),
            t((ct.get("overhead_per_component") or {}).get("median")),
            t((ct.get("listed_floor_per_eval" if r["per_evaluation"]
                      else "floor_per_component") or {}).get("median")),
            spread(ct.get("ratio"), x),
            spread(tm.get("ratio"), x),
        ])
        py = i.get("python")
        if py:
            python_rows.append([r["case"], n(py["call_per_eval"]), n(py.get("spelled_call_per_eval")),
                                n(py["overhead_per_component"]), n(py["floor_per_component"]),
                                x(py["ratio"])])
    lines += table(["case", "counted searches x evaluations x components",
                    "search, instructions / eval",
                    "the module's call of f, instructions / eval", "overhead, instructions",
                    "floor, instructions", "overhead / floor (instructions)",
                    "overhead, CPU time", "floor, CPU time", "overhead / floor (CPU time)",
                    "overhead / floor (wall time)"], rows)
    one = next((r for r in doc.get("rows", []) if r["per_evaluation"]
                and (r.get("instructions") or {}).get("ratio_to_one_object")), None)
    notes = []
    if one:
        i = one["instructions"]
        notes.append(f"{one['case']}: the overhead per evaluation is "
                     f"{x(i['ratio_to_one_object'])}× one float ({n(i['floor_per_component'])} "
                     f"instructions) and {x(i['ratio'])}× a fresh list holding one float "
                     f"({n(i['listed_floor_per_eval'])}).")
    every = next((r for r in doc.get("rows", []) if len(r.get("kinds", [])) > 3
                  and (r.get("instructions") or {}).get("floor_by_kind")), None)
    if every:
        notes.append("The floor of each kind, instructions per object (" + every["case"] + "): "
                     + ", ".join(f"{k} {n(v)}" for k, v in
                                 every["instructions"]["floor_by_kind"].items()) + ".")
    if notes:
        lines += [""] + notes
    if python_rows:
        lines += ["", "Python-level measures of the same searches, counted by callgrind: a "
                  "call `f(**kw)` from Python with prebuilt keyword lists (what section 2's "
                  "ratios subtract and divide by), the same call with the keywords spelled "
                  "out, each less its bare loop; the overhead over `f(**kw)` per component, "
                  "and the Python-level floor, the same objects built by a Python loop (`-x`, "
                  "`Decimal(str)`) less its bare loop.", ""]
        lines += table(["case", "f(**kw), instructions", "f(k=list), instructions",
                        "overhead over f(**kw) / component", "Python-level floor / component",
                        "ratio"], python_rows)
    return lines + [""]


def overhead_section(data: dict | None) -> list[str]:
    lines = ["## 2. Overhead per evaluation against Python-level calls (timed)", ""]
    if not data:
        return lines + ["Not run.", ""]
    lines += [
        "Python-level measures, timed. "
        "A search with an objective that only returns `0.0`. Overhead per evaluation = (search "
        "time − evaluations × call floor) / evaluations, where the call floor is one `f(**kw)` "
        "call timed with `timeit` on prebuilt keyword lists of the same kinds and lengths. "
        "Ratio = overhead / call floor, taken within each repeat; the CPU-time column does "
        "the same subtraction with the search's process CPU time, which another process "
        "sharing the core does not stretch. The direct call floor times `f(f64=a)` with "
        "the keywords spelled out, Python's cheapest way to make the same call; `f(**kw)` "
        "also pays for unpacking the dict, which a caller holding the keyword names (as "
        "the module may) avoids, so the overhead over `f(**kw)` can come out near zero or "
        "below. "
        f"{data.get('repeats')} repeat(s); median [min – max]. `plain` is the plain-Python "
        "version of the same algorithm (f64 only). The garbage collector is paused while "
        "timing, as `timeit` pauses it. Searches use the default settings (c1 = c2 = 2.0, "
        "inertia 0.5), under which particles often rest on a bound, so decimal values repeat "
        "and the module hands f the same decimal.Decimal object again; the cases named "
        "with c1 0.7, c2 1.0 converge instead, and nearly every decimal they hand f is a "
        "new value that costs one decimal.Decimal construction.",
        "",
    ]
    if data.get("module_unavailable"):
        lines += [f"swarmtuner: not measured ({data['module_unavailable']}).", ""]
    replay = data.get("baseline_replay") or {}
    if replay.get("checked"):
        verdict = ("makes the same calls, in the same order, and returns the same result"
                   if replay["same_calls_and_result"]
                   else f"DIFFERS from the module (first differing call: "
                        f"{replay['first_mismatch']}, calls {replay['calls']})")
        lines += ["Baseline check: started from the module's own starting positions, the "
                  f"plain-Python version {verdict}.", ""]
    rows = []
    for c in data.get("cases", []):
        ours = c["runners"].get("swarmtuner")
        plain = c["runners"].get("plain")
        floor = (ours or plain)["floor_s"]
        rows.append([
            c["case"],
            f"{c['n_particles']} x {c['n_iters'] + 1}",
            str(ours["evaluations"] if ours else plain["evaluations"]),
            t(floor["median"]),
            spread(ours["overhead_s"]) if ours else "n/a",
            spread(ours["ratio"], x) if ours else "n/a",
            x(ours["ratio_cpu"]["median"]) if ours and "ratio_cpu" in ours else "n/a",
            t(ours["direct_floor_s"]["median"]) if ours and "direct_floor_s" in ours else "n/a",
            x(ours["ratio_direct"]["median"]) if ours and "ratio_direct" in ours else "n/a",
            spread(plain["overhead_s"]) if plain else "—",
            spread(plain["ratio"], x) if plain else "—",
        ])
    lines += table(["case", "particles x evaluations each", "evaluations (counted)",
                    "call floor", "swarmtuner overhead / eval", "swarmtuner overhead / floor",
                    "same, from CPU time", "direct call floor", "overhead / direct floor",
                    "plain overhead / eval", "plain overhead / floor"],
                   rows)
    comparisons = data.get("comparisons") or []
    if comparisons:
        lines += ["", "Big integers against i64: the cases below ran interleaved with their "
                  "base, one of each per repeat, and each ratio is taken within one repeat. "
                  "The small case hands the search the very values of the i64 case.", ""]
        lines += table(["case", "base", "overhead / base overhead"],
                       [[c["case"], c["base"], spread(c["ratio"], x)] for c in comparisons])
    floors = data.get("object_floors") or []
    if floors:
        lines += ["", "The exact kinds against the Python objects they become, per component: "
                  "the overhead per evaluation of the converging case divided by its "
                  "components, and the time to build one such object in the same process "
                  "(`Decimal(str)` of the decimals f received; `-x` of the ints f received, "
                  "which makes a new int of the same size), less the bare loop. Each ratio "
                  "pairs the k-th search with the k-th floor.", ""]
        lines += table(["case", "object", "overhead / component", "object floor",
                        "overhead / object floor", "same, from CPU time"],
                       [[r["case"], r["object"], spread(r["overhead_per_component_s"]),
                         spread(r["object_floor_s"]), spread(r["ratio"], x),
                         x(cpu_object_ratio(data, r))] for r in floors])
    return lines + [""]


def peers_section(data: dict | None) -> list[str]:
    lines = ["## 3. Against other libraries", ""]
    if not data:
        return lines + ["Not run.", ""]
    s = data["settings"]
    lines += [
        f"Sphere and Rastrigin in {s['dims']} dimensions on [−5.12, 5.12], {s['n']} particles, "
        f"{s['iters']} iterations, {s['runs']} runs per library and problem. Every library "
        "minimises the same pure-Python body on a list (a peer converts its numpy row with "
        "`.tolist()`); evaluations are counted by a wrapper that every body goes through. "
        f"Shared settings where a library lets them be set: inertia {s['inertia']}, both "
        f"coefficients {s['c1']}, velocity limit {s['max_v']} × bound width, global-best "
        "topology, positions clipped into the bounds. Each peer runs in its own process "
        "with swarmtuner alternating with it, so each ratio comes from the same process; "
        "ratio = median of the per-run ratios swarmtuner time / peer time (below 1: "
        "swarmtuner is faster). The per-evaluation ratio corrects for differing budgets; the "
        "CPU ratio compares process CPU times of the same runs. "
        "'numpy objective' rows give the peer its own fastest form of the objective "
        "(numpy on the point or on the whole swarm); swarmtuner still runs the Python body.",
        "",
    ]
    rows = []
    notes = []
    unavailable = None
    for peer, pd in data["peers"].items():
        if "error" in pd:
            rows.append([peer, "", "", f"failed: {pd['error'][:200]}"] + [""] * 7)
            continue
        unavailable = unavailable or pd.get("module_unavailable")
        notes.append(f"- **{peer}**: {pd['notes']}.")
        for r in pd["rows"]:
            if "error" in r:
                rows.append([peer, r["mode"], r["problem"],
                             "failed: " + r["error"].strip().splitlines()[-1][:200]] + [""] * 7)
                continue
            rows.append([
                peer, r["mode"], r["problem"],
                f"{r['peer_evaluations']} / {g(r['ours_evaluations'])}",
                spread(r["peer_time_s"]),
                spread(r["ours_time_s"]),
                spread(r["ratio_ours_over_peer"], x),
                x(r.get("per_eval_ratio_ours_over_peer")),
                x((r.get("cpu_ratio_ours_over_peer") or {}).get("median")),
                g(r["peer_best"]["median"]),
                g(r["ours_best"]["median"]),
            ])
    if unavailable:
        lines += [f"swarmtuner: not measured ({unavailable}); peers only.", ""]
    lines += table(["library", "objective", "problem", "evaluations peer / ours",
                    "peer time", "swarmtuner time", "swarmtuner / peer (wall)",
                    "swarmtuner / peer (per eval)", "swarmtuner / peer (CPU)", "peer median best",
                    "swarmtuner median best"], rows)
    overhead_rows = [
        [peer, r["problem"], t(r["peer_objective_s"]), t(r["ours_objective_s"]),
         spread(r["peer_overhead_per_eval_s"]), spread(r["ours_overhead_per_eval_s"]),
         spread(r["overhead_ratio_ours_over_peer"], x)]
        for peer, pd in data["peers"].items() if "error" not in pd
        for r in pd["rows"] if "overhead_ratio_ours_over_peer" in r
    ]
    if overhead_rows:
        lines += ["", "Framework overhead per evaluation on the python-objective rows: time per "
                  "evaluation less the cost of the objective each library was handed, called "
                  "as that library calls it (swarmtuner and plain: `f(f64=list)`; pygmo: the "
                  "problem's `fitness(row)`; pyswarm and sko: `f(row)`, which converts the "
                  "numpy row with `.tolist()`; pyswarms: `f(swarm)` over 30 rows, divided by "
                  "30), timed with `timeit` in the same process on a point inside the bounds. "
                  "The conversion a peer's objective makes is charged to the objective, not to "
                  "the peer. Ratio = median of the per-run ratios.", ""]
        lines += table(["library", "problem", "peer's objective", "swarmtuner's objective",
                        "peer overhead / eval", "swarmtuner overhead / eval",
                        "swarmtuner / peer overhead"], overhead_rows)
    lines += counted_peers(data.get("counted"))
    versions = data.get("versions", {})
    coeffs = (data.get("coefficients") or {}).get("rows")
    if coeffs:
        lines += ["", "swarmtuner's velocity update has no random factors, so both pulls act at "
                  "full strength on every step (the peers draw factors in [0, 1], halving them "
                  "on average). Its median best value on the same problems and budget, by "
                  "coefficient setting (max_v 0.2):", ""]
        lines += table(["c1 = c2", "inertia", *PROBLEM_NAMES],
                       [[g(r["c1"]), g(r["inertia"]), *(g(r[p]) for p in PROBLEM_NAMES)]
                        for r in coeffs])
    lines += ["", "Versions: " + ", ".join(f"{k} {v}" for k, v in versions.items()) + ".", ""]
    lines += notes + [""]
    return lines


# The aim for the module's framework overhead against each peer's, where there is one.
PEER_OVERHEAD_TARGETS = {"pygmo": 0.15}


def counted_peers(data: dict | None) -> list[str]:
    if not data:
        return []
    st = data["settings"]
    lines = ["", f"Framework overhead per evaluation counted by callgrind ({st['dims']} "
             f"dimensions, {st['n']} particles, {st['iters']} iterations, inertia "
             f"{st['inertia']}, c1 = c2 = {st['c1']}, velocity limit {st['max_v']} × bound width "
             "where it can be set; python objective): a run less the calls of the objective it "
             "made, made again as the library made them on the same points (swarmtuner: by "
             "the benchmark extension, by vectorcall with the keyword names; a peer: by Python, "
             "less the bare loop), per evaluation. One run of each, in one process per peer.",
             ""]
    if data.get("unavailable"):
        return lines + [f"Not measured: {data['unavailable']}.", ""]
    rows = []
    for peer, pd in data["peers"].items():
        if "error" in pd:
            rows.append([peer, f"failed: {pd['error'][-300:]}", "", "", "", ""])
            continue
        for r in pd["rows"]:
            target = PEER_OVERHEAD_TARGETS.get(peer)
            rows.append([peer, r["problem"], n(r["ours_overhead_per_eval"]),
                         n(r["peer_overhead_per_eval"]), x(r["ratio_ours_over_peer"], 2),
                         f"≤ {target:g}" if target else "—"])
    return lines + table(["library", "problem", "swarmtuner overhead, instructions / eval",
                          "peer overhead, instructions / eval", "swarmtuner / peer", "target"],
                         rows)


def memory_section(data: dict | None) -> list[str]:
    lines = ["## 4. Memory", ""]
    if not data:
        return lines + ["Not run.", ""]
    lg = data["large"]
    fit = data.get("per_particle") or {}
    if "fixed_bytes" in fit:
        lines += [
            "Bytes per particle, measured from the " + fit["method"] + ". "
            f"Fit: {fit['fixed_bytes']:.0f} bytes fixed + {fit['per_component_bytes']:.1f} "
            f"bytes per f64 component (largest residual {fit['max_fit_residual_bytes']:.1f} "
            "bytes).",
            "",
        ]
        lines += table(["f64 components", "bytes per particle"],
                       [[str(p["dims"]), f"{p['bytes_per_particle']:.1f}"]
                        for p in fit["points"]])
        lines += [""]
    elif fit:
        lines += [f"Bytes per particle not measured: {fit.get('error', '')[:200]}", ""]
    expected = lg.get("expected_swarmtuner_bytes")
    lines += [
        f"One search of {lg['n_particles']:,} particles x {lg['dims']} f64 dimensions, "
        f"{lg['n_iters']} sweep(s), trivial objective, in a fresh process. Peak increase = "
        "ru_maxrss after the search − resident set just before it. The particles' numbers "
        f"(positions, velocities, best positions: 3 x {lg['n_particles']:,} x {lg['dims']} x "
        f"8 bytes) take {b(lg['particle_number_bytes'])}"
        + (f"; the measured bytes per particle above give {b(expected)}." if expected else "."),
        "",
    ]
    rows = []
    for lib, r in lg["libs"].items():
        if "error" in r:
            rows.append([lib, f"not measured: {r['error'][:200]}", "", ""])
            continue
        inc = r["search_peak_increase"]
        rows.append([lib, b(inc), x(inc / lg["particle_number_bytes"]),
                     x(inc / expected) if lib == "swarmtuner" and expected else "—"])
    lines += table(["library", "peak increase", "÷ particle numbers",
                    "÷ fitted per-particle bytes"], rows)
    lines += ["", "Resident memory over repeated small searches (5 particles, 5 sweeps, "
              "alternating min and max; 'all' uses every element kind). Growth is measured "
              "from the first tenth of the searches (warm-up) to the end; allocated blocks "
              "are CPython's own object count (sys.getallocatedblocks).", ""]
    rows = []
    for kinds, r in data["repeated"].items():
        if "error" in r:
            rows.append([kinds, "", f"not measured: {r['error'][:200]}", "", ""])
            continue
        n = r["searches_after_warmup"]
        rows.append([kinds, f"{r['searches']:,}", f"{r['rss_growth_after_warmup'] / 1024:.0f} KiB",
                     f"{r['rss_growth_after_warmup'] / max(n, 1):.1f} B",
                     str(r["blocks_growth_after_warmup"])])
    lines += table(["kinds", "searches", "RSS growth after warm-up", "per search",
                    "allocated blocks growth"], rows)
    return lines + [""]


def scaling_section(data: dict | None) -> list[str]:
    lines = ["## 5. Scaling", ""]
    if not data:
        return lines + ["Not run.", ""]
    lines += ["Overhead per evaluation as the f64 dimensions grow (trivial objective, "
              "measured as in section 2):", ""]
    rows = []
    for c in data["dims"]:
        ours = c["runners"].get("swarmtuner")
        plain = c["runners"].get("plain")
        d = c["layout"][0][1]
        rows.append([
            str(d), t((ours or plain)["floor_s"]["median"]),
            spread(ours["overhead_s"]) if ours else "n/a",
            t(ours["overhead_s"]["median"] / d) if ours else "n/a",
            spread(ours["ratio"], x) if ours else "n/a",
            spread(plain["overhead_s"]) if plain else "n/a",
            t(plain["overhead_s"]["median"] / d) if plain else "n/a",
        ])
    lines += table(["f64 dims", "call floor", "swarmtuner overhead / eval",
                    "… per dimension", "swarmtuner overhead / floor", "plain overhead / eval",
                    "… per dimension"], rows)
    lines += ["", "Search time as particles x sweeps grows (10 f64 dimensions, trivial "
              "objective, call time included):", ""]
    rows = []
    for r in data["budget"]:
        ours = r["runners"].get("swarmtuner")
        plain = r["runners"].get("plain")
        rows.append([
            f"{r['n_particles']} x {r['n_iters']}", f"{r['evaluations']:,}",
            spread(ours["time_s"]) if ours else "n/a",
            t(ours["per_eval_s"]["median"]) if ours else "n/a",
            spread(plain["time_s"]) if plain else "n/a",
            t(plain["per_eval_s"]["median"]) if plain else "n/a",
        ])
    lines += table(["particles x sweeps", "evaluations", "swarmtuner time",
                    "swarmtuner per eval", "plain time", "plain per eval"], rows)
    return lines + [""]


def core_section(data: dict | None, skipped: str | None) -> list[str]:
    lines = ["## 6. Numeric core (C++ micro-benchmarks)", ""]
    if not data:
        return lines + [f"Skipped: {skipped or 'no output'}.", ""]
    ctx = data.get("context", {})
    lines += ["`swarmtuner_core_bench` (Google Benchmark; the numeric core built as Release; "
              f"the benchmark library itself reports {ctx.get('library_build_type', '?')}), "
              f"{ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz.", ""]
    rows = []
    for bm in data.get("benchmarks", []):
        if bm.get("run_type") == "aggregate" and bm.get("aggregate_name") != "median":
            continue
        unit = bm.get("time_unit", "ns")
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}.get(unit, 1e-9)
        ips = bm.get("items_per_second")
        rows.append([bm["name"], t(bm["real_time"] * scale), t(bm["cpu_time"] * scale),
                     str(bm.get("iterations", "")), f"{ips:.3g}" if ips else ""])
    lines += table(["benchmark", "time", "CPU", "iterations", "items/s"], rows)
    return lines + [""]


# ---------------------------------------------------------------------------------------------


def headline(results: dict) -> list[str]:
    """The few numbers worth reading first."""
    out = []
    for doc in sorted(results.get("floor") or [], key=version_key):
        parts = [f"{r['case']} {x(r['instructions']['ratio'])} (target {r['target']:g})"
                 for r in doc.get("rows", []) if r.get("instructions")]
        if parts:
            out.append(f"- Overhead / C-level floor, callgrind, CPython {doc['python']}: "
                       + "; ".join(parts) + ".")
    counted = ((results.get("peers") or {}).get("counted") or {}).get("peers") or {}
    parts = [f"{peer} ({r['problem']}): {x(r['ratio_ours_over_peer'], 2)}"
             for peer, pd in counted.items() if "rows" in pd for r in pd["rows"]]
    if parts:
        out.append("- swarmtuner / peer framework overhead per evaluation, callgrind: "
                   + "; ".join(parts) + ".")
    ov = results.get("overhead") or {}
    parts = []
    for c in ov.get("cases", []):
        ours = c["runners"].get("swarmtuner")
        if ours:
            parts.append(f"{c['case']}: {x(ours['ratio']['median'])}")
    if parts:
        out.append("- Overhead / call floor (median): " + "; ".join(parts) + ".")
    parts = [f"{c['case']} / {c['base']}: {x(c['ratio']['median'])}"
             for c in ov.get("comparisons") or []]
    if parts:
        out.append("- Overhead per evaluation over that of the base, same repeat (median): "
                   + "; ".join(parts) + ".")
    parts = [f"{r['case']}: {x(r['ratio']['median'])}" for r in ov.get("object_floors") or []]
    if parts:
        out.append("- Overhead per component over building its Python object (median): "
                   + "; ".join(parts) + ".")
    pe = results.get("peers") or {}
    parts = []
    for peer, pd in (pe.get("peers") or {}).items():
        for r in pd.get("rows", []):
            if "error" not in r and r["ratio_ours_over_peer"].get("median") is not None:
                parts.append(f"{peer} ({r['mode']}, {r['problem']}): "
                             f"{x(r['ratio_ours_over_peer']['median'])}")
    if parts:
        out.append("- swarmtuner / peer wall time (median): " + "; ".join(parts) + ".")
    over = [f"{peer} ({r['problem']}): {x(r['overhead_ratio_ours_over_peer']['median'])}"
            for peer, pd in (pe.get("peers") or {}).items() if "error" not in pd
            for r in pd["rows"] if "overhead_ratio_ours_over_peer" in r]
    if over:
        out.append("- swarmtuner / peer framework overhead per evaluation (python objective, "
                   "median): " + "; ".join(over) + ".")
    mem = results.get("memory") or {}
    lg = (mem.get("large") or {}).get("libs", {}).get("swarmtuner")
    if lg and "error" not in lg:
        out.append(f"- Large search peak increase: {b(lg['search_peak_increase'])} for "
                   f"{b(mem['large']['particle_number_bytes'])} of particle numbers.")
    for kinds, r in (mem.get("repeated") or {}).items():
        if "error" not in r:
            out.append(f"- RSS growth over {r['searches']:,} small searches ({kinds}): "
                       f"{r['rss_growth_after_warmup'] / 1024:.0f} KiB.")
    return out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--out", type=Path, default=OUT_DIR)
    parser.add_argument("--markdown", type=Path, required=True)
    parser.add_argument("--command", default="benchmarks/run.sh")
    parser.add_argument("--revision", default="unknown", help="the commit that was measured")
    parser.add_argument("--core-skipped", default=None, help="why the C++ benchmarks did not run")
    parser.add_argument("--failed", nargs="*", default=[], help="benchmark steps that failed")
    args = parser.parse_args()

    results: dict[str, Any] = {
        "mode": "smoke" if args.smoke else "full",
        "revision": args.revision,
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "machine": machine_info(),
        "versions": package_versions(["swarmtuner", "pygmo", "pyswarm", "pyswarms",
                                      "scikit-opt", "numpy"]),
        "failed_steps": args.failed,
        "core_skipped": args.core_skipped,
    }
    for name in SECTIONS:
        results[name] = load(args.out / f"{name}.json")
    results["floor"] = [doc for doc in (load(path) for path in sorted(args.out.glob(FLOOR_GLOB)))
                        if isinstance(doc, dict) and "rows" in doc]
    write_json(args.out / "results.json", results)

    m = results["machine"]
    lines = [
        "# swarmtuner benchmarks",
        "",
        f"Produced by `{args.command}` ({results['mode']} run) on {results['date']}, "
        f"measuring the module as of commit {args.revision}.",
        "",
        f"Machine: {m['cpu']}, {m['cores']} cores, {m['memory_gib']} GiB, {m['os']}; "
        f"{m['implementation']} {m['python']}. Times are wall-clock medians with [min – max] "
        "over the repeats; nothing here is asserted, the numbers are only reported.",
        "",
    ]
    loads = [f"{name} {results[name]['machine']['load_average'][0]}"
             for name in SECTIONS
             if isinstance(results[name], dict) and "load_average" in
             (results[name].get("machine") or {})]
    loads += [f"floor on {doc['python']} {doc['machine']['load_average'][0]}"
              for doc in results["floor"] if "load_average" in (doc.get("machine") or {})]
    if loads:
        lines += ["One-minute load average at the end of each section (the machine has "
                  f"{m['cores']} cores; above that, other work shared them): "
                  + ", ".join(loads) + ".", ""]
    if args.failed:
        lines += [f"Steps that failed: {', '.join(args.failed)}.", ""]
    head = headline(results)
    if head:
        lines += ["## Headline", "", *head, ""]
    lines += floor_section(results["floor"])
    lines += overhead_section(results["overhead"])
    lines += peers_section(results["peers"])
    lines += memory_section(results["memory"])
    lines += scaling_section(results["scaling"])
    lines += core_section(results["core_bench"], args.core_skipped)
    args.markdown.write_text("\n".join(lines), encoding="utf-8")


if __name__ == "__main__":
    main()
