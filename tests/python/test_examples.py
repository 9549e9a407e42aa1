"""Every example runs in quick mode and prints what README says it prints, so none goes stale."""

import importlib
import importlib.util
import math
import multiprocessing
import os
import re
import struct
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor
from decimal import ROUND_HALF_EVEN, Decimal
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
NUMBER = r"-?\d+(?:\.\d+)?(?:e[-+]\d+)?"


def run_example(name, *arguments, env=None, third_party=False):
    """Runs examples/<name>.py in quick mode; returns its standard output as lines.

    third_party: the example uses other projects' modules whose objects or threads live until
    the process exits (numpy's and matplotlib's types, Dask's, tqdm's monitor thread). Under
    AddressSanitizer those count as leaks, so leak checking is turned off for that process;
    every other check stays on.
    """
    return run_example_fully(name, *arguments, env=env, third_party=third_party).stdout.splitlines()


def run_example_fully(name, *arguments, env=None, third_party=False):
    """run_example, returning the whole CompletedProcess (standard error too)."""
    env = {**(os.environ if env is None else env), "SWARMTUNER_EXAMPLES_QUICK": "1"}
    if third_party and "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"].replace("detect_leaks=1", "detect_leaks=0")
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / f"{name}.py"), *arguments],
        capture_output=True,
        text=True,
        timeout=120,
        env=env,
    )
    assert result.returncode == 0, result.stderr
    return result


@pytest.fixture
def example_module(monkeypatch):
    """Imports an example as a module, with examples/ on sys.path (for worker processes too)."""
    monkeypatch.syspath_prepend(str(EXAMPLES))

    def load(name):
        return importlib.import_module(name)

    return load


def fields(lines, patterns):
    """Matches line k against patterns[k] (whole line) and returns the groups of all lines."""
    assert len(lines) == len(patterns), lines
    groups = []
    for line, pattern in zip(lines, patterns):
        match = re.fullmatch(pattern, line)
        assert match, (pattern, line)
        groups.extend(match.groups())
    return groups


def test_every_example_is_tested():
    tested = {name for name in globals() if name.startswith("test_")}
    for example in EXAMPLES.glob("*.py"):
        assert f"test_{example.stem}" in tested, example.name


def test_quickstart():
    cost, workers, rate, momentum, price = fields(
        run_example("quickstart"),
        [
            rf"best cost +({NUMBER})",
            r"workers +(\d+)",
            rf"learning rate +({NUMBER})",
            rf"momentum +({NUMBER})",
            r"price +(\d+\.\d\d)",
        ],
    )
    assert float(cost) >= 0
    assert 1 <= int(workers) <= 32
    assert 1e-4 <= float(rate) <= 0.5
    assert 0 <= float(momentum) <= 1
    assert 0 <= Decimal(price) <= 50


def test_hyperparameters():
    loss, layers, units, batch, rate, dropout, trainings, particles, iters = fields(
        run_example("hyperparameters"),
        [
            rf"validation loss +({NUMBER})",
            r"layers +(\d+)",
            r"units +(\d+)",
            r"batch size +(\d+)",
            rf"learning rate +({NUMBER})",
            rf"dropout +({NUMBER})",
            r"trainings +(\d+) = (\d+) \* \((\d+) \+ 1\)",
        ],
    )
    # The simulated loss never goes below its floor.
    assert float(loss) >= 0.0500
    assert 1 <= int(layers) <= 12
    assert 16 <= int(units) <= 1024
    assert int(batch) in {2**k for k in range(3, 11)}
    assert 1e-5 <= float(rate) <= 0.1
    assert 0 <= float(dropout) <= 0.6
    # One evaluation per particle to start, then one per particle per sweep.
    assert int(trainings) == int(particles) * (int(iters) + 1)


def test_debt_payments():
    a, b, c, total, interest = map(
        Decimal,
        fields(
            run_example("debt_payments"),
            [
                r"payment A +(\d+\.\d\d)",
                r"payment B +(\d+\.\d\d)",
                r"payment C +(-?\d+\.\d\d)",
                r"total +(\d+\.\d\d)",
                r"interest +(\d+\.\d\d)",
            ],
        ),
    )
    assert a + b + c == total == Decimal("1000.00")
    assert Decimal("100.00") <= a <= Decimal("800.00")
    assert Decimal("50.00") <= b <= Decimal("750.00")

    # The value returned belongs to the point returned: recompute it from the payments.
    def owed(balance, rate, paid):
        return ((balance - paid) * rate).quantize(Decimal("0.01"), rounding=ROUND_HALF_EVEN)

    expected = (
        owed(Decimal(4000), Decimal("0.015"), a)
        + owed(Decimal(2500), Decimal("0.009"), b)
        + owed(Decimal(8000), Decimal("0.004"), c)
        + max(Decimal(0), Decimal(150) - c) * 1000
    )
    assert interest == expected
    # No split does better than paying the dearest debt first.
    assert interest >= Decimal("101.45")


def test_maximise():
    staff, price, profit, ref_staff, ref_price, ref_profit = fields(
        run_example("maximise"),
        [
            rf"swarm +staff +(\d+) +price +({NUMBER}) +profit +({NUMBER})",
            rf"reference +staff +(\d+) +price +({NUMBER}) +profit +({NUMBER})",
        ],
    )
    assert 1 <= int(staff) <= 20
    assert 10 <= float(price) <= 60
    # The true maximum is 4 staff at the price where demand meets their capacity.
    best_price = 20 * math.log(1000 / 240)
    true_max = (best_price - 8) * 240 - 600
    assert float(profit) <= true_max + 0.01
    assert float(ref_profit) <= true_max + 0.01
    assert int(ref_staff) == 4
    assert abs(float(ref_price) - best_price) <= 0.015


def test_lexicographic():
    servers, unmet, cost, failure = fields(
        run_example("lexicographic"),
        [
            r"servers per region +\[(\d+, \d+, \d+)\]",
            r"unmet demand +(\d+)",
            r"cost +(\d+)",
            r"max with tuples +(.*)",
        ],
    )
    counts = [int(n) for n in servers.split(", ")]
    assert all(0 <= n <= 20 for n in counts)
    assert int(unmet) == sum(max(0, need - 4 * n) for need, n in zip((17, 9, 30), counts))
    assert int(cost) == sum(price * n for price, n in zip((5, 7, 3), counts))
    assert failure == "PanicException: There is no __neg__ method"


def test_parallel_restarts():
    lines = run_example("parallel_restarts")
    values = [
        float(v)
        for v in fields(lines[:2], [rf"restart {k}  best ({NUMBER})" for k in range(2)])
    ]
    best, index, _, point = fields(
        lines[2:],
        [rf"best of 2 restarts  ({NUMBER}) \(restart (\d), (\d) processes\)", r"at  (.*)"],
    )
    assert float(best) == min(values)
    assert values[int(index)] == min(values)
    coordinates = [float(x) for x in point.split(", ")]
    assert len(coordinates) == 6
    assert all(-5.12 <= x <= 5.12 for x in coordinates)


# What a faulty objective's failure reads like once it has reached the parent.
FAULT = (
    r"failed to call f: PyErr \{ type: <class 'ValueError'>, value: ValueError\('the model "
    rf"diverged at x0 = {NUMBER}'\), traceback: Some\(<traceback object at 0x[0-9a-f]+>\) \}}"
)


def restart_lines(lines, restarts):
    """Parses the per-restart lines of the restart examples: value, or None for a failure."""
    values = []
    for index, line in enumerate(lines[:restarts]):
        match = re.fullmatch(rf"restart {index}  (?:best ({NUMBER})|failed: {FAULT})", line)
        assert match, line
        values.append(None if match[1] is None else float(match[1]))
    return values


def test_parallel_restarts_with_a_failing_restart():
    lines = run_example("parallel_restarts", "--with-failure")
    values = restart_lines(lines, 2)
    assert values[0] is not None and values[1] is None
    best, index = fields(
        lines[2:],
        [rf"best of 2 restarts  ({NUMBER}) \(restart (\d), \d processes\)", r"at  .*"],
    )
    assert (float(best), int(index)) == (values[0], 0)


@pytest.mark.parametrize("method", ["spawn", "forkserver"])
def test_search_failed_reaches_a_parent_that_imports_by_name(example_module, method):
    # A worker started afresh sends the exception's class by module and name: the class must
    # be importable as it is named, which the module's own exception is not.
    restarts = example_module("parallel_restarts")
    context = multiprocessing.get_context(method)
    with ProcessPoolExecutor(max_workers=1, mp_context=context) as pool:
        with pytest.raises(restarts.SearchFailed) as excinfo:
            pool.submit(restarts.restart, True, True).result()
    (message,) = excinfo.value.args
    assert re.fullmatch(FAULT, message), message


def test_progress_and_budget():
    result = run_example_fully("progress_and_budget", third_party=True)
    lines = result.stdout.splitlines()
    assert len(lines) == 15, lines
    runs = {}
    for block in range(3):
        label, ended, evaluations, total, sweep, n_iters, value, point, history = fields(
            lines[5 * block : 5 * block + 5],
            [
                r"(evaluation budget|time budget|no budget) +(.+)",
                r"  evaluations     (\d+) of (\d+), sweep (\d+) of (\d+)",
                rf"  best value      ({NUMBER})",
                r"  best point      (.+)",
                r"  best per sweep  (.+)",
            ],
        )
        evaluations, total, sweep, n_iters = map(int, (evaluations, total, sweep, n_iters))
        particles = total // (n_iters + 1)
        assert total == particles * (n_iters + 1)
        # Sweep 0 is the starting swarm; a sweep counts once all its particles are evaluated.
        assert sweep == evaluations // particles - 1
        coordinates = [float(x) for x in point.split(", ")]
        assert len(coordinates) == 4 and all(-2 <= x <= 2 for x in coordinates)
        shown = [re.fullmatch(rf"(\d+): ({NUMBER})", item) for item in history.split("  ")]
        assert all(shown), history
        assert [int(m[1]) for m in shown] == sorted({int(m[1]) for m in shown})
        assert int(shown[0][1]) == 0 and int(shown[-1][1]) == sweep
        best_per_sweep = [float(m[2]) for m in shown]
        assert best_per_sweep == sorted(best_per_sweep, reverse=True)
        # The best value at the last complete sweep, or a better one found after it.
        assert float(value) <= best_per_sweep[-1] * (1 + 1e-3)
        runs[label] = (ended, evaluations, total)
    assert runs["evaluation budget"] == ("stopped: evaluation budget of 50 used", 50, 210)
    ended, evaluations, total = runs["time budget"]
    assert ended == "stopped: time budget of 0.3 s used" and 1 <= evaluations < total
    assert runs["no budget"] == ("finished", 210, 210)
    # Each budget stop ends its search with the module's failure, reported on standard error.
    reports = re.findall(
        r"failed to call f: PyErr \{ type: <class '__main__\.BudgetExhausted'>, "
        r"value: BudgetExhausted\('([^']*)'\)",
        result.stderr,
    )
    assert reports == ["evaluation budget of 50 used", "time budget of 0.3 s used"]


def requires(module):
    """Skips a test whose example needs a package that this environment lacks: `make test`
    installs them all (example-deps); the wheel checks run the suite without them."""
    # Looked up, not imported: the example imports it in its own process.
    if importlib.util.find_spec(module) is None:
        pytest.skip(f"{module} is not installed here (make example-deps installs it)")


def test_progress_shows_a_bar():
    requires("tqdm")
    bar = run_example_fully("progress_and_budget", third_party=True).stderr
    assert re.search(r"\| 21/21 \[.*sweep/s", bar), bar


def test_progress_shows_plain_text_without_tqdm(tmp_path):
    # Without tqdm: a line after every tenth of the sweeps (21 of them: every 2), and the last.
    (tmp_path / "tqdm.py").write_text("raise ImportError('tqdm is hidden by this test')\n")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(tmp_path), *sys.path])}
    text = run_example_fully("progress_and_budget", env=env).stderr
    assert "sweep/s" not in text
    shown = re.findall(r"^sweep (\d+)/21  evaluations (\d+)  best ", text, re.M)
    assert all(int(evaluations) == 10 * int(done) for done, evaluations in shown)
    assert [int(done) for done, _ in shown[-3:]] == [18, 20, 21]


@pytest.fixture
def small_search():
    """A cheap search whose objective records every value it returns, in call order. The
    values are new float objects with many ties, so that which of equal values a best is
    shows."""
    import swarmtuner

    values = []

    def sphere(i8):
        value = float(sum(x * x for x in i8))
        values.append(value)
        return value

    pso = swarmtuner.PSO(n_iters=12, n_particles=5, c1=0.7, c2=1.0, inertia=0.5)
    return pso, sphere, values, {"i8_min": [-4, -4], "i8_max": [5, 5]}


def test_monitor_records_the_swarms_best_after_each_sweep(example_module, small_search):
    progress_and_budget = example_module("progress_and_budget")
    pso, sphere, values, bounds = small_search
    monitor = progress_and_budget.Monitor(sphere, pso, progress=False)
    value, best = progress_and_budget.run(monitor, pso, **bounds)
    assert monitor.stopped is None
    assert monitor.evaluations == len(values) == 5 * 13
    # After sweep k the best is the smallest of the first 5 * (k + 1) values.
    assert monitor.history == [min(values[: 5 * (k + 1)]) for k in range(13)]
    # The search keeps the very object first reaching its best value; so does the monitor.
    assert value is monitor.best_value and best == monitor.best_point


@pytest.mark.parametrize("budget, calls", [({"max_evaluations": 17}, 17), ({"max_seconds": 0}, 1)])
def test_monitor_budget_stops_the_search(example_module, small_search, budget, calls):
    progress_and_budget = example_module("progress_and_budget")
    pso, sphere, values, bounds = small_search
    monitor = progress_and_budget.Monitor(sphere, pso, progress=False, **budget)
    value, best = progress_and_budget.run(monitor, pso, **bounds)
    assert monitor.stopped is not None
    assert len(values) == monitor.evaluations == calls
    assert value == min(values) and sphere(**best) == value
    assert len(monitor.history) == calls // 5


def test_monitor_lets_other_failures_through(example_module, small_search):
    progress_and_budget = example_module("progress_and_budget")
    pso, _, _, bounds = small_search

    def broken(**kinds):
        raise ZeroDivisionError("no")

    monitor = progress_and_budget.Monitor(broken, pso, max_evaluations=3, progress=False)
    with pytest.raises(BaseException) as excinfo:
        progress_and_budget.run(monitor, pso, **bounds)
    assert type(excinfo.value).__name__ == "PanicException"
    assert "ZeroDivisionError('no')" in str(excinfo.value)
    assert monitor.stopped is None


def png_size(path):
    """Width and height of a PNG file, from its header."""
    data = Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    return struct.unpack(">II", data[16:24])


def test_convergence():
    requires("matplotlib")
    committed = EXAMPLES.parent / "docs" / "convergence.png"
    assert png_size(committed) == (1200, 400)
    before = committed.stat().st_mtime_ns
    lines = run_example("convergence", third_party=True)
    groups = fields(
        lines,
        [
            r"median best value after 10 sweeps, 3 runs, 4 dimensions",
            r" +sphere +rosenbrock +rastrigin",
            rf"defaults   c1=2\.0 c2=2\.0 inertia=0\.5 +({NUMBER}) +({NUMBER}) +({NUMBER})",
            rf"suggested  c1=0\.7 c2=1\.0 inertia=0\.5 +({NUMBER}) +({NUMBER}) +({NUMBER})",
            r"picture  (.+)",
        ],
    )
    assert all(float(v) >= 0 for v in groups[:6])
    # A quick run draws into a folder of its own and leaves the committed picture alone.
    path = Path(groups[6])
    try:
        assert path.parent != committed.parent and png_size(path) == (1200, 400)
    finally:
        path.unlink()
        path.parent.rmdir()
    assert committed.stat().st_mtime_ns == before


def test_distributed_restarts():
    requires("distributed")
    lines = run_example("distributed_restarts", "--with-failure", third_party=True)
    assert lines[0] == "cluster  local, 2 workers"
    values = restart_lines(lines[1:], 2)
    assert values[0] is not None and values[1] is None
    best, index, point = fields(
        lines[3:], [rf"best of 2 restarts  ({NUMBER}) \(restart (\d)\)", r"at  (.*)"]
    )
    assert (float(best), int(index)) == (values[0], 0)
    coordinates = [float(x) for x in point.split(", ")]
    assert len(coordinates) == 6 and all(-5.12 <= x <= 5.12 for x in coordinates)


def test_choosing_settings():
    lines = run_example("choosing_settings")
    fields(
        lines,
        [
            r"median best value of 2 runs, 4 dimensions",
            r" +sphere +rosenbrock +rastrigin",
            rf"defaults   c1=2\.0 c2=2\.0 inertia=0\.5( +{NUMBER}){{3}}",
            rf"suggested  c1=0\.7 c2=1\.0 inertia=0\.5( +{NUMBER}){{3}}",
        ],
    )


def test_quick_flag_works_without_the_environment_variable():
    env = {k: v for k, v in os.environ.items() if k != "SWARMTUNER_EXAMPLES_QUICK"}
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / "hyperparameters.py"), "--quick"],
        capture_output=True,
        text=True,
        timeout=120,
        env=env,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-1] == "trainings        110 = 10 * (10 + 1)"
