"""Progress, budgets and a record of the search, with swarmtuner_search.

The objective stands in for a slow one (a simulation, a training run) by sleeping 2 ms per
call; it is Rosenbrock's function in 4 dimensions, whose minimum is 0 at (1, 1, 1, 1). The
script runs three searches: one with an evaluation budget (max_evals), one with a time budget
(timeout, checked between evaluations) and one that stops as soon as its best value is below a
target (a callback that returns False). The same callback draws a progress bar over the
evaluations on standard error: tqdm's when it is installed, otherwise a line of text after
every tenth of the budget. For each search the script prints how it ended, the best value and
point, and from res.history the best value after some of its evaluations.
"""

from __future__ import annotations

import os
import sys
import time
from typing import TYPE_CHECKING, Any, NoReturn

from swarmtuner_search import Float, minimize

if TYPE_CHECKING:
    from tqdm import tqdm


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


class Progress:
    """The callback of a search: shows progress over the evaluations on standard error, and
    stops the search (by returning False) once the best value is below target, if given."""

    def __init__(self, total: int, target: float | None = None) -> None:
        self.total, self.target = total, target
        self.bar: tqdm[NoReturn] | None
        try:
            from tqdm import tqdm
        except ImportError:
            self.bar = None
        else:
            self.bar = tqdm(total=total, unit="eval", leave=False)
        self.step = max(1, total // 10)

    def __call__(self, evals: int, best: float, params: dict[str, Any]) -> bool:
        if self.bar is not None:
            self.bar.update(evals - self.bar.n)
            self.bar.set_postfix_str(f"best {best:.4g}", refresh=False)
        elif evals % self.step == 0 or evals == self.total:
            print(f"evaluations {evals}/{self.total}  best {best:.4g}", file=sys.stderr, flush=True)
        return self.target is None or best >= self.target

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def slow_rosenbrock(x: list[float]) -> float:
    time.sleep(0.002)
    return sum(100.0 * (b - a * a) ** 2 + (1.0 - a) ** 2 for a, b in zip(x, x[1:]))


SPACE = {"x": Float([-2.0] * 4, [2.0] * 4)}


def main() -> None:
    quick = quick_mode()
    searches: dict[str, dict[str, Any]] = {
        "evaluation budget": {"max_evals": 50 if quick else 600},
        # Far more evaluations than fit in the time: the clock ends the search.
        "time budget": {"max_evals": 10_000, "timeout": 0.3 if quick else 1.0},
        "target": {"max_evals": 200 if quick else 3000, "target": 20.0 if quick else 3.0},
    }
    for label, settings in searches.items():
        progress = Progress(settings["max_evals"], settings.pop("target", None))
        try:
            res = minimize(slow_rosenbrock, SPACE, callback=progress, **settings)
        finally:
            progress.close()
        print(f"{label:18}" + (f"stopped ({res.stopped})" if res.stopped else "finished"))
        print(f"  evaluations     {res.evals} of {settings['max_evals']}")
        print(f"  best value      {res.value:.6g}")
        print(f"  best point      {', '.join(f'{v:.4f}' for v in res.params['x'])}")
        shown = sorted({1, res.evals // 4, res.evals // 2, 3 * res.evals // 4, res.evals} - {0})
        print("  best after      " + "  ".join(f"{k}: {res.history[k - 1]:.4g}" for k in shown))


if __name__ == "__main__":
    main()
