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


# A faulty objective's own exception, once it has reached the parent.
FAULT = rf"ValueError\('the model diverged at x0 = {NUMBER}'\)"


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
def test_fs_exception_reaches_a_parent_that_imports_by_name(example_module, method):
    # A worker started afresh sends the exception's class by module and name: minimize passes
    # on f's own exception, whose class the parent can import (the module's PanicException,
    # from a module that exists only inside the extension, could not travel so).
    restarts = example_module("parallel_restarts")
    context = multiprocessing.get_context(method)
    with ProcessPoolExecutor(max_workers=1, mp_context=context) as pool:
        with pytest.raises(ValueError) as excinfo:
            pool.submit(restarts.restart, True, True).result()
    assert re.fullmatch(FAULT, repr(excinfo.value)), repr(excinfo.value)


def test_progress_and_budget():
    result = run_example_fully("progress_and_budget", third_party=True)
    lines = result.stdout.splitlines()
    assert len(lines) == 15, lines
    runs = {}
    for block in range(3):
        label, ended, evaluations, budget, value, point, history = fields(
            lines[5 * block : 5 * block + 5],
            [
                r"(evaluation budget|time budget|target) +(.+)",
                r"  evaluations     (\d+) of (\d+)",
                rf"  best value      ({NUMBER})",
                r"  best point      (.+)",
                r"  best after      (.+)",
            ],
        )
        evaluations, budget = int(evaluations), int(budget)
        assert 1 <= evaluations <= budget
        coordinates = [float(x) for x in point.split(", ")]
        assert len(coordinates) == 4 and all(-2 <= x <= 2 for x in coordinates)
        shown = [re.fullmatch(rf"(\d+): ({NUMBER})", item) for item in history.split("  ")]
        assert all(shown), history
        assert [int(m[1]) for m in shown] == sorted({int(m[1]) for m in shown})
        assert int(shown[0][1]) == 1 and int(shown[-1][1]) == evaluations
        best_after = [float(m[2]) for m in shown]
        assert best_after == sorted(best_after, reverse=True)
        assert float(value) == pytest.approx(best_after[-1], rel=1e-3)
        runs[label] = (ended, evaluations, budget, float(value))
    ended, evaluations, budget, _ = runs["evaluation budget"]
    assert ended == "finished" and budget == 50 and 45 <= evaluations <= 50
    ended, evaluations, budget, _ = runs["time budget"]
    assert ended == "stopped (timeout)" and evaluations < budget
    # The target stops the search once the best value is below 20, if it gets there.
    ended, evaluations, budget, value = runs["target"]
    assert (ended, value < 20) in {("stopped (callback)", True), ("finished", False)}
    if ended == "finished":
        assert evaluations >= 0.9 * budget


def requires(module):
    """Skips a test whose example needs a package that this environment lacks: `make test`
    installs them all (example-deps); the wheel checks run the suite without them."""
    # Looked up, not imported: the example imports it in its own process.
    if importlib.util.find_spec(module) is None:
        pytest.skip(f"{module} is not installed here (make example-deps installs it)")


def test_progress_shows_a_bar():
    requires("tqdm")
    bar = run_example_fully("progress_and_budget", third_party=True).stderr
    assert re.search(r"\| \d+/50 \[.*eval/s", bar), bar


def test_progress_shows_plain_text_without_tqdm(tmp_path):
    # Without tqdm: a line after every tenth of the budget (50 evaluations: every 5).
    (tmp_path / "tqdm.py").write_text("raise ImportError('tqdm is hidden by this test')\n")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(tmp_path), *sys.path])}
    text = run_example_fully("progress_and_budget", env=env).stderr
    assert "eval/s" not in text
    shown = [int(n) for n in re.findall(r"^evaluations (\d+)/50  best ", text, re.M)]
    assert shown and all(n % 5 == 0 for n in shown) and shown == sorted(shown)


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
