"""Memory of a search: the peak of one large swarm, and resident memory over many small searches.

Each measurement runs in a fresh interpreter. The bytes a particle costs are measured: large f64
searches that differ only in their number of particles, at several numbers of components, fitted
to fixed + per component * components. The large search's peak resident set (ru_maxrss) is set
against the bytes that its particles must hold; the repeated small searches sample the resident
set as they go, and a search that leaks shows as growth after the warm-up.
"""

from __future__ import annotations

import gc
import json
import resource
import subprocess
import sys
import tempfile
from decimal import Decimal
from pathlib import Path
from typing import Any

from bench_common import arg_parser, load_swarmtuner, machine_info, write_json

PAGE = resource.getpagesize()

# The bytes per particle are measured, not computed: the peak increase of large f64 searches
# that differ only in their number of particles gives the bytes one more particle costs, and
# that cost at several numbers of components is fitted to fixed + per_component * components.
# A swarm's own fixed cost (the sampler, the bounds, the interpreter's first call) cancels in
# the difference of particle counts.
FIT_PARTICLES = (20_000, 100_000)
FIT_DIMS = (1, 10, 50)
SMOKE_FIT_PARTICLES = (2_000, 10_000)
SMOKE_FIT_DIMS = (1, 10)


def current_rss() -> int:
    with open("/proc/self/statm", encoding="ascii") as fh:
        return int(fh.read().split()[1]) * PAGE


def peak_rss() -> int:
    # ru_maxrss is in KiB on Linux.
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def reset_high_water_mark() -> bool:
    """Restarts the kernel's peak resident set (VmHWM), so the import's peak does not hide the search's."""
    try:
        with open("/proc/self/clear_refs", "w", encoding="ascii") as fh:
            fh.write("5")
        return True
    except OSError:
        return False


def high_water_mark() -> int | None:
    try:
        with open("/proc/self/status", encoding="ascii") as fh:
            for line in fh:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None


# ---------------------------------------------------------------------------------------------
# Workers


def big_worker(lib: str, particles: int, dims: int, iters: int) -> dict[str, Any]:
    if lib == "swarmtuner":
        pso_class, reason = load_swarmtuner()
        if pso_class is None:
            return {"error": reason}
        pso = pso_class(n_iters=iters, n_particles=particles)
    else:
        from plain_pso import PlainPSO  # noqa: PLC0415

        pso = PlainPSO(n_iters=iters, n_particles=particles)
    lower, upper = [-5.0] * dims, [5.0] * dims

    def f(f64):
        return 0.0

    gc.collect()
    was_reset = reset_high_water_mark()
    rss_before, peak_before = current_rss(), peak_rss()
    pso.min(f, f64_min=lower, f64_max=upper)
    peak_after = peak_rss()
    hwm_after = high_water_mark()
    gc.collect()
    rss_after = current_rss()
    # ru_maxrss says how high the search went when it passed every earlier peak, which a large
    # swarm does; the restarted VmHWM says it in every case.
    new_peak = peak_after > peak_before
    if new_peak or not was_reset or hwm_after is None:
        increase = peak_after - rss_before
    else:
        increase = hwm_after - rss_before
    return {
        "rss_before": rss_before,
        "ru_maxrss_before": peak_before,
        "ru_maxrss_after": peak_after,
        "vmhwm_after_reset": hwm_after if was_reset else None,
        "rss_after": rss_after,
        "search_peak_increase": increase,
        "ru_maxrss_increase": peak_after - rss_before if new_peak else None,
    }


def small_space(kinds: str) -> dict[str, list]:
    if kinds == "f64":
        return {"f64_min": [-5.0, -5.0], "f64_max": [5.0, 5.0]}
    return {
        "i8_min": [-10], "i8_max": [10],
        "i16_min": [-1000], "i16_max": [1000],
        "i32_min": [-10**6], "i32_max": [10**6],
        "i64_min": [-10**12], "i64_max": [10**12],
        "i128_min": [-10**30], "i128_max": [10**30],
        "i_min": [-10**40], "i_max": [10**40],
        "f32_min": [-1.0], "f32_max": [1.0],
        "f64_min": [-5.0, -5.0], "f64_max": [5.0, 5.0],
        "c64_min": [complex(-1, -1)], "c64_max": [complex(1, 1)],
        "c128_min": [complex(-1, -1)], "c128_max": [complex(1, 1)],
        "d_min": [Decimal("-100.00")], "d_max": [Decimal("100.00")],
    }


def repeat_worker(kinds: str, count: int) -> dict[str, Any]:
    pso_class, reason = load_swarmtuner()
    if pso_class is None:
        return {"error": reason}
    pso = pso_class(n_iters=5, n_particles=5)
    space = small_space(kinds)

    # A value that changes with the point, so bests are replaced and values negated.
    def f(f64, **_):
        return f64[0] * f64[0] + f64[1]

    samples = []
    step = max(count // 10, 1)
    for k in range(count):
        if k % 2:
            pso.max(f, **space)
        else:
            pso.min(f, **space)
        if (k + 1) % step == 0:
            gc.collect()
            samples.append({"searches": k + 1, "rss": current_rss(),
                            "blocks": sys.getallocatedblocks()})
    warm = samples[0]
    last = samples[-1]
    return {
        "kinds": kinds,
        "searches": count,
        "n_particles": 5,
        "n_iters": 5,
        "samples": samples,
        "rss_growth_after_warmup": last["rss"] - warm["rss"],
        "blocks_growth_after_warmup": last["blocks"] - warm["blocks"],
        "searches_after_warmup": last["searches"] - warm["searches"],
    }


# ---------------------------------------------------------------------------------------------
# Driver


def run_worker(*args: str) -> dict[str, Any]:
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "w.json"
        cmd = [sys.executable, __file__, "--json", str(out), *args]
        proc = subprocess.run(cmd, capture_output=True, text=True, check=False)
        if proc.returncode != 0 or not out.exists():
            return {"error": f"worker exited {proc.returncode}: {proc.stderr.strip()[-2000:]}"}
        return json.loads(out.read_text(encoding="utf-8"))


def main() -> None:
    parser = arg_parser(__doc__.splitlines()[0])
    parser.add_argument("--big", nargs=4, metavar=("LIB", "PARTICLES", "DIMS", "ITERS"))
    parser.add_argument("--repeat", nargs=2, metavar=("KINDS", "COUNT"))
    parser.add_argument("--per-particle-only", action="store_true",
                        help="measure only the bytes per particle and their fit")
    args = parser.parse_args()
    if args.big:
        lib, particles, dims, iters = args.big
        write_json(args.json, big_worker(lib, int(particles), int(dims), int(iters)))
        return
    if args.repeat:
        write_json(args.json, repeat_worker(args.repeat[0], int(args.repeat[1])))
        return
    if args.per_particle_only:
        write_json(args.json, {
            "machine": machine_info(),
            "per_particle": measure_particle_cost(
                SMOKE_FIT_PARTICLES if args.smoke else FIT_PARTICLES,
                SMOKE_FIT_DIMS if args.smoke else FIT_DIMS),
        })
        return

    particles, dims, iters = (200, 100, 1) if args.smoke else (10_000, 100, 1)
    count = 200 if args.smoke else 10_000
    numbers = 3 * particles * dims * 8
    big = {}
    for lib in ("swarmtuner", "plain"):
        big[lib] = run_worker("--big", lib, str(particles), str(dims), str(iters))
        print(f"memory: large search, {lib} done", file=sys.stderr)
    fit = measure_particle_cost(SMOKE_FIT_PARTICLES if args.smoke else FIT_PARTICLES,
                                SMOKE_FIT_DIMS if args.smoke else FIT_DIMS)
    print("memory: bytes per particle fitted", file=sys.stderr)
    repeat = {}
    for kinds in ("f64", "all"):
        repeat[kinds] = run_worker("--repeat", kinds, str(count))
        print(f"memory: repeated searches, {kinds} done", file=sys.stderr)
    expected = None
    if "error" not in fit:
        expected = particles * (fit["fixed_bytes"] + fit["per_component_bytes"] * dims)
    write_json(args.json, {
        "machine": machine_info(),
        "per_particle": fit,
        "large": {
            "n_particles": particles,
            "dims": dims,
            "n_iters": iters,
            "particle_number_bytes": numbers,
            "expected_swarmtuner_bytes": expected,
            "expected_swarmtuner_bytes_source": (
                "computed: n_particles x (fixed + per component x dims) of the measured fit"),
            "libs_source": "measured: search_peak_increase of each library",
            "libs": big,
        },
        "repeated": repeat,
    })


def measure_particle_cost(particle_counts: tuple[int, int], dims_list: tuple[int, ...]) -> dict:
    """Measured bytes per particle at each number of f64 components, and their linear fit."""
    low, high = particle_counts
    per_dims = []
    for dims in dims_list:
        runs = {}
        for particles in (low, high):
            r = run_worker("--big", "swarmtuner", str(particles), str(dims), "1")
            if "error" in r:
                return {"error": r["error"]}
            runs[particles] = r["search_peak_increase"]
        per_dims.append({
            "dims": dims,
            "peak_increase": {str(k): v for k, v in runs.items()},
            "bytes_per_particle": (runs[high] - runs[low]) / (high - low),
        })
    # Least squares over the measured points: bytes per particle = fixed + per_component * dims.
    xs = [p["dims"] for p in per_dims]
    ys = [p["bytes_per_particle"] for p in per_dims]
    mean_x, mean_y = sum(xs) / len(xs), sum(ys) / len(ys)
    slope = (sum((x - mean_x) * (y - mean_y) for x, y in zip(xs, ys))
             / sum((x - mean_x) ** 2 for x in xs))
    intercept = mean_y - slope * mean_x
    return {
        "source": "measured",
        "method": ("peak resident set increase of f64 searches (1 sweep, trivial "
                   f"objective, fresh process) at {low:,} and {high:,} particles; their "
                   "difference per particle, fitted over the numbers of components"),
        "n_particles": [low, high],
        "points": per_dims,
        "fixed_bytes": intercept,
        "per_component_bytes": slope,
        "max_fit_residual_bytes": max(abs(y - (intercept + slope * x)) for x, y in zip(xs, ys)),
    }


if __name__ == "__main__":
    main()
