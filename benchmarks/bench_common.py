"""Shared pieces of the Python benchmarks: loading the module, timing, statistics, objectives.

Every benchmark script runs as its own process, writes one JSON document and never judges a
time: numbers are reported, not asserted.
"""

from __future__ import annotations

import argparse
import gc
import json
import math
import os
import platform
import statistics
import sys
import time
from pathlib import Path
from typing import Any, Callable

HERE = Path(__file__).resolve().parent
OUT_DIR = HERE / "out"


# ---------------------------------------------------------------------------------------------
# The module under test


def load_swarmtuner() -> tuple[Any, str | None]:
    """The PSO class, or None with the reason why the module cannot run a search here.

    A module that imports but whose search is not finished yet fails inside min(); that counts
    as unavailable too, so the peers and the baseline can still be measured.
    """
    try:
        import swarmtuner  # noqa: PLC0415
    except ImportError as exc:
        return None, f"import failed: {exc}"
    try:
        pso = swarmtuner.PSO(n_iters=1, n_particles=2)
        value, point = pso.min(lambda f64: f64[0], f64_min=[0.0], f64_max=[1.0])
        if not isinstance(point, dict) or len(point.get("f64", ())) != 1:
            return None, f"unexpected result {value!r}, {point!r}"
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:  # noqa: BLE001 (the module's internal failure is a BaseException)
        return None, f"search failed: {type(exc).__name__}: {exc}"
    return swarmtuner.PSO, None


# ---------------------------------------------------------------------------------------------
# Statistics and timing


def summary(values: list[float]) -> dict[str, Any]:
    """Median and spread of repeated measurements."""
    if not values:
        return {"n": 0, "median": None, "min": None, "max": None, "values": []}
    return {
        "n": len(values),
        "median": statistics.median(values),
        "min": min(values),
        "max": max(values),
        "values": values,
    }


def timed(fn: Callable[[], Any]) -> tuple[float, float, Any]:
    """Wall time and process CPU time of one call of fn with the cyclic collector paused, and
    fn's result.

    The collector is paused for searches as timeit pauses it for the call floor, so that the
    two sides of an overhead subtraction are measured alike. CPU time is kept beside wall time
    because the machine may be shared: another process on our core stretches the wall time of
    whichever side happens to run then, but not its CPU time.
    """
    was_enabled = gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        cpu_start = time.process_time()
        start = time.perf_counter()
        result = fn()
        elapsed = time.perf_counter() - start
        cpu = time.process_time() - cpu_start
    finally:
        if was_enabled:
            gc.enable()
    return elapsed, cpu, result


def counting(body: Callable[[list], float]) -> tuple[Callable[[list], float], list[int]]:
    """body wrapped so that its calls are counted, and the one-item list holding the count.

    A closure rather than an object with __call__: libraries that deep-copy their problem
    (pygmo does) copy functions by reference, so the count stays visible to the benchmark.
    """
    calls = [0]

    def counted(x: list) -> float:
        calls[0] += 1
        return body(x)

    return counted, calls


# ---------------------------------------------------------------------------------------------
# Objectives: pure-Python bodies on a list, identical for every library


def sphere(x: list) -> float:
    s = 0.0
    for v in x:
        s += v * v
    return s


_TWO_PI = 2.0 * math.pi
_cos = math.cos


def rastrigin(x: list) -> float:
    s = 10.0 * len(x)
    for v in x:
        s += v * v - 10.0 * _cos(_TWO_PI * v)
    return s


PROBLEMS: dict[str, dict[str, Any]] = {
    "sphere": {"body": sphere, "lower": -5.12, "upper": 5.12},
    "rastrigin": {"body": rastrigin, "lower": -5.12, "upper": 5.12},
}


# ---------------------------------------------------------------------------------------------
# Machine and run description


def machine_info() -> dict[str, Any]:
    cpu = platform.processor() or ""
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as fh:
            for line in fh:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem_kib = None
    try:
        with open("/proc/meminfo", encoding="utf-8") as fh:
            for line in fh:
                if line.startswith("MemTotal:"):
                    mem_kib = int(line.split()[1])
                    break
    except OSError:
        pass
    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "memory_gib": round(mem_kib / 1024 / 1024, 1) if mem_kib else None,
        "os": f"{platform.system()} {platform.release()}",
        "python": sys.version.split()[0],
        "implementation": platform.python_implementation(),
        "load_average": [round(v, 2) for v in os.getloadavg()],
    }


def package_versions(names: list[str]) -> dict[str, str | None]:
    from importlib.metadata import PackageNotFoundError, version  # noqa: PLC0415

    found: dict[str, str | None] = {}
    for name in names:
        try:
            found[name] = version(name)
        except PackageNotFoundError:
            found[name] = None
    return found


def arg_parser(description: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--smoke", action="store_true", help="tiny sizes, one repeat")
    parser.add_argument("--json", type=Path, required=True, help="where to write the results")
    return parser


def write_json(path: Path, data: Any) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    tmp = path.with_suffix(path.suffix + ".tmp")
    tmp.write_text(json.dumps(data, indent=2, default=_jsonable), encoding="utf-8")
    tmp.replace(path)


def _jsonable(obj: Any) -> Any:
    if isinstance(obj, float):
        return obj
    try:
        return float(obj)
    except (TypeError, ValueError):
        return repr(obj)
