"""A picture of convergence: the best value after each sweep, defaults against suggested settings.

Every search here runs through swarmtuner_search.minimize, whose record (res.history) holds the
best value after each evaluation, and so after each sweep of n_particles evaluations. For each
of the two settings of choosing_settings.py and each of its three test functions (4
dimensions, minimum 0), the script runs several searches and draws the median of those
records, with the band from the first to the third quartile, on a log scale: with the
defaults (c1 = c2 = 2.0) the swarm keeps overshooting and the best value stalls early; with
c1 = 0.7, c2 = 1.0 it keeps falling. It prints the median best value at the last sweep
for each setting and function, and where it wrote the picture: docs/convergence.png, or with
--quick a file in the system's temporary folder (--output PATH chooses the file).
"""

from __future__ import annotations

import statistics
import sys
import tempfile
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # draw into files only, with no display

import matplotlib.pyplot as plt
from matplotlib.ticker import LogFormatterSciNotation

from choosing_settings import PROBLEMS, SETTINGS, quick_mode
from swarmtuner_search import Float, minimize

DIMENSIONS = 4
PICTURE = Path(__file__).resolve().parents[1] / "docs" / "convergence.png"


def quartiles(values: list[float]) -> tuple[float, float, float]:
    first, median, third = statistics.quantiles(values, n=4, method="inclusive")
    return first, median, third


def output_path(quick: bool) -> Path:
    arguments = sys.argv[1:]
    if "--output" in arguments:
        return Path(arguments[arguments.index("--output") + 1])
    if quick:
        return Path(tempfile.mkdtemp(prefix="swarmtuner-")) / "convergence.png"
    return PICTURE


def main() -> None:
    quick = quick_mode()
    runs = 3 if quick else 15
    n_iters = 10 if quick else 200
    n_particles = 10 if quick else 30
    figure, axes = plt.subplots(1, len(PROBLEMS), figsize=(12, 4), layout="constrained")
    print(f"median best value after {n_iters} sweeps, {runs} runs, {DIMENSIONS} dimensions")
    print(f"{'':38}" + "".join(f"{name:>12}" for name in PROBLEMS))
    finals: dict[str, list[float]] = {label: [] for label in SETTINGS}
    for axis, (name, (f, half_width)) in zip(axes, PROBLEMS.items()):
        for (label, (c1, c2, inertia)), colour in zip(SETTINGS.items(), ("tab:red", "tab:blue")):
            space = {"f64": Float([-half_width] * DIMENSIONS, [half_width] * DIMENSIONS)}
            histories = []
            for _ in range(runs):
                res = minimize(
                    f, space, n_particles=n_particles, n_iters=n_iters,
                    c1=c1, c2=c2, inertia=inertia, max_v=0.2,  # max_v as PSO()'s
                )
                # The best value at the end of the starting swarm and of each sweep.
                histories.append(res.history[n_particles - 1 :: n_particles])
            # One column per sweep: the best value of each run after that sweep.
            bands = [quartiles(list(column)) for column in zip(*histories)]
            sweeps = range(len(bands))
            axis.plot(sweeps, [m for _, m, _ in bands], color=colour, label=" ".join(label.split()))
            first, third = [q1 for q1, _, _ in bands], [q3 for _, _, q3 in bands]
            axis.fill_between(sweeps, first, third, color=colour, alpha=0.2)
            finals[label].append(bands[-1][1])
        # Values that reach exactly 0 are drawn at the bottom of the axis. Axes that span less
        # than two powers of ten label some of the values between them too.
        axis.set_yscale("log", nonpositive="clip")
        axis.yaxis.set_minor_formatter(
            LogFormatterSciNotation(labelOnlyBase=False, minor_thresholds=(2, 0.5))
        )
        axis.set_title(f"{name.capitalize()}, {DIMENSIONS} dimensions")
        axis.set_xlabel("sweep")
        axis.grid(True, which="major", alpha=0.3)
    axes[0].set_ylabel("best value so far")
    figure.legend(*axes[0].get_legend_handles_labels(), loc="outside lower center", ncols=2)
    figure.suptitle(
        f"Best value after each sweep: median of {runs} searches, middle half shaded;"
        f" {n_particles} particles"
    )
    for label, values in finals.items():
        print(f"{label:38}" + "".join(f"{v:12.3g}" for v in values))
    path = output_path(quick)
    path.parent.mkdir(parents=True, exist_ok=True)
    # No software version in the file, so that a new matplotlib alone does not change it.
    figure.savefig(path, dpi=100, metadata={"Software": None})
    print(f"picture  {path}")


if __name__ == "__main__":
    main()
