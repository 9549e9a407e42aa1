"""Progress, budgets and a record of the search, from a wrapper around the objective.

A search calls f n_particles * (n_iters + 1) times and has no hooks of its own, so everything
here lives in a wrapper, Monitor, that the search calls in place of f. It counts evaluations
(the starting swarm is sweep 0, then one sweep per n_particles evaluations), shows a progress
bar (tqdm when it is installed, a line of text otherwise), keeps the best value after each
sweep and the best point so far, and stops the search when an evaluation or time budget runs
out, by raising its own exception.

An exception raised inside f ends the search with pyo3_runtime.PanicException, whose message is
"failed to call f: " and a description of that exception; the module also writes a two-line
report to standard error. The PanicException is not the wrapper's exception, so the script
tells a budget stop by the wrapper's own record (Monitor.stopped) and then reports the best
point that the wrapper saw, which is the swarm's best when the search stopped.

The objective stands in for a slow one (a simulation, a training run) by sleeping 2 ms per call;
it is Rosenbrock's function in 4 dimensions, whose minimum is 0 at (1, 1, 1, 1). The script runs
one search with an evaluation budget, one with a time budget and one without a budget, and
prints for each how it ended, the best value and point, and the best value after some sweeps.
"""

from __future__ import annotations

import os
import sys
import time
from collections.abc import Callable
from typing import TYPE_CHECKING, Any, Generic, NoReturn, Protocol, TypeVar

import swarmtuner

if TYPE_CHECKING:
    from tqdm import tqdm


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


class Comparable(Protocol):
    def __lt__(self, other: Any, /) -> bool: ...


V = TypeVar("V", bound=Comparable)


class BudgetExhausted(Exception):
    """Raised by Monitor inside the search to stop it."""


class Progress:
    """Progress over the sweeps on standard error: tqdm's bar when tqdm is installed, otherwise
    a line of text after every tenth of the sweeps."""

    def __init__(self, total: int) -> None:
        self.total = total
        self.bar: tqdm[NoReturn] | None
        try:
            from tqdm import tqdm
        except ImportError:
            self.bar = None
        else:
            self.bar = tqdm(total=total, unit="sweep", leave=False)
        self.step = max(1, total // 10)

    def show(self, done: int, evaluations: int, best: object) -> None:
        best_text = f"{best:.4g}" if isinstance(best, float) else str(best)
        if self.bar is not None:
            self.bar.update(done - self.bar.n)
            self.bar.set_postfix_str(f"best {best_text}")
        elif done % self.step == 0 or done == self.total:
            print(
                f"sweep {done}/{self.total}  evaluations {evaluations}  best {best_text}",
                file=sys.stderr,
                flush=True,
            )

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


class Monitor(Generic[V]):
    """Wraps f for one search by min(): pass the Monitor in place of f.

    max_evaluations stops the search before the evaluation beyond it; max_seconds stops it
    before the first evaluation that starts that long after the Monitor was made (there is
    always one evaluation, so that there is a best point to report).

    history holds the best value after each complete sweep, the starting swarm first (for a
    whole search, n_iters + 1 values); best_value and best_point are the best evaluation so
    far; stopped is None, or why the wrapper stopped the search.
    """

    def __init__(
        self,
        f: Callable[..., V],
        pso: swarmtuner.PSO,
        *,
        max_evaluations: int | None = None,
        max_seconds: float | None = None,
        progress: bool = True,
    ) -> None:
        if max_evaluations is not None and max_evaluations < 1:
            raise ValueError("the evaluation budget must allow one evaluation")
        self.f = f
        self.n_particles = pso.n_particles
        self.max_evaluations = max_evaluations
        self.deadline = None if max_seconds is None else time.monotonic() + max_seconds
        self.max_seconds = max_seconds
        self.evaluations = 0
        self.best_value: V | None = None
        self.best_point: dict[str, list[Any]] = {}
        self.history: list[V] = []
        self.stopped: str | None = None
        self.progress = Progress(pso.n_iters + 1) if progress else None

    def __call__(self, **point: list[Any]) -> V:
        if self.max_evaluations is not None and self.evaluations >= self.max_evaluations:
            self.stop(f"evaluation budget of {self.max_evaluations} used")
        if self.evaluations and self.deadline is not None and time.monotonic() >= self.deadline:
            self.stop(f"time budget of {self.max_seconds} s used")
        # f may change the lists it is given; keep them as they came.
        snapshot = {kind: list(values) for kind, values in point.items()}
        value = self.f(**point)
        self.evaluations += 1
        # The search's own rule: only a strictly smaller value replaces the best.
        if self.best_value is None or value < self.best_value:
            self.best_value, self.best_point = value, snapshot
        if self.evaluations % self.n_particles == 0:
            self.history.append(self.best_value)
            if self.progress is not None:
                self.progress.show(
                    self.evaluations // self.n_particles, self.evaluations, self.best_value
                )
        return value

    def stop(self, reason: str) -> NoReturn:
        self.stopped = reason
        self.close()
        raise BudgetExhausted(reason)

    def close(self) -> None:
        if self.progress is not None:
            self.progress.close()


def run(
    monitor: Monitor[V], pso: swarmtuner.PSO, **bounds: Any
) -> tuple[V, dict[str, list[Any]]]:
    """pso.min(monitor, **bounds), or what the monitor saw when its budget stopped the search."""
    try:
        value, best = pso.min(monitor, **bounds)
    except BaseException as error:
        # A budget stop arrives as PanicException("failed to call f: ..."): recognise it by the
        # monitor's record, and let every other failure through.
        if type(error).__name__ != "PanicException" or monitor.stopped is None:
            raise
        assert monitor.best_value is not None  # a budget stops only after an evaluation
        return monitor.best_value, monitor.best_point
    finally:
        monitor.close()
    return value, best


def slow_rosenbrock(f64: list[float]) -> float:
    time.sleep(0.002)
    return sum(100.0 * (b - a * a) ** 2 + (1.0 - a) ** 2 for a, b in zip(f64, f64[1:]))


def main() -> None:
    quick = quick_mode()
    pso = swarmtuner.PSO(
        n_iters=20 if quick else 150,
        n_particles=10 if quick else 20,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    total = pso.n_particles * (pso.n_iters + 1)
    budgets: dict[str, dict[str, Any]] = {
        "evaluation budget": {"max_evaluations": 50 if quick else 600},
        # Long enough for the starting swarm even on a busy machine, short enough to stop the
        # search: its sleeps alone take 0.42 s (quick) or 6 s.
        "time budget": {"max_seconds": 0.3 if quick else 1.0},
        "no budget": {},
    }
    for label, budget in budgets.items():
        monitor = Monitor(slow_rosenbrock, pso, **budget)
        value, best = run(monitor, pso, f64_min=[-2.0] * 4, f64_max=[2.0] * 4)
        sweeps = len(monitor.history) - 1
        ended = f"stopped: {monitor.stopped}" if monitor.stopped else "finished"
        print(f"{label:18}{ended}")
        print(f"  evaluations     {monitor.evaluations} of {total}, ", end="")
        # A budget can run out before the starting swarm is complete: no sweep to show then.
        print(f"sweep {sweeps} of {pso.n_iters}" if sweeps >= 0 else "no sweep complete")
        print(f"  best value      {value:.6g}")
        print(f"  best point      {', '.join(f'{x:.4f}' for x in best['f64'])}")
        shown = sorted({0, sweeps // 4, sweeps // 2, 3 * sweeps // 4, sweeps})
        if sweeps < 0:
            shown = []
        print("  best per sweep  " + "  ".join(f"{k}: {monitor.history[k]:.4g}" for k in shown))


if __name__ == "__main__":
    main()
