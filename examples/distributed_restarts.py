"""Independent restarts as tasks on a Dask cluster: for searches that outgrow one machine.

Each task runs one whole search (swarmtuner_search.minimize) with its own random starting
positions and returns its result; the client gathers them and reports the best. One search
cannot be spread over machines (each particle's move depends on the swarm's best found just
before it), but independent restarts can, as many at once as the cluster has worker threads.

By default the script starts a Dask LocalCluster on this machine, listening on the loopback
address only. With --scheduler ADDRESS (such as tcp://10.0.0.5:8786) it uses an existing
cluster instead; its workers need swarmtuner and Dask installed, not this script: Dask sends
the functions defined here to them by value. --workers N sets the local cluster's size
(default: one per core) and --restarts N the number of restarts. With --with-failure the last
restart's objective raises, as a faulty objective would, and that restart comes back as the
objective's own exception, which minimize passes on. --quick runs a small search on 2 local
workers.

The function is Rastrigin's in 6 dimensions, as in parallel_restarts.py: minimum 0 at the
origin, a local minimum near every point with integer coordinates.
"""

from __future__ import annotations

import argparse
import math
import os

from dask.distributed import Client, LocalCluster

from swarmtuner_search import Float, Result, minimize

DIMENSIONS = 6
SPACE = {"x": Float([-5.12] * DIMENSIONS, [5.12] * DIMENSIONS)}


def rastrigin(x: list[float]) -> float:
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


def faulty_rastrigin(x: list[float]) -> float:
    """Stands in for an objective with a bug: it fails on its first call."""
    raise ValueError(f"the model diverged at x0 = {x[0]:.3f}")


def restart(quick: bool, faulty: bool) -> Result[float]:
    """One independent search, run by a worker with its own starting positions."""
    objective = faulty_rastrigin if faulty else rastrigin
    return minimize(objective, SPACE, max_evals=100 if quick else 18_000)


def arguments() -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Independent restarts as tasks on Dask.")
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler")
    parser.add_argument("--workers", type=int, help="worker processes of the local cluster")
    parser.add_argument("--restarts", type=int, help="number of independent searches")
    parser.add_argument("--with-failure", action="store_true", help="make the last restart fail")
    parser.add_argument("--quick", action="store_true", help="a small run on 2 local workers")
    parsed = parser.parse_args()
    parsed.quick = parsed.quick or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"
    return parsed


def run(client: Client, options: argparse.Namespace) -> None:
    restarts = options.restarts or (2 if options.quick else 8)
    # pure=False: the tasks have equal arguments, and Dask would otherwise run only one of them
    # and hand its result to all.
    futures = [
        client.submit(
            restart,
            options.quick,
            options.with_failure and index == restarts - 1,
            pure=False,
        )
        for index in range(restarts)
    ]
    results: list[Result[float] | ValueError] = []
    for future in futures:
        try:
            results.append(future.result())
        except ValueError as failure:  # the objective's own exception
            results.append(failure)
    for index, result in enumerate(results):
        if isinstance(result, ValueError):
            print(f"restart {index}  failed: {result!r}")
        else:
            print(f"restart {index}  best {result.value:.4f}")
    found = {k: r for k, r in enumerate(results) if isinstance(r, Result)}
    if not found:
        print("every restart failed")
        return
    best_index = min(found, key=lambda k: found[k].value)
    best = found[best_index]
    print(f"best of {restarts} restarts  {best.value:.4f} (restart {best_index})")
    print(f"at  {', '.join(f'{v:.3f}' for v in best.params['x'])}")


def main() -> None:
    options = arguments()
    if options.scheduler:
        with Client(options.scheduler) as client:
            workers = len(client.scheduler_info()["workers"])
            print(f"cluster  {options.scheduler} ({workers} workers)")
            run(client, options)
        return
    workers = 2 if options.quick else (options.workers or os.cpu_count() or 1)
    # One thread per worker process: a search holds its process's interpreter lock throughout.
    # Scheduler, workers and dashboard listen on the loopback address only.
    cluster = LocalCluster(
        n_workers=workers,
        threads_per_worker=1,
        processes=True,
        host="127.0.0.1",
        dashboard_address="127.0.0.1:0",
    )
    try:
        with Client(cluster) as client:
            print(f"cluster  local, {workers} workers")
            run(client, options)
    finally:
        cluster.close()


if __name__ == "__main__":
    main()
